// The local TCP listener that receives viewers' camera commands.
#pragma once

namespace kestrova {

void OpenPtzListener();
void ClosePtzListener();

} // namespace kestrova

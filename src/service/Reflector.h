// The relay ("reflector"): directory look-up, registration, and switching the broadcast on
// and off.
#pragma once

namespace kestrova {

void StartReflector();
void StopReflector();

} // namespace kestrova

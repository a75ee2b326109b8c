#pragma once

namespace kestrova {

// The broadcast wizard frmWizard, shown modally on a first run.
void ShowBroadcastWizard();

} // namespace kestrova

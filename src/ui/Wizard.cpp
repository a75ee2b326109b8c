#include "ui/Wizard.h"

namespace kestrova {

void ShowBroadcastWizard() {}

} // namespace kestrova

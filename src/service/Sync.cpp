#include "service/Sync.h"

namespace kestrova {

void SettingsSync::ReflectorSynchronize() {}

} // namespace kestrova

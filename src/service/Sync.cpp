#include "service/Sync.h"

namespace kestrova {

void SettingsSync::Synchronize() {}

void SettingsSync::ReflectorSynchronize() {}

} // namespace kestrova

#include "service/Sync.h"

namespace kestrova {

void ReflectorSynchronize() {}

} // namespace kestrova

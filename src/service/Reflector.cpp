#include "service/Reflector.h"

namespace kestrova {

void StartReflector() {}

void StopReflector() {}

} // namespace kestrova

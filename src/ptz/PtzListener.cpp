#include "ptz/PtzListener.h"

namespace kestrova {

void OpenPtzListener() {}

void ClosePtzListener() {}

} // namespace kestrova

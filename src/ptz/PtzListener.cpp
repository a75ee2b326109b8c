#include "ptz/Ptz.h"

namespace kestrova {

void PtzControl::OpenPtzListener() {}

void PtzControl::ClosePtzListener() {}

} // namespace kestrova

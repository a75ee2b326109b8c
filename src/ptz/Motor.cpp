#include "ptz/Motor.h"

namespace kestrova {

void ReadMotorRanges() {}

void ConnectMotorAtStartup() {}

} // namespace kestrova

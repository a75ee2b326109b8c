#include "service/Upload.h"

namespace kestrova {

void UploadImage(bool) {}

void WatchdogTick() {}

void CloseReflectorSocket() {}

void CloseServiceSockets() {}

} // namespace kestrova

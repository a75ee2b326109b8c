#include "posting/Posting.h"

namespace kestrova {

void SendJavaRequest(const QString&, const QString&) {}

void SlowTimerTick() {}

void CloseClientSocket() {}

} // namespace kestrova

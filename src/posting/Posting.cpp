#include "posting/Posting.h"

namespace kestrova {

void SendJavaRequest(const QString&, const QString&) {}

void SlowTimerTick() {}

void CloseClientSocket() {}

void StartVisitorCheck() {}

void StopVisitorCheck() {}

void StartMovePolling() {}

void StopMovePolling() {}

} // namespace kestrova

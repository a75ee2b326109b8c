#include "posting/Posting.h"

namespace kestrova {

void PostingClient::SendJavaRequest(const QString&, const QString&, OnClose) {}

void PostingClient::SlowTimerTick() {}

void PostingClient::CloseClientSocket() {}

void PostingClient::StartVisitorCheck() {}

void PostingClient::StopVisitorCheck() {}

void PostingClient::StartMovePolling() {}

void PostingClient::StopMovePolling() {}

} // namespace kestrova

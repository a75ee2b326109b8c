// The channel to the local posting helper and the posting tick.
#pragma once

#include "core/Wait.h"

#include <QString>

namespace kestrova {

class PostingClient {
  public:
    // Sends one request (and its parameter line when not empty) to the posting helper and
    // waits for its answer. Only "shutdown", itself part of the close, waits on while the
    // station closes.
    void SendJavaRequest(const QString& request, const QString& params,
                         OnClose onClose = OnClose::Abort);

    // The 30-second posting tick.
    void SlowTimerTick();

    void CloseClientSocket();

    // The relay's jobs that the posting helper runs: the visitor check ("start_reflector",
    // "stop_reflector") and, for a motorised camera, the move polling ("start_polling",
    // "stop_polling").
    void StartVisitorCheck();
    void StopVisitorCheck();
    void StartMovePolling();
    void StopMovePolling();
};

} // namespace kestrova

// The channel to the local posting helper and the posting tick.
#pragma once

#include <QString>

namespace kestrova {

// Sends one request (and its parameter line when not empty) to the posting helper and waits
// for its answer.
void SendJavaRequest(const QString& request, const QString& params);

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

} // namespace kestrova

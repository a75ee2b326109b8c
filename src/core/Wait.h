// The one wait used by every loop that waits for the network. It runs the window's events
// (timers, sockets, clicks) while it waits and tests its condition again after each of them, so
// it wakes as soon as something happens instead of on a fixed tick. Every wait is bounded and
// ends at once when the station is closing (AbortRequested).
#pragma once

#include <functional>

namespace kestrova {

enum class WaitResult { Done, TimedOut, Aborted };

// Whether the station's close ends a wait. Only the request that tells the posting helper to
// shut down, which is itself part of the close, waits on while the station closes.
enum class OnClose { Abort, KeepWaiting };

// Waits until done() is true, the station is closing (AbortRequested, unless `onClose` says
// otherwise) or more than timeoutMs have passed (monotonic clock). done() is tested first, so a
// condition already met returns Done at once.
WaitResult WaitUntil(const std::function<bool()>& done, int timeoutMs,
                     OnClose onClose = OnClose::Abort);

// Lets events run for the given time (the fixed pauses of the start-up and the camera change);
// ends early when the station is closing.
void PauseWithEvents(int ms);

} // namespace kestrova

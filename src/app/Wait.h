// The one wait used by every loop that waits for the network: sleep 20 ms, let pending
// window, timer and socket events run, test again. Every wait is bounded and ends at once
// when the station is closing (AbortRequested).
#pragma once

#include <QElapsedTimer>

#include <functional>

namespace kestrova {

// Sleeps 20 ms, then runs the pending events once.
void PumpEvents();

enum class WaitResult { Done, TimedOut, Aborted };

// Waits until done() is true, AbortRequested is set or timeoutMs have passed (monotonic
// clock). done() is tested first, so a condition already met returns Done at once.
WaitResult WaitUntil(const std::function<bool()>& done, int timeoutMs);

// Lets events run for the given time (the fixed pauses of the start-up and camera change);
// ends early when the station is closing.
void PauseWithEvents(int ms);

} // namespace kestrova

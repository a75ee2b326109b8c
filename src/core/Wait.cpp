#include "core/Wait.h"

#include "core/AppState.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace kestrova {

WaitResult WaitUntil(const std::function<bool()>& done, int timeoutMs, OnClose onClose) {
    QElapsedTimer clock;
    clock.start();
    // Wakes the event loop at the bound when nothing else happens before it.
    QTimer bound;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    bound.start(timeoutMs < 0 ? 0 : timeoutMs + 1);
    for (;;) {
        if (done())
            return WaitResult::Done;
        if (onClose == OnClose::Abort && App().AbortRequested != kFalse)
            return WaitResult::Aborted;
        if (clock.elapsed() > timeoutMs)
            return WaitResult::TimedOut;
        if (!bound.isActive())
            bound.start(1);
        // Runs what is pending, or sleeps until the next event (a socket, a timer, a signal).
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void PauseWithEvents(int ms) {
    QElapsedTimer clock;
    clock.start();
    WaitUntil([&clock, ms] { return clock.elapsed() > ms; }, ms);
}

} // namespace kestrova

#include "app/Wait.h"

#include "app/AppState.h"

#include <QCoreApplication>
#include <QThread>

namespace kestrova {

void PumpEvents() {
    QThread::msleep(20);
    QCoreApplication::processEvents();
}

WaitResult WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done())
            return WaitResult::Done;
        if (App().AbortRequested != kFalse)
            return WaitResult::Aborted;
        if (clock.elapsed() > timeoutMs)
            return WaitResult::TimedOut;
        PumpEvents();
    }
}

void PauseWithEvents(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() <= ms && App().AbortRequested == kFalse)
        PumpEvents();
}

} // namespace kestrova

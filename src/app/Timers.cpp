#include "app/Timers.h"

#include <memory>

namespace kestrova {

StationTimers::StationTimers() {
    tmrWatchdog.setInterval(1000);
    // The next upload must not start before a full second after the relay closed the last.
    tmrWatchdog.setTimerType(Qt::PreciseTimer);
    SlowTimer.setInterval(30000);
    tmrMovePoller.setInterval(2000);
    tmrCheckVisitor.setInterval(5000);
    tmrArchive.setInterval(60000);
    InstallFinished.setInterval(250);
}

namespace {
std::unique_ptr<StationTimers>& Instance() {
    static std::unique_ptr<StationTimers> timers;
    return timers;
}
} // namespace

StationTimers& Timers() {
    if (!Instance())
        Instance() = std::make_unique<StationTimers>();
    return *Instance();
}

void ResetTimers() {
    Instance().reset();
}

} // namespace kestrova

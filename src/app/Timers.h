// The timers of the main window. They drive everything after start-up.
#pragma once

#include <QTimer>

namespace kestrova {

struct StationTimers {
    StationTimers();
    QTimer tmrWatchdog;     // 1000 ms: live frame upload
    QTimer SlowTimer;       // 30000 ms: posting tick
    QTimer tmrMovePoller;   // 2000 ms: re-sends "start_polling" until confirmed
    QTimer tmrCheckVisitor; // 5000 ms: re-sends "start_reflector" until confirmed
    QTimer tmrArchive;      // 60000 ms: archive countdown
    QTimer InstallFinished; // 250 ms: requests the close of the main window again
};

// The timers of this process; replaced by ResetTimers() (tests).
StationTimers& Timers();
void ResetTimers();

} // namespace kestrova

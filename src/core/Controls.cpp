#include "core/Controls.h"

namespace kestrova {

Controls::Controls()
    : lblReflectorStatus(QStringLiteral("Reflector service not activated")),
      txtStatus(QStringLiteral("Waiting to upload images")),
      cmdDebug(QStringLiteral("Debug Server")), cmdChangeCam(QStringLiteral("Change Camera")),
      cmdCamSource(QStringLiteral("Advanced Camera Settings")), cmdPtzEdit(QStringLiteral("Edit")),
      chkThumb(1), chkEnableZoom(1), chkEnableSnap(1), chkEnablePresets(1),
      lblJPEGQuality(QStringLiteral("JPEG Image Quality")),
      butMove{Button(QStringLiteral("\u2190")), Button(QStringLiteral("\u2192")),
              Button(QStringLiteral("\u2191")), Button(QStringLiteral("\u2193")), Button()},
      butMoveToolTip{QStringLiteral("Move Left"), QStringLiteral("Move Right"),
                     QStringLiteral("Move Up"), QStringLiteral("Move Down"),
                     QStringLiteral("Move Home")} {
    cmdDebug.setVisible(false);
}

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

} // namespace kestrova

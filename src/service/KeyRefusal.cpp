#include "service/KeyRefusal.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"

namespace kestrova {

namespace {

const QString kRefusedCaption = QStringLiteral("Station key refused by the relay");
const QString kActiveCaption = QStringLiteral("Reflector service active...");

} // namespace

QByteArray StationKeyHeaderLine() {
    const QString& key = App().StationKey;
    if (key.isEmpty())
        return QByteArray();
    return QByteArrayLiteral("Authorization: Bearer ") + key.toLatin1() + QByteArrayLiteral("\r\n");
}

bool IsKeyRefusal(const QByteArray& text) {
    return text.contains("key does not match");
}

void ReportKeyRefused() {
    AppState& s = App();
    if (s.StationKeyRefused == kFalse) {
        s.StationKeyRefused = kTrue;
        WriteLog(
            QStringLiteral("Relay: the relay refused this station's key for camera %1: the relay "
                           "holds the camera for another key (this station's station.key was lost, "
                           "or another station uses the same camera identifier). The relay's "
                           "administrator can release the camera; this station's next start then "
                           "claims it again.")
                .arg(s.CameraId.trimmed()));
    }
    Ui().lblReflectorStatus.set(kRefusedCaption);
}

void NoteKeyAccepted() {
    AppState& s = App();
    if (s.StationKeyRefused == kFalse)
        return;
    s.StationKeyRefused = kFalse;
    WriteLog(QStringLiteral("Relay: the relay accepts this station's key again"));
    if (Ui().lblReflectorStatus.value() == kRefusedCaption)
        Ui().lblReflectorStatus.set(kActiveCaption);
}

} // namespace kestrova

// The two contents the kill trials alternate between: every record, the viewer password and
// the camera the station key is made for differ between them in every byte that can differ, so
// that a file holding parts of both cannot pass for either.
#pragma once

#include "core/AppState.h"

#include <QString>

namespace kestrova::test {

inline QString TrialPassword(int which) {
    return which == 0 ? QStringLiteral("alpha-password-0000") : QStringLiteral("beta-password-11");
}

inline QString TrialCameraId(int which) {
    return which == 0 ? QStringLiteral("TrialCameraAlpha") : QStringLiteral("TrialCameraBeta1");
}

// Puts content `which` (0 or 1) into the station's records.
inline void SetTrialRecords(int which) {
    AppState& s = App();
    const QChar fill = which == 0 ? QLatin1Char('a') : QLatin1Char('b');
    s.Settings.ReservedText.assign(QString(256, fill));
    s.Settings.SettingsSaved = 1;
    s.Settings.JpegQuality = which == 0 ? 60 : 90;
    s.Settings.PtzPort = which == 0 ? 8001 : 9002;
    s.Cam.CameraName.assign(QString(256, which == 0 ? QLatin1Char('C') : QLatin1Char('D')));
    s.Cam.EmailAddress.assign(QString(256, which == 0 ? QLatin1Char('e') : QLatin1Char('f')));
    s.Cam.WizardDone = which == 0 ? 1 : 2;
    s.Chat.ChatUserName.assign(QString(50, which == 0 ? QLatin1Char('u') : QLatin1Char('v')));
    s.Chat.ChatRoomName.assign(QString(50, which == 0 ? QLatin1Char('r') : QLatin1Char('s')));
    s.Chat.ChatRoomNumber = which == 0 ? 1111 : 2222;
    s.Archive.DisplayArchive = which == 0 ? 1 : 0;
    s.Archive.ArchiveRateIndex = which == 0 ? 2 : 3;
}

} // namespace kestrova::test

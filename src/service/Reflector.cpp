#include "service/Reflector.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "core/Dialogs.h"
#include "core/EventLog.h"
#include "service/KeyRefusal.h"
#include "service/Sync.h"
#include "service/Upload.h"
#include "service/WebRequest.h"
#include "settings/Deployment.h"

#include <QList>

namespace kestrova {

namespace {

// A host the relay may be reached at and named by in a Host line: printable ASCII without
// blanks.
bool IsUsableHost(const QByteArray& host) {
    if (host.isEmpty())
        return false;
    for (const char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F)
            return false;
    }
    return true;
}

} // namespace

QByteArray ReflectorClient::RelayExchange(const QString& uri) {
    const AppState& s = App();
    return web_.GetWebRequest(s.ReflectorHost.trimmed(),
                              static_cast<std::uint16_t>(s.ReflectorPort), uri,
                              Credentials::StationKey);
}

QString CameraIdForRequest() {
    const QString id = App().CameraId.trimmed();
    App().CameraId.assign(id);
    return IsValidCameraId(id) ? id : QString();
}

bool ReflectorClient::GetReflectorDetails() {
    const Deployment deployment = ReadDeployment();
    const QByteArray answer = web_.GetWebRequest(deployment.MainHost, deployment.MainPort,
                                                 QStringLiteral("/getReflector.php"));
    if (IsFailedAnswer(answer))
        return false;
    const ServiceAnswer split = SplitServiceAnswer(answer);
    if (!split.ok)
        return false;
    // Host, port and path: the first three lines (separated by CR LF), blanks removed.
    QList<QByteArray> fields;
    qsizetype pos = 0;
    while (fields.size() < 3 && pos <= split.body.size()) {
        qsizetype end = split.body.indexOf("\r\n", pos);
        if (end < 0)
            end = split.body.size();
        fields << split.body.mid(pos, end - pos).trimmed();
        pos = end + 2;
    }
    if (fields.size() < 3)
        return false;
    const QByteArray& host = fields[0];
    bool isNumber = false;
    const int port = fields[1].toInt(&isNumber);
    if (!IsUsableHost(host) || !isNumber || port < 1 || port > 32767)
        return false;

    AppState& s = App();
    s.ReflectorHost = QString::fromLatin1(host);
    s.ReflectorPort = static_cast<std::int16_t>(port);
    s.ReflectorPath = QString::fromUtf8(fields[2]);
    // The frame upload (and the archive upload) connect to ReflectorHost and ReflectorPort.
    return true;
}

bool ReflectorClient::CheckCameraFolder() {
    const QString id = CameraIdForRequest();
    const auto fail = [] {
        WriteLog(StampedLine(QStringLiteral(" Error Checking Reflector Registration.")));
        return false;
    };
    if (id.isEmpty())
        return fail();
    const QByteArray answer = RelayExchange(QStringLiteral("/webcams/CheckFolderExists?id=") + id +
                                            QStringLiteral("&path=") + ServiceFolder());
    if (IsFailedAnswer(answer))
        return false;
    const ServiceAnswer split = SplitServiceAnswer(answer);
    if (!split.ok)
        return fail();
    return !split.body.contains("Exists: false");
}

bool ReflectorClient::RegisterCamera() {
    const QString id = CameraIdForRequest();
    const auto fail = [] {
        WriteLog(StampedLine(QStringLiteral(" Proxy Registration Error.")));
        return false;
    };
    if (id.isEmpty())
        return fail();
    const QString ptz =
        App().IsPtzCamera == kTrue ? QStringLiteral("&ptz=true") : QStringLiteral("&ptz=false");
    const QByteArray answer = RelayExchange(QStringLiteral("/webcams/Register?id=") + id +
                                            QStringLiteral("&path=") + ServiceFolder() + ptz);
    if (IsFailedAnswer(answer))
        return false;
    const ServiceAnswer split = SplitServiceAnswer(answer);
    if (!split.ok)
        return fail();
    WriteLog(QString::fromUtf8(split.body.trimmed()));
    if (IsKeyRefusal(split.body))
        ReportKeyRefused();
    const bool registered = split.body.contains("User Registered Successfully.");
    if (registered)
        NoteKeyAccepted();
    return registered;
}

void ReflectorClient::StartReflector() {
    AppState& s = App();
    StationTimers& timers = Timers();

    s.CameraChanging = kFalse;
    relaySideOn_ = false;
    uploader_.CloseReflectorSocket();

    if (!GetReflectorDetails()) {
        s.ReflectorRunning = kFalse;
        return;
    }
    // The station's close is never undone here: a start that races the close switches nothing
    // on, and nobody is asked to contact anyone about an exchange that the close cut short.
    bool registered = CheckCameraFolder();
    if (!registered && s.AbortRequested == kFalse)
        registered = RegisterCamera();
    if (s.AbortRequested == kTrue) {
        s.ReflectorRunning = kFalse;
        return;
    }
    if (!registered) {
        dialogs::MessageBox(
            QStringLiteral("Failed to register you on the reflector service. Contact ") +
                ReadDeployment().SupportEmail + QStringLiteral("."),
            dialogs::Icon::None, dialogs::Buttons::Ok);
        s.ReflectorRunning = kFalse;
        return;
    }

    s.UploadReady = kTrue;
    s.ReflectorActive = kTrue;
    relaySideOn_ = true;
    if (jobs_.startVisitorCheck)
        jobs_.startVisitorCheck();
    timers.tmrCheckVisitor.start();
    timers.tmrWatchdog.start();
    if (s.IsPtzCamera == kTrue) {
        if (jobs_.startMovePolling)
            jobs_.startMovePolling();
        timers.tmrMovePoller.start();
    }
    Ui().lblReflectorStatus.set(QStringLiteral("Reflector service active..."));
    sync_.ReflectorSynchronize();
}

void ReflectorClient::StopReflector() {
    StationTimers& timers = Timers();
    relaySideOn_ = false;
    if (App().IsPtzCamera == kTrue) {
        if (jobs_.stopMovePolling)
            jobs_.stopMovePolling();
        timers.tmrMovePoller.stop();
    }
    if (jobs_.stopVisitorCheck)
        jobs_.stopVisitorCheck();
    App().ReflectorActive = kFalse;
    App().ReflectorRunning = kFalse;
    timers.tmrCheckVisitor.stop();
    timers.tmrWatchdog.stop();
}

} // namespace kestrova

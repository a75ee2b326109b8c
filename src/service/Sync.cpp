#include "service/Sync.h"

#include "core/AppState.h"
#include "core/EventLog.h"
#include "core/Text.h"
#include "core/Wait.h"
#include "service/KeyRefusal.h"
#include "service/Reflector.h"
#include "service/ServiceSocket.h"
#include "settings/Password.h"

namespace kestrova {

namespace {

QByteArray OnOff(std::int16_t value) {
    return value == 1 ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

} // namespace

SettingsSync::SettingsSync()
    : socket_(std::make_unique<ServiceSocket>(ServiceSocket::Handlers{
          {},
          [this](const QByteArray& piece) {
              if (IsKeyRefusal(piece))
                  ReportKeyRefused();
              else if (piece.contains("Settings written successfully."))
                  NoteKeyAccepted();
              if (answerHandler_ && answerHandler_(piece))
                  answered_ = true;
          },
          {},
          [](const QString& description) {
              WriteLog(StampedLine(QStringLiteral(" SyncSocket Error:") + description));
          }})) {}

SettingsSync::~SettingsSync() = default;

void SettingsSync::Synchronize() {
    if (App().ReflectorRunning == kTrue)
        ReflectorSynchronize();
}

QByteArray SettingsSync::SyncBody() {
    const AppState& s = App();
    const SettingsRecord& o = s.Settings;
    QByteArray body =
        QByteArrayLiteral("id=") + s.CameraId.trimmed().toUtf8() + QByteArrayLiteral("&path=") +
        ServiceFolder().toUtf8() + QByteArrayLiteral("&zoom=") + OnOff(o.ZoomEnabled) +
        QByteArrayLiteral("&snapshot=") + OnOff(o.SnapshotEnabled) + QByteArrayLiteral("&chat=") +
        OnOff(o.ChatEnabled) + QByteArrayLiteral("&secure=") + OnOff(o.PasswordsEnabled) +
        QByteArrayLiteral("&password=") + UrlEncode(getPassword()).toUtf8();
    if (s.IsPtzCamera == kTrue)
        body += QByteArrayLiteral("&ptz=true&presets=") + OnOff(o.PresetsEnabled);
    else
        body += QByteArrayLiteral("&ptz=false&presets=false");
    body += QByteArrayLiteral("&archive=") + OnOff(s.Archive.DisplayArchive) +
            QByteArrayLiteral("&chatID=") + s.Chat.ChatRoomName.trimmed().toUtf8() + ':' +
            QByteArray::number(s.Chat.ChatRoomNumber);
    return body;
}

QByteArray SettingsSync::SyncHeader(qsizetype length) {
    const AppState& s = App();
    return QByteArrayLiteral("POST /webcams/SyncWebcams HTTP/1.1\r\n"
                             "Accept: text/plain, text/html, */*\r\n"
                             "Content-Type: application/x-www-form-urlencoded; charset=utf-8\r\n"
                             "Host: ") +
           s.ReflectorHost.trimmed().toUtf8() + ':' + QByteArray::number(s.ReflectorPort) +
           QByteArrayLiteral("\r\nContent-Length: ") + QByteArray::number(length) +
           QByteArrayLiteral("\r\nConnection: Close\r\nCache-Control: no-cache\r\n") +
           StationKeyHeaderLine() + QByteArrayLiteral("\r\n");
}

void SettingsSync::ReflectorSynchronize() {
    App().RequestAnswered = kFalse;
    answered_ = false;
    ServiceSocket& socket = *socket_;
    socket.connectTo(App().ReflectorHost.trimmed(), static_cast<quint16>(App().ReflectorPort));
    const std::uint64_t attempt = socket.attempt();
    const auto mine = [&socket, attempt] { return socket.attempt() == attempt; };
    const WaitResult connected = WaitUntil(
        [&] {
            return !mine() || socket.state() == QAbstractSocket::ConnectedState ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeouts_.connectMs);
    if (connected != WaitResult::Done || !mine() ||
        socket.state() != QAbstractSocket::ConnectedState) {
        if (mine())
            socket.closeQuietly();
        WriteLog(socket.connectFailedLine(connected));
        return;
    }

    const QByteArray body = SyncBody();
    socket.write(SyncHeader(body.size()));
    socket.write(body);

    // The relay answers and closes; an answer that says neither phrase ends with the close.
    const WaitResult answered = WaitUntil(
        [&] { return answered_ || !mine() || socket.state() == QAbstractSocket::UnconnectedState; },
        timeouts_.answerMs);
    if (answered == WaitResult::TimedOut) {
        WriteLog(QStringLiteral("Settings synchronisation: no answer from the relay"));
        socket.closeQuietly();
    }
}

void SettingsSync::CloseSyncSocket() {
    socket_->closeQuietly();
}

} // namespace kestrova

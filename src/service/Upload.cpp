#include "service/Upload.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"
#include "core/Text.h"
#include "core/Wait.h"
#include "service/KeyRefusal.h"
#include "service/Reflector.h"
#include "service/ServiceSocket.h"

#include <QTimer>

namespace kestrova {

Uploader::Uploader()
    : reflectorSocket_(std::make_unique<ServiceSocket>(ServiceSocket::Handlers{
          {},
          [this](const QByteArray& piece) { OnReflectorData(piece); },
          [this] { OnReflectorClose(); },
          [this](const QString& description) { OnReflectorError(description); }})) {
    answerTimer_.setSingleShot(true);
    QObject::connect(&answerTimer_, &QTimer::timeout, [this] { OnAnswerTimeout(); });
}

Uploader::~Uploader() = default;

// No upload holds the socket any more.
void Uploader::ForgetUpload() {
    stage_ = Stage::None;
    answerTimer_.stop();
}

// Closing the socket ourselves is not the relay's close: the handlers do not run for it.
void Uploader::CloseQuietly() {
    ForgetUpload();
    reflectorSocket_->closeQuietly();
}

// The upload has ended: the next tick may upload again. While the station shuts down the
// watchdog stays off.
void Uploader::EndUpload() {
    App().UploadReady = kTrue;
    if (App().ShutdownRequested == kFalse)
        Timers().tmrWatchdog.start();
}

void Uploader::OnReflectorData(const QByteArray& piece) {
    if (!piece.contains("Reflector"))
        return;
    // The relay refused the frame: keep its answer.
    if (piece.contains("false")) {
        WriteLog(QString::fromUtf8(piece));
        if (IsKeyRefusal(piece))
            ReportKeyRefused();
    } else {
        NoteKeyAccepted();
    }
    Ui().txtStatus.force(QStringLiteral("Uploaded image at: ") + LogTime());
}

void Uploader::OnReflectorClose() {
    ForgetUpload();
    EndUpload();
}

void Uploader::OnReflectorError(const QString& description) {
    WriteLog(QStringLiteral("ReflectorSocket Error - ") + description);
    ForgetUpload();
    EndUpload();
}

void Uploader::OnAnswerTimeout() {
    if (stage_ != Stage::Open)
        return;
    WriteLog(QStringLiteral("ReflectorSocket Error - No answer from the relay within %1 ms")
                 .arg(timeouts_.answerMs));
    CloseQuietly();
    EndUpload();
}

// Connects ReflectorSocket for a new upload. The wait runs events, and an event may close the
// socket (the socket's own error and close handlers, a new start of the relay side, the
// station's close) or start another upload on it; this upload then leaves the socket alone.
Uploader::ConnectResult Uploader::ConnectUploader() {
    ServiceSocket& socket = *reflectorSocket_;
    ForgetUpload();
    socket.connectTo(App().ReflectorHost.trimmed(), static_cast<quint16>(App().ReflectorPort));
    stage_ = Stage::Connecting;
    if (App().AbortRequested == kTrue) {
        CloseQuietly();
        return ConnectResult::Failed;
    }
    const std::uint64_t attempt = socket.attempt();
    const WaitResult result = WaitUntil(
        [&socket, attempt] {
            return socket.attempt() != attempt ||
                   socket.state() == QAbstractSocket::ConnectedState ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeouts_.connectMs);
    if (socket.attempt() != attempt)
        return ConnectResult::TakenOver;
    if (result == WaitResult::Done && socket.state() == QAbstractSocket::ConnectedState)
        return ConnectResult::Connected;
    CloseQuietly();
    return ConnectResult::Failed;
}

MultipartPost BuildFramePost(const QByteArray& requestPath, const QString& host, std::uint16_t port,
                             const QString& cameraId, const QString& boundary,
                             const QString& fileName, const QByteArray& jpeg) {
    const QByteArray crlf = QByteArrayLiteral("\r\n");
    const QByteArray dashes = QByteArrayLiteral("--") + boundary.toLatin1();

    MultipartPost post;
    QByteArray& body = post.body;
    body.reserve(jpeg.size() + 512);
    body += dashes + crlf;
    body += QByteArrayLiteral("Content-Disposition: form-data; name=\"id\"\r\n\r\n");
    body += cameraId.toUtf8() + crlf;
    body += dashes + crlf;
    body += QByteArrayLiteral("Content-Disposition: form-data; name=\"path\"\r\n\r\n");
    body += ServiceFolder().toUtf8() + crlf;
    body += dashes + crlf;
    body += QByteArrayLiteral("Content-Disposition: form-data; name=\"frame\"; filename=\"") +
            fileName.toUtf8() + QByteArrayLiteral("\"\r\n");
    body += QByteArrayLiteral("Content-Type: image/jpeg\r\n\r\n");
    body += jpeg + crlf;
    body += dashes + QByteArrayLiteral("--") + crlf;

    QByteArray& header = post.header;
    header += QByteArrayLiteral("POST ") + requestPath + QByteArrayLiteral(" HTTP/1.1\r\n");
    header += QByteArrayLiteral("Content-Type: multipart/form-data; boundary=") +
              boundary.toLatin1() + crlf;
    header += QByteArrayLiteral("Host: ") + host.trimmed().toUtf8() + ':' +
              QByteArray::number(port) + crlf;
    header += QByteArrayLiteral("Content-Length: ") + QByteArray::number(body.size()) + crlf;
    header += QByteArrayLiteral("Connection: Close\r\n");
    header += QByteArrayLiteral("Cache-Control: no-cache\r\n");
    header += StationKeyHeaderLine();
    header += crlf;
    return post;
}

void Uploader::WatchdogTick() {
    if (App().UploadReady == kTrue && App().ReflectorActive == kTrue) {
        Ui().txtStatus.force(QStringLiteral("Uploading: ") + LogTime());
        UploadImage(false);
    }
}

void Uploader::UploadImage(bool override) {
    if (!override && (App().ReflectorActive == kFalse || App().CameraChanging == kTrue))
        return;
    // Without a relay (its look-up failed) or an identifier it may be sent, there is nothing
    // to upload to.
    if (App().ReflectorHost.trimmed().isEmpty() || App().ReflectorPort <= 0)
        return;
    const QString id = CameraIdForRequest();
    if (id.isEmpty())
        return;

    Timers().tmrWatchdog.stop();
    App().UploadReady = kFalse;

    // No frame (no camera, capture failed): nothing is sent, the next tick tries again.
    const QByteArray frame = source_ ? source_(App().CameraChanging == kTrue) : QByteArray();
    if (frame.isEmpty()) {
        EndUpload();
        return;
    }
    switch (ConnectUploader()) {
    case ConnectResult::Connected:
        break;
    case ConnectResult::Failed:
        EndUpload();
        return;
    case ConnectResult::TakenOver:
        return;
    }

    const QString boundary = RandomAlphaNumeric(32);
    const QString fileName = RandomAlphaNumeric(8) + QStringLiteral(".jpg");
    const MultipartPost post = BuildFramePost(
        QByteArrayLiteral("/webcams/Reflector"), App().ReflectorHost,
        static_cast<std::uint16_t>(App().ReflectorPort), id, boundary, fileName, frame);
    reflectorSocket_->write(post.header);
    reflectorSocket_->write(post.body);
    // The socket's events end the upload; a relay that never answers nor closes is cut off.
    stage_ = Stage::Open;
    answerTimer_.start(timeouts_.answerMs);
}

void Uploader::CloseReflectorSocket() {
    const bool busy = stage_ != Stage::None;
    CloseQuietly();
    // Nobody will end this upload any more.
    if (busy)
        App().UploadReady = kTrue;
}

} // namespace kestrova

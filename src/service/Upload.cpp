#include "service/Upload.h"

#include "app/AppState.h"
#include "app/Controls.h"
#include "app/EventLog.h"
#include "app/Timers.h"
#include "app/Wait.h"
#include "camera/FrameCapture.h"
#include "service/Reflector.h"
#include "service/ServiceSocket.h"
#include "service/WebRequest.h"

#include <QTimer>

namespace kestrova {

namespace {

UploadTimeouts& Timeouts() {
    static UploadTimeouts timeouts;
    return timeouts;
}

FrameSource& Source() {
    static FrameSource source;
    return source;
}

QByteArray TakeFrame(bool localImage) {
    if (Source())
        return Source()(localImage);
    return localImage ? GetLocalImage() : GetLatestImage();
}

// How far the upload that holds ReflectorSocket has come.
enum class UploadStage {
    None,       // no upload holds the socket
    Connecting, // waiting for the connection
    Open,       // the frame is sent, the relay's answer and close are awaited
};

UploadStage& Stage() {
    static UploadStage stage = UploadStage::None;
    return stage;
}

void OnReflectorData(const QByteArray& piece);
void OnReflectorClose();
void OnReflectorError(const QString& description);
void OnAnswerTimeout();

ServiceSocket& ReflectorSocket() {
    static ServiceSocket* socket =
        new ServiceSocket({{}, OnReflectorData, OnReflectorClose, OnReflectorError});
    return *socket;
}

// Bounds the wait for the relay's answer and close.
QTimer& AnswerTimer() {
    static QTimer* timer = [] {
        auto* t = new QTimer;
        t->setSingleShot(true);
        QObject::connect(t, &QTimer::timeout, t, [] { OnAnswerTimeout(); });
        return t;
    }();
    return *timer;
}

// No upload holds the socket any more.
void ForgetUpload() {
    Stage() = UploadStage::None;
    AnswerTimer().stop();
}

// Closing the socket ourselves is not the relay's close: the handlers do not run for it.
void CloseQuietly() {
    ForgetUpload();
    ReflectorSocket().closeQuietly();
}

// The upload has ended: the next tick may upload again. While the station shuts down the
// watchdog stays off.
void EndUpload() {
    App().UploadReady = kTrue;
    if (App().ShutdownRequested == kFalse)
        Timers().tmrWatchdog.start();
}

void OnReflectorData(const QByteArray& piece) {
    if (!piece.contains("Reflector"))
        return;
    // The relay refused the frame: keep its answer.
    if (piece.contains("false"))
        WriteLog(QString::fromUtf8(piece));
    Ui().txtStatus.force(QStringLiteral("Uploaded image at: ") + LogTime());
}

void OnReflectorClose() {
    ForgetUpload();
    EndUpload();
}

void OnReflectorError(const QString& description) {
    WriteLog(QStringLiteral("ReflectorSocket Error - ") + description);
    ForgetUpload();
    EndUpload();
}

void OnAnswerTimeout() {
    if (Stage() != UploadStage::Open)
        return;
    WriteLog(QStringLiteral("ReflectorSocket Error - No answer from the relay within %1 ms")
                 .arg(Timeouts().answerMs));
    CloseQuietly();
    EndUpload();
}

enum class ConnectResult {
    Connected,
    Failed,   // the upload is to be ended
    TakenOver // the socket was closed or reconnected meanwhile: whoever did it has the cycle
};

// Connects ReflectorSocket for a new upload. The wait runs events, and an event may close the
// socket (the socket's own error and close handlers, a new start of the relay side, the
// station's close) or start another upload on it; this upload then leaves the socket alone.
ConnectResult ConnectUploader() {
    ServiceSocket& socket = ReflectorSocket();
    ForgetUpload();
    socket.connectTo(App().ReflectorHost.trimmed(), static_cast<quint16>(App().ReflectorPort));
    Stage() = UploadStage::Connecting;
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
        Timeouts().connectMs);
    if (socket.attempt() != attempt)
        return ConnectResult::TakenOver;
    if (result == WaitResult::Done && socket.state() == QAbstractSocket::ConnectedState)
        return ConnectResult::Connected;
    CloseQuietly();
    return ConnectResult::Failed;
}

} // namespace

void SetFrameSource(FrameSource source) {
    Source() = std::move(source);
}

void SetUploadTimeouts(const UploadTimeouts& timeouts) {
    Timeouts() = timeouts;
}

UploadTimeouts CurrentUploadTimeouts() {
    return Timeouts();
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
    header += QByteArrayLiteral("Cache-Control: no-cache\r\n\r\n");
    return post;
}

void WatchdogTick() {
    if (App().UploadReady == kTrue && App().ReflectorActive == kTrue) {
        Ui().txtStatus.force(QStringLiteral("Uploading: ") + LogTime());
        UploadImage(false);
    }
}

void UploadImage(bool override) {
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

    const QByteArray frame = TakeFrame(App().CameraChanging == kTrue);
    // No frame (no camera, capture failed): nothing is sent, the next tick tries again.
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
    ServiceSocket& socket = ReflectorSocket();
    socket.write(post.header);
    socket.write(post.body);
    // The socket's events end the upload; a relay that never answers nor closes is cut off.
    Stage() = UploadStage::Open;
    AnswerTimer().start(Timeouts().answerMs);
}

bool UploaderConnect() {
    return ConnectUploader() == ConnectResult::Connected;
}

void CloseReflectorSocket() {
    const bool busy = Stage() != UploadStage::None;
    CloseQuietly();
    // Nobody will end this upload any more.
    if (busy)
        App().UploadReady = kTrue;
}

void CloseServiceSockets() {
    CloseWebSocket();
    // The archive socket is closed here too once the archive upload has one.
}

} // namespace kestrova

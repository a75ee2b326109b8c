#include "service/Upload.h"

#include "app/AppState.h"
#include "app/Controls.h"
#include "app/EventLog.h"
#include "app/Timers.h"
#include "app/Wait.h"
#include "camera/FrameCapture.h"
#include "service/Reflector.h"
#include "service/WebRequest.h"

#include <QSignalBlocker>
#include <QTcpSocket>
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

// The upload whose request has been sent and whose answer is awaited.
bool& UploadOpen() {
    static bool open = false;
    return open;
}

void OnReflectorData(QTcpSocket& socket);
void OnReflectorClose(QTcpSocket& socket);
void OnReflectorError(QTcpSocket& socket, QAbstractSocket::SocketError error);
void OnAnswerTimeout();

QTcpSocket& ReflectorSocket() {
    static QTcpSocket* socket = [] {
        auto* s = new QTcpSocket;
        s->setReadBufferSize(64 * 1024);
        QObject::connect(s, &QTcpSocket::readyRead, s, [s] { OnReflectorData(*s); });
        QObject::connect(s, &QTcpSocket::disconnected, s, [s] { OnReflectorClose(*s); });
        QObject::connect(s, &QTcpSocket::errorOccurred, s,
                         [s](QAbstractSocket::SocketError e) { OnReflectorError(*s, e); });
        return s;
    }();
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

// Closing the socket ourselves is not the relay's close: the handlers do not run for it.
void CloseQuietly(QTcpSocket& socket) {
    UploadOpen() = false;
    AnswerTimer().stop();
    const QSignalBlocker block(&socket);
    socket.abort();
}

// The upload has ended: the next tick may upload again. While the station shuts down the
// watchdog stays off.
void EndUpload() {
    App().UploadReady = kTrue;
    if (App().ShutdownRequested == kFalse)
        Timers().tmrWatchdog.start();
}

void OnReflectorData(QTcpSocket& socket) {
    const QByteArray piece = socket.readAll();
    if (!piece.contains("Reflector"))
        return;
    // The relay refused the frame: keep its answer.
    if (piece.contains("false"))
        WriteLog(QString::fromUtf8(piece));
    Ui().txtStatus.force(QStringLiteral("Uploaded image at: ") + LogTime());
}

void OnReflectorClose(QTcpSocket& socket) {
    if (socket.bytesAvailable() > 0)
        OnReflectorData(socket);
    CloseQuietly(socket);
    EndUpload();
}

void OnReflectorError(QTcpSocket& socket, QAbstractSocket::SocketError error) {
    // The relay's close arrives as this error first; the close handler follows.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    WriteLog(QStringLiteral("ReflectorSocket Error - ") + socket.errorString());
    CloseQuietly(socket);
    EndUpload();
}

void OnAnswerTimeout() {
    if (!UploadOpen())
        return;
    WriteLog(QStringLiteral("ReflectorSocket Error - No answer from the relay within %1 ms")
                 .arg(Timeouts().answerMs));
    CloseQuietly(ReflectorSocket());
    EndUpload();
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
    if (!UploaderConnect()) {
        EndUpload();
        return;
    }

    const QString boundary = RandomAlphaNumeric(32);
    const QString fileName = RandomAlphaNumeric(8) + QStringLiteral(".jpg");
    const MultipartPost post = BuildFramePost(
        QByteArrayLiteral("/webcams/Reflector"), App().ReflectorHost,
        static_cast<std::uint16_t>(App().ReflectorPort), id, boundary, fileName, frame);
    QTcpSocket& socket = ReflectorSocket();
    socket.write(post.header);
    socket.write(post.body);
    // The socket's events end the upload; a relay that never answers nor closes is cut off.
    UploadOpen() = true;
    AnswerTimer().start(Timeouts().answerMs);
}

bool UploaderConnect() {
    QTcpSocket& socket = ReflectorSocket();
    CloseQuietly(socket);
    socket.connectToHost(App().ReflectorHost.trimmed(), static_cast<quint16>(App().ReflectorPort));
    if (App().AbortRequested == kTrue) {
        CloseQuietly(socket);
        return false;
    }
    const WaitResult result = WaitUntil(
        [&socket] {
            return socket.state() == QAbstractSocket::ConnectedState ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        Timeouts().connectMs);
    if (result == WaitResult::Done && socket.state() == QAbstractSocket::ConnectedState)
        return true;
    CloseQuietly(socket);
    return false;
}

void CloseReflectorSocket() {
    const bool wasOpen = UploadOpen();
    CloseQuietly(ReflectorSocket());
    // Nobody will close this upload any more.
    if (wasOpen)
        App().UploadReady = kTrue;
}

void CloseServiceSockets() {
    CloseWebSocket();
    // The archive socket is closed here too once the archive upload has one.
}

} // namespace kestrova

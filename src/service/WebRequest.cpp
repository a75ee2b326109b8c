#include "service/WebRequest.h"

#include "app/AppState.h"
#include "app/EventLog.h"
#include "app/Wait.h"

#include <QRandomGenerator>
#include <QSignalBlocker>
#include <QTcpSocket>

#include <limits>

namespace kestrova {

namespace {

WebRequestTimeouts& Timeouts() {
    static WebRequestTimeouts timeouts;
    return timeouts;
}

// Closing the socket ourselves is not the service's close: the handlers do not run for it.
void CloseQuietly(QTcpSocket& socket) {
    const QSignalBlocker block(&socket);
    socket.abort();
}

void OnWebData(QTcpSocket& socket);
void OnWebClose(QTcpSocket& socket);
void OnWebError(QTcpSocket& socket, QAbstractSocket::SocketError error);

QTcpSocket& WebSocket() {
    static QTcpSocket* socket = [] {
        auto* s = new QTcpSocket;
        // Read in pieces; what an answer may hold in all is bounded by kMaxAnswerBytes.
        s->setReadBufferSize(64 * 1024);
        QObject::connect(s, &QTcpSocket::connected, s, [] { App().WebConnected = kTrue; });
        QObject::connect(s, &QTcpSocket::readyRead, s, [s] { OnWebData(*s); });
        QObject::connect(s, &QTcpSocket::disconnected, s, [s] { OnWebClose(*s); });
        QObject::connect(s, &QTcpSocket::errorOccurred, s,
                         [s](QAbstractSocket::SocketError e) { OnWebError(*s, e); });
        return s;
    }();
    return *socket;
}

void EndExchange() {
    App().WebRequestDone = kTrue;
    App().WebConnected = kFalse;
}

void OnWebData(QTcpSocket& socket) {
    const QByteArray piece = socket.readAll();
    if (piece.isEmpty())
        return;
    AppState& s = App();
    if (s.WebResponse.size() + piece.size() > kMaxAnswerBytes) {
        WriteLog(StampedLine(QStringLiteral(" WebSocket Error:The answer is longer than %1 bytes")
                                 .arg(kMaxAnswerBytes)));
        s.WebResponse = IoErrorAnswer();
        EndExchange();
        CloseQuietly(socket);
        return;
    }
    // Every piece of every answer goes to the log.
    WriteLog(QString::fromUtf8(piece));
    s.WebResponse.append(piece);
}

// The service closed the connection: its answer is complete.
void OnWebClose(QTcpSocket& socket) {
    if (socket.bytesAvailable() > 0)
        OnWebData(socket);
    EndExchange();
    CloseQuietly(socket);
}

void OnWebError(QTcpSocket& socket, QAbstractSocket::SocketError error) {
    // The service's close arrives as this error first; the close handler follows and ends
    // the exchange with the answer received.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    WriteLog(StampedLine(QStringLiteral(" WebSocket Error:") + socket.errorString()));
    App().WebResponse = IoErrorAnswer();
    EndExchange();
    CloseQuietly(socket);
}

bool IsHexDigit(char c, unsigned* value) {
    if (c >= '0' && c <= '9')
        *value = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
        *value = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        *value = static_cast<unsigned>(c - 'A' + 10);
    else
        return false;
    return true;
}

} // namespace

void SetWebRequestTimeouts(const WebRequestTimeouts& timeouts) {
    Timeouts() = timeouts;
}

WebRequestTimeouts CurrentWebRequestTimeouts() {
    return Timeouts();
}

QByteArray GetWebRequest(const QString& host, std::uint16_t port, const QString& uri) {
    const WebRequestTimeouts limits = Timeouts();

    // Busy wait: an earlier exchange is still under way.
    if (App().WebRequestDone == kFalse) {
        switch (WaitUntil([] { return App().WebRequestDone == kTrue; }, limits.busyMs)) {
        case WaitResult::Done:
            break;
        case WaitResult::Aborted:
            App().WebRequestDone = kTrue;
            return QByteArray();
        case WaitResult::TimedOut:
            return QByteArray();
        }
    }

    App().WebResponse.clear();
    App().WebConnected = kFalse;
    App().WebRequestDone = kFalse;

    QTcpSocket& socket = WebSocket();
    CloseQuietly(socket);
    socket.connectToHost(host, port);

    // Connect wait. A refused connection ends it at once (the error handler has ended the
    // exchange); a time-out or the station's close ends it here, and ends the exchange too, so
    // that the next request does not wait for an exchange that is over.
    const WaitResult connected = WaitUntil(
        [&socket] {
            return App().WebConnected == kTrue || App().WebRequestDone == kTrue ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        limits.connectMs);
    if (connected != WaitResult::Done || App().WebConnected != kTrue) {
        CloseQuietly(socket);
        WriteLog(QStringLiteral("Connection failed: Time out"));
        EndExchange();
        return IoErrorAnswer();
    }

    const QByteArray request = QByteArrayLiteral("GET ") + uri.toUtf8() +
                               QByteArrayLiteral(" HTTP/1.1\r\n"
                                                 "Accept: text/plain, text/html, */*\r\n"
                                                 "Host: ") +
                               host.toUtf8() +
                               QByteArrayLiteral("\r\n"
                                                 "Connection: Close\r\n"
                                                 "Cache-Control: no-cache\r\n\r\n");
    socket.write(request);

    // Answer wait: the service closes the connection after its answer.
    switch (WaitUntil([] { return App().WebRequestDone == kTrue; }, limits.answerMs)) {
    case WaitResult::Done:
        break;
    case WaitResult::Aborted:
        CloseQuietly(socket);
        EndExchange();
        break;
    case WaitResult::TimedOut:
        CloseQuietly(socket);
        WriteLog(QStringLiteral("Connection failed: No answer"));
        App().WebResponse = IoErrorAnswer();
        EndExchange();
        break;
    }
    return App().WebResponse;
}

bool IsFailedAnswer(const QByteArray& answer) {
    return answer.isEmpty() || answer == IoErrorAnswer();
}

ServiceAnswer SplitServiceAnswer(const QByteArray& answer) {
    ServiceAnswer result;
    const qsizetype blank = answer.indexOf("\r\n\r\n");
    if (blank < 0)
        return result;
    result.headers = answer.left(blank + 2);
    App().LastResponseHeaders = result.headers;
    result.body = answer.mid(blank + 4);
    if (GetHeaderValue(result.headers, QByteArrayLiteral("Transfer-Encoding")) == "chunked") {
        std::optional<QByteArray> decoded = DecodeChunked(result.body);
        if (!decoded)
            return result;
        result.body = std::move(*decoded);
    }
    result.ok = true;
    return result;
}

QByteArray GetHeaderValue(const QByteArray& headers, const QByteArray& name) {
    const QByteArray key = QByteArrayLiteral("\r\n") + name + QByteArrayLiteral(": ");
    const qsizetype at = headers.indexOf(key);
    if (at < 0)
        return QByteArray();
    const qsizetype start = at + key.size();
    qsizetype end = headers.indexOf("\r\n", start);
    if (end < 0)
        end = headers.size();
    return headers.mid(start, end - start);
}

std::optional<QByteArray> DecodeChunked(const QByteArray& body) {
    QByteArray out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype eol = body.indexOf("\r\n", pos);
        const qsizetype lineEnd = eol < 0 ? body.size() : eol;
        qsizetype i = pos;
        while (i < lineEnd && (body[i] == ' ' || body[i] == '\t'))
            ++i;
        // The size: hexadecimal digits up to the first other character (a chunk extension
        // after ";" is ignored).
        std::uint64_t size = 0;
        int digits = 0;
        unsigned digit = 0;
        for (; i < lineEnd && IsHexDigit(body[i], &digit); ++i, ++digits) {
            if (size > (std::numeric_limits<std::uint64_t>::max() >> 4))
                return std::nullopt;
            size = (size << 4) | digit;
        }
        if (digits == 0)
            return std::nullopt;
        if (size == 0)
            return out; // the last chunk; trailer lines are ignored
        if (eol < 0)
            return std::nullopt;
        const qsizetype dataStart = eol + 2;
        if (size > static_cast<std::uint64_t>(body.size() - dataStart))
            return std::nullopt;
        const auto length = static_cast<qsizetype>(size);
        out.append(body.constData() + dataStart, length);
        pos = dataStart + length;
        if (body.size() - pos < 2 || body[pos] != '\r' || body[pos + 1] != '\n')
            return std::nullopt;
        pos += 2;
    }
}

QString UrlEncode(const QString& text) {
    static const char kHex[] = "0123456789ABCDEF";
    const QByteArray bytes = text.toUtf8();
    QString out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')) {
            out += QLatin1Char(c);
        } else {
            out += QLatin1Char('%');
            out += QLatin1Char(kHex[u >> 4]);
            out += QLatin1Char(kHex[u & 0x0F]);
        }
    }
    return out;
}

QString RandomAlphaNumeric(int length) {
    static const char kAlphabet[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    constexpr int kAlphabetSize = sizeof(kAlphabet) - 1;
    // Qt's global generator is seeded once per process from the system's entropy source.
    QRandomGenerator* generator = QRandomGenerator::global();
    QString out;
    out.reserve(length > 0 ? length : 0);
    for (int i = 0; i < length; ++i)
        out += QLatin1Char(kAlphabet[generator->bounded(kAlphabetSize)]);
    return out;
}

void CloseWebSocket() {
    CloseQuietly(WebSocket());
}

} // namespace kestrova

#include "service/WebRequest.h"

#include "core/AppState.h"
#include "core/EventLog.h"
#include "core/Wait.h"
#include "service/KeyRefusal.h"
#include "service/ServiceSocket.h"

#include <memory>
#include <utility>

namespace kestrova {

// One GET exchange: what its socket brought, kept apart from every other exchange's. A
// request started from an event handler while another waits for its answer runs its own
// exchange once the first has ended; each call returns the answer of its own exchange.
struct WebClient::Exchange {
    QByteArray response;
    bool connected = false;
    bool done = false;
};

WebClient::WebClient()
    : webSocket_(std::make_unique<ServiceSocket>(ServiceSocket::Handlers{
          [this] { OnWebConnected(); }, [this](const QByteArray& piece) { OnWebData(piece); },
          [this] { OnWebClose(); },
          [this](const QString& description) { OnWebError(description); }})) {}

WebClient::~WebClient() = default;

// Ends the exchange under way: its answer is what it holds now.
void WebClient::EndExchange() {
    if (const std::shared_ptr<Exchange> exchange = std::exchange(current_, nullptr)) {
        exchange->done = true;
        exchange->connected = false;
    }
    App().WebRequestDone = kTrue;
    App().WebConnected = kFalse;
}

// Ends the exchange under way as a failure.
void WebClient::FailExchange() {
    if (current_)
        current_->response = IoErrorAnswer();
    App().WebResponse = IoErrorAnswer();
    EndExchange();
}

void WebClient::OnWebConnected() {
    App().WebConnected = kTrue;
    if (current_)
        current_->connected = true;
}

void WebClient::OnWebData(const QByteArray& piece) {
    const std::shared_ptr<Exchange> exchange = current_;
    if (!exchange)
        return;
    if (exchange->response.size() + piece.size() > kMaxAnswerBytes) {
        WriteLog(StampedLine(QStringLiteral(" WebSocket Error:The answer is longer than %1 bytes")
                                 .arg(kMaxAnswerBytes)));
        webSocket_->closeQuietly();
        FailExchange();
        return;
    }
    // Every piece of every answer goes to the log.
    WriteLog(QString::fromUtf8(piece));
    exchange->response.append(piece);
    App().WebResponse.append(piece);
}

// The service closed the connection: its answer is complete.
void WebClient::OnWebClose() {
    EndExchange();
}

void WebClient::OnWebError(const QString& description) {
    WriteLog(StampedLine(QStringLiteral(" WebSocket Error:") + description));
    FailExchange();
}

QByteArray WebClient::GetWebRequest(const QString& host, std::uint16_t port, const QString& uri,
                                    Credentials credentials) {
    const WebRequestTimeouts limits = timeouts_;

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

    const auto exchange = std::make_shared<Exchange>();
    current_ = exchange;
    App().WebResponse.clear();
    App().WebConnected = kFalse;
    App().WebRequestDone = kFalse;

    ServiceSocket& socket = *webSocket_;
    socket.connectTo(host, port);

    // Connect wait. A refused connection ends it at once (the error handler has ended the
    // exchange); a time-out or the station's close ends it here, and ends the exchange too, so
    // that the next request does not wait for an exchange that is over.
    const WaitResult connected = WaitUntil(
        [&] {
            return exchange->connected || exchange->done ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        limits.connectMs);
    if (connected != WaitResult::Done || !exchange->connected) {
        if (current_ == exchange)
            socket.closeQuietly();
        WriteLog(socket.connectFailedLine(connected));
        if (current_ == exchange)
            EndExchange();
        return IoErrorAnswer();
    }

    QByteArray request = QByteArrayLiteral("GET ") + uri.toUtf8() +
                         QByteArrayLiteral(" HTTP/1.1\r\n"
                                           "Accept: text/plain, text/html, */*\r\n"
                                           "Host: ") +
                         host.toUtf8() +
                         QByteArrayLiteral("\r\n"
                                           "Connection: Close\r\n"
                                           "Cache-Control: no-cache\r\n");
    if (credentials == Credentials::StationKey)
        request += StationKeyHeaderLine();
    request += QByteArrayLiteral("\r\n");
    socket.write(request);

    // Answer wait: the service closes the connection after its answer. An exchange that is cut
    // short fails as a whole: what had arrived of its answer is no answer.
    switch (WaitUntil([&] { return exchange->done; }, limits.answerMs)) {
    case WaitResult::Done:
        break;
    case WaitResult::Aborted:
        if (current_ == exchange) {
            socket.closeQuietly();
            FailExchange();
        }
        return IoErrorAnswer();
    case WaitResult::TimedOut:
        if (current_ == exchange) {
            socket.closeQuietly();
            WriteLog(QStringLiteral("Connection failed: No answer"));
            FailExchange();
        }
        return IoErrorAnswer();
    }
    return exchange->response;
}

void WebClient::CloseWebSocket() {
    webSocket_->closeQuietly();
}

bool IsFailedAnswer(const QByteArray& answer) {
    return answer.isEmpty() || answer == IoErrorAnswer();
}

ServiceAnswer SplitServiceAnswer(const QByteArray& answer) {
    ServiceAnswer result = SplitAnswer(answer);
    if (!result.headers.isEmpty())
        App().LastResponseHeaders = result.headers;
    return result;
}

} // namespace kestrova

// The station's own HTTP/1.1 exchanges with the service: the one GET exchange on WebSocket.
//
// Requests and answers are bytes: every byte of the wire is one character of the texts here.
#pragma once

#include "service/HttpText.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

namespace kestrova {

class ServiceSocket;

// The bounds of one GET exchange. The service closes the connection after its answer; an
// answer that neither ends nor closes within answerMs ends the exchange as a failure.
struct WebRequestTimeouts {
    int busyMs = 10000;    // waiting for an earlier exchange to end
    int connectMs = 10000; // waiting for the connection
    int answerMs = 30000;  // waiting for the answer and the service's close
};

// The most bytes an answer may have; a service that sends more is cut off and the exchange
// fails.
constexpr int kMaxAnswerBytes = 1024 * 1024;

// Whether a GET exchange carries the station key: the relay's requests do, the directory
// look-up (which goes to the directory host) does not.
enum class Credentials { None, StationKey };

// The failure result of an exchange whose socket failed.
inline QByteArray IoErrorAnswer() {
    return QByteArrayLiteral("IO Error");
}

// The GET exchanges of the station on its one socket, WebSocket.
class WebClient {
  public:
    WebClient();
    ~WebClient();
    WebClient(const WebClient&) = delete;
    WebClient& operator=(const WebClient&) = delete;

    // One GET exchange on WebSocket: sends
    //   GET <uri> HTTP/1.1, Accept, Host: <host> (no port), Connection: Close, Cache-Control
    // and, with Credentials::StationKey, "Authorization: Bearer KEY" as the last header line,
    // and returns the whole raw answer (status line, headers, blank line, body) once the
    // service has closed the connection. Failures: "" when an earlier exchange did not end
    // within the busy wait (or the station is closing), "IO Error" when no connection was
    // made, the socket failed, the answer was too long or did not come in time, or the station
    // began closing before the answer had ended. `uri` and `host` are sent unchanged. A request
    // made from an event handler while another waits for its answer waits for that exchange to
    // end, then runs its own; each call returns its own exchange's answer.
    QByteArray GetWebRequest(const QString& host, std::uint16_t port, const QString& uri,
                             Credentials credentials = Credentials::None);

    // Closes WebSocket without running its close handler.
    void CloseWebSocket();

    void setTimeouts(const WebRequestTimeouts& timeouts) { timeouts_ = timeouts; }
    const WebRequestTimeouts& timeouts() const { return timeouts_; }

  private:
    struct Exchange;

    void OnWebConnected();
    void OnWebData(const QByteArray& piece);
    void OnWebClose();
    void OnWebError(const QString& description);
    void EndExchange();
    void FailExchange();

    std::unique_ptr<ServiceSocket> webSocket_;
    // The exchange under way on WebSocket; null between exchanges.
    std::shared_ptr<Exchange> current_;
    WebRequestTimeouts timeouts_;
};

// True for the two failure results of GetWebRequest.
bool IsFailedAnswer(const QByteArray& answer);

// Splits an answer (SplitAnswer); the header block is also kept in LastResponseHeaders.
ServiceAnswer SplitServiceAnswer(const QByteArray& answer);

} // namespace kestrova

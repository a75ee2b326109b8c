// A relay (and directory) that runs in the test's own event loop on 127.0.0.1: it reads each
// request whole (up to its blank line, and Content-Length bytes after it), asks the test's
// handler what to do, and records what it saw.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <vector>

namespace kestrova::test {

struct FakeReply {
    enum class Mode { Answer, Silent };
    Mode mode = Mode::Answer;
    QList<QByteArray> segments; // written one after another, a short pause between them
    bool closeAfter = true;     // close the connection after the last segment

    // The whole text in one piece, then the close.
    static FakeReply Text(const QByteArray& text) { return FakeReply{Mode::Answer, {text}, true}; }
    // The text in pieces that reach the station one by one, then the close.
    static FakeReply Pieces(const QList<QByteArray>& pieces) {
        return FakeReply{Mode::Answer, pieces, true};
    }
    // Reads the request and says nothing, and keeps the connection open.
    static FakeReply Silent() { return FakeReply{Mode::Silent, {}, false}; }
};

// What the relay saw of one connection.
struct FakeConnection {
    QByteArray received;     // every byte the station sent
    bool complete = false;   // a whole request arrived
    qint64 firstByteMs = -1; // since the relay was made
    qint64 closedByRelayMs = -1;
    bool closedByStation = false;
};

// Builds a plain HTTP answer with the body given.
QByteArray HttpAnswer(const QByteArray& body, const QByteArray& status = "200 OK");

// The same answer in chunked transfer coding, with the chunk sizes given (the rest of the body
// forms a last data chunk). The size lines carry a chunk extension when `extension` is set.
QByteArray ChunkedHttpAnswer(const QByteArray& body, const QList<int>& chunkSizes,
                             const QByteArray& extension = QByteArray());

// The request path of a GET or POST request ("/getReflector.php").
QByteArray RequestPath(const QByteArray& request);

class FakeRelay : public QObject {
    Q_OBJECT
  public:
    using Handler = std::function<FakeReply(const QByteArray& request)>;

    explicit FakeRelay(Handler handler = {});
    ~FakeRelay() override;

    // Listens on 127.0.0.1 at `port` (0: a free port up to 32767, as relays' ports are).
    bool listen(quint16 port = 0);
    // Stops listening and drops every connection.
    void stop();
    quint16 port() const { return port_; }

    void setHandler(Handler handler) { handler_ = std::move(handler); }
    // Closes every connection at once when it is accepted, before reading anything.
    void setCloseAtOnce(bool on) { closeAtOnce_ = on; }
    // Answers the connections that were left silent.
    void answerSilent(const FakeReply& reply);

    const std::vector<FakeConnection>& connections() const { return connections_; }
    // The complete requests, in arrival order.
    QList<QByteArray> requests() const;
    int completeRequests() const;
    qint64 nowMs() const { return clock_.elapsed(); }

    // Runs for each connection when its first byte arrives (index of the connection).
    std::function<void(int)> onFirstByte;
    // Runs when the relay has closed a connection after answering.
    std::function<void(int)> onClosedByRelay;

  private:
    void accept();
    void read(int index, QTcpSocket* socket);
    void reply(int index, QTcpSocket* socket, const FakeReply& r);
    void writeSegments(int index, QPointer<QTcpSocket> socket, QList<QByteArray> segments,
                       bool closeAfter);

    Handler handler_;
    QTcpServer server_;
    quint16 port_ = 0;
    bool closeAtOnce_ = false;
    QElapsedTimer clock_;
    std::vector<FakeConnection> connections_;
    std::vector<QPointer<QTcpSocket>> sockets_;
    std::vector<int> silent_;
};

// A listener whose queue of pending connections is full: a connection to it is never
// accepted nor refused, so connecting to it waits until the connecting side gives up.
class HangingListener {
  public:
    HangingListener();
    ~HangingListener();
    bool ok() const { return ok_; }
    quint16 port() const { return port_; }

  private:
    int listenFd_ = -1;
    int fillerFd_ = -1;
    quint16 port_ = 0;
    bool ok_ = false;
};

} // namespace kestrova::test

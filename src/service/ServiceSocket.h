// A TCP socket of the service client with what every exchange on one shares: handlers for the
// peer's data, the peer's close and socket errors, none of which run for a close of our own;
// the peer's close is never an error, and what is left in the buffer is read before the close
// is handled. Every connect and every close counts as a new attempt, so that a wait can tell
// that the socket was closed or reconnected under it while events ran.
#pragma once

#include "core/Wait.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

class QTcpSocket;

namespace kestrova {

class ServiceSocket {
  public:
    struct Handlers {
        std::function<void()> connected;                   // the connection is made
        std::function<void(const QByteArray& piece)> data; // each piece as it arrives
        std::function<void()> closed; // the peer closed, after its last piece; socket closed
        std::function<void(const QString& description)> failed; // any other error; closed
    };

    explicit ServiceSocket(Handlers handlers);
    ~ServiceSocket();
    ServiceSocket(const ServiceSocket&) = delete;
    ServiceSocket& operator=(const ServiceSocket&) = delete;

    // Closes the socket quietly, then connects it to host:port.
    void connectTo(const QString& host, std::uint16_t port);
    // Closes the socket without running any handler.
    void closeQuietly();
    void write(const QByteArray& bytes);
    QAbstractSocket::SocketState state() const;
    // Changes with every connect and every close, ours or the peer's.
    std::uint64_t attempt() const { return attempt_; }

    // The log line of a connection that was not made, after a connect wait that ended with
    // `waited`: "Connection failed: Time out" when the wait ran out (or the station's close cut
    // it short), else what happened to the connection ("Connection failed: Connection
    // refused", "... Connection closed", or the socket's own description).
    QString connectFailedLine(WaitResult waited) const;
    // The log line of a connection that the peer closed before it had answered.
    static QString closedBeforeAnswerLine();

  private:
    void onReadyRead();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);

    Handlers handlers_;
    QTcpSocket* socket_;
    std::uint64_t attempt_ = 0;
    // What ended the connection of the latest connectTo.
    QAbstractSocket::SocketError lastError_ = QAbstractSocket::UnknownSocketError;
    QString lastErrorText_;
};

} // namespace kestrova

#include "FakeRelay.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrova::test {

namespace {

// The expected size of a request: its header block and Content-Length bytes after it; -1
// while the header block is incomplete.
qsizetype ExpectedSize(const QByteArray& received) {
    const qsizetype blank = received.indexOf("\r\n\r\n");
    if (blank < 0)
        return -1;
    const QByteArray headers = received.left(blank + 2);
    qsizetype length = 0;
    const QByteArray key = "\r\nContent-Length: ";
    const qsizetype at = headers.indexOf(key);
    if (at >= 0) {
        const qsizetype end = headers.indexOf("\r\n", at + key.size());
        length = headers.mid(at + key.size(), end - at - key.size()).toLongLong();
    }
    return blank + 4 + length;
}

} // namespace

QByteArray HttpAnswer(const QByteArray& body, const QByteArray& status) {
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray ChunkedHttpAnswer(const QByteArray& body, const QList<int>& chunkSizes,
                             const QByteArray& extension) {
    QByteArray out = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n"
                     "Connection: close\r\n\r\n";
    qsizetype pos = 0;
    const auto chunk = [&](qsizetype size) {
        out += QByteArray::number(static_cast<qlonglong>(size), 16) + extension + "\r\n" +
               body.mid(pos, size) + "\r\n";
        pos += size;
    };
    for (const int size : chunkSizes)
        chunk(size);
    if (pos < body.size())
        chunk(body.size() - pos);
    out += "0\r\n\r\n";
    return out;
}

QByteArray RequestPath(const QByteArray& request) {
    const qsizetype start = request.indexOf(' ') + 1;
    const qsizetype end = request.indexOf(' ', start);
    return request.mid(start, end - start);
}

FakeRelay::FakeRelay(Handler handler) : handler_(std::move(handler)) {
    clock_.start();
    connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
}

FakeRelay::~FakeRelay() {
    stop();
}

bool FakeRelay::listen(quint16 port) {
    if (port != 0) {
        if (!server_.listen(QHostAddress::LocalHost, port))
            return false;
    } else {
        // The station keeps the relay's port in 16 signed bits: a free port up to 32767.
        bool listening = false;
        for (int attempt = 0; attempt < 500 && !listening; ++attempt) {
            const auto candidate =
                static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 32768));
            listening = server_.listen(QHostAddress::LocalHost, candidate);
        }
        if (!listening)
            return false;
    }
    port_ = server_.serverPort();
    return true;
}

void FakeRelay::stop() {
    server_.close();
    for (const auto& socket : sockets_) {
        if (socket) {
            socket->abort();
            socket->deleteLater();
        }
    }
    sockets_.clear();
    silent_.clear();
}

QList<QByteArray> FakeRelay::requests() const {
    QList<QByteArray> out;
    for (const FakeConnection& c : connections_) {
        if (c.complete)
            out << c.received;
    }
    return out;
}

int FakeRelay::completeRequests() const {
    return static_cast<int>(requests().size());
}

void FakeRelay::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const int index = static_cast<int>(connections_.size());
        connections_.emplace_back();
        sockets_.emplace_back(socket);
        if (closeAtOnce_) {
            connections_[index].closedByRelayMs = clock_.elapsed();
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QTcpSocket::readyRead, this,
                [this, index, socket] { read(index, socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, index, socket] {
            if (connections_[index].closedByRelayMs < 0)
                connections_[index].closedByStation = true;
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            read(index, socket);
    }
}

void FakeRelay::read(int index, QTcpSocket* socket) {
    FakeConnection& c = connections_[index];
    const QByteArray piece = socket->readAll();
    if (piece.isEmpty())
        return;
    if (c.firstByteMs < 0) {
        c.firstByteMs = clock_.elapsed();
        if (onFirstByte)
            onFirstByte(index);
    }
    c.received += piece;
    if (c.complete)
        return;
    const qsizetype expected = ExpectedSize(c.received);
    if (expected < 0 || c.received.size() < expected)
        return;
    c.complete = true;
    const FakeReply r = handler_ ? handler_(c.received) : FakeReply::Text(HttpAnswer("OK"));
    reply(index, socket, r);
}

void FakeRelay::reply(int index, QTcpSocket* socket, const FakeReply& r) {
    if (r.mode == FakeReply::Mode::Silent) {
        silent_.push_back(index);
        return;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    writeSegments(index, QPointer<QTcpSocket>(socket), r.segments, r.closeAfter);
}

void FakeRelay::writeSegments(int index, QPointer<QTcpSocket> socket, QList<QByteArray> segments,
                              bool closeAfter) {
    if (!socket)
        return;
    if (!segments.isEmpty()) {
        socket->write(segments.takeFirst());
        socket->flush();
    }
    if (!segments.isEmpty()) {
        // A pause, so that the next piece leaves in a segment of its own.
        QTimer::singleShot(30, this, [this, index, socket, segments, closeAfter] {
            writeSegments(index, socket, segments, closeAfter);
        });
        return;
    }
    if (closeAfter && socket->state() == QAbstractSocket::ConnectedState) {
        connections_[index].closedByRelayMs = clock_.elapsed();
        if (onClosedByRelay)
            onClosedByRelay(index);
        socket->disconnectFromHost();
    }
}

void FakeRelay::answerSilent(const FakeReply& r) {
    const std::vector<int> waiting = std::move(silent_);
    silent_.clear();
    for (const int index : waiting) {
        if (sockets_[index])
            reply(index, sockets_[index], r);
    }
}

HangingListener::HangingListener() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A port up to 32767, as relays' ports are.
    bool bound = false;
    for (int attempt = 0; attempt < 500 && !bound; ++attempt) {
        port_ = static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 32768));
        address.sin_port = htons(port_);
        bound = ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    // A queue of no pending connections beyond the one that fills it.
    if (!bound || ::listen(listenFd_, 0) != 0)
        return;
    fillerFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fillerFd_ < 0 ||
        ::connect(fillerFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return;
    ok_ = true;
}

HangingListener::~HangingListener() {
    if (fillerFd_ >= 0)
        ::close(fillerFd_);
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

} // namespace kestrova::test

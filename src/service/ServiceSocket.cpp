#include "service/ServiceSocket.h"

#include <QSignalBlocker>
#include <QTcpSocket>

namespace kestrova {

ServiceSocket::ServiceSocket(Handlers handlers)
    : handlers_(std::move(handlers)), socket_(new QTcpSocket) {
    // Read in pieces; what an answer may hold in all is up to the handlers.
    socket_->setReadBufferSize(64 * 1024);
    QObject::connect(socket_, &QTcpSocket::connected, socket_, [this] {
        if (handlers_.connected)
            handlers_.connected();
    });
    QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { onReadyRead(); });
    QObject::connect(socket_, &QTcpSocket::disconnected, socket_, [this] { onDisconnected(); });
    QObject::connect(socket_, &QTcpSocket::errorOccurred, socket_,
                     [this](QAbstractSocket::SocketError e) { onError(e); });
}

ServiceSocket::~ServiceSocket() {
    closeQuietly();
    delete socket_;
}

void ServiceSocket::connectTo(const QString& host, std::uint16_t port) {
    closeQuietly();
    ++attempt_;
    lastError_ = QAbstractSocket::UnknownSocketError;
    lastErrorText_.clear();
    socket_->connectToHost(host, port);
}

// Closing the socket ourselves is not the peer's close: the handlers do not run for it.
void ServiceSocket::closeQuietly() {
    ++attempt_;
    const QSignalBlocker block(socket_);
    socket_->abort();
}

void ServiceSocket::write(const QByteArray& bytes) {
    socket_->write(bytes);
}

QAbstractSocket::SocketState ServiceSocket::state() const {
    return socket_->state();
}

void ServiceSocket::onReadyRead() {
    const QByteArray piece = socket_->readAll();
    if (!piece.isEmpty() && handlers_.data)
        handlers_.data(piece);
}

void ServiceSocket::onDisconnected() {
    const std::uint64_t before = attempt_;
    if (socket_->bytesAvailable() > 0)
        onReadyRead();
    // The data handler closed the socket itself: that close ended the exchange.
    if (attempt_ != before)
        return;
    closeQuietly();
    if (handlers_.closed)
        handlers_.closed();
}

void ServiceSocket::onError(QAbstractSocket::SocketError error) {
    // The peer's close arrives as this error first; the close handler follows.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    const QString description = socket_->errorString();
    lastError_ = error;
    lastErrorText_ = description;
    closeQuietly();
    if (handlers_.failed)
        handlers_.failed(description);
}

QString ServiceSocket::connectFailedLine(WaitResult waited) const {
    const QString prefix = QStringLiteral("Connection failed: ");
    if (waited != WaitResult::Done)
        return prefix + QStringLiteral("Time out");
    if (lastError_ == QAbstractSocket::ConnectionRefusedError)
        return prefix + QStringLiteral("Connection refused");
    if (lastError_ == QAbstractSocket::SocketTimeoutError)
        return prefix + QStringLiteral("Time out");
    if (!lastErrorText_.isEmpty())
        return prefix + lastErrorText_;
    return prefix + QStringLiteral("Connection closed");
}

QString ServiceSocket::closedBeforeAnswerLine() {
    return QStringLiteral("Connection failed: Connection closed before the answer");
}

} // namespace kestrova

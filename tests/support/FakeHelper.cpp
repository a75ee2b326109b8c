#include "support/FakeHelper.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace kestrova::test {

namespace {

bool CarriesParameters(const QByteArray& word) {
    return word == "begin_posting" || word == "edit_posting" || word == "start_polling" ||
           word == "start_reflector";
}

// Writes the pieces a few milliseconds apart, so that each arrives on its own, then closes.
void Answer(QPointer<QTcpSocket> socket, QList<QByteArray> pieces, bool close) {
    if (!socket)
        return;
    if (pieces.isEmpty()) {
        if (close)
            socket->disconnectFromHost();
        return;
    }
    socket->write(pieces.takeFirst());
    socket->flush();
    QTimer::singleShot(20, socket, [socket, pieces, close] { Answer(socket, pieces, close); });
}

} // namespace

FakeHelper::FakeHelper(Handler handler) : handler_(std::move(handler)) {
    server_.listen(QHostAddress::LocalHost);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            auto received = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, received] {
                received->append(socket->readAll());
                const QList<QByteArray> lines = received->split('\n');
                if (lines.size() < 2)
                    return; // the request line is not whole yet
                const QByteArray word = lines[0].trimmed();
                if (CarriesParameters(word) && lines.size() < 3)
                    return;
                QByteArray request = word;
                if (CarriesParameters(word))
                    request += '\n' + lines[1].trimmed();
                received->clear();
                requests_ << request;
                const QList<QByteArray> pieces = handler_(request);
                if (!pieces.isEmpty())
                    Answer(socket, pieces, closeAfterAnswer);
            });
        }
    });
}

QList<QByteArray> FakeHelper::requestWords() const {
    QList<QByteArray> words;
    for (const QByteArray& r : requests_)
        words << r.split('\n').first();
    return words;
}

} // namespace kestrova::test

// The command listener: local programs (the posting helper among them) connect on 127.0.0.1,
// send one packet, get "OK" CR LF and are disconnected. Three connection sockets take the
// connections in turn (2, 1, 0, 2, ...); while all three are busy, a new connection takes over
// the oldest one.
//
// Only the station's own machine can connect, but a web page in the user's browser could still
// make the browser send a request here. Programs that move the camera send bare command words
// (or a bare "GET /Preset_..." request line); a block with a browser's header lines moves
// nothing, whatever else it carries.
#include "ptz/Ptz.h"

#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Dialogs.h"
#include "core/EventLog.h"
#include "ptz/PtzValues.h"
#include "settings/Deployment.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include <limits>

namespace kestrova {

namespace {

const QByteArray kAnswer = QByteArrayLiteral("OK\r\n");

void LogSocketError(const QString& description) {
    WriteLog(StampedLine(QStringLiteral(" Pan Tilt Unit Socket Error:") + description));
}

// True for a block with a header line that every browser sends (Host, User-Agent, Accept) or
// that its page requests carry (Origin, Referer, Cookie, Sec-Fetch-*), the name in any case.
// Browsers too old to say where a request comes from still send the first three. No command word
// is one of these names followed by ":".
bool IsBrowserRequest(const QByteArray& block) {
    const QList<QByteArray> lines = block.split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (name == "host" || name == "user-agent" || name == "accept" || name == "origin" ||
            name == "referer" || name == "cookie" || name.startsWith("sec-fetch-"))
            return true;
    }
    return false;
}

} // namespace

void PtzControl::OpenPtzListener() {
    AppState& s = App();
    if (IsSet(s.PtzListening))
        return;
    std::int16_t& port = s.Settings.PtzPort;
    if (port == 0)
        port = static_cast<std::int16_t>(ports_.preferred);
    WriteLog(QStringLiteral("Launching Software: Check PTZ port"));
    if (!CheckPort(port)) {
        WriteLog(QStringLiteral("Launching Software: Scan for PT port"));
        port = static_cast<std::int16_t>(ScanPorts(static_cast<std::int16_t>(ports_.scanFirst),
                                                   static_cast<std::int16_t>(ports_.scanLast)));
    }

    WriteLog(QStringLiteral("Launching Software: Listening to PTU Port"));
    delete listenerSocket_.data();
    auto* listener = new QTcpServer(this);
    listenerSocket_ = listener;
    connect(listener, &QTcpServer::newConnection, this, [this] { OnConnectionRequest(); });
    connect(listener, &QTcpServer::acceptError, this, [listener](QAbstractSocket::SocketError) {
        WriteLog(StampedLine(QStringLiteral(" Pan & Tilt Unit Network Listener Error: ") +
                             listener->errorString()));
    });
    if (!listener->listen(QHostAddress::LocalHost, static_cast<quint16>(port)))
        throw AppError(listener->errorString(), static_cast<int>(listener->serverError()),
                       QStringLiteral("webcam"));
    // Port 0 let the system choose: the posting helper must be told the real one.
    if (port == 0 && listener->serverPort() <= std::numeric_limits<std::int16_t>::max())
        port = static_cast<std::int16_t>(listener->serverPort());

    s.NextServerSocket = kServerSocketCount;
    s.ServerSocketCount = kServerSocketCount;
    WriteLog(QStringLiteral("Launching Software: Loading PT Server Sockets"));
    for (Connection& element : serverSocket_)
        element = Connection{};
    s.PtzListening = kTrue;
}

void PtzControl::ClosePtzListener() {
    // Elements 1 and 2, then 0, then the listener.
    for (int i = 1; i < kServerSocketCount; ++i)
        CloseServerSocket(i);
    CloseServerSocket(0);
    if (listenerSocket_)
        listenerSocket_->close();
}

bool PtzControl::CheckPort(int port) {
    if (port <= 0 || port > std::numeric_limits<quint16>::max())
        return false;
    QTcpServer probe;
    const bool listening = probe.listen(QHostAddress::LocalHost, static_cast<quint16>(port));
    probe.close();
    return listening;
}

int PtzControl::ScanPorts(std::int16_t startport, std::int16_t endport) {
    for (int port = startport; port <= endport; ++port) {
        QCoreApplication::processEvents();
        if (CheckPort(port))
            return port;
    }
    dialogs::MessageBox(
        QStringLiteral("There was a problem. There is no available port. please contact ") +
            ReadDeployment().SupportEmail,
        dialogs::Icon::None);
    return 0;
}

std::uint16_t PtzControl::listenerPort() const {
    return listenerSocket_ && listenerSocket_->isListening() ? listenerSocket_->serverPort() : 0;
}

QHostAddress PtzControl::listenerAddress() const {
    return listenerSocket_ && listenerSocket_->isListening() ? listenerSocket_->serverAddress()
                                                             : QHostAddress();
}

std::uint16_t PtzControl::serverSocketPeerPort(int index) const {
    if (index < 0 || index >= kServerSocketCount)
        return 0;
    const QTcpSocket* socket = serverSocket_[static_cast<std::size_t>(index)].socket;
    return socket ? socket->peerPort() : 0;
}

bool PtzControl::Holds(int index, const QTcpSocket* socket) const {
    return socket && serverSocket_[static_cast<std::size_t>(index)].socket == socket;
}

// The socket for a new connection: the next free one in turn (2, 1, 0, 2, ...). When all three
// hold a connection, the one that has held its connection longest is closed and taken over. A
// connection whose packet is still on its way is never dropped while another socket is free.
int PtzControl::TakeServerSocket() {
    int next = App().NextServerSocket;
    if (next < 0 || next > kServerSocketCount)
        next = kServerSocketCount;
    for (int k = 1; k <= kServerSocketCount; ++k) {
        const int candidate = (next - k + 2 * kServerSocketCount) % kServerSocketCount;
        if (!serverSocket_[static_cast<std::size_t>(candidate)].socket)
            return candidate;
    }
    int oldest = 0;
    for (int i = 1; i < kServerSocketCount; ++i) {
        if (serverSocket_[static_cast<std::size_t>(i)].accepted <
            serverSocket_[static_cast<std::size_t>(oldest)].accepted)
            oldest = i;
    }
    CloseServerSocket(oldest);
    return oldest;
}

void PtzControl::OnConnectionRequest() {
    AppState& s = App();
    while (QTcpSocket* incoming = listenerSocket_->nextPendingConnection()) {
        const int index = TakeServerSocket();
        s.NextServerSocket = static_cast<std::int16_t>(index);
        Connection& element = serverSocket_[static_cast<std::size_t>(index)];
        element.socket = incoming;
        element.served = false;
        element.accepted = ++acceptCount_;
        incoming->setParent(this);
        // Nothing beyond one packet is read from the system.
        incoming->setReadBufferSize(kMaxPacketBytes + 1);
        connect(incoming, &QTcpSocket::readyRead, this,
                [this, index, incoming] { OnDataArrival(index, incoming); });
        connect(incoming, &QTcpSocket::disconnected, this, [this, index, incoming] {
            if (Holds(index, incoming))
                CloseServerSocket(index);
        });
        connect(incoming, &QTcpSocket::errorOccurred, this,
                [this, index, incoming](QAbstractSocket::SocketError error) {
                    if (!Holds(index, incoming))
                        return;
                    // A client that hangs up is no error: its close ends the connection.
                    if (error == QAbstractSocket::RemoteHostClosedError)
                        return;
                    LogSocketError(incoming->errorString());
                    CloseServerSocket(index);
                });
        // Data may have come with the connection.
        if (incoming->bytesAvailable() > 0)
            OnDataArrival(index, incoming);
    }
}

void PtzControl::OnDataArrival(int index, QTcpSocket* socket) {
    if (!Holds(index, socket))
        return;
    Connection& element = serverSocket_[static_cast<std::size_t>(index)];
    if (element.served) {
        // One packet per connection: what follows it is not read.
        socket->readAll();
        return;
    }
    if (socket->bytesAvailable() > kMaxPacketBytes) {
        LogSocketError(QStringLiteral("The packet is longer than %1 bytes").arg(kMaxPacketBytes));
        CloseServerSocket(index);
        return;
    }
    const QByteArray block = socket->readAll();
    element.served = true;
    const QPointer<QTcpSocket> guarded(socket);
    if (IsBrowserRequest(block)) {
        WriteLog(QStringLiteral("PTZ listener: a web browser's request was refused; nothing "
                                "was moved"));
        SendAnswer(index, guarded);
        return;
    }
    // The wire carries single-byte characters.
    Dispatch(QString::fromLatin1(block), [this, index, guarded] { SendAnswer(index, guarded); });
}

// "OK" whatever the packet did; the connection is closed once the answer is out.
void PtzControl::SendAnswer(int index, const QPointer<QTcpSocket>& socket) {
    if (!socket || !Holds(index, socket.data()))
        return;
    socket->write(kAnswer);
    socket->flush();
    socket->disconnectFromHost();
}

void PtzControl::CloseServerSocket(int index) {
    Connection& element = serverSocket_[static_cast<std::size_t>(index)];
    QTcpSocket* socket = element.socket;
    element = Connection{};
    if (!socket)
        return;
    socket->disconnect(this);
    socket->abort();
    // A handler of this socket may be running below us. While a packet is under way, the
    // events that a preset's waits run would carry out a deletion at once, under the handler
    // of the socket whose packet it is: the socket waits until the packet has ended.
    if (dispatching_)
        closedDuringDispatch_.emplace_back(socket);
    else
        socket->deleteLater();
}

void PtzControl::DeleteClosedSockets() {
    for (const QPointer<QTcpSocket>& socket : closedDuringDispatch_) {
        if (socket)
            socket->deleteLater();
    }
    closedDuringDispatch_.clear();
}

} // namespace kestrova

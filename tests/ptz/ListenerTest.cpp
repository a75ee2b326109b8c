// The command listener over real sockets on 127.0.0.1. Its ports are chosen per test from the
// free ones, so that tests and stations running beside it do not meet.
#include "PtzFixture.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace kestrova::test {
namespace {

// The first of `count` consecutive ports that nothing listens on, below 32768.
int FreePorts(int count) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int base = static_cast<int>(QRandomGenerator::global()->bounded(20000, 32000));
        bool free = true;
        for (int i = 0; i < count && free; ++i) {
            QTcpServer probe;
            free = probe.listen(QHostAddress::AnyIPv4, static_cast<quint16>(base + i));
        }
        if (free)
            return base;
    }
    return 0;
}

struct Answer {
    QByteArray bytes;
    bool closed = false;
};

// Sends one block and reads until the listener closes the connection.
Answer Send(quint16 port, const QByteArray& block) {
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    if (!WaitFor([&] { return client.state() == QAbstractSocket::ConnectedState; }))
        return {};
    client.write(block);
    Answer answer;
    answer.closed = WaitFor([&] {
        answer.bytes += client.readAll();
        return client.state() == QAbstractSocket::UnconnectedState;
    });
    answer.bytes += client.readAll();
    return answer;
}

class ListenerTest : public PtzTest {
  protected:
    void SetUp() override {
        base_ = FreePorts(3);
        ASSERT_NE(0, base_);
        ptz_->setPorts(PtzPorts{base_, base_ + 1, base_ + 2});
        useBackEnd(BackEnd::MotionLibrary);
    }
    quint16 open() {
        ptz_->OpenPtzListener();
        return ptz_->listenerPort();
    }
    int base_ = 0;
};

TEST_F(ListenerTest, ItListensOnThePreferredPortOfTheLoopbackAddressOnly) {
    const quint16 port = open();
    EXPECT_EQ(base_, port);
    EXPECT_EQ(base_, App().Settings.PtzPort);
    EXPECT_EQ(QHostAddress(QHostAddress::LocalHost), ptz_->listenerAddress());
    EXPECT_EQ(kTrue, App().PtzListening);
    EXPECT_EQ(3, App().NextServerSocket);
    EXPECT_EQ(3, App().ServerSocketCount);
    const QStringList lines{"Launching Software: Check PTZ port",
                            "Launching Software: Listening to PTU Port",
                            "Launching Software: Loading PT Server Sockets"};
    EXPECT_EQ(lines, log());
    // Open already: nothing happens.
    ptz_->OpenPtzListener();
    EXPECT_EQ(lines, log());

    // The machine's other addresses refuse the connection.
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        QTcpSocket outsider;
        outsider.connectToHost(address, port);
        ASSERT_TRUE(WaitFor([&] { return outsider.state() == QAbstractSocket::UnconnectedState; }));
        EXPECT_EQ(QAbstractSocket::ConnectionRefusedError, outsider.error())
            << address.toString().toStdString();
    }
}

class TakenPortTest : public ListenerTest,
                      public ::testing::WithParamInterface<QHostAddress::SpecialAddress> {};

TEST_P(TakenPortTest, ATakenPreferredPortGivesTheNextFreeOne) {
    QTcpServer other;
    ASSERT_TRUE(other.listen(GetParam(), static_cast<quint16>(base_)));
    EXPECT_EQ(base_ + 1, open());
    EXPECT_EQ(base_ + 1, App().Settings.PtzPort);
    EXPECT_TRUE(log().contains(QStringLiteral("Launching Software: Scan for PT port")));
}

INSTANTIATE_TEST_SUITE_P(Holders, TakenPortTest,
                         ::testing::Values(QHostAddress::LocalHost, QHostAddress::AnyIPv4));

TEST_F(ListenerTest, WithNoFreePortTheUserIsToldAndTheSystemChoosesOne) {
    WriteFile(programFolder_ + QStringLiteral("/deployment.conf"),
              "[service]\nSupportEmail=help@example.org\n");
    ptz_->setPorts(PtzPorts{base_, base_ + 1, base_ + 1});
    QTcpServer first;
    QTcpServer second;
    ASSERT_TRUE(first.listen(QHostAddress::LocalHost, static_cast<quint16>(base_)));
    ASSERT_TRUE(second.listen(QHostAddress::LocalHost, static_cast<quint16>(base_ + 1)));
    const quint16 port = open();

    ASSERT_EQ(1u, station_.dialogsShown().size());
    EXPECT_EQ(QStringLiteral("There was a problem. There is no available port. please contact "
                             "help@example.org"),
              station_.dialogsShown()[0].text);
    ASSERT_NE(0, port);
    // The posting helper is told the real port when it fits the setting.
    EXPECT_EQ(port <= 32767 ? port : 0, App().Settings.PtzPort);
    EXPECT_EQ("OK\r\n", Send(port, "pan_left").bytes);
}

TEST_F(ListenerTest, ConnectionsTakeSockets210AndAFourthTakesOverTheOldest) {
    const quint16 port = open();
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    const int expected[] = {2, 1, 0, 2};
    for (int n = 0; n < 4; ++n) {
        clients.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket& client = *clients.back();
        client.connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(WaitFor([&] {
            return ptz_->serverSocketPeerPort(expected[n]) == client.localPort() &&
                   client.localPort() != 0;
        })) << "connection "
            << n;
        EXPECT_EQ(expected[n], App().NextServerSocket);
    }
    // The first connection, which never sent anything, lost its socket to the fourth.
    EXPECT_TRUE(WaitFor([&] { return clients[0]->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(clients[1]->localPort(), ptz_->serverSocketPeerPort(1));
    EXPECT_EQ(clients[2]->localPort(), ptz_->serverSocketPeerPort(0));
    // The others are still served.
    clients[1]->write("pan_right");
    EXPECT_TRUE(WaitFor([&] { return clients[1]->bytesAvailable() >= 4; }));
    EXPECT_EQ("OK\r\n", clients[1]->readAll());
}

TEST_F(ListenerTest, AConnectionStillToSendKeepsItsSocketWhileAnotherIsFree) {
    const quint16 port = open();
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(WaitFor([&] { return ptz_->serverSocketPeerPort(2) == slow.localPort(); }));
    // Two quick clients come and go on sockets 1 and 0; the next one takes socket 1 again.
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ("OK\r\n", Send(port, "pan_right").bytes);
    EXPECT_EQ(slow.localPort(), ptz_->serverSocketPeerPort(2));
    slow.write("pan_left");
    ASSERT_TRUE(WaitFor([&] { return slow.bytesAvailable() >= 4; }));
    EXPECT_EQ("OK\r\n", slow.readAll());
    EXPECT_EQ(4, lvCallNames().size());
}

TEST_F(ListenerTest, ClosingTheListenerEndsItsConnections) {
    const quint16 port = open();
    QTcpSocket idle;
    idle.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(WaitFor([&] { return ptz_->serverSocketPeerPort(2) == idle.localPort(); }));
    ptz_->ClosePtzListener();
    EXPECT_TRUE(WaitFor([&] { return idle.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(0, ptz_->listenerPort());
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(WaitFor([&] { return late.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(QAbstractSocket::ConnectionRefusedError, late.error());
}

TEST_F(ListenerTest, AConnectionThatEndsDuringAPresetLeavesTheListenerServing) {
    const quint16 port = open();
    // The motion library's preset waits about five seconds while events run; its client
    // hangs up meanwhile.
    QTcpSocket presetClient;
    presetClient.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(WaitFor([&] { return presetClient.state() == QAbstractSocket::ConnectedState; }));
    presetClient.write("Preset_-320:96:20");
    QTimer::singleShot(500, &presetClient, [&presetClient] { presetClient.abort(); });
    // Served once the preset has ended.
    EXPECT_EQ("OK\r\n", Send(port, "pan_left").bytes);
    EXPECT_EQ(
        (QStringList{"Function4()", "Function5(0,320)", "Function5(2,96)", "Function5(0,320)"}),
        lvCallNames());
}

struct BlockCase {
    QByteArray block;
    const char* answer;
    QStringList moves;   // what the motion library was told
    const char* logLine; // the error line, if any
};

class BlockTest : public ListenerTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockTest, EachBlockIsOnePacketAnsweredOnceThenClosed) {
    const BlockCase& c = GetParam();
    const Answer answer = Send(open(), c.block);
    EXPECT_TRUE(answer.closed);
    EXPECT_EQ(c.answer, answer.bytes);
    EXPECT_EQ(c.moves, lvCallNames());
    const QStringList lines = log().filter(
        QRegularExpression(QStringLiteral(" Pan Tilt Unit Socket Error:|PTZ listener: ")));
    ASSERT_EQ(c.logLine ? 1 : 0, lines.size());
    if (c.logLine) {
        EXPECT_TRUE(lines[0].endsWith(QLatin1String(c.logLine))) << lines[0].toStdString();
    }
}

const char* const kLong = "The packet is longer than 4096 bytes";
const char* const kRefused = "a web browser's request was refused; nothing was moved";
const QByteArray kRequest = "GET /pan_left HTTP/1.1\r\n";

INSTANTIATE_TEST_SUITE_P(
    Blocks, BlockTest,
    ::testing::Values(
        // Two packets sent at once arrive as one block: one packet, one answer.
        BlockCase{"tilt_uppan_left", "OK\r\n", {"Function5(2,192)", "Function5(0,320)"}, nullptr},
        BlockCase{"pan_left" + QByteArray(4088, ' '), "OK\r\n", {"Function5(0,320)"}, nullptr},
        BlockCase{"pan_left" + QByteArray(4089, ' '), "", {}, kLong},
        BlockCase{"pan_left" + QByteArray(65528, ' '), "", {}, kLong},
        // A preset as a bare request line, as a local program may send it.
        BlockCase{"GET /Preset_0:0:150 HTTP/1.1\r\n\r\n", "OK\r\n", {"Function4()"}, nullptr},
        // A web page can make the user's browser send requests here, and a browser too old to
        // say where a request comes from says nothing of it: no browser's request moves.
        BlockCase{kRequest + "Host: 127.0.0.1:4321\r\n\r\n", "OK\r\n", {}, kRefused},
        BlockCase{kRequest + "user-agent: Mozilla/4.0\r\n\r\n", "OK\r\n", {}, kRefused},
        BlockCase{kRequest + "ACCEPT: */*\r\n\r\n", "OK\r\n", {}, kRefused},
        BlockCase{kRequest + "Host: 127.0.0.1:4321\r\nUser-Agent: Mozilla/5.0\r\nAccept: */*\r\n"
                             "Origin: http://pages.example\r\n\r\n",
                  "OK\r\n",
                  {},
                  kRefused},
        BlockCase{kRequest + "Host: 127.0.0.1:4321\r\nSec-Fetch-Site: none\r\n\r\n",
                  "OK\r\n",
                  {},
                  kRefused}));

} // namespace
} // namespace kestrova::test

// The GET exchange against relays on 127.0.0.1 that answer, answer in pieces, refuse, close
// at once, say nothing, send garbage or too much.
#include "FakeRelay.h"
#include "ServiceFixture.h"

#include "core/AppState.h"
#include "service/WebRequest.h"

#include <QRandomGenerator>
#include <QTimer>

using namespace kestrova;
using namespace kestrova::test;

namespace {

class WebRequestTest : public ServiceTest {};

} // namespace

TEST_F(WebRequestTest, SendsTheFiveRequestLinesAndReturnsTheWholeAnswer) {
    const QByteArray answer = HttpAnswer("127.0.0.1\r\n8080\r\nwebcams\r\n");
    FakeRelay relay([&](const QByteArray&) { return FakeReply::Text(answer); });
    ASSERT_TRUE(relay.listen());

    const QByteArray result = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                                         QStringLiteral("/x?a=1"));

    ASSERT_EQ(relay.requests().size(), 1);
    EXPECT_EQ(relay.requests().first(), QByteArray("GET /x?a=1 HTTP/1.1\r\n"
                                                   "Accept: text/plain, text/html, */*\r\n"
                                                   "Host: 127.0.0.1\r\n"
                                                   "Connection: Close\r\n"
                                                   "Cache-Control: no-cache\r\n"
                                                   "\r\n"));
    EXPECT_EQ(result, answer);
    EXPECT_EQ(App().WebRequestDone, kTrue);
    EXPECT_EQ(App().WebConnected, kFalse);
    EXPECT_TRUE(log().join(QStringLiteral("\n")).contains(QStringLiteral("127.0.0.1")))
        << "the received answer goes to the log";

    // The host goes into the Host line as given, without the port.
    const QByteArray second = service_.web.GetWebRequest(QStringLiteral("localhost"), relay.port(),
                                                         QStringLiteral("/getReflector.php"));
    ASSERT_EQ(relay.requests().size(), 2);
    EXPECT_TRUE(relay.requests()[1].startsWith("GET /getReflector.php HTTP/1.1\r\n"));
    EXPECT_TRUE(relay.requests()[1].contains("\r\nHost: localhost\r\n"));
    EXPECT_EQ(second, answer);
}

TEST_F(WebRequestTest, JoinsAnAnswerThatArrivesInPiecesAndLogsEveryPiece) {
    const QList<QByteArray> pieces = {"HTTP/1.1 200 OK\r\nConnection: close\r\n",
                                      "\r\nfirst-piece-", "second-piece-", "third-piece"};
    FakeRelay relay([&](const QByteArray&) { return FakeReply::Pieces(pieces); });
    ASSERT_TRUE(relay.listen());

    const QByteArray result =
        service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(), QStringLiteral("/p"));

    EXPECT_EQ(result, pieces.join());
    const QString logText = log().join(QStringLiteral("\n"));
    for (const char* piece : {"first-piece-", "second-piece-", "third-piece"})
        EXPECT_TRUE(logText.contains(QLatin1String(piece))) << piece;
}

TEST_F(WebRequestTest, ARefusedConnectionFailsAtOnceWithBothLogLines) {
    const RefusingPort refusing;
    ASSERT_NE(refusing.port(), 0);
    const QByteArray result = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"),
                                                         refusing.port(), QStringLiteral("/x"));

    EXPECT_EQ(result, IoErrorAnswer());
    EXPECT_TRUE(IsFailedAnswer(result));
    EXPECT_EQ(App().WebRequestDone, kTrue);
    EXPECT_EQ(App().WebConnected, kFalse);
    EXPECT_TRUE(logHas(QStringLiteral(" WebSocket Error:Connection refused")))
        << log().join('\n').toStdString();
    EXPECT_TRUE(logHas(QStringLiteral("Connection failed: Connection refused")));
    EXPECT_FALSE(logHas(QStringLiteral("Connection failed: Time out")));
}

TEST_F(WebRequestTest, ARelayThatClosesAtOnceOrSendsGarbageGivesNoUsableAnswer) {
    FakeRelay closing;
    closing.setCloseAtOnce(true);
    ASSERT_TRUE(closing.listen());
    const QByteArray closed = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"),
                                                         closing.port(), QStringLiteral("/x"));
    EXPECT_TRUE(IsFailedAnswer(closed)) << closed.constData();
    EXPECT_EQ(App().WebRequestDone, kTrue);

    QByteArray garbage(3000, '\0');
    QRandomGenerator random(7);
    for (char& c : garbage)
        c = static_cast<char>(random.bounded(256));
    garbage.replace("\r\n\r\n", "xxxx");
    FakeRelay noisy([&](const QByteArray&) { return FakeReply::Text(garbage); });
    ASSERT_TRUE(noisy.listen());
    const QByteArray noise =
        service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), noisy.port(), QStringLiteral("/x"));
    EXPECT_EQ(noise, garbage) << "the exchange returns what arrived";
    EXPECT_FALSE(SplitServiceAnswer(noise).ok) << "but it is no service answer";
    EXPECT_EQ(App().WebRequestDone, kTrue);
}

TEST_F(WebRequestTest, ARelayThatSaysNothingIsCutOffAfterTheAnswerBound) {
    service_.web.setTimeouts(WebRequestTimeouts{3000, 3000, 300});
    FakeRelay relay([](const QByteArray&) { return FakeReply::Silent(); });
    ASSERT_TRUE(relay.listen());

    const QByteArray result = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                                         QStringLiteral("/silent"));

    EXPECT_EQ(result, IoErrorAnswer());
    EXPECT_EQ(App().WebRequestDone, kTrue);
    EXPECT_TRUE(logHas(QStringLiteral("Connection failed: No answer")));
    ASSERT_EQ(relay.completeRequests(), 1);
    EXPECT_TRUE(WaitFor([&] { return relay.connections()[0].closedByStation; }))
        << "the station closes its socket";
}

TEST_F(WebRequestTest, AnAnswerLongerThanTheBoundIsCutOffAndFails) {
    const QByteArray tooLong = HttpAnswer(QByteArray(kMaxAnswerBytes + 200000, 'x'));
    FakeRelay relay([&](const QByteArray&) { return FakeReply::Text(tooLong); });
    ASSERT_TRUE(relay.listen());

    const QByteArray result = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                                         QStringLiteral("/flood"));

    EXPECT_EQ(result, IoErrorAnswer());
    EXPECT_EQ(App().WebRequestDone, kTrue);
    EXPECT_TRUE(logHas(QStringLiteral(" WebSocket Error:The answer is longer than 1048576 bytes")));

    // An answer just within the bound is whole.
    const QByteArray longest = HttpAnswer(QByteArray(kMaxAnswerBytes - 200, 'y'));
    ASSERT_LE(longest.size(), kMaxAnswerBytes);
    relay.setHandler([&](const QByteArray&) { return FakeReply::Text(longest); });
    EXPECT_EQ(service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                         QStringLiteral("/big")),
              longest);
}

TEST_F(WebRequestTest, AConnectTimeOutEndsTheExchangeSoTheNextRequestGoesAhead) {
    HangingListener hanging;
    ASSERT_TRUE(hanging.ok());
    service_.web.setTimeouts(WebRequestTimeouts{3000, 300, 3000});

    const QByteArray result = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"),
                                                         hanging.port(), QStringLiteral("/x"));

    EXPECT_EQ(result, IoErrorAnswer());
    EXPECT_TRUE(logHas(QStringLiteral("Connection failed: Time out")));
    EXPECT_FALSE(logHas(QStringLiteral("Connection refused")));
    EXPECT_EQ(App().WebRequestDone, kTrue);

    // The next request finds no exchange under way and is answered.
    const QByteArray answer = HttpAnswer("next");
    FakeRelay relay([&](const QByteArray&) { return FakeReply::Text(answer); });
    ASSERT_TRUE(relay.listen());
    EXPECT_EQ(service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                         QStringLiteral("/next")),
              answer);
}

TEST_F(WebRequestTest, ASecondRequestDuringAnAnswerWaitGivesUpAfterTheBusyWaitAndSendsNothing) {
    service_.web.setTimeouts(WebRequestTimeouts{200, 3000, 8000});
    const QByteArray answer = HttpAnswer("first");
    FakeRelay relay([](const QByteArray&) { return FakeReply::Silent(); });
    ASSERT_TRUE(relay.listen());

    QByteArray second = "not run";
    bool secondRan = false;
    // Runs inside the first exchange's answer wait, once the relay holds the first request.
    relay.onFirstByte = [&](int) {
        QTimer::singleShot(0, [&] {
            second = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                                QStringLiteral("/second"));
            secondRan = true;
            relay.answerSilent(FakeReply::Text(answer));
        });
    };

    const QByteArray first = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                                        QStringLiteral("/first"));

    ASSERT_TRUE(secondRan);
    EXPECT_EQ(second, QByteArray());
    EXPECT_EQ(first, answer);
    EXPECT_EQ(relay.connections().size(), 1u) << "the second request sent nothing";
}

TEST_F(WebRequestTest, ARequestMadeWhileAnotherWaitsRunsAfterItAndEachGetsItsOwnAnswer) {
    const QByteArray firstAnswer = HttpAnswer("first answer");
    const QByteArray secondAnswer = HttpAnswer("second answer");
    FakeRelay relay([&](const QByteArray& request) {
        if (RequestPath(request) == "/first")
            return FakeReply::Silent();
        return FakeReply::Text(secondAnswer);
    });
    ASSERT_TRUE(relay.listen());

    QByteArray second = "not run";
    // Runs inside the first exchange's answer wait, once the relay holds the first request:
    // the first answer arrives while the second request waits for the first exchange to end.
    relay.onFirstByte = [&](int index) {
        if (index != 0)
            return;
        QTimer::singleShot(0, [&] {
            relay.answerSilent(FakeReply::Text(firstAnswer));
            second = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                                QStringLiteral("/second"));
        });
    };

    const QByteArray first = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                                        QStringLiteral("/first"));

    EXPECT_EQ(second, secondAnswer);
    EXPECT_EQ(first, firstAnswer) << "the first request returns its own answer";
    ASSERT_EQ(relay.requests().size(), 2);
    EXPECT_EQ(RequestPath(relay.requests()[0]), QByteArray("/first"));
    EXPECT_EQ(RequestPath(relay.requests()[1]), QByteArray("/second"));
    EXPECT_EQ(App().WebRequestDone, kTrue);
    EXPECT_EQ(App().WebConnected, kFalse);
    EXPECT_EQ(App().WebResponse, secondAnswer) << "the shared answer is the last exchange's";
}

TEST_F(WebRequestTest, AnAnswerCutShortByTheStationsCloseIsAFailure) {
    // The status line comes, then nothing more, and the connection stays open.
    FakeRelay relay([](const QByteArray&) {
        return FakeReply{FakeReply::Mode::Answer, {"HTTP/1.1 200 OK\r\n"}, false};
    });
    ASSERT_TRUE(relay.listen());
    // The station begins closing once the first piece of the answer has arrived.
    QTimer closing;
    closing.setInterval(0);
    QObject::connect(&closing, &QTimer::timeout, [] {
        if (!App().WebResponse.isEmpty())
            App().AbortRequested = kTrue;
    });
    closing.start();

    const QByteArray result = service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                                         QStringLiteral("/partial"));
    closing.stop();

    EXPECT_TRUE(logHas(QStringLiteral("HTTP/1.1 200 OK"))) << "a piece had arrived";
    EXPECT_EQ(result, IoErrorAnswer());
    EXPECT_EQ(App().WebRequestDone, kTrue);
    EXPECT_EQ(App().WebConnected, kFalse);
    EXPECT_TRUE(WaitFor([&] { return relay.connections()[0].closedByStation; }))
        << "the station closes its socket";
}

TEST_F(WebRequestTest, TheStationsCloseEndsEveryWait) {
    FakeRelay relay([](const QByteArray&) { return FakeReply::Silent(); });
    ASSERT_TRUE(relay.listen());
    relay.onFirstByte = [](int) { QTimer::singleShot(0, [] { App().AbortRequested = kTrue; }); };

    service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(), QStringLiteral("/wait"));

    EXPECT_EQ(App().WebRequestDone, kTrue);
    EXPECT_TRUE(WaitFor([&] { return relay.connections()[0].closedByStation; }));

    // An exchange still marked under way while the station closes: nothing is sent.
    App().WebRequestDone = kFalse;
    EXPECT_EQ(service_.web.GetWebRequest(QStringLiteral("127.0.0.1"), relay.port(),
                                         QStringLiteral("/no")),
              QByteArray());
    EXPECT_EQ(App().WebRequestDone, kTrue);
    EXPECT_EQ(relay.connections().size(), 1u);
}

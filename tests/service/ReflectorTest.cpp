// Relay look-up, folder check, registration, switching the relay side on and off, and a relay
// that refuses the station key.
#include "FakeRelay.h"
#include "ServiceFixture.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "service/Reflector.h"

#include <QTimer>

using namespace kestrova;
using namespace kestrova::test;

namespace {

constexpr const char* kInitialCaption = "Reflector service not activated";
constexpr const char* kActiveCaption = "Reflector service active...";

// The directory and the relay in one: answers the look-up with the relay's own address, and
// the folder check and registration with the bodies given.
class ReflectorTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        ASSERT_TRUE(relay.listen());
        WriteDeployment(relay.port());
        directoryBody = "127.0.0.1\r\n" + QByteArray::number(relay.port()) + "\r\nwebcams\r\n";
        relay.setHandler([this](const QByteArray& request) { return Answer(request); });
    }

    FakeReply Answer(const QByteArray& request) {
        const QByteArray path = RequestPath(request);
        if (path == "/getReflector.php")
            return directoryReply ? directoryReply(directoryBody)
                                  : FakeReply::Text(HttpAnswer(directoryBody));
        if (path.startsWith("/webcams/CheckFolderExists?"))
            return FakeReply::Text(folderAnswer);
        if (path.startsWith("/webcams/Register?"))
            return FakeReply::Text(registerAnswer);
        return FakeReply::Text(HttpAnswer("unknown", "404 Not Found"));
    }

    // The paths of the GET requests (the option synchronisation that follows a start is a
    // POST, seen in the first test).
    QList<QByteArray> paths() const {
        QList<QByteArray> out;
        for (const QByteArray& r : relay.requests()) {
            if (r.startsWith("GET "))
                out << RequestPath(r);
        }
        return out;
    }

    void ExpectInactive() const {
        EXPECT_EQ(App().ReflectorActive, kFalse);
        EXPECT_EQ(App().ReflectorRunning, kFalse);
        EXPECT_FALSE(Timers().tmrWatchdog.isActive());
        EXPECT_FALSE(Timers().tmrCheckVisitor.isActive());
        EXPECT_FALSE(Timers().tmrMovePoller.isActive());
        EXPECT_EQ(Ui().lblReflectorStatus.value(), QLatin1String(kInitialCaption));
    }

    void ExpectActive() const {
        EXPECT_EQ(App().ReflectorActive, kTrue);
        EXPECT_EQ(App().UploadReady, kTrue);
        EXPECT_TRUE(Timers().tmrWatchdog.isActive());
        EXPECT_TRUE(Timers().tmrCheckVisitor.isActive());
        EXPECT_EQ(Ui().lblReflectorStatus.value(), QLatin1String(kActiveCaption));
    }

    FakeRelay relay;
    QByteArray directoryBody;
    std::function<FakeReply(const QByteArray& body)> directoryReply;
    QByteArray folderAnswer = HttpAnswer("Exists: true");
    QByteArray registerAnswer = HttpAnswer("User Registered Successfully.");
};

} // namespace

TEST_F(ReflectorTest, LooksUpTheRelayAndStartsWhenItsFolderExists) {
    directoryBody = "  127.0.0.1 \r\n " + QByteArray::number(relay.port()) +
                    "  \r\n relay-path \r\nfurther line\r\n";
    App().CameraChanging = kTrue;
    App().UploadReady = kFalse;

    service_.reflector.StartReflector();

    ASSERT_EQ(paths(),
              (QList<QByteArray>{"/getReflector.php",
                                 "/webcams/CheckFolderExists?id=cam-01_Test&path=webcams"}));
    EXPECT_EQ(relay.requests()[1],
              "GET /webcams/CheckFolderExists?id=cam-01_Test&path=webcams HTTP/1.1\r\n"
              "Accept: text/plain, text/html, */*\r\n"
              "Host: 127.0.0.1\r\n"
              "Connection: Close\r\n"
              "Cache-Control: no-cache\r\n" +
                  kTestKeyLine + "\r\n\r\n");
    EXPECT_FALSE(relay.requests()[0].contains("Authorization"))
        << "the directory look-up goes to the directory host, without the key";
    EXPECT_EQ(App().ReflectorHost, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(App().ReflectorPort, relay.port());
    EXPECT_EQ(App().ReflectorPath, QStringLiteral("relay-path"));
    EXPECT_EQ(App().CameraChanging, kFalse);
    ExpectActive();
    EXPECT_FALSE(Timers().tmrMovePoller.isActive())
        << "a camera without a motor has no move polling";
    EXPECT_TRUE(relay.requests().last().startsWith("POST /webcams/SyncWebcams HTTP/1.1\r\n"))
        << "the options follow the start";
    EXPECT_TRUE(fixture_.dialogsShown().empty());
}

TEST_F(ReflectorTest, ReadsAChunkedDirectoryAnswerWhateverItsChunking) {
    // A fourth line long enough for a chunk above 0x7FFF bytes.
    directoryBody += QByteArray(40000, 'p') + "\r\n";
    const QList<QPair<QList<int>, QByteArray>> chunkings = {
        {{3, 5}, ""},           // small chunks
        {{1, 2, 3}, ";name=v"}, // chunk extensions
        {{12}, ""},             // one chunk of the first lines, one above 0x7FFF
    };
    for (const auto& [sizes, extension] : chunkings) {
        App().ReflectorHost.clear();
        App().ReflectorPort = 0;
        const QByteArray answer = ChunkedHttpAnswer(directoryBody, sizes, extension);
        // Cut the answer into pieces of 4000 bytes that reach the station one by one.
        directoryReply = [answer](const QByteArray&) {
            QList<QByteArray> pieces;
            for (qsizetype at = 0; at < answer.size(); at += 4000)
                pieces << answer.mid(at, 4000);
            return FakeReply::Pieces(pieces);
        };
        EXPECT_TRUE(service_.reflector.GetReflectorDetails())
            << "extension " << extension.constData();
        EXPECT_EQ(App().ReflectorHost, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(App().ReflectorPort, relay.port());
        EXPECT_EQ(App().ReflectorPath, QStringLiteral("webcams"));
    }
}

TEST_F(ReflectorTest, ADirectoryAnswerThatIsNoAddressLeavesTheRelayInactiveWithoutAMessage) {
    const QByteArray port = QByteArray::number(relay.port());
    const QList<QPair<const char*, QByteArray>> answers = {
        {"two lines", HttpAnswer("127.0.0.1\r\n" + port)},
        {"lines ended by LF only", HttpAnswer("127.0.0.1\n" + port + "\nwebcams\n")},
        {"port not a number", HttpAnswer("127.0.0.1\r\neighty\r\nwebcams\r\n")},
        {"port with letters", HttpAnswer("127.0.0.1\r\n80a\r\nwebcams\r\n")},
        {"port too large", HttpAnswer("127.0.0.1\r\n32768\r\nwebcams\r\n")},
        {"port zero", HttpAnswer("127.0.0.1\r\n0\r\nwebcams\r\n")},
        {"no host", HttpAnswer("\r\n" + port + "\r\nwebcams\r\n")},
        {"host with a blank", HttpAnswer("127.0.0.1 x\r\n" + port + "\r\nwebcams\r\n")},
        {"no blank line", "HTTP/1.1 200 OK\r\n127.0.0.1\r\n" + port + "\r\nwebcams\r\n"},
        {"malformed chunks",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFF\r\n127.0.0.1\r\n0\r\n\r\n"},
        {"empty answer", QByteArray()},
    };
    for (const auto& [what, answer] : answers) {
        App().ReflectorHost = QStringLiteral("old.host");
        App().ReflectorPort = 1234;
        App().ReflectorRunning = kTrue;
        directoryReply = [answer = answer](const QByteArray&) { return FakeReply::Text(answer); };
        const int before = relay.completeRequests();

        service_.reflector.StartReflector();

        EXPECT_EQ(relay.completeRequests(), before + 1) << what << ": only the look-up is sent";
        EXPECT_EQ(App().ReflectorHost, QStringLiteral("old.host")) << what;
        EXPECT_EQ(App().ReflectorPort, 1234) << what;
        ExpectInactive();
    }
    EXPECT_TRUE(fixture_.dialogsShown().empty());
}

TEST_F(ReflectorTest, AnUnreachableDirectoryLeavesTheRelayInactive) {
    const RefusingPort refusing;
    ASSERT_NE(refusing.port(), 0);
    WriteDeployment(refusing.port());
    App().ReflectorRunning = kTrue;

    service_.reflector.StartReflector();

    ExpectInactive();
    EXPECT_TRUE(logHas(QStringLiteral(" WebSocket Error:Connection refused")))
        << log().join('\n').toStdString();
    EXPECT_TRUE(logHas(QStringLiteral("Connection failed: Connection refused")));
    EXPECT_EQ(relay.connections().size(), 0u);
    EXPECT_TRUE(fixture_.dialogsShown().empty());
}

TEST_F(ReflectorTest, AStartWhileTheStationClosesSendsNothingAndKeepsTheAbort) {
    App().ReflectorRunning = kTrue;
    App().AbortRequested = kTrue;

    service_.reflector.StartReflector();

    ExpectInactive();
    EXPECT_EQ(App().AbortRequested, kTrue) << "cleared only after a successful look-up";
    EXPECT_EQ(relay.completeRequests(), 0);
    EXPECT_TRUE(logHas(QStringLiteral("Connection failed: Time out")));
    EXPECT_TRUE(fixture_.dialogsShown().empty());
}

TEST_F(ReflectorTest, TheStationsCloseDuringTheFolderCheckShowsNoMessageAndSwitchesNothingOn) {
    // The folder check gets no answer; the station begins closing while it waits.
    relay.setHandler([this](const QByteArray& request) {
        if (RequestPath(request).startsWith("/webcams/CheckFolderExists?"))
            return FakeReply::Silent();
        return Answer(request);
    });
    relay.onFirstByte = [](int index) {
        if (index == 1)
            QTimer::singleShot(0, [] { App().AbortRequested = kTrue; });
    };
    App().ReflectorRunning = kTrue;

    service_.reflector.StartReflector();

    ExpectInactive();
    EXPECT_EQ(paths(),
              (QList<QByteArray>{"/getReflector.php",
                                 "/webcams/CheckFolderExists?id=cam-01_Test&path=webcams"}));
    EXPECT_EQ(relay.connections().size(), 2u) << "no registration is tried";
    EXPECT_TRUE(fixture_.dialogsShown().empty());
}

TEST_F(ReflectorTest, RegistersTheCameraWhenItsFolderIsMissing) {
    folderAnswer = HttpAnswer("Folder check\r\nExists: false\r\n");
    registerAnswer = HttpAnswer("  User Registered Successfully.  \r\n");

    service_.reflector.StartReflector();

    ASSERT_EQ(paths().size(), 3);
    EXPECT_EQ(paths()[2], QByteArray("/webcams/Register?id=cam-01_Test&path=webcams&ptz=false"));
    EXPECT_TRUE(relay.requests()[2].endsWith("\r\n" + kTestKeyLine + "\r\n\r\n"));
    EXPECT_TRUE(log().contains(QStringLiteral("User Registered Successfully.")))
        << "the relay's answer is logged without its blanks";
    ExpectActive();
    EXPECT_TRUE(fixture_.dialogsShown().empty());
}

TEST_F(ReflectorTest, AMotorisedCameraRegistersWithPtzAndStartsMovePolling) {
    App().IsPtzCamera = kTrue;
    folderAnswer = HttpAnswer("Exists: false");

    service_.reflector.StartReflector();

    ASSERT_EQ(paths().size(), 3);
    EXPECT_EQ(paths()[2], QByteArray("/webcams/Register?id=cam-01_Test&path=webcams&ptz=true"));
    ExpectActive();
    EXPECT_TRUE(Timers().tmrMovePoller.isActive());

    service_.reflector.StopReflector();
    EXPECT_EQ(App().ReflectorActive, kFalse);
    EXPECT_EQ(App().ReflectorRunning, kFalse);
    EXPECT_FALSE(Timers().tmrWatchdog.isActive());
    EXPECT_FALSE(Timers().tmrCheckVisitor.isActive());
    EXPECT_FALSE(Timers().tmrMovePoller.isActive());
    EXPECT_EQ(Ui().lblReflectorStatus.value(), QLatin1String(kActiveCaption))
        << "nothing sets the caption back";
}

TEST_F(ReflectorTest, ARefusedRegistrationShowsTheFailureMessageAndLogsTheAnswer) {
    folderAnswer = HttpAnswer("Exists: false");
    registerAnswer = HttpAnswer("Registration refused: unknown camera\r\n");
    App().ReflectorRunning = kTrue;

    service_.reflector.StartReflector();

    ExpectInactive();
    EXPECT_TRUE(log().contains(QStringLiteral("Registration refused: unknown camera")));
    ASSERT_EQ(fixture_.dialogsShown().size(), 1u);
    const dialogs::Request& message = fixture_.dialogsShown().front();
    EXPECT_EQ(message.text,
              QStringLiteral(
                  "Failed to register you on the reflector service. Contact help@example.test."));
    EXPECT_EQ(message.icon, dialogs::Icon::None);
    EXPECT_EQ(message.buttons, dialogs::Buttons::Ok);
}

TEST_F(ReflectorTest, AFolderCheckBodyWithoutExistsFalseSkipsTheRegistration) {
    for (const QByteArray& body :
         {QByteArray("Exists: true"), QByteArray("Exists: False"), QByteArray("exists: false"),
          QByteArray("whatever"), QByteArray()}) {
        folderAnswer = HttpAnswer(body);
        service_.reflector.StartReflector();
        ExpectActive();
        service_.reflector.StopReflector();
    }
    for (const QByteArray& path : paths())
        EXPECT_FALSE(path.startsWith("/webcams/Register?")) << path.constData();
}

TEST_F(ReflectorTest, AnUnreadableFolderCheckLeadsToARegistrationAndAnUnreadableRegistrationFails) {
    folderAnswer = "garbage without a blank line";
    service_.reflector.StartReflector();
    EXPECT_EQ(logCount(QStringLiteral(" Error Checking Reflector Registration.")), 1);
    ASSERT_EQ(paths().size(), 3);
    EXPECT_TRUE(paths()[2].startsWith("/webcams/Register?"));
    ExpectActive();
    service_.reflector.StopReflector();

    registerAnswer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n";
    service_.reflector.StartReflector();
    EXPECT_EQ(logCount(QStringLiteral(" Proxy Registration Error.")), 1);
    EXPECT_EQ(App().ReflectorActive, kFalse);
    EXPECT_EQ(fixture_.dialogsShown().size(), 1u);
}

TEST_F(ReflectorTest, AFolderCheckThatFailsOnTheWireLeadsToARegistration) {
    // The relay closes the folder check's connection without a word.
    relay.setHandler([this](const QByteArray& request) {
        if (RequestPath(request).startsWith("/webcams/CheckFolderExists?"))
            return FakeReply::Text(QByteArray());
        return Answer(request);
    });
    service_.reflector.StartReflector();
    ASSERT_EQ(paths().size(), 3);
    EXPECT_TRUE(paths()[2].startsWith("/webcams/Register?"));
    EXPECT_EQ(logCount(QStringLiteral(" Error Checking Reflector Registration.")), 0)
        << "a failed exchange is no error of the check";
    ExpectActive();
}

TEST_F(ReflectorTest, TheIdentifierIsSentWithoutItsBlanksAndOnlyWhenItMayBeSent) {
    App().CameraId.assign(QStringLiteral("   cam-7   "));
    folderAnswer = HttpAnswer("Exists: false");
    service_.reflector.StartReflector();
    ASSERT_EQ(paths().size(), 3);
    EXPECT_EQ(paths()[1], QByteArray("/webcams/CheckFolderExists?id=cam-7&path=webcams"));
    EXPECT_EQ(paths()[2], QByteArray("/webcams/Register?id=cam-7&path=webcams&ptz=false"));
    EXPECT_TRUE(App().CameraId.text().startsWith(QStringLiteral("cam-7 ")))
        << "the trimmed identifier is written back left-aligned";
    service_.reflector.StopReflector();

    // An identifier that would change the request line never reaches the relay.
    App().CameraId.assign(QStringLiteral("cam 7 HTTP/1.1\r\nX-Injected: yes"));
    service_.reflector.StartReflector();
    ASSERT_EQ(paths().size(), 4) << "only the directory look-up is sent";
    EXPECT_EQ(paths()[3], QByteArray("/getReflector.php"));
    EXPECT_EQ(App().ReflectorActive, kFalse);
    EXPECT_EQ(logCount(QStringLiteral(" Error Checking Reflector Registration.")), 1);
    EXPECT_EQ(logCount(QStringLiteral(" Proxy Registration Error.")), 1);
    EXPECT_EQ(fixture_.dialogsShown().size(), 1u);
}

TEST_F(ReflectorTest, ARefusedKeyShowsInTheStatusLabelAndOnceInTheLog) {
    folderAnswer = HttpAnswer("Exists: false");
    ASSERT_TRUE(service_.reflector.GetReflectorDetails());
    const auto frames = [](bool) { return MakeJpeg(); };
    service_.uploader.setFrameSource(frames);
    service_.archive.setFrameSource(frames);
    const QByteArray refusal =
        "he station key does not match the key cam-01_Test is registered with";
    const struct {
        QByteArray path, body;
        std::function<void()> run;
    } cases[] = {
        {"/webcams/Register", "Registration refused: t" + refusal + ".",
         [this] { service_.reflector.StartReflector(); }},
        {"/webcams/Reflector", "Reflector: false - t" + refusal,
         [this] {
             service_.uploader.UploadImage(true);
             WaitFor([] { return App().UploadReady == kTrue; });
         }},
        {"/webcams/Archive", "Archive: false - t" + refusal,
         [this] { service_.archive.UploadArchive(); }},
        {"/webcams/SyncWebcams", "Failed to synchronise settings. T" + refusal + ".",
         [this] { service_.sync.ReflectorSynchronize(); }},
    };
    const QString why =
        QStringLiteral("Relay: the relay refused this station's key for camera cam-01_Test: ");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.constData());
        App().StationKeyRefused = kFalse;
        Ui().lblReflectorStatus.set(QString());
        relay.setHandler([&](const QByteArray& request) {
            return RequestPath(request).startsWith(c.path)
                       ? FakeReply::Text(HttpAnswer(c.body, "403 Forbidden"))
                       : Answer(request);
        });
        const qsizetype before = log().filter(why).size();
        c.run();
        c.run(); // the same episode: no second explanation
        EXPECT_EQ(Ui().lblReflectorStatus.value(),
                  QStringLiteral("Station key refused by the relay"));
        EXPECT_EQ(log().filter(why).size(), before + 1);
    }
    EXPECT_TRUE(
        log().filter(why).last().contains(QStringLiteral("administrator can release the camera")));
    EXPECT_FALSE(log().join('\n').contains(kTestStationKey)) << "the key is never logged";
}

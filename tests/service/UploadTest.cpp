// The live frame upload: the multipart request, the watchdog cycle, and relays that refuse,
// close at once, never answer or refuse the frame.
#include "FakeRelay.h"
#include "ServiceFixture.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "service/Upload.h"

#include <QImage>
#include <QMap>
#include <QSet>
#include <QTimer>

using namespace kestrova;
using namespace kestrova::test;

namespace {

// One part of a multipart body.
struct Part {
    QList<QByteArray> headers;
    QByteArray content;
};

// A frame POST read back from the bytes the relay received.
struct ParsedPost {
    QList<QByteArray> headerLines;
    QByteArray boundary;
    QByteArray body;
    QList<Part> parts;
    QString error; // empty when the request is well formed
};

bool IsAlphaNumeric(const QByteArray& text) {
    for (const char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return !text.isEmpty();
}

ParsedPost Parse(const QByteArray& request) {
    ParsedPost post;
    const qsizetype blank = request.indexOf("\r\n\r\n");
    if (blank < 0) {
        post.error = QStringLiteral("no end of the header block");
        return post;
    }
    post.headerLines = request.left(blank).split('\n');
    for (QByteArray& line : post.headerLines) {
        if (!line.endsWith('\r') && &line != &post.headerLines.last()) {
            post.error = QStringLiteral("a header line without CR LF");
            return post;
        }
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QByteArray typePrefix = "Content-Type: multipart/form-data; boundary=";
    if (post.headerLines.size() < 2 || !post.headerLines[1].startsWith(typePrefix)) {
        post.error = QStringLiteral("no multipart content type in the second line");
        return post;
    }
    post.boundary = post.headerLines[1].mid(typePrefix.size());
    post.body = request.mid(blank + 4);

    const QByteArray delimiter = "--" + post.boundary;
    if (!post.body.startsWith(delimiter + "\r\n")) {
        post.error = QStringLiteral("the body does not begin with the boundary");
        return post;
    }
    qsizetype pos = delimiter.size() + 2;
    for (;;) {
        const qsizetype next = post.body.indexOf("\r\n" + delimiter, pos);
        if (next < 0) {
            post.error = QStringLiteral("a part without a boundary after it");
            return post;
        }
        const QByteArray raw = post.body.mid(pos, next - pos);
        const qsizetype partBlank = raw.indexOf("\r\n\r\n");
        if (partBlank < 0) {
            post.error = QStringLiteral("a part without a blank line");
            return post;
        }
        post.parts.push_back(Part{raw.left(partBlank).split('\n'), raw.mid(partBlank + 4)});
        for (QByteArray& h : post.parts.back().headers) {
            if (h.endsWith('\r'))
                h.chop(1);
        }
        pos = next + 2 + delimiter.size();
        if (post.body.mid(pos) == "--\r\n")
            return post;
        if (post.body.mid(pos, 2) != "\r\n") {
            post.error = QStringLiteral("a boundary followed by neither CR LF nor the closing --");
            return post;
        }
        pos += 2;
    }
}

// The file name of the frame part, from its Content-Disposition line.
QByteArray FileName(const ParsedPost& post) {
    const QByteArray line = post.parts.value(2).headers.value(0);
    const QByteArray key = "filename=\"";
    const qsizetype at = line.indexOf(key);
    return at < 0 ? QByteArray() : line.mid(at + key.size(), line.size() - at - key.size() - 1);
}

const QByteArray kAccepted = HttpAnswer("Reflector: true");

class UploadTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        ASSERT_TRUE(relay.listen());
        relay.setHandler([this](const QByteArray&) { return FakeReply::Text(answer); });
        // As a started relay side leaves them.
        App().ReflectorHost = QStringLiteral("127.0.0.1");
        App().ReflectorPort = static_cast<std::int16_t>(relay.port());
        App().ReflectorActive = kTrue;
        service_.uploader.setFrameSource([this](bool local) {
            ++framesTaken;
            return local ? localFrame : latestFrame;
        });
        QObject::connect(&Timers().tmrWatchdog, &QTimer::timeout, [this] { ++ticks; });
    }

    // Waits until the upload under way has ended.
    bool UploadEnded() {
        return WaitFor([] { return App().UploadReady == kTrue; });
    }

    FakeRelay relay;
    QByteArray answer = kAccepted;
    QByteArray latestFrame = MakeJpeg(10);
    QByteArray localFrame = MakeJpeg(150);
    int framesTaken = 0;
    int ticks = 0;
};

} // namespace

TEST_F(UploadTest, PostsTheFrameAsAWellFormedMultipartForm) {
    service_.uploader.WatchdogTick();

    EXPECT_TRUE(Ui().txtStatus.value().startsWith(QStringLiteral("Uploading: ")));
    EXPECT_EQ(App().UploadReady, kFalse);
    EXPECT_FALSE(Timers().tmrWatchdog.isActive()) << "no tick while the upload is open";
    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() == 1; }));

    const ParsedPost post = Parse(relay.requests().first());
    ASSERT_TRUE(post.error.isEmpty()) << post.error.toStdString();
    ASSERT_EQ(post.headerLines.size(), 7);
    EXPECT_EQ(post.headerLines[0], QByteArray("POST /webcams/Reflector HTTP/1.1"));
    EXPECT_EQ(post.boundary.size(), 32);
    EXPECT_TRUE(IsAlphaNumeric(post.boundary));
    EXPECT_EQ(post.headerLines[2], "Host: 127.0.0.1:" + QByteArray::number(relay.port()));
    EXPECT_EQ(post.headerLines[3], "Content-Length: " + QByteArray::number(post.body.size()));
    EXPECT_EQ(post.headerLines[4], QByteArray("Connection: Close"));
    EXPECT_EQ(post.headerLines[5], QByteArray("Cache-Control: no-cache"));
    EXPECT_EQ(post.headerLines[6], kTestKeyLine);

    ASSERT_EQ(post.parts.size(), 3);
    EXPECT_EQ(post.parts[0].headers,
              QList<QByteArray>{"Content-Disposition: form-data; name=\"id\""});
    EXPECT_EQ(post.parts[0].content, QByteArray("cam-01_Test"));
    EXPECT_EQ(post.parts[1].headers,
              QList<QByteArray>{"Content-Disposition: form-data; name=\"path\""});
    EXPECT_EQ(post.parts[1].content, QByteArray("webcams"));
    ASSERT_EQ(post.parts[2].headers.size(), 2);
    const QByteArray fileName = FileName(post);
    EXPECT_EQ(post.parts[2].headers[0],
              "Content-Disposition: form-data; name=\"frame\"; filename=\"" + fileName + "\"");
    EXPECT_EQ(post.parts[2].headers[1], QByteArray("Content-Type: image/jpeg"));
    EXPECT_EQ(fileName.size(), 12);
    EXPECT_TRUE(fileName.endsWith(".jpg"));
    EXPECT_TRUE(IsAlphaNumeric(fileName.left(8)));

    EXPECT_EQ(post.parts[2].content, latestFrame) << "the JPEG bytes travel unchanged";
    const QImage image = QImage::fromData(post.parts[2].content, "JPEG");
    EXPECT_EQ(image.size(), QSize(320, 240));

    // The relay's answer and close end the upload.
    ASSERT_TRUE(UploadEnded());
    EXPECT_TRUE(Ui().txtStatus.value().startsWith(QStringLiteral("Uploaded image at: ")));
    EXPECT_TRUE(Timers().tmrWatchdog.isActive());
    EXPECT_EQ(framesTaken, 1);
}

TEST_F(UploadTest, ConsecutiveUploadsUseDifferentBoundariesAndFileNames) {
    Timers().tmrWatchdog.setInterval(10);
    Timers().tmrWatchdog.start();
    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() >= 4; }));
    Timers().tmrWatchdog.stop();

    QSet<QByteArray> boundaries;
    QSet<QByteArray> fileNames;
    for (const QByteArray& request : relay.requests()) {
        const ParsedPost post = Parse(request);
        ASSERT_TRUE(post.error.isEmpty()) << post.error.toStdString();
        EXPECT_EQ(post.headerLines[3], "Content-Length: " + QByteArray::number(post.body.size()));
        boundaries.insert(post.boundary);
        fileNames.insert(FileName(post));
    }
    EXPECT_EQ(boundaries.size(), relay.requests().size());
    EXPECT_EQ(fileNames.size(), relay.requests().size());
}

TEST_F(UploadTest, TheNextUploadFollowsTheFirstTickAfterTheRelayClosedThePreviousOne) {
    // The relay takes a while to answer: nothing may be sent meanwhile.
    relay.setHandler([](const QByteArray&) {
        return FakeReply::Pieces({"HTTP/1.1 200 OK\r\n", "\r\n", "Reflector: true"});
    });
    struct Seen {
        int ticks = -1;
        int connections = -1;
        bool watchdogActive = true;
    };
    QList<Seen> atFirstByte;
    QList<Seen> atClose;
    relay.onFirstByte = [&](int) {
        atFirstByte << Seen{ticks, static_cast<int>(relay.connections().size()),
                            Timers().tmrWatchdog.isActive()};
    };
    relay.onClosedByRelay = [&](int) {
        atClose << Seen{ticks, static_cast<int>(relay.connections().size()),
                        Timers().tmrWatchdog.isActive()};
    };
    ASSERT_EQ(Timers().tmrWatchdog.interval(), 1000);
    Timers().tmrWatchdog.start();

    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() >= 3; }));
    Timers().tmrWatchdog.stop();

    ASSERT_GE(atClose.size(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(atFirstByte[i].watchdogActive) << "upload " << i;
        EXPECT_FALSE(atClose[i].watchdogActive) << "upload " << i;
        EXPECT_EQ(atClose[i].connections, i + 1) << "no request before the relay's close";
        EXPECT_EQ(atFirstByte[i + 1].ticks, atClose[i].ticks + 1)
            << "the next request follows the first tick after the close";
        EXPECT_GT(relay.connections()[i + 1].firstByteMs, relay.connections()[i].closedByRelayMs);
    }
}

TEST_F(UploadTest, NothingIsUploadedWhileTheRelayIsInactiveOrTheCameraChanges) {
    App().ReflectorActive = kFalse;
    Timers().tmrWatchdog.setInterval(5);
    Timers().tmrWatchdog.start();
    ASSERT_TRUE(WaitFor([&] { return ticks >= 5; }));
    EXPECT_EQ(Ui().txtStatus.value(), QStringLiteral("Waiting to upload images"))
        << "the ticks change nothing, not even the caption";

    App().ReflectorActive = kTrue;
    App().CameraChanging = kTrue;
    const int before = ticks;
    ASSERT_TRUE(WaitFor([&] { return ticks >= before + 5; }));
    Timers().tmrWatchdog.stop();

    EXPECT_EQ(relay.connections().size(), 0u);
    EXPECT_EQ(framesTaken, 0);
    EXPECT_EQ(App().UploadReady, kTrue);
}

TEST_F(UploadTest, AForcedUploadGoesOutWhileInactiveAndSendsTheLocalImageDuringACameraChange) {
    App().ReflectorActive = kFalse;
    service_.uploader.UploadImage(true);
    ASSERT_TRUE(UploadEnded());
    ASSERT_EQ(relay.completeRequests(), 1);
    EXPECT_EQ(Parse(relay.requests()[0]).parts.value(2).content, latestFrame);

    App().CameraChanging = kTrue;
    service_.uploader.UploadImage(false);
    EXPECT_EQ(framesTaken, 1) << "a timed upload waits for the camera change";
    service_.uploader.UploadImage(true);
    ASSERT_TRUE(UploadEnded());
    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() == 2; }));
    EXPECT_EQ(Parse(relay.requests()[1]).parts.value(2).content, localFrame);
}

TEST_F(UploadTest, AForcedUploadWithoutARelayAddressIsSkipped) {
    App().ReflectorHost.clear();
    App().ReflectorPort = 0;
    service_.uploader.UploadImage(true);
    EXPECT_EQ(framesTaken, 0);
    EXPECT_EQ(App().UploadReady, kTrue);
    EXPECT_FALSE(Timers().tmrWatchdog.isActive());
    EXPECT_EQ(relay.connections().size(), 0u);
}

TEST_F(UploadTest, AFrameOfNoBytesIsNotUploadedAndTheCycleGoesOn) {
    latestFrame.clear();
    service_.uploader.WatchdogTick();
    EXPECT_EQ(framesTaken, 1);
    EXPECT_EQ(App().UploadReady, kTrue);
    EXPECT_TRUE(Timers().tmrWatchdog.isActive());
    // Give a connection every chance to show up.
    latestFrame = MakeJpeg();
    service_.uploader.UploadImage(true);
    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() == 1; }));
    EXPECT_EQ(relay.connections().size(), 1u) << "only the frame with bytes was sent";
}

TEST_F(UploadTest, ARefusingRelayIsLoggedAndTheCycleGoesOn) {
    relay.stop();
    service_.uploader.WatchdogTick();
    EXPECT_EQ(App().UploadReady, kTrue);
    EXPECT_TRUE(Timers().tmrWatchdog.isActive());
    EXPECT_TRUE(logHas(QStringLiteral("ReflectorSocket Error - Connection refused")))
        << log().join('\n').toStdString();
}

TEST_F(UploadTest, ARelayThatClosesAtOnceEndsTheUpload) {
    relay.setCloseAtOnce(true);
    service_.uploader.WatchdogTick();
    ASSERT_TRUE(UploadEnded());
    EXPECT_TRUE(Timers().tmrWatchdog.isActive());
    EXPECT_FALSE(Ui().txtStatus.value().startsWith(QStringLiteral("Uploaded")));
}

TEST_F(UploadTest, ARelayThatTakesTheFrameAndNeverAnswersIsCutOff) {
    service_.uploader.setTimeouts(UploadTimeouts{3000, 300});
    relay.setHandler([](const QByteArray&) { return FakeReply::Silent(); });
    service_.uploader.WatchdogTick();
    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() == 1; }));
    EXPECT_EQ(App().UploadReady, kFalse);

    ASSERT_TRUE(UploadEnded());
    EXPECT_TRUE(Timers().tmrWatchdog.isActive());
    EXPECT_TRUE(
        logHas(QStringLiteral("ReflectorSocket Error - No answer from the relay within 300 ms")));
    EXPECT_TRUE(WaitFor([&] { return relay.connections()[0].closedByStation; }));
}

TEST_F(UploadTest, TheRelaysAnswerSetsTheCaptionAndARefusalIsLogged) {
    struct Case {
        QByteArray body;
        bool uploadedCaption;
        bool logged;
    };
    const QList<Case> cases = {{"Reflector: false (folder full)", true, true},
                               {"Reflector: true", true, false},
                               {"OK false", false, false},
                               {"reflector false", false, false}};
    for (const Case& c : cases) {
        Ui().txtStatus.set(QStringLiteral("Waiting to upload images"));
        answer = HttpAnswer(c.body);
        service_.uploader.UploadImage(true);
        ASSERT_TRUE(
            WaitFor([&] { return relay.connections().size() > 0 && App().UploadReady == kTrue; }));
        EXPECT_EQ(Ui().txtStatus.value().startsWith(QStringLiteral("Uploaded image at: ")),
                  c.uploadedCaption)
            << c.body.constData();
        EXPECT_EQ(log().join('\n').contains(QString::fromLatin1(c.body)), c.logged)
            << c.body.constData();
    }
}

TEST_F(UploadTest, WhileTheStationShutsDownAnEndedUploadLeavesTheWatchdogOff) {
    App().ShutdownRequested = kTrue;
    service_.uploader.WatchdogTick();
    ASSERT_TRUE(UploadEnded());
    EXPECT_EQ(relay.completeRequests(), 1);
    EXPECT_FALSE(Timers().tmrWatchdog.isActive());

    relay.stop();
    service_.uploader.WatchdogTick();
    EXPECT_EQ(App().UploadReady, kTrue);
    EXPECT_TRUE(logHas(QStringLiteral("ReflectorSocket Error - Connection refused")));
    EXPECT_FALSE(Timers().tmrWatchdog.isActive());
}

TEST_F(UploadTest, ClosingTheSocketEndsAnUploadThatWaitsForItsAnswer) {
    relay.setHandler([](const QByteArray&) { return FakeReply::Silent(); });
    service_.uploader.UploadImage(true);
    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() == 1; }));
    ASSERT_EQ(App().UploadReady, kFalse);

    service_.uploader.CloseReflectorSocket();

    EXPECT_EQ(App().UploadReady, kTrue) << "otherwise nothing would ever end it";
    EXPECT_FALSE(Timers().tmrWatchdog.isActive());
    EXPECT_TRUE(WaitFor([&] { return relay.connections()[0].closedByStation; }));
}

TEST_F(UploadTest, AnUploadStartedWhileAnotherConnectsTakesTheSocketOver) {
    // The first upload's connection is never accepted; an event during its connection wait
    // starts a second upload, to the relay, on the same socket.
    HangingListener hanging;
    ASSERT_TRUE(hanging.ok());
    App().ReflectorPort = static_cast<std::int16_t>(hanging.port());
    relay.setHandler([](const QByteArray&) { return FakeReply::Silent(); });
    bool secondRan = false;
    QTimer::singleShot(0, [&] {
        App().ReflectorPort = static_cast<std::int16_t>(relay.port());
        service_.uploader.UploadImage(true);
        secondRan = true;
    });

    service_.uploader.UploadImage(true);

    ASSERT_TRUE(secondRan);
    EXPECT_EQ(framesTaken, 2);
    EXPECT_EQ(App().UploadReady, kFalse) << "the second upload is still open";
    EXPECT_FALSE(Timers().tmrWatchdog.isActive());
    ASSERT_TRUE(WaitFor([&] { return relay.completeRequests() == 1; }));

    relay.answerSilent(FakeReply::Text(kAccepted));
    ASSERT_TRUE(UploadEnded());
    ASSERT_EQ(relay.connections().size(), 1u);
    const QByteArray& received = relay.connections()[0].received;
    EXPECT_EQ(received.count("POST /webcams/Reflector HTTP/1.1\r\n"), 1)
        << "the first upload wrote nothing on the second one's connection";
    EXPECT_TRUE(Parse(received).error.isEmpty());
    EXPECT_TRUE(Timers().tmrWatchdog.isActive());
    EXPECT_TRUE(Ui().txtStatus.value().startsWith(QStringLiteral("Uploaded image at: ")));
}

TEST_F(UploadTest, ClosingTheSocketEndsAnUploadThatWaitsForItsConnection) {
    HangingListener hanging;
    ASSERT_TRUE(hanging.ok());
    App().ReflectorPort = static_cast<std::int16_t>(hanging.port());
    bool closed = false;
    QTimer::singleShot(0, [&] {
        service_.uploader.CloseReflectorSocket();
        closed = true;
    });

    service_.uploader.UploadImage(true);

    ASSERT_TRUE(closed);
    EXPECT_EQ(framesTaken, 1);
    EXPECT_EQ(App().UploadReady, kTrue) << "otherwise nothing would ever end it";
    EXPECT_FALSE(Timers().tmrWatchdog.isActive()) << "the closing side decides about the ticks";
    EXPECT_EQ(relay.connections().size(), 0u);
}

TEST_F(UploadTest, TheMultipartBodyHoldsTheFieldsInOrderWithTheClosingBoundary) {
    const QByteArray jpeg("\xff\xd8 jpeg bytes \r\n--x \xff\xd9", 22);
    const MultipartPost post = BuildFramePost(
        "/webcams/Archive", QStringLiteral(" relay.example "), 8081, QStringLiteral("cam-9"),
        QStringLiteral("BOUND"), QStringLiteral("file1234.jpg"), jpeg);
    const ParsedPost parsed = Parse(post.header + post.body);
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.headerLines[0], QByteArray("POST /webcams/Archive HTTP/1.1"));
    EXPECT_EQ(parsed.headerLines[2], QByteArray("Host: relay.example:8081"));
    EXPECT_EQ(parsed.body, post.body);
    EXPECT_TRUE(post.body.endsWith("\r\n--BOUND--\r\n"));
    EXPECT_EQ(parsed.parts.value(2).content, jpeg);
    EXPECT_FALSE(post.header.contains("Accept"));
}

// The archive: the countdown of its minute tick, the upload at the end of each interval, and the
// intervals that upload nothing.
#include "FakeRelay.h"
#include "ServiceFixture.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "service/Archive.h"

using namespace kestrova;
using namespace kestrova::test;

namespace {

class ArchiveTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        relay.setHandler(
            [](const QByteArray&) { return FakeReply::Text(HttpAnswer("Archive: true")); });
        ASSERT_TRUE(relay.listen());
        App().ReflectorHost = QStringLiteral("127.0.0.1");
        App().ReflectorPort = static_cast<std::int16_t>(relay.port());
        service_.archive.setFrameSource([this](bool) { return frame; });
        service_.archive.setTimeouts(UploadTimeouts{2000, 2000});
    }

    void ticks(int n) {
        for (int i = 0; i < n; ++i)
            service_.archive.tmrArchive_Timer();
    }
    QString countdown() const { return Ui().lblArcUpload.value(); }

    FakeRelay relay;
    QByteArray frame = MakeJpeg();
};

TEST_F(ArchiveTest, CountsDownAWholeIntervalAndUploadsTheFrameAtItsEnd) {
    Ui().cboArchive.set(2); // "Every hour"
    Ui().chkEnableArchive.set(1);
    EXPECT_EQ(countdown(), QStringLiteral("60 minutes"));
    EXPECT_TRUE(Timers().tmrArchive.isActive());
    EXPECT_FALSE(Ui().cboArchive.enabled()) << "the rate cannot change while archiving";
    EXPECT_EQ(App().Settings.ArchiveEnabled, 1);

    ticks(1);
    EXPECT_EQ(countdown(), QStringLiteral("59 minutes"));
    ticks(58);
    EXPECT_EQ(relay.connections().size(), 0u);
    ticks(1);
    ASSERT_EQ(relay.completeRequests(), 1);
    const QByteArray request = relay.requests().first();
    EXPECT_TRUE(request.startsWith("POST /webcams/Archive HTTP/1.1\r\nContent-Type: "
                                   "multipart/form-data; boundary="));
    EXPECT_TRUE(request.contains("\r\nHost: 127.0.0.1:" + QByteArray::number(relay.port())));
    EXPECT_TRUE(request.contains("\r\nCache-Control: no-cache\r\n" + kTestKeyLine + "\r\n\r\n"));
    EXPECT_TRUE(request.contains("name=\"id\"\r\n\r\ncam-01_Test\r\n"));
    EXPECT_TRUE(request.contains(frame));
    EXPECT_EQ(countdown(), QStringLiteral("60 minutes"));
    EXPECT_EQ(App().ArchiveResponse.contains("Archive: true"), true);

    // Switched off, another rate, switched on: the new interval counts from 0.
    ticks(30);
    Ui().chkEnableArchive.set(0);
    EXPECT_FALSE(Timers().tmrArchive.isActive());
    EXPECT_TRUE(Ui().cboArchive.enabled());
    Ui().cboArchive.set(0);
    EXPECT_EQ(App().Archive.ArchiveRateIndex, 0);
    Ui().chkEnableArchive.set(1);
    EXPECT_EQ(countdown(), QStringLiteral("10 minutes"));
    ticks(10);
    EXPECT_EQ(relay.completeRequests(), 2);
}

TEST_F(ArchiveTest, KeepsOnlyTheStartOfAnOverlongAnswer) {
    relay.setHandler([](const QByteArray&) {
        return FakeReply::Text(HttpAnswer(QByteArray(4 * 1024 * 1024, 'x')));
    });
    Ui().cboArchive.set(0); // "Every 10 minutes"
    Ui().chkEnableArchive.set(1);
    ticks(10);
    ASSERT_EQ(relay.completeRequests(), 1);
    EXPECT_TRUE(App().ArchiveResponse.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(App().ArchiveResponse.size(), 64 * 1024);
}

TEST_F(ArchiveTest, IntervalsWithoutAnUploadStillRestartTheCount) {
    Ui().cboArchive.set(0); // every 10 minutes
    Ui().chkEnableArchive.set(1);

    App().CameraChanging = kTrue;
    ticks(10);
    App().CameraChanging = kFalse;
    frame.clear(); // no picture
    ticks(10);
    EXPECT_EQ(relay.connections().size(), 0u);
    EXPECT_EQ(countdown(), QStringLiteral("10 minutes"));

    // The relay is gone: the socket's error is logged, and the next interval uploads normally.
    frame = MakeJpeg(1);
    const quint16 port = relay.port();
    relay.stop();
    ticks(10);
    EXPECT_TRUE(logHas(QStringLiteral(" ArchiveSocket Error:Connection refused")))
        << log().join('\n').toStdString();
    EXPECT_TRUE(logHas(QStringLiteral("Archive Connection failed: Time out")));
    ASSERT_TRUE(relay.listen(port));
    ticks(10);
    EXPECT_EQ(relay.completeRequests(), 1);
}

TEST_F(ArchiveTest, SwitchedOnWithoutARateItUsesTheStoredOneOrHalfAnHour) {
    App().Archive.ArchiveRateIndex = 3;
    Ui().chkEnableArchive.set(1);
    EXPECT_EQ(countdown(), QStringLiteral("180 minutes"));
    Ui().chkEnableArchive.set(0);
    App().Archive.ArchiveRateIndex = 42;
    Ui().chkEnableArchive.set(1);
    EXPECT_EQ(countdown(), QStringLiteral("30 minutes"));
}

} // namespace

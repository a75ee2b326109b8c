// The option synchronisation: the form the relay gets, when it is sent, and its answer.
#include "FakeRelay.h"
#include "ServiceFixture.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "service/Sync.h"
#include "settings/Password.h"

using namespace kestrova;
using namespace kestrova::test;

namespace {

class SyncTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        AppState& s = App();
        s.Settings.ZoomEnabled = 1;
        s.Settings.SnapshotEnabled = 0;
        s.Settings.ChatEnabled = 1;
        s.Settings.PasswordsEnabled = 1;
        s.Settings.PresetsEnabled = 1;
        s.Archive.DisplayArchive = 1;
        s.Chat.ChatRoomName.assign(QStringLiteral("My%20Room"));
        s.Chat.ChatRoomNumber = 0;
        service_.sync.setAnswerHandler([](const QByteArray& piece) {
            return piece.contains("Settings written successfully.");
        });
    }
};

TEST_F(SyncTest, TheFormCarriesEveryOptionInItsOrderAndOnlyAMotorOffersPresets) {
    setPassword(QStringLiteral("  a&b = c+d  "));
    EXPECT_EQ(SettingsSync::SyncBody(),
              QByteArray("id=cam-01_Test&path=webcams&zoom=true&snapshot=false&chat=true"
                         "&secure=true&password=a%26b%20%3D%20c%2Bd&ptz=false&presets=false"
                         "&archive=true&chatID=My%20Room:0"));
    App().IsPtzCamera = kTrue;
    App().Settings.ZoomEnabled = -1; // only 1 is on
    setPassword(QStringLiteral("Plain123"));
    EXPECT_EQ(SettingsSync::SyncBody(),
              QByteArray("id=cam-01_Test&path=webcams&zoom=false&snapshot=false&chat=true"
                         "&secure=true&password=Plain123&ptz=true&presets=true"
                         "&archive=true&chatID=My%20Room:0"));
}

TEST_F(SyncTest, SendsTheSevenHeaderLinesAndTheBodyOnlyWhileTheRelaySideRuns) {
    FakeRelay relay([](const QByteArray&) {
        return FakeReply::Text(HttpAnswer("Settings written successfully."));
    });
    ASSERT_TRUE(relay.listen());
    App().ReflectorHost = QStringLiteral("127.0.0.1");
    App().ReflectorPort = static_cast<std::int16_t>(relay.port());

    service_.sync.Synchronize();
    EXPECT_EQ(relay.connections().size(), 0u) << "nothing while the relay side is off";

    App().ReflectorRunning = kTrue;
    service_.sync.Synchronize();
    ASSERT_EQ(relay.completeRequests(), 1);
    const QByteArray body = SettingsSync::SyncBody();
    EXPECT_EQ(relay.requests().first(),
              "POST /webcams/SyncWebcams HTTP/1.1\r\n"
              "Accept: text/plain, text/html, */*\r\n"
              "Content-Type: application/x-www-form-urlencoded; charset=utf-8\r\n"
              "Host: 127.0.0.1:" +
                  QByteArray::number(relay.port()) +
                  "\r\n"
                  "Content-Length: " +
                  QByteArray::number(body.size()) +
                  "\r\n"
                  "Connection: Close\r\n"
                  "Cache-Control: no-cache\r\n" +
                  kTestKeyLine + "\r\n\r\n" + body);

    // Ticking "Display Archive" synchronises too.
    App().Archive.DisplayArchive = 0;
    Ui().chkDisplayArchive.set(1);
    ASSERT_EQ(relay.completeRequests(), 2);
    EXPECT_TRUE(relay.requests().last().contains("&archive=true&"));

    // A relay that never answers holds nobody for long.
    service_.sync.setTimeouts(SyncTimeouts{2000, 300});
    relay.setHandler([](const QByteArray&) { return FakeReply::Silent(); });
    service_.sync.ReflectorSynchronize();
    EXPECT_TRUE(logHas(QStringLiteral("Settings synchronisation: no answer from the relay")));
}

} // namespace

// The posting tick and what it tells the helper: the listing data, the relay parameter lines;
// and a helper that ends while the station runs, which comes back and is asked again.
#include "support/FakeHelper.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"
#include "posting/HelperProcess.h"
#include "posting/Posting.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace kestrova;

namespace {

class PostingTickTest : public ::testing::Test {
  protected:
    PostingTickTest()
        : helper_([this](const QByteArray& request) { return answer(request); }),
          client_(helper_.port()) {
        folder_ = fixture_.useDataFolder();
        CreateEventLog();
        config_ = fixture_.tempPath() + QStringLiteral("/deployment.conf");
        test::WriteFile(config_, "[service]\nSecondaryHost=listing.example.org:8080\n");
        qputenv("KESTROVA_CONFIG", config_.toLocal8Bit());
        client_.setOnlineCheck([this] { return online_; });
        AppState& s = App();
        s.ReflectorHost = QStringLiteral(" relay.example.org ");
        s.ReflectorPort = 8080;
        s.TypeNumber = 7;
        s.CameraId.assign(QStringLiteral("cam-9"));
        s.Settings.LiveListing = 1;
        s.Archive.DisplayArchive = 1;
        s.Cam.CameraName.assign(QStringLiteral("Garden & Pond"));
    }
    ~PostingTickTest() override { qunsetenv("KESTROVA_CONFIG"); }

    QList<QByteArray> answer(const QByteArray& request) {
        if (request == "check_posting") {
            App().AbortRequested = closeOnCheck_ ? kTrue : kFalse; // the station begins to close
            return {checkOk_ ? "Posting; Check OK" : "Posting; Check FAIL"};
        }
        if (request.startsWith("begin_posting"))
            return {"Posting; Start OK"};
        if (request == "stop_posting")
            return {"Posting; Stop OK"};
        if (request.startsWith("edit_posting"))
            return {"Posting; Edit OK"};
        if (request.startsWith("start_polling"))
            return {confirmPolling_ ? "Polling; Start OK" : "Polling; busy"};
        if (request.startsWith("start_reflector"))
            return {"Reflector; Start OK"};
        return {"Error: unknown request"};
    }

    // The request words the last tick sent.
    QList<QByteArray> tick() {
        const auto before = helper_.requests().size();
        client_.SlowTimerTick();
        return helper_.requestWords().mid(before);
    }

    test::StationFixture fixture_;
    test::FakeHelper helper_;
    PostingClient client_;
    QString folder_;
    QString config_;
    bool online_ = true;
    bool checkOk_ = true;
    bool confirmPolling_ = true;
    bool closeOnCheck_ = false;
};

using Words = QList<QByteArray>;

TEST_F(PostingTickTest, ConnectsOnceThenOnlyChecksThenEditsOnceForTwoChanges) {
    EXPECT_EQ(tick(), (Words{"check_posting", "begin_posting"}));
    EXPECT_EQ(App().PostingActive, kTrue);
    const QStringList log = test::LogMessages(folder_);
    EXPECT_TRUE(log.contains(
        QStringLiteral("Software: Connecting to live posting system using BeaconServer.")));
    EXPECT_TRUE(
        log.contains(QStringLiteral("Connect Posting: Data = ") + PostingClient::ListingData()));

    EXPECT_EQ(tick(), (Words{"check_posting"}));

    // Options of the live listing wait for the tick; two changes make one edit.
    Ui().chkThumb.set(0);
    App().Settings.HideThumbnail = 1;
    App().Settings.PasswordsEnabled = 1;
    EXPECT_EQ(tick(), (Words{"check_posting", "edit_posting"}));
    EXPECT_TRUE(helper_.requests().last().endsWith(PostingClient::ListingData().toUtf8()));
    EXPECT_EQ(tick(), (Words{"check_posting"}));
}

TEST_F(PostingTickTest, AFailedCheckOrGoingOfflineStopsPostingAndItComesBack) {
    tick();
    checkOk_ = false;
    EXPECT_EQ(tick(), (Words{"check_posting", "stop_posting"}));
    EXPECT_EQ(App().PostingActive, kFalse);
    checkOk_ = true;
    EXPECT_EQ(tick(), (Words{"check_posting", "begin_posting"}));

    online_ = false;
    EXPECT_EQ(tick(), (Words{"stop_posting"}));
    EXPECT_EQ(tick(), Words{}) << "offline and not posting: nothing is sent";
    online_ = true;
    EXPECT_EQ(tick(), (Words{"check_posting", "begin_posting"}));

    // A listing on this machine needs no network.
    online_ = false;
    test::WriteFile(config_, "[service]\nSecondaryHost=127.0.0.1:8080\n");
    EXPECT_EQ(tick(), (Words{"check_posting"}));

    // A close that comes while the check waits ends the tick there.
    App().PostingActive = kFalse;
    closeOnCheck_ = true;
    const QString connecting = QStringLiteral("Connect Posting: connecting.");
    const qsizetype connects = test::LogMessages(folder_).count(connecting);
    tick();
    EXPECT_EQ(test::LogMessages(folder_).count(connecting), connects);
}

TEST(OnlineCheckTest, ALocalNetworkCountsButALoopbackAloneDoesNot) {
    using R = QNetworkInformation::Reachability;
    const struct {
        R reachability;
        bool interfaceUp; // an interface other than the loopback
        bool online;
    } cases[] = {{R::Online, false, true},      {R::Site, false, true},
                 {R::Local, true, true},        {R::Local, false, false},
                 {R::Unknown, true, true},      {R::Unknown, false, false},
                 {R::Disconnected, true, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.online, HasNetworkConnection(c.reachability, [&c] { return c.interfaceUp; }))
            << static_cast<int>(c.reachability) << " " << c.interfaceUp;
    }
}

TEST_F(PostingTickTest, TheListingDataHasItsFourteenFields) {
    EXPECT_EQ(PostingClient::ListingData(),
              QStringLiteral("listing.example.org:8080&relay.example.org&8080&&webcams&"
                             "Garden%20%26%20Pond& &7&0&0&cam-9&1&0&1"));
    App().IsPtzCamera = kTrue;
    App().Cam.EmailAddress.assign(QStringLiteral("  me+cam@example.org "));
    App().Cam.CameraName.assign(QString());
    EXPECT_EQ(PostingClient::ListingData(),
              QStringLiteral("listing.example.org:8080&relay.example.org&8080&&webcams&"
                             "&me%2Bcam%40example%2Eorg&7&1&0&cam-9&1&0&1"));
}

TEST_F(PostingTickTest, TheRelayJobsCarryTheRelayTheCameraAndTheListenerPort) {
    App().Settings.PtzPort = 4322;
    EXPECT_EQ(
        PostingClient::RelayParameterLine(QStringLiteral("/webcams/MoveRouterProxy?id=")),
        QStringLiteral("http://relay.example.org:8080/webcams/MoveRouterProxy?id=cam-9;4322"));

    // The retry timer sends the same line until the helper confirms, then stops itself.
    confirmPolling_ = false;
    Timers().tmrMovePoller.start();
    client_.tmrMovePoller_Timer();
    client_.tmrMovePoller_Timer();
    EXPECT_TRUE(Timers().tmrMovePoller.isActive());
    confirmPolling_ = true;
    client_.tmrMovePoller_Timer();
    client_.tmrMovePoller_Timer();
    EXPECT_FALSE(Timers().tmrMovePoller.isActive());
    const QByteArray line =
        "start_polling\nhttp://relay.example.org:8080/webcams/MoveRouterProxy?id=cam-9;4322";
    EXPECT_EQ(helper_.requests(), (QList<QByteArray>{line, line, line}));
}

TEST_F(PostingTickTest, AKilledHelperComesBackIsAskedAgainAndAQuickSecondEndWaitsLonger) {
    client_.setResumeDelay(50);
    const QObject alive;
    QObject::connect(&Timers().tmrMovePoller, &QTimer::timeout, &alive,
                     [this] { client_.tmrMovePoller_Timer(); });
    QObject::connect(&Timers().tmrCheckVisitor, &QTimer::timeout, &alive,
                     [this] { client_.tmrCheckVisitor_Timer(); });
    Timers().tmrMovePoller.setInterval(50);
    Timers().tmrCheckVisitor.setInterval(50);
    Timers().SlowTimer.start(); // start-up has ended
    App().IsPtzCamera = kTrue;
    App().PostingActive = kTrue; // as the helper that is about to end left it
    HelperProcess helper;
    helper.setRestartDelays(HelperRestartDelays{100, 60000, 60000});
    helper.setOnRestarted([this] { client_.ResumeWithNewHelper([] { return true; }); });
    const QString script = QStringLiteral("echo $0 $WORD >> starts; exec sleep 60");
    ASSERT_TRUE(helper.Start({QStringLiteral("/bin/sh"),
                              {QStringLiteral("-c"), script, QStringLiteral("argument")},
                              fixture_.tempPath(),
                              {QStringLiteral("WORD=word"), QStringLiteral("PATH=/bin")}},
                             nullptr));
    const auto started = [this](int n) {
        return test::WaitFor([&] {
            return test::ReadFile(fixture_.tempPath() + "/starts").count("argument word\n") == n;
        });
    };
    ASSERT_TRUE(started(1));
    ::kill(static_cast<pid_t>(helper.pid()), SIGKILL);
    ASSERT_TRUE(started(2));
    // The posting first, then the relay's jobs, each until the new helper has confirmed it.
    EXPECT_TRUE(test::WaitFor([&] {
        const Words words = helper_.requestWords();
        return words.mid(0, 2) == Words{"check_posting", "begin_posting"} &&
               words.contains("start_polling") && words.contains("start_reflector");
    })) << helper_.requestWords().join(' ').toStdString();

    ::kill(static_cast<pid_t>(helper.pid()), SIGKILL); // soon after its start
    ASSERT_TRUE(started(3));
    const QStringList ends =
        test::LogMessages(folder_).filter(QStringLiteral("Posting helper (pid"));
    ASSERT_EQ(ends.size(), 2);
    EXPECT_TRUE(ends[0].contains(QStringLiteral(" was ended by signal 9 (SIGKILL) after ")));
    EXPECT_TRUE(ends[0].endsWith(QStringLiteral("; starting it again in 0.1 s")));
    EXPECT_TRUE(ends[1].endsWith(QStringLiteral("; starting it again in 0.2 s")));

    App().ShutdownRequested = kTrue; // the station's close has sent "shutdown"
    helper.StopWatching();
    ::kill(static_cast<pid_t>(helper.pid()), SIGTERM);
    const auto last = [this] { return test::LogMessages(folder_).last(); };
    ASSERT_TRUE(test::WaitFor([&] { return last().contains(QStringLiteral("(SIGTERM) after")); }));
    EXPECT_FALSE(last().contains(QStringLiteral("starting it again")));
}

} // namespace

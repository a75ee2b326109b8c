#include "app/Station.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"
#include "settings/Settings.h"
#include "support/FakeHelper.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSignalSpy>

#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace kestrova;

namespace {
// A station that launched nothing: the flags the start-up sets first.
void Idle() {
    App().WebRequestDone = kTrue;
    App().UploadReady = kTrue;
}
} // namespace

TEST(CloseCheck, NothingRunningLetsTheCloseGoAhead) {
    test::StationFixture fixture;
    Station station({});
    Idle();
    EXPECT_TRUE(station.CloseCheck());
    EXPECT_FALSE(Timers().InstallFinished.isActive());
}

TEST(CloseCheck, RunningRelayIsDroppedFirstThenTheCloseRetries) {
    test::StationFixture fixture;
    Station station({});
    Idle();
    App().ReflectorRunning = kTrue;
    App().ReflectorActive = kTrue;
    Timers().tmrWatchdog.start();
    Timers().tmrCheckVisitor.start();

    EXPECT_FALSE(station.CloseCheck());
    EXPECT_EQ(App().ReflectorRunning, kFalse);
    EXPECT_EQ(App().ReflectorActive, kFalse);
    EXPECT_FALSE(Timers().tmrWatchdog.isActive());
    EXPECT_FALSE(Timers().tmrCheckVisitor.isActive());
    EXPECT_TRUE(Timers().InstallFinished.isActive());
    EXPECT_TRUE(station.CloseCheck());
}

TEST(CloseCheck, AHelperThatNeverAnsweredCountsAsClosed) {
    test::StationFixture fixture;
    Station station({});
    Idle();
    App().PostingServerRunning = kTrue;
    EXPECT_FALSE(station.CloseCheck());
    EXPECT_EQ(App().ShutdownRequested, kTrue);
    EXPECT_EQ(App().PostingServerRunning, kFalse);
    EXPECT_TRUE(station.CloseCheck());
}

TEST(CloseCheck, TheRelayThenTheHelperWindDownAndShutdownIsSentOnce) {
    test::StationFixture fixture;
    test::FakeHelper helper([](const QByteArray&) { return QList<QByteArray>{"Shutdown;"}; });
    helper.closeAfterAnswer = false;
    qputenv("KESTROVA_POSTING_PORT", QByteArray::number(helper.port()));
    Station station({});
    Idle();
    App().ReflectorRunning = kTrue;
    App().PostingServerRunning = kTrue;

    EXPECT_FALSE(station.CloseCheck()); // the relay
    EXPECT_EQ(App().ReflectorRunning, kFalse);
    EXPECT_FALSE(station.CloseCheck()); // "shutdown"; the helper answers and stays
    EXPECT_FALSE(station.CloseCheck());
    EXPECT_FALSE(station.CloseCheck());
    EXPECT_EQ(helper.requestWords(), QList<QByteArray>{"shutdown"});
    EXPECT_EQ(App().PostingServerRunning, kTrue);
    EXPECT_TRUE(Timers().InstallFinished.isActive());
}

TEST(CloseCheck, UploadInFlightAndWebRequestHoldTheClose) {
    test::StationFixture fixture;
    Station station({});
    Idle();
    App().UploadReady = kFalse;
    EXPECT_FALSE(station.CloseCheck());
    EXPECT_EQ(App().AbortRequested, kFalse);
    App().UploadReady = kTrue;

    App().WebRequestDone = kFalse;
    EXPECT_FALSE(station.CloseCheck());
    EXPECT_EQ(App().AbortRequested, kTrue);
    App().WebRequestDone = kTrue;
    EXPECT_TRUE(station.CloseCheck());
}

TEST(Unload, SavesLoadedRecordsLogsAndTerminates) {
    test::StationFixture fixture;
    const QString folder = fixture.useDataFolder();
    CreateEventLog();
    LoadSettings();
    Station station({});
    QSignalSpy terminated(&station, &Station::terminated);
    Timers().SlowTimer.start();
    station.Unload();

    ASSERT_EQ(terminated.count(), 1);
    EXPECT_EQ(terminated.at(0).at(0).toInt(), 0);
    EXPECT_FALSE(Timers().SlowTimer.isActive());
    for (const char* name : {"settings.dat", "cam.dat", "chat.dat", "archive.dat"})
        EXPECT_GT(QFile(folder + QLatin1Char('/') + QLatin1String(name)).size(), 0) << name;
    const QStringList log = test::LogMessages(folder);
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[log.size() - 2], QStringLiteral("Shutdown: Close application called"));
    EXPECT_EQ(log.last(), QStringLiteral("Shutdown: Ending application"));
}

TEST(Unload, WritesTheFourSettingsFilesOnceInTheirOrder) {
    test::StationFixture fixture;
    const QString folder = fixture.useDataFolder();
    CreateEventLog();
    LoadSettings();
    Station station({});
    // Each file is written whole under another name and renamed into place.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder.toLocal8Bit().constData(), IN_MOVED_TO), 0);
    station.Unload();
    QStringList renamed;
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while ((n = ::read(watch, buffer, sizeof buffer)) > 0) {
        for (char* at = buffer; at < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            renamed << QString::fromLocal8Bit(event->name);
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(renamed, (QStringList{QStringLiteral("settings.dat"), QStringLiteral("cam.dat"),
                                    QStringLiteral("chat.dat"), QStringLiteral("archive.dat")}));
}

TEST(Unload, BeforeTheDataFolderExistsNothingIsWritten) {
    test::StationFixture fixture;
    Station station({});
    QSignalSpy terminated(&station, &Station::terminated);
    station.Unload();
    EXPECT_EQ(terminated.count(), 1);
    EXPECT_FALSE(QFile::exists(fixture.dataHome()));
}

#include "app/Station.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSignalSpy>

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

TEST(Unload, BeforeTheDataFolderExistsNothingIsWritten) {
    test::StationFixture fixture;
    Station station({});
    QSignalSpy terminated(&station, &Station::terminated);
    station.Unload();
    EXPECT_EQ(terminated.count(), 1);
    EXPECT_FALSE(QFile::exists(fixture.dataHome()));
}

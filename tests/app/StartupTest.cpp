#include "app/Station.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "settings/DataFolder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

using namespace kestrova;

namespace {

class Startup : public ::testing::Test {
  protected:
    Startup() : program_(test::MakeProgramFolder(fixture_.tempPath())) {
        fixture_.useProgramFolder(program_.path);
        qputenv("KESTROVA_VIRTUAL_CAMERAS", "Test Camera");
        qputenv("KESTROVA_UNATTENDED", "1"); // the camera chooser takes its default
    }
    ~Startup() override {
        qunsetenv("KESTROVA_VIRTUAL_CAMERAS");
        qunsetenv("KESTROVA_UNATTENDED");
    }

    QString dataFolder() const {
        return fixture_.dataHome() + QStringLiteral("/Kestrova/Webcam_3_0");
    }

    test::StationFixture fixture_;
    test::ProgramFolder program_;
};

} // namespace

TEST_F(Startup, FirstRunCreatesTheDataFolderLogsInOrderAndLaunchesTheHelper) {
    Station station({});
    ASSERT_TRUE(station.Load());

    EXPECT_TRUE(QDir(dataFolder()).exists());
    const QString log =
        QString::fromUtf8(test::ReadFile(dataFolder() + QStringLiteral("/Log.txt")));
    EXPECT_TRUE(log.startsWith(QStringLiteral("Kestrova v-3.0 Log started ")));
    const QStringList lines = test::LogMessages(dataFolder());
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ(lines[0], program_.path + QStringLiteral("/jre/bin/java"));
    EXPECT_EQ(lines[1], program_.path + QStringLiteral("/jre/bin/javaw"));
    EXPECT_EQ(lines[2], program_.path + QStringLiteral("/"));
    EXPECT_EQ(lines[3], program_.path + QStringLiteral("/BeaconServer.jar"));
    EXPECT_EQ(lines[4], QStringLiteral("Launching Software: Retrieving Settings"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Launching Software: Launching Broadcast Wizard")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Launching Software: Launching Kestrova")));
    EXPECT_LT(lines.indexOf(QStringLiteral("Launching Software: Launching Broadcast Wizard")),
              lines.indexOf(QStringLiteral("Launching Software: Launching Kestrova")));

    // The helper is a process of its own: give it a moment to have run.
    // The fixture gives the helper a port of its own (KESTROVA_POSTING_PORT).
    ASSERT_TRUE(QTest::qWaitFor([this] { return program_.javaLaunched(); }, 5000));
    const QString port = qEnvironmentVariable("KESTROVA_POSTING_PORT");
    EXPECT_EQ(QString::fromUtf8(test::ReadFile(program_.javaArgsFile())).trimmed(),
              QStringLiteral("-jar ") + program_.path + QStringLiteral("/BeaconServer.jar ") +
                  port + QStringLiteral(" false"));
    EXPECT_EQ(App().PostingServiceCommand,
              program_.path + QStringLiteral("/jre/bin/java -jar \"") + program_.path +
                  QStringLiteral("/BeaconServer.jar\" ") + port + QStringLiteral(" false"));
    EXPECT_EQ(App().PostingServerRunning, kTrue);
    EXPECT_EQ(App().TypeNumber, 1);
    EXPECT_EQ(Ui().lblVersion.value(), QStringLiteral("v- 3.0.33"));
    EXPECT_FALSE(Ui().cmdDebug.visible());
    EXPECT_EQ(Ui().cboArchive.items.size(), 7);
    EXPECT_EQ(Ui().cboArchive.items.last(), QStringLiteral("Every 24 hours"));
    EXPECT_EQ(Ui().lblLoading.value(), QStringLiteral("Launching Kestrova Software."));
    EXPECT_TRUE(Timers().SlowTimer.isActive());
    EXPECT_FALSE(Timers().InstallFinished.isActive());
    // The chosen camera was stored during start-up.
    EXPECT_EQ(QFile(dataFolder() + QStringLiteral("/settings.dat")).size(), 308);
}

TEST_F(Startup, DebugWordIsTrueOnlyForExactlyDebug) {
    // Without a type number the sequence stops right after the debug switch, without waiting.
    QFile::remove(program_.path + QStringLiteral("/kestrovaType.dat"));
    const std::pair<QStringList, bool> cases[] = {
        {{QStringLiteral("debug")}, true},
        {{QStringLiteral("Debug")}, false},
        {{QStringLiteral("debug"), QStringLiteral("x")}, false},
        {{}, false}};
    for (const auto& [args, debug] : cases) {
        test::StationFixture fresh;
        fresh.useProgramFolder(program_.path);
        qunsetenv("KESTROVA_POSTING_PORT"); // the port as shipped
        Station station(args);
        EXPECT_FALSE(station.Load());
        EXPECT_EQ(station.debugWord(), debug ? QStringLiteral("true") : QStringLiteral("false"))
            << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(Ui().cmdDebug.visible(), debug);
        EXPECT_TRUE(App().PostingServiceCommand.endsWith(debug ? QStringLiteral("11111 true")
                                                               : QStringLiteral("11111 false")));
    }
}

TEST_F(Startup, MissingTypeNumberShowsBothMessagesAndClosesWithoutTouchingSettings) {
    QFile::remove(program_.path + QStringLiteral("/kestrovaType.dat"));
    QDir().mkpath(dataFolder());
    const QByteArray stored("stored settings that must survive");
    test::WriteFile(dataFolder() + QStringLiteral("/settings.dat"), stored);

    Station station({});
    EXPECT_FALSE(station.Load());
    const auto& shown = fixture_.dialogsShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(
        shown[0].text.startsWith(QStringLiteral("Error loading type number from file\r\n")));
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("\r\nNo. = 53\r\nSource = ")));
    EXPECT_EQ(shown[0].icon, dialogs::Icon::Critical);
    EXPECT_EQ(shown[1].text, QStringLiteral("Software will now shut down."));
    EXPECT_EQ(shown[1].icon, dialogs::Icon::None);
    EXPECT_TRUE(Timers().InstallFinished.isActive());
    EXPECT_EQ(station.exitCode(), 1);

    // The close goes through at once and leaves the stored settings as they were.
    EXPECT_TRUE(station.CloseCheck());
    station.Unload();
    EXPECT_FALSE(program_.javaLaunched());
    EXPECT_EQ(test::ReadFile(dataFolder() + QStringLiteral("/settings.dat")), stored);
    const QStringList lines = test::LogMessages(dataFolder());
    EXPECT_EQ(lines.last(), QStringLiteral("Shutdown: Ending application"));
    EXPECT_FALSE(lines.contains(QStringLiteral("Launching Software: Retrieving Settings")));
}

TEST_F(Startup, MissingJavaRuntimeFailsAtThePostingHelperLaunch) {
    QFile::remove(program_.path + QStringLiteral("/jre/bin/java"));
    Station station({});
    EXPECT_FALSE(station.Load());
    const auto& shown = fixture_.dialogsShown();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_TRUE(shown[shown.size() - 2].text.startsWith(
        QStringLiteral("Failed to start posting server\r\n")));
    EXPECT_EQ(shown.back().text, QStringLiteral("Software will now shut down."));
    EXPECT_EQ(App().PostingServerRunning, kFalse);
    EXPECT_TRUE(station.CloseCheck());
}

TEST_F(Startup, UnusableDataFolderFailsBeforeAnythingIsWritten) {
    // The data home is a file, so no folder can be made under it.
    test::WriteFile(fixture_.dataHome(), "not a folder");
    Station station({});
    EXPECT_FALSE(station.Load());
    const auto& shown = fixture_.dialogsShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(shown[0].text.startsWith(QStringLiteral("\r\nCannot create the folder ")));
    EXPECT_TRUE(App().DataFolder.isEmpty());
    station.Unload();
    EXPECT_EQ(test::ReadFile(fixture_.dataHome()), QByteArray("not a folder"));
}

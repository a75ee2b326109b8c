// The station program itself, started as a user's desktop would start it, headless.
#include "CameraTestSupport.h"

#include "settings/Records.h"

#include <QFileInfo>

namespace kestrova::test {
namespace {

TEST(StationProgramTest, AnUnattendedFirstStartConnectsTheVirtualCameraAndClosesOnTerminate) {
    // The program folder's directory refuses the look-up: the run must not register with a
    // relay that happens to run on this machine.
    StationProcess run(QStringLiteral("Logitech QuickCam Orbit"));
    QProcess& station = run.start();
    ASSERT_TRUE(run.waitForLogLine(QStringLiteral("Launching Software: Launching Kestrova"), 60000))
        << run.errors(station).toStdString();

    ASSERT_TRUE(StationProcess::terminate(station, 60000));
    const QString errors = run.errors(station);
    EXPECT_EQ(0, station.exitCode()) << errors.toStdString();
    // No message box was needed.
    EXPECT_FALSE(errors.contains(QStringLiteral("Kestrova: ")));

    const QString dataFolder = run.dataFolder();
    const QStringList log = LogMessages(dataFolder);
    EXPECT_TRUE(
        log.contains(QStringLiteral("Launching Software: Connecting to: Logitech QuickCam Orbit")));
    EXPECT_TRUE(
        log.contains(QStringLiteral("Launching Software: Setting Video Format 320x240 = True")));
    EXPECT_EQ(QStringLiteral("Shutdown: Ending application"), log.last());
    EXPECT_TRUE(run.program().javaLaunched());
    EXPECT_FALSE(QFileInfo::exists(dataFolder + QStringLiteral("/frame.jpg")));
    EXPECT_EQ(
        0,
        DecodeSettingsRecord(ReadFile(dataFolder + QStringLiteral("/settings.dat"))).CameraIndex);
}

} // namespace
} // namespace kestrova::test

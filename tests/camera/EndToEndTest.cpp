// The station program itself, started as a user's desktop would start it, headless.
#include "CameraTestSupport.h"

#include "settings/Records.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace kestrova::test {
namespace {

TEST(StationProgramTest, AnUnattendedFirstStartConnectsTheVirtualCameraAndClosesOnTerminate) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A directory that refuses the look-up: the run must not register with a relay that
    // happens to run on this machine.
    const ProgramFolder program = MakeProgramFolder(dir.path());
    const QString webcam = program.path + QStringLiteral("/webcam");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTROVA_STATION_DIR "/webcam"), webcam));
    const QString dataFolder = dir.path() + QStringLiteral("/data/Kestrova/Webcam_3_0");

    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("KESTROVA_UNATTENDED"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("KESTROVA_VIRTUAL_CAMERAS"),
               QStringLiteral("Logitech QuickCam Orbit"));
    // In a sanitised build the leak checker runs at exit: the station must free what it made.
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) +
                   QStringLiteral("fast_unwind_on_malloc=0"));
    station.setProcessEnvironment(env);
    station.start(webcam, {});
    ASSERT_TRUE(station.waitForStarted(10000));

    const auto started = [&] {
        return LogMessages(dataFolder)
                   .contains(QStringLiteral("Launching Software: Launching Kestrova")) ||
               station.state() == QProcess::NotRunning;
    };
    ASSERT_TRUE(QTest::qWaitFor(started, 60000));
    ASSERT_EQ(QProcess::Running, station.state()) << station.readAllStandardError().toStdString();

    station.terminate();
    ASSERT_TRUE(station.waitForFinished(60000));
    EXPECT_EQ(QProcess::NormalExit, station.exitStatus());
    const QByteArray errors = station.readAllStandardError();
    EXPECT_EQ(0, station.exitCode()) << errors.toStdString();
    // No message box was needed.
    EXPECT_FALSE(errors.contains("Kestrova: "));

    const QStringList log = LogMessages(dataFolder);
    EXPECT_TRUE(
        log.contains(QStringLiteral("Launching Software: Connecting to: Logitech QuickCam Orbit")));
    EXPECT_TRUE(
        log.contains(QStringLiteral("Launching Software: Setting Video Format 320x240 = True")));
    EXPECT_EQ(QStringLiteral("Shutdown: Ending application"), log.last());
    EXPECT_TRUE(program.javaLaunched());
    EXPECT_FALSE(QFileInfo::exists(dataFolder + QStringLiteral("/frame.jpg")));
    EXPECT_EQ(
        0,
        DecodeSettingsRecord(ReadFile(dataFolder + QStringLiteral("/settings.dat"))).CameraIndex);
}

} // namespace
} // namespace kestrova::test

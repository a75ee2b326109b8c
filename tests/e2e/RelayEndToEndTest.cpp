// The whole chain on one machine: the station program with a virtual camera, posting to the
// relay program, which keeps the latest frame of the camera.
#include "RelayProcess.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"
#include "service/ServiceClient.h"
#include "support/TestSupport.h"
#include "support/fake_hidraw.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <csignal>

using namespace kestrova;

namespace {

using test::StationProcess;
using test::WaitFor;

QByteArray HttpGet(quint16 port, const QByteArray& path) {
    return test::HttpExchange(port, path);
}

class RelayEndToEnd : public ::testing::Test {
  protected:
    RelayEndToEnd()
        : run_(QStringLiteral("Logitech QuickCam Orbit")), relay_(run_.tempPath()),
          frame_(relay_.dataFolder() + QStringLiteral("/frames/e2e-camera.jpg")) {}

    bool startRelay() {
        const bool started = relay_.start();
        port_ = relay_.port();
        return started;
    }
    bool startRelayOn(quint16 port) {
        const bool started = relay_.startOn(port);
        port_ = relay_.port();
        return started;
    }
    void stopRelay() { relay_.stop(); }
    QString relayOut() const { return relay_.outputFile(); }
    QString relayErrors() const { return relay_.errors(); }
    QDateTime frameTime() const { return QFileInfo(frame_).lastModified(); }

    StationProcess run_;
    test::RelayProcess relay_;
    quint16 port_ = 0;
    QString frame_;
};

} // namespace

TEST_F(RelayEndToEnd, StationRegistersAndKeepsPostingFramesAcrossARelayRestart) {
    ASSERT_TRUE(startRelay()) << relayErrors().toStdString();
    ASSERT_LE(port_, 32767);
    // The relay is the directory too.
    run_.program().useDirectory(port_, QStringLiteral("e2e-camera"));
    QProcess& station = run_.start();

    ASSERT_TRUE(WaitFor([this] { return QFile::exists(frame_); }, 30000))
        << "no frame reached the relay\n"
        << run_.errors(station).toStdString();
    const QString dataFolder = run_.dataFolder();
    const QStringList log = test::LogMessages(dataFolder);
    EXPECT_TRUE(log.contains(QStringLiteral("User Registered Successfully.")));
    QImage picture;
    ASSERT_TRUE(WaitFor([&] { return picture.load(frame_, "JPEG"); }, 5000));
    EXPECT_EQ(picture.size(), QSize(320, 240));

    // The frames keep coming about once a second.
    const QDateTime first = frameTime();
    EXPECT_TRUE(WaitFor([&] { return frameTime() > first; }, 5000));

    // The relay goes away and comes back: the station goes on posting to it.
    stopRelay();
    ASSERT_EQ(relay_.process().state(), QProcess::NotRunning);
    const QDateTime beforeRestart = frameTime();
    // On the same port: the station keeps the relay's address it was given.
    const quint16 port = port_;
    ASSERT_TRUE(startRelayOn(port)) << relayErrors().toStdString();
    ASSERT_EQ(port_, port);
    EXPECT_TRUE(WaitFor([&] { return frameTime() > beforeRestart; }, 10000))
        << "no frame after the relay restarted";

    ASSERT_TRUE(StationProcess::terminate(station, 20000));
    EXPECT_EQ(station.exitCode(), 0);
    EXPECT_EQ(test::LogMessages(dataFolder).last(), QStringLiteral("Shutdown: Ending application"));
}

TEST_F(RelayEndToEnd, TheHelperKeepsTheListingTheOptionsReachTheRelayAndTheCloseWindsDown) {
    ASSERT_TRUE(startRelay()) << relayErrors().toStdString();
    run_.program().useDirectory(port_, QStringLiteral("e2e-camera"));
    run_.useRealHelper();
    QProcess& station = run_.start();

    ASSERT_TRUE(WaitFor(
        [&] { return HttpGet(port_, "/live/check?id=e2e-camera").endsWith("Listed: true"); },
        20000))
        << run_.errors(station).toStdString();
    EXPECT_TRUE(WaitFor(
        [&] { return test::ReadFile(relayOut()).contains("POST /webcams/SyncWebcams 200"); }, 5000))
        << "the relay stored the station's options";

    ASSERT_TRUE(StationProcess::terminate(station, 30000)) << run_.errors(station).toStdString();
    EXPECT_EQ(station.exitCode(), 0);
    const QString folder = run_.dataFolder();
    const QStringList log = test::LogMessages(folder);
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[log.size() - 2], QStringLiteral("Shutdown: Close application called"));
    EXPECT_EQ(log.last(), QStringLiteral("Shutdown: Ending application"));
    const std::pair<const char*, qint64> files[] = {
        {"settings.dat", 308}, {"cam.dat", 514}, {"chat.dat", 106}, {"archive.dat", 4}};
    for (const auto& [name, size] : files)
        EXPECT_EQ(QFileInfo(folder + QLatin1Char('/') + QLatin1String(name)).size(), size) << name;

    // The helper was told once, took its entry off the listing and has gone.
    EXPECT_TRUE(WaitFor(
        [&] {
            return test::ReadFile(folder + QStringLiteral("/BeaconServer.log"))
                .contains("BeaconServer stopped");
        },
        10000));
    EXPECT_EQ(test::ReadFile(folder + QStringLiteral("/BeaconServer.log"))
                  .count("Shutdown requested by the station"),
              1);
    EXPECT_TRUE(HttpGet(port_, "/live/check?id=e2e-camera").endsWith("Listed: false"));
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, run_.postingPort());
    EXPECT_FALSE(probe.waitForConnected(1000)) << "nobody listens on the helper's port";
}

TEST_F(RelayEndToEnd, AnArchiveFrameArrivesAtTheEndOfItsIntervalAndOutlivesARelayRestart) {
    ASSERT_TRUE(startRelay()) << relayErrors().toStdString();
    test::StationFixture fixture;
    fixture.useDataFolder();
    CreateEventLog();
    ServiceClient service;
    AppState& s = App();
    s.CameraId.assign(QStringLiteral("e2e-camera"));
    s.StationKey = QString::fromLatin1(test::kStationKey);
    s.ReflectorHost = QStringLiteral("127.0.0.1");
    s.ReflectorPort = static_cast<std::int16_t>(port_);
    s.WebRequestDone = kTrue;
    ASSERT_TRUE(service.reflector.RegisterCamera());
    QImage image(320, 240, QImage::Format_RGB888);
    image.fill(Qt::darkCyan);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    service.archive.setFrameSource([&](bool) { return jpeg; });

    Ui().cboArchive.set(0); // every 10 minutes
    Ui().chkEnableArchive.set(1);
    const QDir archive(relay_.dataFolder() + QStringLiteral("/archive/e2e-camera"));
    for (int minute = 1; minute < 10; ++minute)
        service.archive.tmrArchive_Timer();
    EXPECT_TRUE(archive.entryList(QDir::Files).isEmpty());
    service.archive.tmrArchive_Timer();
    ASSERT_EQ(archive.entryList({QStringLiteral("*.jpg")}, QDir::Files).size(), 1)
        << App().ArchiveResponse.toStdString();
    EXPECT_TRUE(App().ArchiveResponse.contains("Archive: true"));

    stopRelay();
    ASSERT_TRUE(startRelayOn(port_)) << relayErrors().toStdString();
    EXPECT_EQ(archive.entryList({QStringLiteral("*.jpg")}, QDir::Files).size(), 1);
}

TEST_F(RelayEndToEnd, AViewersCommandQueuedAtTheRelayReachesTheMotorWithinASecond) {
    ASSERT_TRUE(startRelay()) << relayErrors().toStdString();
    pantilt::test::FakeHidrawTree tree; // the pan-tilt base, its node a file that keeps reports
    tree.AddMotor(0);
    StationProcess run(QStringLiteral("3 Axis (Webcam)"));
    for (const char* root : {"PANTILT_SYSFS_ROOT", "PANTILT_DEV_ROOT"})
        run.setEnvironment(QLatin1String(root), qEnvironmentVariable(root));
    run.program().useDirectory(port_, QStringLiteral("ptz-camera"));
    run.useRealHelper();
    ASSERT_NE(run.useFreeCommandPort(), 0);
    QProcess& station = run.start();
    // The helper polls the relay's move queue once the station has asked it to.
    ASSERT_TRUE(WaitFor(
        [&] {
            return test::ReadFile(run.dataFolder() + QStringLiteral("/BeaconServer.log"))
                .contains("Polling: started");
        },
        30000))
        << run.errors(station).toStdString();

    // A report is 17 bytes: the report ID, then the X position.
    const std::size_t before = tree.Written(0).size();
    QTcpSocket viewer;
    viewer.connectToHost(QHostAddress::LocalHost, port_);
    ASSERT_TRUE(viewer.waitForConnected(2000));
    const QByteArray form = "id=ptz-camera&cmd=pan_left";
    viewer.write("POST /webcams/command HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                 "application/x-www-form-urlencoded\r\nContent-Length: " +
                 QByteArray::number(form.size()) + "\r\n\r\n" + form);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitFor([&] { return tree.Written(0).size() >= before + 17; }, 5000));
    EXPECT_LT(clock.elapsed(), 1000);
    const std::vector<std::uint8_t> written = tree.Written(0);
    EXPECT_EQ(written[written.size() - 17 + 1], 95) << "one step left of the home position 100";

    ASSERT_TRUE(StationProcess::terminate(station, 30000));
    EXPECT_EQ(station.exitCode(), 0);
}

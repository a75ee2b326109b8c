// The whole chain on one machine: the station program with a virtual camera, posting to the
// relay program, which keeps the latest frame of the camera.
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace kestrova;

namespace {

bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (done())
            return true;
        QThread::msleep(50);
    }
    return done();
}

bool Listening(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(200);
}

class RelayEndToEnd : public ::testing::Test {
  protected:
    RelayEndToEnd()
        : program_(test::MakeProgramFolder(dir_.path())), port_(test::ClosedPort()),
          relayData_(dir_.path() + QStringLiteral("/relay")),
          frame_(relayData_ + QStringLiteral("/frames/e2e-camera.jpg")) {
        QFile::copy(QStringLiteral(KESTROVA_STATION_DIR "/webcam"),
                    program_.path + QStringLiteral("/webcam"));
        test::WriteFile(
            program_.path + QStringLiteral("/deployment.conf"),
            QStringLiteral("[service]\nMainHost=127.0.0.1\nMainPort=%1\n"
                           "SupportEmail=help@example.org\n[station]\nCameraId=e2e-camera\n")
                .arg(port_)
                .toUtf8());
    }

    ~RelayEndToEnd() override {
        for (QProcess* p : {&station_, &relay_}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }

    bool startRelay() {
        relay_.start(QStringLiteral(KESTROVA_STATION_DIR "/reflector"),
                     {QStringLiteral("--port"), QString::number(port_), QStringLiteral("--data"),
                      relayData_});
        return relay_.waitForStarted(5000) && WaitFor([this] { return Listening(port_); }, 10000);
    }

    void stopRelay() {
        ::kill(static_cast<pid_t>(relay_.processId()), SIGTERM);
        relay_.waitForFinished(10000);
    }

    QDateTime frameTime() const { return QFileInfo(frame_).lastModified(); }

    QTemporaryDir dir_;
    test::ProgramFolder program_;
    quint16 port_;
    QString relayData_;
    QString frame_;
    QProcess relay_;
    QProcess station_;
};

} // namespace

TEST_F(RelayEndToEnd, StationRegistersAndKeepsPostingFramesAcrossARelayRestart) {
    ASSERT_NE(port_, 0);
    ASSERT_TRUE(startRelay()) << relay_.readAllStandardError().toStdString();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir_.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("KESTROVA_UNATTENDED"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("KESTROVA_VIRTUAL_CAMERAS"),
               QStringLiteral("Logitech QuickCam Orbit"));
    station_.setProcessEnvironment(env);
    station_.start(program_.path + QStringLiteral("/webcam"), {});
    ASSERT_TRUE(station_.waitForStarted(5000));

    ASSERT_TRUE(WaitFor([this] { return QFile::exists(frame_); }, 30000))
        << "no frame reached the relay\n"
        << station_.readAllStandardError().toStdString();
    const QString dataFolder = dir_.path() + QStringLiteral("/data/Kestrova/Webcam_3_0");
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
    QThread::msleep(1500);
    const QDateTime beforeRestart = frameTime();
    ASSERT_TRUE(startRelay());
    EXPECT_TRUE(WaitFor([&] { return frameTime() > beforeRestart; }, 10000))
        << "no frame after the relay restarted";

    ::kill(static_cast<pid_t>(station_.processId()), SIGTERM);
    ASSERT_TRUE(station_.waitForFinished(20000));
    EXPECT_EQ(station_.exitCode(), 0);
    EXPECT_EQ(test::LogMessages(dataFolder).last(), QStringLiteral("Shutdown: Ending application"));
}

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
#include <QRandomGenerator>
#include <QRegularExpression>
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

// The port of the relay's start line ("reflector: listening on HOST port N, data folder ...");
// 0 while it has not come.
quint16 StartLinePort(const QByteArray& output) {
    static const QRegularExpression line(QStringLiteral("listening on \\S+ port (\\d+),"));
    const QRegularExpressionMatch match = line.match(QString::fromUtf8(output));
    return match.hasMatch() ? static_cast<quint16>(match.captured(1).toUInt()) : 0;
}

class RelayEndToEnd : public ::testing::Test {
  protected:
    RelayEndToEnd()
        : program_(test::MakeProgramFolder(dir_.path())),
          relayData_(dir_.path() + QStringLiteral("/relay")),
          frame_(relayData_ + QStringLiteral("/frames/e2e-camera.jpg")) {
        QFile::copy(QStringLiteral(KESTROVA_STATION_DIR "/webcam"),
                    program_.path + QStringLiteral("/webcam"));
        // Nothing reads the children's pipes while the test waits: their output goes to files.
        station_.setStandardOutputFile(stationOut());
        station_.setStandardErrorFile(stationErr());
    }

    ~RelayEndToEnd() override {
        for (QProcess* p : {&station_, &relay_}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }

    QString stationOut() const { return dir_.path() + QStringLiteral("/station.out"); }
    QString stationErr() const { return dir_.path() + QStringLiteral("/station.err"); }
    QString relayOut() const { return dir_.path() + QStringLiteral("/relay-%1.out").arg(starts_); }
    QString relayErr() const { return dir_.path() + QStringLiteral("/relay-%1.err").arg(starts_); }

    // Starts the relay on `port` and waits for its start line; false when it ended instead
    // (exit code 1: it could not listen on the port).
    bool startRelayOn(quint16 port) {
        ++starts_;
        relay_.setStandardOutputFile(relayOut());
        relay_.setStandardErrorFile(relayErr());
        relay_.start(QStringLiteral(KESTROVA_STATION_DIR "/reflector"),
                     {QStringLiteral("--port"), QString::number(port), QStringLiteral("--data"),
                      relayData_});
        if (!relay_.waitForStarted(5000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            // Waits for the relay's end, and meanwhile for its start line.
            if (relay_.waitForFinished(50))
                return false;
            const quint16 listening = StartLinePort(test::ReadFile(relayOut()));
            if (listening != 0) {
                port_ = listening;
                return true;
            }
        }
        return false;
    }

    // Starts the relay on a free port that the station can use (below 32768): a port is
    // drawn, and another one when the relay cannot listen on it.
    bool startRelay() {
        for (int attempt = 0; attempt < 20; ++attempt) {
            const auto port =
                static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 32768));
            if (startRelayOn(port))
                return true;
            if (relay_.exitStatus() != QProcess::NormalExit || relay_.exitCode() != 1)
                return false;
        }
        return false;
    }

    void stopRelay() {
        ::kill(static_cast<pid_t>(relay_.processId()), SIGTERM);
        relay_.waitForFinished(10000);
    }

    QString relayErrors() const { return QString::fromUtf8(test::ReadFile(relayErr())); }
    QString stationErrors() const { return QString::fromUtf8(test::ReadFile(stationErr())); }

    QDateTime frameTime() const { return QFileInfo(frame_).lastModified(); }

    QTemporaryDir dir_;
    test::ProgramFolder program_;
    quint16 port_ = 0;
    int starts_ = 0;
    QString relayData_;
    QString frame_;
    QProcess relay_;
    QProcess station_;
};

} // namespace

TEST_F(RelayEndToEnd, StationRegistersAndKeepsPostingFramesAcrossARelayRestart) {
    ASSERT_TRUE(startRelay()) << relayErrors().toStdString();
    ASSERT_LE(port_, 32767);
    // The relay is the directory too.
    test::WriteFile(
        program_.path + QStringLiteral("/deployment.conf"),
        QStringLiteral("[service]\nMainHost=127.0.0.1\nMainPort=%1\n"
                       "SupportEmail=help@example.org\n[station]\nCameraId=e2e-camera\n")
            .arg(port_)
            .toUtf8());

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
        << stationErrors().toStdString();
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
    ASSERT_EQ(relay_.state(), QProcess::NotRunning);
    const QDateTime beforeRestart = frameTime();
    // On the same port: the station keeps the relay's address it was given.
    const quint16 port = port_;
    ASSERT_TRUE(startRelayOn(port)) << relayErrors().toStdString();
    ASSERT_EQ(port_, port);
    EXPECT_TRUE(WaitFor([&] { return frameTime() > beforeRestart; }, 10000))
        << "no frame after the relay restarted";

    ::kill(static_cast<pid_t>(station_.processId()), SIGTERM);
    ASSERT_TRUE(station_.waitForFinished(20000));
    EXPECT_EQ(station_.exitCode(), 0);
    EXPECT_EQ(test::LogMessages(dataFolder).last(), QStringLiteral("Shutdown: Ending application"));
}

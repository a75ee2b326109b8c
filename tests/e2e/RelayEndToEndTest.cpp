// The whole chain on one machine: the station program with a virtual camera, posting to the
// relay program, which keeps the latest frame of the camera.
#include "support/TestSupport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

using namespace kestrova;

namespace {

using test::StationProcess;
using test::WaitFor;

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
        : run_(QStringLiteral("Logitech QuickCam Orbit")),
          relayData_(run_.tempPath() + QStringLiteral("/relay")),
          frame_(relayData_ + QStringLiteral("/frames/e2e-camera.jpg")) {}

    ~RelayEndToEnd() override {
        if (relay_.state() != QProcess::NotRunning) {
            relay_.kill();
            relay_.waitForFinished(5000);
        }
    }

    QString relayOut() const {
        return run_.tempPath() + QStringLiteral("/relay-%1.out").arg(starts_);
    }
    QString relayErr() const {
        return run_.tempPath() + QStringLiteral("/relay-%1.err").arg(starts_);
    }

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

    QDateTime frameTime() const { return QFileInfo(frame_).lastModified(); }

    StationProcess run_;
    quint16 port_ = 0;
    int starts_ = 0;
    QString relayData_;
    QString frame_;
    QProcess relay_;
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
    ASSERT_EQ(relay_.state(), QProcess::NotRunning);
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

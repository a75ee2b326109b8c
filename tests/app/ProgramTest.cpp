// The station program itself, started as a user would start it.
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace kestrova;

namespace {

class Program : public ::testing::Test {
  protected:
    Program() : folder_(test::MakeProgramFolder(dir_.path())) {}

    QProcess* start(const QStringList& args = {}) {
        auto* process = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
        env.insert(QStringLiteral("KESTROVA_UNATTENDED"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("KESTROVA_VIRTUAL_CAMERAS"), QStringLiteral("Test Camera"));
        process->setProcessEnvironment(env);
        process->start(folder_.path + QStringLiteral("/webcam"), args);
        processes_.emplace_back(process);
        return process;
    }

    ~Program() override {
        for (auto& p : processes_) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }

    QString dataHome() const { return dir_.path() + QStringLiteral("/data"); }
    QString dataFolder() const { return dataHome() + QStringLiteral("/Kestrova/Webcam_3_0"); }

    // Waits (bounded) until the log holds the line.
    bool waitForLogLine(const QString& line, int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            if (test::LogMessages(dataFolder()).contains(line))
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    QTemporaryDir dir_;
    test::ProgramFolder folder_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

} // namespace

TEST_F(Program, MissingTypeNumberEndsTheProgramByItselfAndKeepsSettings) {
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTROVA_STATION_DIR "/webcam"),
                            folder_.path + QStringLiteral("/webcam")));
    QFile::remove(folder_.path + QStringLiteral("/kestrovaType.dat"));
    QDir().mkpath(dataFolder());
    const QByteArray stored(308, '\x01');
    test::WriteFile(dataFolder() + QStringLiteral("/settings.dat"), stored);

    QProcess* station = start();
    ASSERT_TRUE(station->waitForFinished(10000)) << "the station did not end by itself";
    const QString err = QString::fromLocal8Bit(station->readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("Kestrova: Error loading type number from file")))
        << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("Kestrova: Software will now shut down.")));
    EXPECT_NE(station->exitCode(), 0);
    EXPECT_FALSE(folder_.javaLaunched());
    EXPECT_EQ(test::ReadFile(dataFolder() + QStringLiteral("/settings.dat")), stored);

    const QString log =
        QString::fromUtf8(test::ReadFile(dataFolder() + QStringLiteral("/Log.txt")));
    const QStringList lines = log.split(QStringLiteral("\r\n"));
    ASSERT_GE(lines.size(), 6);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Kestrova v-3.0 Log started ")));
    EXPECT_TRUE(lines[1].isEmpty());
    EXPECT_TRUE(lines[2].endsWith(folder_.path + QStringLiteral("/jre/bin/java")));
    EXPECT_TRUE(lines[3].endsWith(folder_.path + QStringLiteral("/jre/bin/javaw")));
    EXPECT_TRUE(lines[4].endsWith(folder_.path + QStringLiteral("/")));
    EXPECT_TRUE(lines[5].endsWith(folder_.path + QStringLiteral("/BeaconServer.jar")));
}

TEST_F(Program, ASecondInstanceIsRefusedAndTermEndsTheFirstCleanly) {
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTROVA_STATION_DIR "/webcam"),
                            folder_.path + QStringLiteral("/webcam")));
    QProcess* first = start();
    ASSERT_TRUE(first->waitForStarted(5000));
    ASSERT_TRUE(waitForLogLine(QStringLiteral("Launching Software: Launching Kestrova"), 20000))
        << first->readAllStandardError().toStdString();
    const QByteArray logBefore = test::ReadFile(dataFolder() + QStringLiteral("/Log.txt"));

    QProcess* second = start();
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_NE(second->exitCode(), 0);
    EXPECT_TRUE(QString::fromLocal8Bit(second->readAllStandardError())
                    .contains(QStringLiteral("Kestrova: Application already running")));
    EXPECT_EQ(first->state(), QProcess::Running);
    // The refused instance wrote no log.
    EXPECT_TRUE(test::ReadFile(dataFolder() + QStringLiteral("/Log.txt")).startsWith(logBefore));

    ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
    ASSERT_TRUE(first->waitForFinished(20000)) << "SIGTERM did not close the station";
    EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first->exitCode(), 0);
    const QStringList lines = test::LogMessages(dataFolder());
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("Shutdown: Close application called"));
    EXPECT_EQ(lines.last(), QStringLiteral("Shutdown: Ending application"));
    EXPECT_EQ(QFile(dataFolder() + QStringLiteral("/chat.dat")).size(), 106);
}

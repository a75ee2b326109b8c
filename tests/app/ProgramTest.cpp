// The station program itself, started as a user would start it.
#include "core/Version.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace kestrova;
using test::StationProcess;

TEST(Program, MissingTypeNumberEndsTheProgramByItselfAndKeepsSettings) {
    StationProcess run;
    QFile::remove(run.program().path + QStringLiteral("/kestrovaType.dat"));
    QDir().mkpath(run.dataFolder());
    const QByteArray stored(308, '\x01');
    test::WriteFile(run.dataFolder() + QStringLiteral("/settings.dat"), stored);

    QProcess& station = run.start();
    ASSERT_TRUE(station.waitForFinished(10000)) << "the station did not end by itself";
    const QString err = run.errors(station);
    EXPECT_TRUE(err.contains(QStringLiteral("Kestrova: Error loading type number from file")))
        << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("Kestrova: Software will now shut down.")));
    EXPECT_NE(station.exitCode(), 0);
    EXPECT_FALSE(run.program().javaLaunched());
    EXPECT_EQ(test::ReadFile(run.dataFolder() + QStringLiteral("/settings.dat")), stored);

    const QString log =
        QString::fromUtf8(test::ReadFile(run.dataFolder() + QStringLiteral("/Log.txt")));
    const QStringList lines = log.split(QStringLiteral("\r\n"));
    const QString& folder = run.program().path;
    ASSERT_GE(lines.size(), 6);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Kestrova v-3.0 Log started ")));
    EXPECT_TRUE(lines[1].isEmpty());
    EXPECT_TRUE(lines[2].endsWith(folder + QStringLiteral("/jre/bin/java")));
    EXPECT_TRUE(lines[3].endsWith(folder + QStringLiteral("/jre/bin/javaw")));
    EXPECT_TRUE(lines[4].endsWith(folder + QStringLiteral("/")));
    EXPECT_TRUE(lines[5].endsWith(folder + QStringLiteral("/BeaconServer.jar")));
}

TEST(Program, VersionIsAnsweredWithoutAWindowOrADataFolder) {
    StationProcess run;
    // No such platform exists: a window would end the program with an error.
    run.setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
    QProcess& station = run.start({QStringLiteral("--version")});
    ASSERT_TRUE(station.waitForFinished(10000));
    EXPECT_EQ(station.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(station.exitCode(), 0) << run.errors(station).toStdString();
    EXPECT_EQ(QString::fromUtf8(test::ReadFile(station.objectName() + QStringLiteral(".out"))),
              QStringLiteral("kestrova-webcam %1.%2.%3\n")
                  .arg(kVersionMajor)
                  .arg(kVersionMinor)
                  .arg(kVersionRevision));
    EXPECT_FALSE(QFileInfo::exists(run.dataHome() + QStringLiteral("/Kestrova")));
}

TEST(Program, ASecondInstanceIsRefusedAndTermEndsTheFirstCleanly) {
    StationProcess run;
    QProcess& first = run.start();
    ASSERT_TRUE(run.waitForLogLine(QStringLiteral("Launching Software: Launching Kestrova"), 20000))
        << run.errors(first).toStdString();
    const QByteArray logBefore = test::ReadFile(run.dataFolder() + QStringLiteral("/Log.txt"));

    QProcess& second = run.start();
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(
        run.errors(second).contains(QStringLiteral("Kestrova: Application already running")));
    EXPECT_EQ(first.state(), QProcess::Running);
    // The refused instance wrote no log.
    EXPECT_TRUE(
        test::ReadFile(run.dataFolder() + QStringLiteral("/Log.txt")).startsWith(logBefore));

    ASSERT_TRUE(StationProcess::terminate(first, 20000)) << "SIGTERM did not close the station";
    EXPECT_EQ(first.exitCode(), 0);
    const QStringList lines = test::LogMessages(run.dataFolder());
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("Shutdown: Close application called"));
    EXPECT_EQ(lines.last(), QStringLiteral("Shutdown: Ending application"));
    EXPECT_EQ(QFile(run.dataFolder() + QStringLiteral("/chat.dat")).size(), 106);
}

#include "core/EventLog.h"
#include "core/AppState.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace kestrova;

TEST(EventLog, HeaderEmptyLineThenStampedLines) {
    test::StationFixture fixture;
    const QString folder = fixture.useDataFolder();
    test::WriteFile(folder + QStringLiteral("/Log.txt"), "old run\r\n");
    CreateEventLog();
    WriteLog(QStringLiteral("first"));
    WriteLog(QString());
    WriteLog(QStringLiteral("two\r\nlines"));

    const QString log = QString::fromUtf8(test::ReadFile(folder + QStringLiteral("/Log.txt")));
    const QStringList lines = log.split(QStringLiteral("\r\n"));
    ASSERT_GE(lines.size(), 6);
    const QRegularExpression header(
        QStringLiteral("^Kestrova v-3\\.0 Log started .+: \\d{1,2}:\\d{2}:\\d{2}.*$"));
    EXPECT_TRUE(header.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].isEmpty());
    const QRegularExpression stamped(QStringLiteral("^\\S.* \\d{1,2}:\\d{2}:\\d{2}.* first$"));
    EXPECT_TRUE(stamped.match(lines[2]).hasMatch()) << lines[2].toStdString();
    // An empty message ends with the blank after the time.
    EXPECT_TRUE(lines[3].endsWith(QLatin1Char(' ')));
    // An embedded line break continues on the next line without a stamp.
    EXPECT_TRUE(lines[4].endsWith(QStringLiteral(" two")));
    EXPECT_EQ(lines[5], QStringLiteral("lines"));
    EXPECT_FALSE(log.contains(QStringLiteral("old run")));
    EXPECT_TRUE(log.endsWith(QStringLiteral("\r\n")));
}

TEST(EventLog, ADeletedLogIsCreatedAgainWithoutHeader) {
    test::StationFixture fixture;
    const QString folder = fixture.useDataFolder();
    CreateEventLog();
    QFile::remove(folder + QStringLiteral("/Log.txt"));
    WriteLog(QStringLiteral("after delete"));
    const QString log = QString::fromUtf8(test::ReadFile(folder + QStringLiteral("/Log.txt")));
    EXPECT_FALSE(log.startsWith(QStringLiteral("Kestrova")));
    EXPECT_TRUE(log.endsWith(QStringLiteral(" after delete\r\n")));
    EXPECT_EQ(log.count(QStringLiteral("\r\n")), 1);
}

TEST(EventLog, NothingIsWrittenBeforeTheDataFolderIsKnown) {
    test::StationFixture fixture;
    ASSERT_TRUE(App().DataFolder.isEmpty());
    WriteLog(QStringLiteral("too early"));
    EXPECT_FALSE(QFile::exists(QStringLiteral("/Log.txt")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("Log.txt")));
}

TEST(EventLog, AnUnwritableLogDoesNotThrowFromWriteLog) {
    test::StationFixture fixture;
    App().DataFolder = fixture.tempPath() + QStringLiteral("/missing/folder");
    EXPECT_NO_THROW(WriteLog(QStringLiteral("lost")));
    EXPECT_THROW(CreateEventLog(), std::exception);
}

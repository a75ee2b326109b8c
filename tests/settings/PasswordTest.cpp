// The viewer password in pass.dat.
#include "settings/Password.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kestrova;

TEST(Password, ReadersSeeTheLastLineTrimmedOrTheDefault) {
    test::StationFixture fixture;
    const QString file = fixture.useDataFolder() + QStringLiteral("/pass.dat");
    EXPECT_EQ(getPassword(), QStringLiteral("vorda")) << "no file";
    const std::pair<QByteArray, const char*> cases[] = {
        {"first\r\nsecond\r\n", "second"},
        {"first\r\nsecond", "second"},
        {"first\r\n\r\n", "vorda"},
        {"  two words  \r\n", "two words"},
        {"   \r\n", "vorda"},
        {"", "vorda"},
    };
    for (const auto& [contents, seen] : cases) {
        test::WriteFile(file, contents);
        EXPECT_EQ(getPassword(), QString::fromUtf8(seen)) << contents.constData();
    }
}

TEST(Password, IsStoredAsTypedForItsOwnerOnlyAndNeverHalfWritten) {
    test::StationFixture fixture;
    const QString folder = fixture.useDataFolder();
    const QString file = folder + QStringLiteral("/pass.dat");
    setPassword(QStringLiteral(" spaced & ünïcode "));
    EXPECT_EQ(test::ReadFile(file), QString(" spaced & ünïcode \r\n").toUtf8());
    EXPECT_EQ(getPassword(), QStringLiteral("spaced & ünïcode"));
    struct stat info {};
    ASSERT_EQ(::stat(file.toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A file that cannot be written: the caller is told (and, as the file is replaced whole or
    // not at all, the old password stays).
    test::WriteFile(folder + QStringLiteral("/not-a-folder"), "x");
    App().DataFolder = folder + QStringLiteral("/not-a-folder");
    EXPECT_THROW(setPassword(QStringLiteral("new")), AppError);
}

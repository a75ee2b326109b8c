#include "settings/TypeNumber.h"
#include "core/AppError.h"
#include "support/TestSupport.h"

#include "settings/DataFolder.h"

#include <gtest/gtest.h>

using namespace kestrova;

namespace {
bool Fails(const QByteArray& contents) {
    try {
        ParseTypeNumber(contents);
        return false;
    } catch (const AppError&) {
        return true;
    }
}
} // namespace

TEST(TypeNumber, OnlyTheLastLineCounts) {
    EXPECT_EQ(ParseTypeNumber("1\r\n2\r\n7"), 7);
    EXPECT_EQ(ParseTypeNumber("1\r\n2\r\n7\r\n"), 7);
    EXPECT_EQ(ParseTypeNumber("1\n2\n7\n"), 7);
    EXPECT_EQ(ParseTypeNumber("42"), 42);
}

TEST(TypeNumber, AnEmptyLastLineIsAnError) {
    EXPECT_TRUE(Fails("7\r\n\r\n"));
    EXPECT_TRUE(Fails("7\n\n"));
    EXPECT_TRUE(Fails(""));
    EXPECT_TRUE(Fails("\r\n"));
    EXPECT_TRUE(Fails("   \r\n"));
}

TEST(TypeNumber, BlanksAroundAndFractionsRoundHalfToEven) {
    EXPECT_EQ(ParseTypeNumber("  12  "), 12);
    EXPECT_EQ(ParseTypeNumber("\t-3 \r\n"), -3);
    EXPECT_EQ(ParseTypeNumber("2.5"), 2);
    EXPECT_EQ(ParseTypeNumber("3.5"), 4);
    EXPECT_EQ(ParseTypeNumber("2.6"), 3);
    EXPECT_EQ(ParseTypeNumber("-2.5"), -2);
}

TEST(TypeNumber, OutOfRangeAndNonNumbersAreErrors) {
    EXPECT_EQ(ParseTypeNumber("32767"), 32767);
    EXPECT_EQ(ParseTypeNumber("-32768"), -32768);
    EXPECT_EQ(ParseTypeNumber("32767.4"), 32767);
    EXPECT_TRUE(Fails("32767.5"));
    EXPECT_TRUE(Fails("32768"));
    EXPECT_TRUE(Fails("-32769"));
    EXPECT_TRUE(Fails("seven"));
    EXPECT_TRUE(Fails("7 8"));
    EXPECT_TRUE(Fails("nan"));
    EXPECT_TRUE(Fails("inf"));
}

TEST(TypeNumber, ReadsTheProgramFoldersFileAndReportsAMissingOne) {
    test::StationFixture fixture;
    const QString folder = fixture.tempPath() + QStringLiteral("/prog");
    QDir().mkpath(folder);
    fixture.useProgramFolder(folder);
    try {
        ReadTypeNumber();
        ADD_FAILURE() << "a missing kestrovaType.dat must be an error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.number(), 53);
        EXPECT_TRUE(e.description().contains(QStringLiteral("kestrovaType.dat")));
    }
    test::WriteFile(folder + QStringLiteral("/kestrovaType.dat"), "3\r\n5\r\n");
    EXPECT_EQ(ReadTypeNumber(), 5);
}

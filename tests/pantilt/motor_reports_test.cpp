#include "motor_reports.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace pantilt {
namespace {

template <std::size_t N> std::vector<std::uint8_t> Bytes(const std::array<std::uint8_t, N>& r) {
    return std::vector<std::uint8_t>(r.begin(), r.end());
}

MotorAxes InitialAxes() {
    return MotorAxes{{{100, 200, 100, 210}, {90, 200, 90, 330}, {55, 200, 55, 215}}};
}

TEST(MotorReportsTest, WorkedExampleLongForm) {
    MotorAxes axes = InitialAxes();
    EXPECT_EQ(Bytes(BuildLongReport(axes, kCommandInitFirst)),
              (std::vector<std::uint8_t>{0x00, 0x64, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7, 0x05, 0xD2,
                                         0x64, 0x05, 0x5A, 0x4A, 0x01, 0xFF, 0x00}));
    EXPECT_EQ(Bytes(BuildLongReport(axes, kCommandInitSecond)),
              (std::vector<std::uint8_t>{0x00, 0x64, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7, 0x05, 0xD2,
                                         0x64, 0x05, 0x5A, 0x4A, 0x01, 0xFE, 0x00}));
    axes[0].position = 150;
    EXPECT_EQ(Bytes(BuildLongReport(axes, kCommandMoveX)),
              (std::vector<std::uint8_t>{0x00, 0x96, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7, 0x05, 0xD2,
                                         0x64, 0x05, 0x5A, 0x4A, 0x01, 0x01, 0x00}));
}

TEST(MotorReportsTest, WorkedExampleShortForm) {
    EXPECT_EQ(Bytes(BuildShortReport(InitialAxes(), kCommandInitFirst)),
              (std::vector<std::uint8_t>{0x00, 0x64, 0x05, 0x5A, 0x00, 0x05, 0x37, 0x05, 0x37, 0xD7,
                                         0xFF, 0x00}));
}

TEST(MotorReportsTest, EveryFieldLandsInItsByte) {
    // Distinct values for every field, so a swapped byte shows.
    const MotorAxes axes{{{0x11, 1000 / 0x12, 0x13, 0x14},
                          {0x2221, 1000 / 0x23, 0x24, 0x2625},
                          {0x31, 1000 / 0x32, 0x33, 0x34}}};
    EXPECT_EQ(Bytes(BuildLongReport(axes, 0x77)),
              (std::vector<std::uint8_t>{0x00, 0x11, 0x21, 0x22, 0x31, 0x32, 0x33, 0x34, 0x12, 0x14,
                                         0x13, 0x23, 0x24, 0x25, 0x26, 0x77, 0x00}));
    EXPECT_EQ(Bytes(BuildShortReport(axes, 0x77)),
              (std::vector<std::uint8_t>{0x00, 0x11, 0x12, 0x21, 0x22, 0x23, 0x31, 0x32, 0x33, 0x34,
                                         0x77, 0x00}));
}

TEST(MotorReportsTest, OneBytePositionsSendTheirLowByteAndYSendsTwo) {
    MotorAxes axes = InitialAxes();
    axes[0].position = 300;
    axes[1].position = 300;
    axes[2].position = -1;
    const LongReport longForm = BuildLongReport(axes, kCommandMoveX);
    EXPECT_EQ(longForm[1], 0x2C);
    EXPECT_EQ(longForm[2], 0x2C);
    EXPECT_EQ(longForm[3], 0x01);
    EXPECT_EQ(longForm[4], 0xFF);
    const ShortReport shortForm = BuildShortReport(axes, kCommandMoveX);
    EXPECT_EQ(shortForm[1], 0x2C);
    EXPECT_EQ(shortForm[3], 0x2C);
    EXPECT_EQ(shortForm[4], 0x01);
    EXPECT_EQ(shortForm[6], 0xFF);

    axes[1].position = -2; // two's complement, low byte first
    axes[1].limit = 0x12345;
    const LongReport negative = BuildLongReport(axes, kCommandMoveY);
    EXPECT_EQ(negative[2], 0xFE);
    EXPECT_EQ(negative[3], 0xFF);
    EXPECT_EQ(negative[13], 0x45);
    EXPECT_EQ(negative[14], 0x23);
}

TEST(MotorReportsTest, SpeedByteIsTheLowByteOfThousandDividedBySpeed) {
    EXPECT_EQ(SpeedByte(200), 5);
    EXPECT_EQ(SpeedByte(3), 0x4D); // 333
    EXPECT_EQ(SpeedByte(1), 0xE8); // 1000
    EXPECT_EQ(SpeedByte(4), 250);
    EXPECT_EQ(SpeedByte(1000), 1);
    EXPECT_EQ(SpeedByte(1001), 0);
    EXPECT_EQ(SpeedByte(INT_MAX), 0);
    // Negative speeds divide like any other: -5 and -1000 as two's complement bytes.
    EXPECT_EQ(SpeedByte(-200), 0xFB);
    EXPECT_EQ(SpeedByte(-1), 0x18);
    EXPECT_EQ(SpeedByte(INT_MIN), 0);
}

TEST(MotorReportsTest, SpeedZeroIsSentAsTheSlowestSpeed) {
    EXPECT_EQ(SpeedByte(0), 0xFF);
    MotorAxes axes = InitialAxes();
    axes[0].speed = 0;
    axes[1].speed = 0;
    axes[2].speed = 0;
    const LongReport longForm = BuildLongReport(axes, kCommandMoveX);
    EXPECT_EQ(longForm[5], 0xFF);
    EXPECT_EQ(longForm[8], 0xFF);
    EXPECT_EQ(longForm[11], 0xFF);
    const ShortReport shortForm = BuildShortReport(axes, kCommandMoveX);
    EXPECT_EQ(shortForm[2], 0xFF);
    EXPECT_EQ(shortForm[5], 0xFF);
    EXPECT_EQ(shortForm[7], 0xFF);
}

TEST(MotorReportsTest, FitReportCutsOrPadsToTheDeviceLength) {
    const std::vector<std::uint8_t> report{0x00, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(FitReport(report.data(), report.size(), 3),
              (std::vector<std::uint8_t>{0x00, 0x01, 0x02}));
    EXPECT_EQ(FitReport(report.data(), report.size(), 5), report);
    EXPECT_EQ(FitReport(report.data(), report.size(), 8),
              (std::vector<std::uint8_t>{0x00, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00}));
}

} // namespace
} // namespace pantilt

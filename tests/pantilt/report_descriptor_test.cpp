#include "report_descriptor.h"

#include "support/descriptor_builder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace pantilt {
namespace {

using test::DescriptorBuilder;
using test::MotorDescriptor;

OutputReportInfo Parse(const std::vector<std::uint8_t>& bytes) {
    return ParseOutputReport(bytes.data(), bytes.size());
}

std::size_t LengthOf(const DescriptorBuilder& builder) {
    const OutputReportInfo info = Parse(builder.Bytes());
    EXPECT_TRUE(info.valid);
    return info.byteLength;
}

TEST(ReportDescriptorTest, UnnumberedReportAddsOneByteForTheReportId) {
    const OutputReportInfo motor = Parse(MotorDescriptor(16));
    EXPECT_TRUE(motor.valid);
    EXPECT_FALSE(motor.usesReportIds);
    EXPECT_EQ(motor.byteLength, 17u);

    EXPECT_EQ(Parse(MotorDescriptor(11)).byteLength, 12u);
    EXPECT_EQ(Parse(MotorDescriptor(1)).byteLength, 2u);
}

TEST(ReportDescriptorTest, SumsAllOutputFieldsAndRoundsUpToWholeBytes) {
    // Keyboard LEDs: five 1-bit fields and three bits of padding make one byte.
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .UsagePage(0x08)
                           .ReportSize(1)
                           .ReportCount(5)
                           .Output()
                           .ReportSize(3)
                           .ReportCount(1)
                           .Output(0x01)),
              2u);
    // Without padding the five bits still take a whole byte.
    EXPECT_EQ(LengthOf(DescriptorBuilder().ReportSize(1).ReportCount(5).Output()), 2u);
    // 12 bits + 16 bits + 7 bits = 35 bits = 5 bytes.
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .ReportSize(12)
                           .ReportCount(1)
                           .Output()
                           .ReportSize(8)
                           .ReportCount(2)
                           .Output()
                           .ReportSize(7)
                           .ReportCount(1)
                           .Output()),
              6u);
}

TEST(ReportDescriptorTest, InputAndFeatureFieldsDoNotCount) {
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .ReportSize(8)
                           .ReportCount(64)
                           .Input()
                           .Feature()
                           .ReportCount(4)
                           .Output()
                           .ReportCount(32)
                           .Input()),
              5u);
}

TEST(ReportDescriptorTest, NumberedReportsGiveTheLongestOutputReportPlusItsId) {
    const OutputReportInfo info = Parse(DescriptorBuilder()
                                            .ReportId(1)
                                            .ReportSize(8)
                                            .ReportCount(4)
                                            .Output()
                                            .ReportId(2)
                                            .ReportCount(9)
                                            .Output()
                                            .ReportId(3)
                                            .ReportCount(40)
                                            .Input()
                                            .Bytes());
    EXPECT_TRUE(info.valid);
    EXPECT_TRUE(info.usesReportIds);
    EXPECT_EQ(info.byteLength, 10u);
}

TEST(ReportDescriptorTest, FieldsOfOneReportAddUpAcrossOtherReports) {
    // Report 1 gets 6 + 6 bytes around report 2's 10 bytes.
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .ReportSize(8)
                           .ReportId(1)
                           .ReportCount(6)
                           .Output()
                           .ReportId(2)
                           .ReportCount(10)
                           .Output()
                           .ReportId(1)
                           .ReportCount(6)
                           .Output()),
              13u);
}

TEST(ReportDescriptorTest, PopRestoresTheGlobalsSavedByPush) {
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .ReportSize(8)
                           .ReportCount(3)
                           .Push()
                           .ReportSize(1)
                           .ReportCount(1)
                           .Output()
                           .Pop()
                           .Output()),
              5u); // 1 bit, then 3 bytes: 25 bits = 4 bytes
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .ReportSize(8)
                           .ReportId(1)
                           .Push()
                           .ReportId(2)
                           .ReportCount(10)
                           .Output()
                           .Pop()
                           .ReportCount(2)
                           .Output()),
              11u); // report 2: 10 bytes, report 1: 2 bytes
}

TEST(ReportDescriptorTest, ReadsOneTwoAndFourByteItemData) {
    EXPECT_EQ(LengthOf(DescriptorBuilder().ReportSize(8).ReportCount(300).Output()), 301u);
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .Sized(DescriptorBuilder::kGlobal, 0x7, 8, 4)
                           .Sized(DescriptorBuilder::kGlobal, 0x9, 2, 4)
                           .Output()),
              3u);
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .Sized(DescriptorBuilder::kGlobal, 0x7, 16, 2)
                           .Sized(DescriptorBuilder::kGlobal, 0x9, 1, 2)
                           .Output()),
              3u);
    // An item without data sets its value to 0.
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .ReportSize(8)
                           .ReportCount(4)
                           .Output()
                           .Sized(DescriptorBuilder::kGlobal, 0x9, 0, 0)
                           .Output()),
              5u);
}

TEST(ReportDescriptorTest, SkipsLongAndReservedItems) {
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .Long(0x10, {0x91, 0x02, 0x75, 0x08}) // looks like items, is data
                           .ReportSize(8)
                           .ReportCount(2)
                           .Sized(DescriptorBuilder::kReserved, 0x9, 0x55, 1)
                           .Output()
                           .Long(0x11, {})),
              3u);
}

TEST(ReportDescriptorTest, DescriptorsWithoutOutputFieldsAreValidButHaveNoOutputReport) {
    for (const auto& bytes : {
             std::vector<std::uint8_t>{},
             DescriptorBuilder().ReportSize(8).ReportCount(8).Input().Bytes(),
             DescriptorBuilder().ReportSize(0).ReportCount(8).Output().Bytes(),
             DescriptorBuilder().ReportSize(8).Output().Bytes(), // no Report Count
         }) {
        const OutputReportInfo info = Parse(bytes);
        EXPECT_TRUE(info.valid);
        EXPECT_EQ(info.byteLength, 0u);
    }
}

TEST(ReportDescriptorTest, AcceptsTheLongestReportHidrawCanWrite) {
    EXPECT_EQ(LengthOf(DescriptorBuilder()
                           .ReportSize(8)
                           .ReportCount(kMaxOutputReportBytes - 1)
                           .Output()
                           .ReportSize(1)
                           .ReportCount(8)
                           .Output()),
              kMaxOutputReportBytes + 1);
}

struct MalformedCase {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

void PrintTo(const MalformedCase& malformed, std::ostream* out) {
    *out << malformed.name;
}

class MalformedDescriptorTest : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedDescriptorTest, IsRejected) {
    const std::vector<std::uint8_t>& bytes = GetParam().bytes;
    EXPECT_FALSE(Parse(bytes).valid);
    // Parsing must stay within the given bytes: ASan checks this on an exact-size copy.
    const std::vector<std::uint8_t> exact(bytes.begin(), bytes.end());
    EXPECT_FALSE(ParseOutputReport(exact.data(), exact.size()).valid);
}

std::vector<std::uint8_t> WithoutLastByte(std::vector<std::uint8_t> bytes) {
    bytes.pop_back();
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedDescriptorTest,
    testing::Values(
        MalformedCase{"TruncatedOneByteItem", WithoutLastByte(MotorDescriptor(16))},
        MalformedCase{"TruncatedFourByteItem", {0x77, 0x08, 0x00}},
        MalformedCase{"TruncatedLongItemHeader", {0xFE, 0x04}},
        MalformedCase{"TruncatedLongItemData", {0xFE, 0x04, 0x10, 0x00, 0x00}},
        MalformedCase{"PopWithoutPush", DescriptorBuilder().Pop().Bytes()},
        MalformedCase{"PushBeyondFourLevels",
                      DescriptorBuilder().Push().Push().Push().Push().Push().Bytes()},
        MalformedCase{
            "ReportIdZero",
            DescriptorBuilder().ReportId(0).ReportSize(8).ReportCount(1).Output().Bytes()},
        MalformedCase{"ReportIdAbove255", DescriptorBuilder()
                                              .Sized(DescriptorBuilder::kGlobal, 0x8, 256, 2)
                                              .ReportSize(8)
                                              .ReportCount(1)
                                              .Output()
                                              .Bytes()},
        MalformedCase{"EndCollectionWithoutCollection",
                      DescriptorBuilder().EndCollection().Bytes()},
        MalformedCase{
            "CollectionNeverEnded",
            DescriptorBuilder().Collection().ReportSize(8).ReportCount(1).Output().Bytes()},
        MalformedCase{
            "OutputBeforeTheFirstReportId",
            DescriptorBuilder().ReportSize(8).ReportCount(2).Output().ReportId(1).Output().Bytes()},
        MalformedCase{"OutputLongerThanHidrawWrites", DescriptorBuilder()
                                                          .ReportSize(8)
                                                          .ReportCount(kMaxOutputReportBytes)
                                                          .Output()
                                                          .ReportSize(1)
                                                          .ReportCount(1)
                                                          .Output()
                                                          .Bytes()},
        MalformedCase{
            "HugeSizeTimesCount",
            DescriptorBuilder().ReportSize(0xFFFFFFFFu).ReportCount(0xFFFFFFFFu).Output().Bytes()},
        MalformedCase{"ManyOutputsAddingUpPastTheLimit",
                      [] {
                          DescriptorBuilder builder;
                          builder.ReportSize(8).ReportCount(6000);
                          for (int i = 0; i < 3; ++i) {
                              builder.Output();
                          }
                          return builder.Bytes();
                      }()}),
    [](const testing::TestParamInfo<MalformedCase>& info) { return info.param.name; });

TEST(ReportDescriptorTest, NullDataIsOnlyAcceptedWhenEmpty) {
    EXPECT_TRUE(ParseOutputReport(nullptr, 0).valid);
    EXPECT_FALSE(ParseOutputReport(nullptr, 4).valid);
}

} // namespace
} // namespace pantilt

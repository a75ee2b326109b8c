#include "motor_context.h"

#include "hidraw_discovery.h"
#include "support/descriptor_builder.h"
#include "support/fake_hidraw.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace pantilt {
namespace {

using test::FakeHidrawTree;
using test::MotorDescriptor;
using Bytes = std::vector<std::uint8_t>;

const Bytes kLongInitFirst{0x00, 0x64, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7, 0x05,
                           0xD2, 0x64, 0x05, 0x5A, 0x4A, 0x01, 0xFF, 0x00};
const Bytes kShortInitFirst{0x00, 0x64, 0x05, 0x5A, 0x00, 0x05, 0x37, 0x05, 0x37, 0xD7, 0xFF, 0x00};

// The reports written to a device node, split at the output report length.
std::vector<Bytes> Reports(const Bytes& written, std::size_t length) {
    std::vector<Bytes> reports;
    for (std::size_t pos = 0; pos < written.size(); pos += length) {
        reports.emplace_back(
            written.begin() + static_cast<std::ptrdiff_t>(pos),
            written.begin() + static_cast<std::ptrdiff_t>(std::min(written.size(), pos + length)));
    }
    return reports;
}

Bytes WithCommand(Bytes report, std::size_t index, std::uint8_t command) {
    report[index] = command;
    return report;
}

class MotorContextTest : public testing::Test {
  protected:
    bool OpenMotor() { return motor.Open(kMotorVendorId, kMotorProductId); }
    std::vector<Bytes> Written(int number = 0) {
        return Reports(tree.Written(number), motor.OutputLength() ? motor.OutputLength() : 17);
    }

    FakeHidrawTree tree;
    MotorContext motor;
};

void ExpectAxis(const MotorContext& motor, Axis axis, AxisState expected) {
    const AxisState& state = motor.axis(axis);
    EXPECT_EQ(state.position, expected.position);
    EXPECT_EQ(state.speed, expected.speed);
    EXPECT_EQ(state.home, expected.home);
    EXPECT_EQ(state.limit, expected.limit);
}

TEST_F(MotorContextTest, StartsWithTheDefaultStateAndNoUnit) {
    EXPECT_FALSE(motor.IsOpen());
    EXPECT_EQ(motor.reportMode(), 2);
    EXPECT_FALSE(motor.UsesShortForm());
    ExpectAxis(motor, Axis::X, {100, 200, 100, 210});
    ExpectAxis(motor, Axis::Y, {90, 200, 90, 330});
    ExpectAxis(motor, Axis::Z, {55, 200, 55, 215});
}

TEST_F(MotorContextTest, WorkedExampleReachesTheDevice) {
    tree.AddMotor(0);
    ASSERT_TRUE(OpenMotor());
    EXPECT_TRUE(motor.Init());
    EXPECT_TRUE(motor.Move(Axis::X, 150, 200));
    EXPECT_EQ(Written(), (std::vector<Bytes>{
                             kLongInitFirst,
                             WithCommand(kLongInitFirst, 15, 0xFE),
                             {0x00, 0x96, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7, 0x05, 0xD2, 0x64,
                              0x05, 0x5A, 0x4A, 0x01, 0x01, 0x00},
                         }));
}

TEST_F(MotorContextTest, ShortFormInitialisationSendsFourReports) {
    tree.AddDevice(0, 0x07B3, 0x0A02, MotorDescriptor(11));
    ASSERT_TRUE(OpenMotor());
    ASSERT_EQ(motor.OutputLength(), 12u);
    motor.setReportMode(1);
    EXPECT_TRUE(motor.Init());
    EXPECT_EQ(Written(), (std::vector<Bytes>{
                             kShortInitFirst,
                             WithCommand(kShortInitFirst, 10, 0x01),
                             WithCommand(kShortInitFirst, 10, 0x02),
                             WithCommand(kShortInitFirst, 10, 0x03),
                         }));
}

TEST_F(MotorContextTest, AnyModeOtherThanOneUsesTheLongForm) {
    tree.AddMotor(0);
    ASSERT_TRUE(OpenMotor());
    for (std::int16_t mode : {0, 2, -1, 257}) {
        motor.setReportMode(mode);
        EXPECT_TRUE(motor.Move(Axis::Z, 55, 200));
    }
    const std::vector<Bytes> written = Written();
    ASSERT_EQ(written.size(), 4u);
    for (const Bytes& report : written) {
        EXPECT_EQ(report, WithCommand(kLongInitFirst, 15, 0x03));
    }
}

TEST_F(MotorContextTest, MovesCarryTheWholeStateAndTheirCommand) {
    tree.AddMotor(0);
    ASSERT_TRUE(OpenMotor());
    EXPECT_TRUE(motor.Move(Axis::Y, 300, 3));
    EXPECT_TRUE(motor.Move(Axis::Z, 80, 100));
    EXPECT_TRUE(motor.Move(Axis::X, 300, 0));
    const std::vector<Bytes> written = Written();
    ASSERT_EQ(written.size(), 3u);

    // A Y move changes only the Y position, Y speed and command bytes.
    Bytes expectedY = kLongInitFirst;
    expectedY[2] = 0x2C;
    expectedY[3] = 0x01;
    expectedY[11] = 0x4D;
    expectedY[15] = 0x02;
    EXPECT_EQ(written[0], expectedY);

    Bytes expectedZ = expectedY;
    expectedZ[4] = 80;
    expectedZ[5] = 10;
    expectedZ[15] = 0x03;
    EXPECT_EQ(written[1], expectedZ);

    Bytes expectedX = expectedZ;
    expectedX[1] = 0x2C;
    expectedX[8] = 0xFF; // speed 0: the slowest speed
    expectedX[15] = 0x01;
    EXPECT_EQ(written[2], expectedX);

    ExpectAxis(motor, Axis::X, {300, 0, 100, 210});
    ExpectAxis(motor, Axis::Y, {300, 3, 90, 330});
    ExpectAxis(motor, Axis::Z, {80, 100, 55, 215});
}

TEST_F(MotorContextTest, WritesHaveTheDevicesOutputReportLength) {
    tree.AddDevice(0, 0x07B3, 0x0A02, MotorDescriptor(7));  // 8 bytes: the report is cut
    tree.AddDevice(1, 0x07B3, 0x0A02, MotorDescriptor(31)); // 32 bytes: zero padded
    ASSERT_TRUE(OpenMotor());
    EXPECT_EQ(motor.OutputLength(), 8u);
    EXPECT_TRUE(motor.Init());
    EXPECT_EQ(tree.Written(0), (Bytes{0x00, 0x64, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7, //
                                      0x00, 0x64, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7}));

    tree.RemoveNode(0);
    ASSERT_TRUE(OpenMotor());
    EXPECT_EQ(motor.OutputLength(), 32u);
    motor.setReportMode(1);
    EXPECT_TRUE(motor.Move(Axis::X, 100, 200));
    Bytes expected = WithCommand(kShortInitFirst, 10, 0x01);
    expected.resize(32, 0x00);
    EXPECT_EQ(tree.Written(1), expected);
}

TEST_F(MotorContextTest, WithoutAUnitMovesFailButKeepTheirValues) {
    EXPECT_FALSE(motor.Move(Axis::X, 150, 200));
    EXPECT_FALSE(motor.Move(Axis::Y, -20, 7));
    ExpectAxis(motor, Axis::X, {150, 200, 100, 210});
    ExpectAxis(motor, Axis::Y, {-20, 7, 90, 330});
    // The long form's initialisation reports success regardless; the short form does not.
    EXPECT_TRUE(motor.Init());
    motor.setReportMode(1);
    EXPECT_FALSE(motor.Init());
}

TEST_F(MotorContextTest, FailedWriteClosesTheUnit) {
    tree.AddMotor(0);
    tree.LinkNode(0, "/dev/full"); // every write fails with ENOSPC
    ASSERT_TRUE(OpenMotor());
    const int open = test::OpenFdCount();
    EXPECT_FALSE(motor.Move(Axis::X, 150, 100));
    EXPECT_FALSE(motor.IsOpen());
    EXPECT_EQ(test::OpenFdCount(), open - 1);
    EXPECT_FALSE(motor.Move(Axis::Y, 120, 50));
    ExpectAxis(motor, Axis::X, {150, 100, 100, 210});
    ExpectAxis(motor, Axis::Y, {120, 50, 90, 330});

    // Opened again, the unit gets the state last commanded.
    tree.ResetNode(0);
    ASSERT_TRUE(OpenMotor());
    EXPECT_TRUE(motor.Init());
    const std::vector<Bytes> written = Written();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0][1], 150);
    EXPECT_EQ(written[0][2], 120);
    EXPECT_EQ(written[0][8], 10);
    EXPECT_EQ(written[0][11], 20);
}

TEST_F(MotorContextTest, LongFormInitialisationSucceedsEvenWhenItsWritesFail) {
    tree.AddMotor(0);
    tree.LinkNode(0, "/dev/full");
    ASSERT_TRUE(OpenMotor());
    EXPECT_TRUE(motor.Init());
    EXPECT_FALSE(motor.IsOpen());
}

TEST_F(MotorContextTest, ShortFormInitialisationStopsAtTheFirstFailedWrite) {
    tree.AddDevice(0, 0x07B3, 0x0A02, MotorDescriptor(11));
    tree.LinkNode(0, "/dev/full");
    ASSERT_TRUE(OpenMotor());
    motor.setReportMode(1);
    EXPECT_FALSE(motor.Init());
    EXPECT_FALSE(motor.IsOpen());
}

// A file size limit makes the second report a short write: only 5 of its 12 bytes fit.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(MotorContextTest, ShortWriteClosesTheUnitAndEndsTheShortInitialisation) {
    tree.AddDevice(0, 0x07B3, 0x0A02, MotorDescriptor(11));
    ASSERT_TRUE(OpenMotor());
    motor.setReportMode(1);
    bool result;
    {
        FileSizeLimit limit(12 + 5);
        result = motor.Init();
    }
    EXPECT_FALSE(result);
    EXPECT_FALSE(motor.IsOpen());
    Bytes expected = kShortInitFirst;
    const Bytes second = WithCommand(kShortInitFirst, 10, 0x01);
    expected.insert(expected.end(), second.begin(), second.begin() + 5);
    EXPECT_EQ(tree.Written(0), expected);
}

TEST_F(MotorContextTest, OpeningAgainClosesTheUnitOpenedBefore) {
    tree.AddMotor(0);
    const int before = test::OpenFdCount();
    ASSERT_TRUE(OpenMotor());
    ASSERT_TRUE(OpenMotor());
    EXPECT_EQ(test::OpenFdCount(), before + 1);

    // A search that finds nothing leaves no unit open.
    EXPECT_FALSE(motor.Open(0x1234, 0x5678));
    EXPECT_FALSE(motor.IsOpen());
    EXPECT_EQ(test::OpenFdCount(), before);
    EXPECT_FALSE(motor.Move(Axis::X, 1, 1));
    EXPECT_TRUE(tree.Written(0).empty());
}

TEST_F(MotorContextTest, CloseReleasesTheUnit) {
    EXPECT_TRUE(motor.Close()); // nothing open
    tree.AddMotor(0);
    const int before = test::OpenFdCount();
    ASSERT_TRUE(OpenMotor());
    EXPECT_TRUE(motor.Close());
    EXPECT_FALSE(motor.IsOpen());
    EXPECT_EQ(test::OpenFdCount(), before);
    EXPECT_FALSE(motor.Move(Axis::X, 1, 1));
    EXPECT_TRUE(tree.Written(0).empty());
}

TEST_F(MotorContextTest, DestroyingTheContextClosesTheUnit) {
    tree.AddMotor(0);
    const int before = test::OpenFdCount();
    {
        MotorContext other;
        ASSERT_TRUE(other.Open(kMotorVendorId, kMotorProductId));
        EXPECT_EQ(test::OpenFdCount(), before + 1);
    }
    EXPECT_EQ(test::OpenFdCount(), before);
}

} // namespace
} // namespace pantilt

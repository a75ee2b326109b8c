// The motion logic against fake video trees and fake devices that record every request.
#include "motion.h"

#include "support/fake_device_ops.h"
#include "support/fake_video_tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace lvcam {
namespace {

using test::AddMotorControls;
using test::AddRelativeControls;
using test::FakeDevice;
using test::FakeDeviceOps;
using test::FakeVideoTree;
using Values = std::vector<ControlValue>;

constexpr std::uint16_t kLogitech = 0x046d;
constexpr std::uint16_t kOrbit = 0x0994;

Values Relative(std::int32_t pan, std::int32_t tilt) {
    return {{V4L2_CID_PAN_RELATIVE, pan}, {V4L2_CID_TILT_RELATIVE, tilt}};
}

bool SameMapping(const uvc_xu_control_mapping& a, const uvc_xu_control_mapping& b) {
    return a.id == b.id && std::memcmp(a.name, b.name, sizeof a.name) == 0 &&
           std::memcmp(a.entity, b.entity, sizeof a.entity) == 0 && a.selector == b.selector &&
           a.size == b.size && a.offset == b.offset && a.v4l2_type == b.v4l2_type &&
           a.data_type == b.data_type && a.menu_info == b.menu_info &&
           a.menu_count == b.menu_count &&
           std::memcmp(a.reserved, b.reserved, sizeof a.reserved) == 0;
}

class MotionTest : public testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(ops.OpenCount(), 0u) << "descriptors left open";
        EXPECT_EQ(ops.badCloses, 0);
    }

    // A camera whose motor controls are mapped already.
    FakeDevice& AddPtzCamera(int number) {
        tree.AddUsbNode(number, "1-" + std::to_string(number), kLogitech, kOrbit);
        FakeDevice& device = ops.Device(tree.NodePath(number));
        AddMotorControls(device);
        return device;
    }
    FakeDevice& AddCamera(int number, std::uint16_t vendor, std::uint16_t product) {
        tree.AddUsbNode(number, "1-" + std::to_string(number), vendor, product);
        return ops.Device(tree.NodePath(number));
    }

    FakeVideoTree tree;
    FakeDeviceOps ops;
    Motion motion{ops};
};

TEST_F(MotionTest, ChoosesTheFirstNodeWithPanAndTiltInNumericOrder) {
    AddPtzCamera(10);
    AddPtzCamera(2);
    AddCamera(1, 0x046d, 0x0825); // a webcam without motors
    ASSERT_TRUE(motion.Connect());
    EXPECT_EQ(motion.node(), tree.NodePath(2));
    EXPECT_TRUE(ops.maps.empty());
    EXPECT_TRUE(ops.sets.empty());
}

struct SkipCase {
    const char* name;
    std::function<void(FakeDevice&)> spoil;
};

class SkippedNodeTest : public MotionTest, public testing::WithParamInterface<SkipCase> {};

TEST_P(SkippedNodeTest, IsPassedOver) {
    FakeDevice& spoilt = AddCamera(0, 0x1234, 0x5678); // never mapped
    AddMotorControls(spoilt);
    GetParam().spoil(spoilt);
    AddPtzCamera(5);
    ASSERT_TRUE(motion.Connect());
    EXPECT_EQ(motion.node(), tree.NodePath(5));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SkippedNodeTest,
    testing::Values(
        SkipCase{"MetadataNode", [](FakeDevice& d) { d.capabilities = V4L2_CAP_META_CAPTURE; }},
        SkipCase{"OutputNode", [](FakeDevice& d) { d.capabilities = V4L2_CAP_VIDEO_OUTPUT; }},
        SkipCase{"NotV4l2", [](FakeDevice& d) { d.capabilitiesError = ENOTTY; }},
        SkipCase{"NotOpenable", [](FakeDevice& d) { d.openError = EACCES; }},
        SkipCase{"NoTilt", [](FakeDevice& d) { d.controls.erase(V4L2_CID_TILT_RELATIVE); }},
        SkipCase{"PanDisabled",
                 [](FakeDevice& d) {
                     d.controls[V4L2_CID_PAN_RELATIVE].flags |= V4L2_CTRL_FLAG_DISABLED;
                 }}),
    [](const testing::TestParamInfo<SkipCase>& info) { return info.param.name; });

TEST_F(MotionTest, NoCameraForgetsTheOneFoundBefore) {
    AddPtzCamera(0);
    ASSERT_TRUE(motion.Connect());
    ops.RemoveDevice(tree.NodePath(0));
    tree.RemoveNode(0);
    EXPECT_FALSE(motion.Connect());
    EXPECT_EQ(motion.node(), "");
    EXPECT_EQ(motion.Move(kRight, 320), kUnreachable);
}

TEST_F(MotionTest, LogitechCameraWithoutControlsGetsThemMapped) {
    AddCamera(0, kLogitech, 0x08cc);
    ASSERT_TRUE(motion.Connect());
    ASSERT_EQ(ops.maps.size(), 4u);
    const auto expected = LogitechMotorMappings();
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(ops.maps[i].path, tree.NodePath(0));
        EXPECT_TRUE(SameMapping(ops.maps[i].mapping, expected[i])) << i;
    }
    EXPECT_EQ(motion.Move(kLeft, 320), kDone);
    EXPECT_EQ(motion.Home(), kDone);
}

struct MapCase {
    const char* name;
    bool mappedBefore; // relative pan and tilt exist, the resets do not
    int error;         // the answer to every mapping request
    bool found;
};

class MappingOutcomeTest : public MotionTest, public testing::WithParamInterface<MapCase> {};

TEST_P(MappingOutcomeTest, DecidesWhetherTheCameraIsUsable) {
    const MapCase& c = GetParam();
    FakeDevice& device = AddCamera(0, kLogitech, kOrbit);
    if (c.mappedBefore) {
        AddRelativeControls(device);
    }
    for (const auto& mapping : LogitechMotorMappings()) {
        device.mapErrors[mapping.id] = c.error;
    }
    EXPECT_EQ(motion.Connect(), c.found);
    EXPECT_EQ(ops.maps.size(), 4u);
    EXPECT_TRUE(ops.sets.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, MappingOutcomeTest,
                         testing::Values(MapCase{"Refused", false, EPERM, false},
                                         MapCase{"NoMotorUnit", false, ENOENT, false},
                                         MapCase{"AlreadyMappedElsewhere", false, EEXIST, false},
                                         MapCase{"RefusedButRelativeThere", true, EPERM, true},
                                         MapCase{"ResetsAlreadyMapped", true, EEXIST, true}),
                         [](const testing::TestParamInfo<MapCase>& info) {
                             return info.param.name;
                         });

TEST_F(MotionTest, RefusedMappingPassesOnToTheNextCamera) {
    AddCamera(0, kLogitech, kOrbit).mapErrors[V4L2_CID_PAN_RELATIVE] = EPERM;
    AddPtzCamera(3);
    ASSERT_TRUE(motion.Connect());
    EXPECT_EQ(motion.node(), tree.NodePath(3));
}

TEST_F(MotionTest, OnlyLogitechMotorCamerasLackingControlsAreMapped) {
    AddCamera(0, 0x046d, 0x0825); // Logitech without motors
    AddCamera(1, 0x1234, kOrbit); // another vendor
    tree.AddNode(2);              // no sysfs entry
    ops.Device(tree.NodePath(2));
    AddRelativeControls(AddCamera(3, 0x1234, 0x5678)); // pan and tilt without resets
    AddPtzCamera(4);
    ASSERT_TRUE(motion.Connect());
    EXPECT_EQ(motion.node(), tree.NodePath(3));
    EXPECT_TRUE(ops.maps.empty());
    EXPECT_EQ(motion.Home(), kNotDone); // no reset controls to home with
    EXPECT_TRUE(ops.sets.empty());
}

TEST_F(MotionTest, HomeResetsPanAndTiltInOneRequest) {
    AddPtzCamera(0);
    ASSERT_TRUE(motion.Connect());
    EXPECT_EQ(motion.Home(), kDone);
    ASSERT_EQ(ops.sets.size(), 1u);
    EXPECT_EQ(ops.sets[0].path, tree.NodePath(0));
    EXPECT_EQ(ops.sets[0].values, (Values{{V4L2_CID_PAN_RESET, 1}, {V4L2_CID_TILT_RESET, 1}}));
}

struct MoveCase {
    const char* name;
    std::int16_t direction;
    std::int32_t amount;
    std::vector<Values> requests;
};

class MoveTest : public MotionTest, public testing::WithParamInterface<MoveCase> {};

TEST_P(MoveTest, SendsSignedRelativeMoves) {
    const MoveCase& c = GetParam();
    AddPtzCamera(0);
    ASSERT_TRUE(motion.Connect());
    EXPECT_EQ(motion.Move(c.direction, c.amount), kDone);
    std::vector<Values> requests;
    for (const auto& request : ops.sets) {
        requests.push_back(request.values);
    }
    EXPECT_EQ(requests, c.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MoveTest,
    testing::Values(
        MoveCase{"Left", kLeft, 320, {Relative(-320, 0)}},
        MoveCase{"Right", kRight, 320, {Relative(320, 0)}},
        MoveCase{"Up", kUp, 192, {Relative(0, 192)}},
        MoveCase{"Down", kDown, 192, {Relative(0, -192)}},
        MoveCase{"NegativeLeftGoesRight", kLeft, -320, {Relative(320, 0)}},
        MoveCase{"NegativeDownGoesUp", kDown, -96, {Relative(0, 96)}}, MoveCase{"Zero", kUp, 0, {}},
        MoveCase{
            "SplitPan", kRight, 10000, {Relative(4480, 0), Relative(4480, 0), Relative(1040, 0)}},
        MoveCase{"MostNegative", kLeft, INT32_MIN, std::vector<Values>(8, Relative(4480, 0))}),
    [](const testing::TestParamInfo<MoveCase>& info) { return info.param.name; });

TEST_F(MotionTest, UnknownDirectionIsNeitherSuccessNorDeviceFailure) {
    for (const std::int16_t direction : {4, -1, 100}) {
        EXPECT_EQ(motion.Move(direction, 320), kNotDone) << direction; // no camera yet
    }
    AddPtzCamera(0);
    ASSERT_TRUE(motion.Connect());
    const std::size_t opens = ops.opened.size();
    EXPECT_EQ(motion.Move(4, 320), kNotDone);
    EXPECT_EQ(ops.opened.size(), opens);
}

TEST_F(MotionTest, RangeWithoutRoomThatWayMovesNothing) {
    AddPtzCamera(0).controls[V4L2_CID_PAN_RELATIVE].maximum = 0;
    ASSERT_TRUE(motion.Connect());
    EXPECT_EQ(motion.Move(kRight, 320), kNotDone);
    EXPECT_EQ(motion.Move(kLeft, 320), kDone);
    EXPECT_EQ(ops.sets.size(), 1u);
}

TEST_F(MotionTest, WithoutACameraEverythingIsUnreachable) {
    AddPtzCamera(0); // there, but Function1 was not called
    EXPECT_EQ(motion.Home(), kUnreachable);
    EXPECT_EQ(motion.Move(kRight, 320), kUnreachable);
    EXPECT_EQ(motion.Move(kRight, 0), kUnreachable);
    EXPECT_TRUE(ops.opened.empty());
}

TEST_F(MotionTest, FailedRequestsAreUnreachable) {
    AddPtzCamera(0).setError = EIO;
    ASSERT_TRUE(motion.Connect());
    EXPECT_EQ(motion.Home(), kUnreachable);
    EXPECT_EQ(motion.Move(kRight, 10000), kUnreachable);
    EXPECT_EQ(ops.sets.size(), 2u); // the move stopped at its first failure
}

TEST_F(MotionTest, ReconnectedCameraIsFoundAgain) {
    AddPtzCamera(0);
    ASSERT_TRUE(motion.Connect());
    // Unplugged and plugged in again: a new node, and the mapping is gone with the old device.
    ops.RemoveDevice(tree.NodePath(0));
    tree.RemoveNode(0);
    AddCamera(1, kLogitech, kOrbit);
    EXPECT_EQ(motion.Move(kUp, 192), kDone);
    EXPECT_EQ(motion.node(), tree.NodePath(1));
    EXPECT_EQ(ops.maps.size(), 4u);
    ASSERT_EQ(ops.sets.size(), 1u);
    EXPECT_EQ(ops.sets[0].path, tree.NodePath(1));
}

TEST_F(MotionTest, LostCameraIsKeptForTheNextCall) {
    FakeDevice& device = AddPtzCamera(0);
    ASSERT_TRUE(motion.Connect());
    device.openError = ENODEV;
    EXPECT_EQ(motion.Move(kUp, 192), kUnreachable);
    EXPECT_EQ(motion.Home(), kUnreachable);
    EXPECT_EQ(motion.node(), tree.NodePath(0));
    device.openError = 0;
    EXPECT_EQ(motion.Move(kUp, 192), kDone);
}

} // namespace
} // namespace lvcam

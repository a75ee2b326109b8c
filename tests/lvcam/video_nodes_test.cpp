#include "motion.h"
#include "video_nodes.h"

#include "support/fake_video_tree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <linux/videodev2.h>

namespace lvcam {
namespace {

using test::FakeVideoTree;

std::vector<std::string> Names(const std::vector<VideoNode>& nodes) {
    std::vector<std::string> names;
    for (const VideoNode& node : nodes) {
        EXPECT_EQ(node.path, DevRoot() + "/" + node.name);
        names.push_back(node.name);
    }
    return names;
}

TEST(VideoNodesTest, ListsVideoNodesInNumericOrderAndNothingElse) {
    FakeVideoTree tree;
    for (int number : {10, 2, 0}) {
        tree.AddNode(number);
    }
    for (const char* other : {"video", "videoX", "video-1", "video1a", "media0", "vbi3"}) {
        tree.AddDevEntry(other);
    }
    EXPECT_EQ(Names(ListVideoNodes(DevRoot())),
              (std::vector<std::string>{"video0", "video2", "video10"}));
    EXPECT_TRUE(ListVideoNodes(DevRoot() + "/nowhere").empty());
}

TEST(UsbIdsTest, ReadsTheIdsOfTheUsbDeviceBehindTheDeviceLink) {
    FakeVideoTree tree;
    tree.AddUsbNode(0, "1-2", 0x046d, 0x0994);
    tree.AddUsbNode(1, "1-2", 0x046d, 0x0994); // the same camera's metadata node
    UsbIds ids;
    for (const char* name : {"video0", "video1"}) {
        ASSERT_TRUE(ReadUsbIds(tree.SysfsRoot(), name, ids)) << name;
        EXPECT_EQ(ids.vendor, 0x046d);
        EXPECT_EQ(ids.product, 0x0994);
    }
    // The device link of the node leads to a USB device itself.
    tree.WriteSysfs("devices/usb1/1-2/1-2:1.0/idVendor", "1234\n");
    tree.WriteSysfs("devices/usb1/1-2/1-2:1.0/idProduct", "abcd\n");
    ASSERT_TRUE(ReadUsbIds(tree.SysfsRoot(), "video0", ids));
    EXPECT_EQ(ids.vendor, 0x1234);
    EXPECT_EQ(ids.product, 0xabcd);
}

TEST(UsbIdsTest, MissingOrGarbledIdsAreNotRead) {
    for (const char* vendor : {"46d\n", "046dd\n", "04 6d\n", "zzzz\n", ""}) {
        FakeVideoTree tree;
        tree.AddUsbNode(0, "1-1", 0x046d, 0x08cc);
        tree.WriteSysfs("devices/usb1/1-1/idVendor", vendor);
        UsbIds ids;
        EXPECT_FALSE(ReadUsbIds(tree.SysfsRoot(), "video0", ids)) << vendor;
    }
    FakeVideoTree tree;
    tree.AddNode(0); // no sysfs entry at all
    UsbIds ids;
    EXPECT_FALSE(ReadUsbIds(tree.SysfsRoot(), "video0", ids));
}

TEST(LogitechTest, OnlyTheMotorCamerasAreRecognised) {
    EXPECT_TRUE(IsLogitechMotorCamera({0x046d, 0x08c2}));
    EXPECT_TRUE(IsLogitechMotorCamera({0x046d, 0x08cc}));
    EXPECT_TRUE(IsLogitechMotorCamera({0x046d, 0x0994}));
    EXPECT_FALSE(IsLogitechMotorCamera({0x046d, 0x0825})); // a C270, no motors
    EXPECT_FALSE(IsLogitechMotorCamera({0x046e, 0x0994}));
    EXPECT_FALSE(IsLogitechMotorCamera({0x0000, 0x08c2}));
}

TEST(LogitechTest, MappingsDescribeTheMotorUnitsControls) {
    const std::uint8_t guid[16] = {0x82, 0x06, 0x61, 0x63, 0x70, 0x50, 0xab, 0x49,
                                   0xb8, 0xcc, 0xb3, 0x85, 0x5e, 0x8d, 0x22, 0x56};
    struct Expected {
        std::uint32_t id;
        const char* name;
        std::uint8_t selector, size, offset;
        std::uint32_t type, dataType;
    };
    const Expected expected[4] = {
        {V4L2_CID_PAN_RELATIVE, "Pan (relative)", 1, 16, 0, V4L2_CTRL_TYPE_INTEGER,
         UVC_CTRL_DATA_TYPE_SIGNED},
        {V4L2_CID_TILT_RELATIVE, "Tilt (relative)", 1, 16, 16, V4L2_CTRL_TYPE_INTEGER,
         UVC_CTRL_DATA_TYPE_SIGNED},
        {V4L2_CID_PAN_RESET, "Pan Reset", 2, 1, 0, V4L2_CTRL_TYPE_BUTTON,
         UVC_CTRL_DATA_TYPE_UNSIGNED},
        {V4L2_CID_TILT_RESET, "Tilt Reset", 2, 1, 1, V4L2_CTRL_TYPE_BUTTON,
         UVC_CTRL_DATA_TYPE_UNSIGNED},
    };
    const auto mappings = LogitechMotorMappings();
    for (std::size_t i = 0; i < 4; ++i) {
        const uvc_xu_control_mapping& m = mappings[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(m.id, expected[i].id);
        EXPECT_STREQ(reinterpret_cast<const char*>(m.name), expected[i].name);
        EXPECT_EQ(std::memcmp(m.entity, guid, sizeof guid), 0);
        EXPECT_EQ(m.selector, expected[i].selector);
        EXPECT_EQ(m.size, expected[i].size);
        EXPECT_EQ(m.offset, expected[i].offset);
        EXPECT_EQ(m.v4l2_type, expected[i].type);
        EXPECT_EQ(m.data_type, expected[i].dataType);
        EXPECT_EQ(m.menu_info, nullptr);
        EXPECT_EQ(m.menu_count, 0u);
    }
}

struct SplitCase {
    const char* name;
    std::int64_t total;
    std::int32_t minimum, maximum;
    std::vector<std::int32_t> moves;
};

class SplitMoveTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitMoveTest, MovesStayWithinTheRange) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(SplitMove(c.total, c.minimum, c.maximum), c.moves);
}

const std::int32_t kMin = INT32_MIN;
const std::int32_t kMax = INT32_MAX;

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitMoveTest,
    testing::Values(SplitCase{"WithinRange", 320, -4480, 4480, {320}},
                    SplitCase{"BeyondTheLimit", 10000, -4480, 4480, {4480, 4480, 1040}},
                    SplitCase{"NegativeBeyondTheLimit", -4000, -1920, 1920, {-1920, -1920, -160}},
                    SplitCase{"AsymmetricDown", -120, -100, 50, {-100, -20}},
                    SplitCase{"Zero", 0, -4480, 4480, {}}, SplitCase{"NoRoomUp", 5, -10, 0, {}},
                    SplitCase{"AtMostEightMoves", kMax, -1, 1, std::vector<std::int32_t>(8, 1)},
                    SplitCase{"WidestNegative", kMin, kMin, kMax, {kMin}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

} // namespace
} // namespace lvcam

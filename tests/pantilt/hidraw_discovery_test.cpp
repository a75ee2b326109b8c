#include "hidraw_discovery.h"

#include "support/descriptor_builder.h"
#include "support/fake_hidraw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace pantilt {
namespace {

using test::DescriptorBuilder;
using test::FakeHidrawTree;
using test::MotorDescriptor;

// Closes what a successful search left open.
struct Found {
    OpenedDevice device;
    bool matched = false;
    ~Found() {
        if (device.fd >= 0) {
            ::close(device.fd);
        }
    }
};

void Search(Found& found, std::uint16_t vendor = kMotorVendorId,
            std::uint16_t product = kMotorProductId) {
    found.matched = FindMotorDevice(vendor, product, found.device);
}

TEST(ParseHidIdTest, ReadsBusVendorAndProductFromTheUevent) {
    HidIds ids;
    ASSERT_TRUE(ParseHidId("DRIVER=hid-generic\nHID_ID=0003:000007B3:00000A02\nHID_NAME=x\n", ids));
    EXPECT_EQ(ids.bus, 0x0003);
    EXPECT_EQ(ids.vendor, 0x07B3);
    EXPECT_EQ(ids.product, 0x0A02);

    ASSERT_TRUE(ParseHidId("HID_ID=5:7b3:a02", ids)); // last line, no newline, short fields
    EXPECT_EQ(ids.vendor, 0x07B3);
    EXPECT_EQ(ids.product, 0x0A02);

    ASSERT_TRUE(ParseHidId("HID_ID=0003:000107B3:FFFF0A02\n", ids)); // low 16 bits kept
    EXPECT_EQ(ids.vendor, 0x07B3);
    EXPECT_EQ(ids.product, 0x0A02);
}

TEST(ParseHidIdTest, RejectsMissingOrGarbledLines) {
    HidIds ids;
    ids.vendor = 0x1234;
    for (const char* text :
         {"", "DRIVER=hid-generic\n", "HID_ID=0003:000007B3\n", "HID_ID=0003:000007B3:\n",
          "HID_ID=0003:0000G7B3:00000A02\n", "HID_ID=0003:1000007B3:00000A02\n",
          "XHID_ID=0003:07B3:0A02\n", "HID_ID=0003:07B3:0A02:1\n", "HID_ID=0003:07B3:0A02 \n"}) {
        EXPECT_FALSE(ParseHidId(text, ids)) << text;
    }
    EXPECT_EQ(ids.vendor, 0x1234);
}

TEST(HidrawDiscoveryTest, ListsHidrawEntriesInNumericOrderAndNothingElse) {
    FakeHidrawTree tree;
    for (int number : {10, 2, 0, 1}) {
        tree.AddMotor(number);
    }
    tree.AddClassEntry("hidraw");
    tree.AddClassEntry("hidrawX");
    tree.AddClassEntry("hidraw-1");
    tree.AddClassEntry("input3");
    EXPECT_EQ(ListHidrawNames(tree.Root() + "/sys/class/hidraw"),
              (std::vector<std::string>{"hidraw0", "hidraw1", "hidraw2", "hidraw10"}));
    EXPECT_TRUE(ListHidrawNames(tree.Root() + "/nowhere").empty());
}

TEST(HidrawDiscoveryTest, RootsComeFromTheEnvironmentAtEachSearch) {
    Found found;
    {
        FakeHidrawTree empty;
        Search(found);
        EXPECT_FALSE(found.matched);
        FakeHidrawTree withMotor; // replaces the variables set by the first tree
        withMotor.AddMotor(0);
        Search(found);
        ASSERT_TRUE(found.matched);
        EXPECT_EQ(found.device.nodePath, withMotor.NodePath(0));
    }
    ::setenv("PANTILT_SYSFS_ROOT", "", 1);
    ::setenv("PANTILT_DEV_ROOT", "", 1);
    EXPECT_EQ(SysfsRoot(), "/sys");
    EXPECT_EQ(DevRoot(), "/dev");
    ::unsetenv("PANTILT_SYSFS_ROOT");
    ::unsetenv("PANTILT_DEV_ROOT");
    EXPECT_EQ(SysfsRoot(), "/sys");
    EXPECT_EQ(DevRoot(), "/dev");
}

TEST(HidrawDiscoveryTest, FirstMatchingUnitInNumericOrderWins) {
    FakeHidrawTree tree;
    tree.AddMotor(10);
    tree.AddMotor(2);
    const int before = test::OpenFdCount();
    Found found;
    Search(found);
    ASSERT_TRUE(found.matched);
    EXPECT_EQ(found.device.nodePath, tree.NodePath(2));
    EXPECT_EQ(found.device.outputLength, 17u);
    // Only the winner is open; the second unit was never opened.
    EXPECT_EQ(test::OpenFdCount(), before + 1);
    const std::vector<std::string> targets = test::OpenFdTargets();
    EXPECT_EQ(std::count(targets.begin(), targets.end(), tree.NodePath(2)), 1);
    EXPECT_EQ(std::count(targets.begin(), targets.end(), tree.NodePath(10)), 0);
    // The descriptor opened is the unit's node, read-write.
    ASSERT_EQ(::write(found.device.fd, "ab", 2), 2);
    EXPECT_EQ(tree.Written(2).size(), 2u);
}

TEST(HidrawDiscoveryTest, UnitAfterDevicesThatDoNotMatchIsFoundAndNothingElseStaysOpen) {
    FakeHidrawTree tree;
    tree.AddDevice(0, 0x046D, 0xC52B, MotorDescriptor(16)); // another vendor
    tree.AddDevice(1, 0x07B3, 0x0A03, MotorDescriptor(16)); // another product
    tree.AddDevice(2, 0x0A02, 0x07B3, MotorDescriptor(16)); // IDs swapped
    tree.AddMotor(3);
    tree.RemoveUevent(3);
    tree.AddMotor(4);
    tree.SetUevent(4, "HID_ID=0003:07B3\n");
    tree.AddMotor(5);
    tree.RemoveDescriptor(5);
    tree.AddMotor(6);
    tree.SetDescriptor(6, {0x75, 0x08, 0x95}); // cut off inside an item
    tree.AddMotor(7);
    tree.SetDescriptor(7, DescriptorBuilder().ReportSize(8).ReportCount(8).Input().Bytes());
    tree.AddMotor(8);
    tree.RemoveNode(8); // cannot be opened
    tree.AddMotor(9);
    tree.AddMotor(11);

    const int before = test::OpenFdCount();
    Found found;
    Search(found);
    ASSERT_TRUE(found.matched);
    EXPECT_EQ(found.device.nodePath, tree.NodePath(9));
    EXPECT_EQ(test::OpenFdCount(), before + 1);
    const std::vector<std::string> targets = test::OpenFdTargets();
    for (int number : {0, 1, 2, 3, 4, 5, 6, 7, 11}) {
        EXPECT_EQ(std::count(targets.begin(), targets.end(), tree.NodePath(number)), 0) << number;
    }
}

TEST(HidrawDiscoveryTest, NoMatchLeavesNothingOpen) {
    FakeHidrawTree tree;
    tree.AddDevice(0, 0x046D, 0xC52B, MotorDescriptor(16));
    tree.AddMotor(1);
    tree.SetDescriptor(1, {0xFF, 0x00});
    const int before = test::OpenFdCount();
    Found found;
    Search(found);
    EXPECT_FALSE(found.matched);
    EXPECT_EQ(found.device.fd, -1);
    EXPECT_EQ(test::OpenFdCount(), before);

    Search(found, 0x046D, 0xC52B); // the other device is found by its own IDs
    EXPECT_TRUE(found.matched);
    EXPECT_EQ(found.device.nodePath, tree.NodePath(0));
}

TEST(HidrawDiscoveryTest, OutputLengthComesFromTheUnitsDescriptor) {
    FakeHidrawTree tree;
    tree.AddDevice(0, 0x07B3, 0x0A02, MotorDescriptor(63));
    Found found;
    Search(found);
    ASSERT_TRUE(found.matched);
    EXPECT_EQ(found.device.outputLength, 64u);
}

TEST(HidrawDiscoveryTest, ListReportsWhatTheTreeSaysAboutEachDevice) {
    FakeHidrawTree tree;
    tree.AddDevice(0, 0x046D, 0xC52B, MotorDescriptor(7));
    tree.AddMotor(1);
    tree.RemoveDescriptor(1);
    tree.AddMotor(2);
    tree.SetDescriptor(2, {0xC0});
    tree.AddMotor(3);
    tree.SetDescriptor(3, {});
    tree.AddMotor(4);
    tree.RemoveUevent(4);

    const std::vector<HidrawDevice> devices = ListHidrawDevices();
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0].name, "hidraw0");
    EXPECT_EQ(devices[0].nodePath, tree.NodePath(0));
    EXPECT_TRUE(devices[0].idsKnown);
    EXPECT_EQ(devices[0].ids.vendor, 0x046D);
    EXPECT_EQ(devices[0].descriptor, DescriptorState::Usable);
    EXPECT_EQ(devices[0].outputLength, 8u);
    EXPECT_EQ(devices[1].descriptor, DescriptorState::Unreadable);
    EXPECT_EQ(devices[2].descriptor, DescriptorState::Malformed);
    EXPECT_EQ(devices[3].descriptor, DescriptorState::NoOutputReport);
    EXPECT_FALSE(devices[4].idsKnown);
    EXPECT_EQ(devices[4].descriptor, DescriptorState::Usable);
}

} // namespace
} // namespace pantilt

// Finding the motor unit among the hidraw devices.
//
// Every /sys/class/hidraw/hidrawN entry is examined in the numeric order of N (hidraw2 before
// hidraw10). Its device/uevent gives the IDs (line HID_ID=bus:vendor:product, hexadecimal) and
// its device/report_descriptor the output report length. Only a device whose IDs match and whose
// descriptor declares an output report is opened, as /dev/hidrawN, read-write. The first device
// that opens wins. PANTILT_SYSFS_ROOT and PANTILT_DEV_ROOT, when set and not empty, replace /sys
// and /dev; they are read at each search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pantilt {

constexpr std::uint16_t kMotorVendorId = 0x07B3;
constexpr std::uint16_t kMotorProductId = 0x0A02;

std::string SysfsRoot();
std::string DevRoot();

// Names of the hidrawN entries of classDir, in the numeric order of N. Other names are left out.
std::vector<std::string> ListHidrawNames(const std::string& classDir);

struct HidIds {
    std::uint16_t bus = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// Reads the HID_ID line of a uevent text. Each field is 1 to 8 hexadecimal digits; the low 16
// bits are kept. False when the line is missing or malformed.
bool ParseHidId(const std::string& uevent, HidIds& ids);

enum class DescriptorState {
    Unreadable, // missing or not readable
    Malformed,
    NoOutputReport,
    Usable,
};

// What the sysfs tree says about one hidraw device; nothing is opened.
struct HidrawDevice {
    std::string name;     // hidrawN
    std::string nodePath; // <dev root>/hidrawN
    bool idsKnown = false;
    HidIds ids;
    DescriptorState descriptor = DescriptorState::Unreadable;
    std::size_t outputLength = 0; // bytes per write, report ID byte included
};

// Every hidraw device of the current roots, in search order.
std::vector<HidrawDevice> ListHidrawDevices();

struct OpenedDevice {
    int fd = -1;
    std::size_t outputLength = 0;
    std::string nodePath;
};

// Opens the first device whose vendor and product IDs equal the given ones. Returns true and
// fills opened on a match; otherwise false, with nothing left open.
bool FindMotorDevice(std::uint16_t vendor, std::uint16_t product, OpenedDevice& opened);

} // namespace pantilt

#include "video_nodes.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <linux/videodev2.h>
#include <utility>

namespace lvcam {

namespace {

// The motor unit's GUID 63610682-5070-49ab-b8cc-b3855e8d2256 as its descriptor carries it: the
// first three fields little-endian.
constexpr std::uint8_t kLogitechMotorUnit[16] = {0x82, 0x06, 0x61, 0x63, 0x70, 0x50, 0xab, 0x49,
                                                 0xb8, 0xcc, 0xb3, 0x85, 0x5e, 0x8d, 0x22, 0x56};
// Pan and tilt relative, two signed 16-bit values (pan first).
constexpr std::uint8_t kSelectorPanTiltRelative = 1;
// Pan reset (bit 0) and tilt reset (bit 1).
constexpr std::uint8_t kSelectorPanTiltReset = 2;

constexpr std::uint16_t kLogitechVendor = 0x046d;
constexpr std::uint16_t kLogitechMotorProducts[] = {0x08c2, 0x08cc, 0x0994};

std::string RootFromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    return value;
}

// The number of a name "videoN", or -1 for any other name.
long VideoNumber(const std::string& name) {
    static const std::string prefix = "video";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        return -1;
    }
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    return std::stol(digits);
}

// A sysfs ID attribute: four hexadecimal digits and a line break.
bool ReadId(const std::filesystem::path& path, std::uint16_t& id) {
    std::ifstream in(path);
    std::string text;
    if (!std::getline(in, text) || text.size() != 4 ||
        !std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        return false;
    }
    id = static_cast<std::uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
    return true;
}

bool ReadIdsIn(const std::filesystem::path& folder, UsbIds& ids) {
    UsbIds read;
    if (!ReadId(folder / "idVendor", read.vendor) || !ReadId(folder / "idProduct", read.product)) {
        return false;
    }
    ids = read;
    return true;
}

uvc_xu_control_mapping MotorMapping(std::uint32_t id, const char* name, std::uint8_t selector,
                                    std::uint8_t size, std::uint8_t offset, std::uint32_t type,
                                    std::uint32_t dataType) {
    uvc_xu_control_mapping mapping{};
    mapping.id = id;
    std::strncpy(reinterpret_cast<char*>(mapping.name), name, sizeof mapping.name - 1);
    std::memcpy(mapping.entity, kLogitechMotorUnit, sizeof mapping.entity);
    mapping.selector = selector;
    mapping.size = size;
    mapping.offset = offset;
    mapping.v4l2_type = type;
    mapping.data_type = dataType;
    return mapping;
}

} // namespace

std::string DevRoot() {
    return RootFromEnvironment("LVCAM_DEV_ROOT", "/dev");
}

std::string SysfsRoot() {
    return RootFromEnvironment("LVCAM_SYSFS_ROOT", "/sys");
}

std::vector<VideoNode> ListVideoNodes(const std::string& devRoot) {
    std::vector<std::pair<long, std::string>> numbered;
    if (DIR* dir = ::opendir(devRoot.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            const long number = VideoNumber(name);
            if (number >= 0) {
                numbered.emplace_back(number, std::move(name));
            }
        }
        ::closedir(dir);
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<VideoNode> nodes;
    nodes.reserve(numbered.size());
    for (auto& entry : numbered) {
        nodes.push_back({entry.second, devRoot + "/" + entry.second});
    }
    return nodes;
}

bool ReadUsbIds(const std::string& sysfsRoot, const std::string& name, UsbIds& ids) {
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(
        std::filesystem::path(sysfsRoot) / "class" / "video4linux" / name / "device", error);
    if (error) {
        return false;
    }
    return ReadIdsIn(device, ids) || ReadIdsIn(device.parent_path(), ids);
}

bool IsLogitechMotorCamera(const UsbIds& ids) {
    return ids.vendor == kLogitechVendor &&
           std::find(std::begin(kLogitechMotorProducts), std::end(kLogitechMotorProducts),
                     ids.product) != std::end(kLogitechMotorProducts);
}

std::array<uvc_xu_control_mapping, 4> LogitechMotorMappings() {
    return {
        MotorMapping(V4L2_CID_PAN_RELATIVE, "Pan (relative)", kSelectorPanTiltRelative, 16, 0,
                     V4L2_CTRL_TYPE_INTEGER, UVC_CTRL_DATA_TYPE_SIGNED),
        MotorMapping(V4L2_CID_TILT_RELATIVE, "Tilt (relative)", kSelectorPanTiltRelative, 16, 16,
                     V4L2_CTRL_TYPE_INTEGER, UVC_CTRL_DATA_TYPE_SIGNED),
        MotorMapping(V4L2_CID_PAN_RESET, "Pan Reset", kSelectorPanTiltReset, 1, 0,
                     V4L2_CTRL_TYPE_BUTTON, UVC_CTRL_DATA_TYPE_UNSIGNED),
        MotorMapping(V4L2_CID_TILT_RESET, "Tilt Reset", kSelectorPanTiltReset, 1, 1,
                     V4L2_CTRL_TYPE_BUTTON, UVC_CTRL_DATA_TYPE_UNSIGNED),
    };
}

} // namespace lvcam

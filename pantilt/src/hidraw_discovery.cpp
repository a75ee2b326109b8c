#include "hidraw_discovery.h"

#include "report_descriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace pantilt {

namespace {

// Sysfs attributes are at most a page; a descriptor is at most 4 KiB. Anything larger than this
// is not what we are looking for.
constexpr std::size_t kMaxAttributeBytes = 64 * 1024;

std::string RootFromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    return value;
}

// Reads a whole file of at most kMaxAttributeBytes.
bool ReadSmallFile(const std::string& path, std::vector<std::uint8_t>& contents) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    contents.clear();
    std::uint8_t buffer[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        if (contents.size() + static_cast<std::size_t>(n) > kMaxAttributeBytes) {
            ok = false;
            break;
        }
        contents.insert(contents.end(), buffer, buffer + n);
    }
    ::close(fd);
    return ok;
}

// The number of a name "hidrawN", or -1 for any other name.
long HidrawNumber(const std::string& name) {
    static const std::string prefix = "hidraw";
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

bool ParseHexField(const std::string& text, std::uint16_t& value) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    std::uint32_t result = 0;
    for (const char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        result = (result << 4) | digit;
    }
    value = static_cast<std::uint16_t>(result & 0xFFFFu);
    return true;
}

HidrawDevice ExamineDevice(const std::string& classDir, const std::string& devRoot,
                           const std::string& name) {
    HidrawDevice device;
    device.name = name;
    device.nodePath = devRoot + "/" + name;
    const std::string deviceDir = classDir + "/" + name + "/device";

    std::vector<std::uint8_t> contents;
    if (ReadSmallFile(deviceDir + "/uevent", contents)) {
        device.idsKnown = ParseHidId(std::string(contents.begin(), contents.end()), device.ids);
    }

    if (ReadSmallFile(deviceDir + "/report_descriptor", contents)) {
        const OutputReportInfo info = ParseOutputReport(contents.data(), contents.size());
        if (!info.valid) {
            device.descriptor = DescriptorState::Malformed;
        } else if (info.byteLength == 0) {
            device.descriptor = DescriptorState::NoOutputReport;
        } else {
            device.descriptor = DescriptorState::Usable;
            device.outputLength = info.byteLength;
        }
    }
    return device;
}

} // namespace

std::string SysfsRoot() {
    return RootFromEnvironment("PANTILT_SYSFS_ROOT", "/sys");
}

std::string DevRoot() {
    return RootFromEnvironment("PANTILT_DEV_ROOT", "/dev");
}

std::vector<std::string> ListHidrawNames(const std::string& classDir) {
    std::vector<std::pair<long, std::string>> numbered;
    if (DIR* dir = ::opendir(classDir.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            // The entries are symbolic links in sysfs: the type is not looked at.
            std::string name = entry->d_name;
            const long number = HidrawNumber(name);
            if (number >= 0) {
                numbered.emplace_back(number, std::move(name));
            }
        }
        ::closedir(dir);
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::string> names;
    names.reserve(numbered.size());
    for (auto& entry : numbered) {
        names.push_back(std::move(entry.second));
    }
    return names;
}

bool ParseHidId(const std::string& uevent, HidIds& ids) {
    static const std::string key = "HID_ID=";
    std::size_t start = 0;
    while (start < uevent.size()) {
        std::size_t end = uevent.find('\n', start);
        if (end == std::string::npos) {
            end = uevent.size();
        }
        if (uevent.compare(start, key.size(), key) == 0) {
            const std::string value = uevent.substr(start + key.size(), end - start - key.size());
            const std::size_t first = value.find(':');
            const std::size_t second =
                first == std::string::npos ? std::string::npos : value.find(':', first + 1);
            if (second == std::string::npos) {
                return false;
            }
            HidIds parsed;
            if (!ParseHexField(value.substr(0, first), parsed.bus) ||
                !ParseHexField(value.substr(first + 1, second - first - 1), parsed.vendor) ||
                !ParseHexField(value.substr(second + 1), parsed.product)) {
                return false;
            }
            ids = parsed;
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::vector<HidrawDevice> ListHidrawDevices() {
    const std::string classDir = SysfsRoot() + "/class/hidraw";
    const std::string devRoot = DevRoot();
    std::vector<HidrawDevice> devices;
    for (const std::string& name : ListHidrawNames(classDir)) {
        devices.push_back(ExamineDevice(classDir, devRoot, name));
    }
    return devices;
}

bool FindMotorDevice(std::uint16_t vendor, std::uint16_t product, OpenedDevice& opened) {
    for (const HidrawDevice& device : ListHidrawDevices()) {
        if (!device.idsKnown || device.ids.vendor != vendor || device.ids.product != product ||
            device.descriptor != DescriptorState::Usable) {
            continue;
        }
        const int fd = ::open(device.nodePath.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            continue;
        }
        opened.fd = fd;
        opened.outputLength = device.outputLength;
        opened.nodePath = device.nodePath;
        return true;
    }
    return false;
}

} // namespace pantilt

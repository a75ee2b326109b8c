#include "fake_hidraw.h"

#include "descriptor_builder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace pantilt::test {

namespace {

std::string MakeTempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pantilt-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    return pattern;
}

void SaveAndSet(const char* name, const std::string& value, bool& had, std::string& saved) {
    const char* old = std::getenv(name);
    had = old != nullptr;
    saved = had ? old : "";
    ::setenv(name, value.c_str(), 1);
}

void Restore(const char* name, bool had, const std::string& saved) {
    if (had) {
        ::setenv(name, saved.c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

} // namespace

FakeHidrawTree::FakeHidrawTree() : root_(MakeTempDir()) {
    fs::create_directories(root_ + "/sys/class/hidraw");
    fs::create_directories(root_ + "/sys/devices/fake");
    fs::create_directories(root_ + "/dev");
    SaveAndSet("PANTILT_SYSFS_ROOT", root_ + "/sys", hadSysfsRoot_, savedSysfsRoot_);
    SaveAndSet("PANTILT_DEV_ROOT", root_ + "/dev", hadDevRoot_, savedDevRoot_);
}

FakeHidrawTree::~FakeHidrawTree() {
    Restore("PANTILT_SYSFS_ROOT", hadSysfsRoot_, savedSysfsRoot_);
    Restore("PANTILT_DEV_ROOT", hadDevRoot_, savedDevRoot_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string FakeHidrawTree::DeviceDir(int number) const {
    return root_ + "/sys/devices/fake/hid" + std::to_string(number);
}

void FakeHidrawTree::AddDevice(int number, std::uint32_t vendor, std::uint32_t product,
                               const std::vector<std::uint8_t>& descriptor) {
    const std::string name = "hidraw" + std::to_string(number);
    const std::string deviceDir = DeviceDir(number);
    fs::create_directories(deviceDir + "/hidraw/" + name);
    fs::create_directory_symlink("../..", deviceDir + "/hidraw/" + name + "/device");
    fs::create_directory_symlink("../../devices/fake/hid" + std::to_string(number) + "/hidraw/" +
                                     name,
                                 root_ + "/sys/class/hidraw/" + name);
    char ids[64];
    std::snprintf(ids, sizeof ids, "HID_ID=0003:%08X:%08X\n", vendor, product);
    SetUevent(number, std::string("DRIVER=hid-generic\n") + ids +
                          "HID_NAME=Fake Device\nHID_PHYS=usb-0000:00:14.0-1/input0\n");
    SetDescriptor(number, descriptor);
    ResetNode(number);
}

void FakeHidrawTree::AddMotor(int number) {
    AddDevice(number, 0x07B3, 0x0A02, MotorDescriptor(16));
}

void FakeHidrawTree::SetUevent(int number, const std::string& text) {
    WriteFile(DeviceDir(number) + "/uevent", std::vector<std::uint8_t>(text.begin(), text.end()));
}

void FakeHidrawTree::RemoveUevent(int number) {
    fs::remove(DeviceDir(number) + "/uevent");
}

void FakeHidrawTree::SetDescriptor(int number, const std::vector<std::uint8_t>& descriptor) {
    WriteFile(DeviceDir(number) + "/report_descriptor", descriptor);
}

void FakeHidrawTree::RemoveDescriptor(int number) {
    fs::remove(DeviceDir(number) + "/report_descriptor");
}

void FakeHidrawTree::RemoveNode(int number) {
    fs::remove(NodePath(number));
}

void FakeHidrawTree::LinkNode(int number, const std::string& target) {
    fs::remove(NodePath(number));
    fs::create_symlink(target, NodePath(number));
}

void FakeHidrawTree::ResetNode(int number) {
    fs::remove(NodePath(number));
    WriteFile(NodePath(number), {});
}

void FakeHidrawTree::AddClassEntry(const std::string& name) {
    fs::create_directories(root_ + "/sys/class/hidraw/" + name + "/device");
}

std::string FakeHidrawTree::NodePath(int number) const {
    return root_ + "/dev/hidraw" + std::to_string(number);
}

std::vector<std::uint8_t> FakeHidrawTree::Written(int number) const {
    return ReadFile(NodePath(number));
}

int OpenFdCount() {
    return static_cast<int>(OpenFdTargets().size());
}

std::vector<std::string> OpenFdTargets() {
    std::vector<std::string> targets;
    // The directory iterator's own descriptor is among them: compare counts, not values.
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (!error) {
            targets.push_back(target.string());
        }
    }
    return targets;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

} // namespace pantilt::test

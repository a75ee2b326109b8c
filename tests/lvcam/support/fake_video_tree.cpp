#include "fake_video_tree.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace lvcam::test {

namespace {

const char* const kVariables[2] = {"LVCAM_DEV_ROOT", "LVCAM_SYSFS_ROOT"};

std::string MakeTempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/lvcam-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    return pattern;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace

FakeVideoTree::FakeVideoTree() : root_(MakeTempDir()) {
    fs::create_directories(root_ + "/dev");
    fs::create_directories(root_ + "/sys/class/video4linux");
    const std::string roots[2] = {root_ + "/dev", root_ + "/sys"};
    for (int i = 0; i < 2; ++i) {
        const char* old = std::getenv(kVariables[i]);
        had_[i] = old != nullptr;
        saved_[i] = had_[i] ? old : "";
        ::setenv(kVariables[i], roots[i].c_str(), 1);
    }
}

FakeVideoTree::~FakeVideoTree() {
    for (int i = 0; i < 2; ++i) {
        if (had_[i]) {
            ::setenv(kVariables[i], saved_[i].c_str(), 1);
        } else {
            ::unsetenv(kVariables[i]);
        }
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void FakeVideoTree::AddNode(int number) {
    AddDevEntry("video" + std::to_string(number));
}

void FakeVideoTree::AddUsbNode(int number, const std::string& usbDevice, std::uint16_t vendor,
                               std::uint16_t product) {
    const std::string name = "video" + std::to_string(number);
    const std::string device = "devices/usb1/" + usbDevice;
    const std::string interface = device + "/" + usbDevice + ":1.0";
    const std::string classEntry = interface + "/video4linux/" + name;
    fs::create_directories(SysfsRoot() + "/" + classEntry);
    char id[8];
    std::snprintf(id, sizeof id, "%04x\n", vendor);
    WriteSysfs(device + "/idVendor", id);
    std::snprintf(id, sizeof id, "%04x\n", product);
    WriteSysfs(device + "/idProduct", id);
    fs::create_directory_symlink("../../../" + usbDevice + ":1.0",
                                 SysfsRoot() + "/" + classEntry + "/device");
    fs::create_directory_symlink("../../" + classEntry, SysfsRoot() + "/class/video4linux/" + name);
    AddNode(number);
}

void FakeVideoTree::AddDevEntry(const std::string& name) {
    WriteText(root_ + "/dev/" + name, "");
}

void FakeVideoTree::RemoveNode(int number) {
    fs::remove(NodePath(number));
}

void FakeVideoTree::WriteSysfs(const std::string& path, const std::string& text) {
    WriteText(SysfsRoot() + "/" + path, text);
}

std::string FakeVideoTree::NodePath(int number) const {
    return root_ + "/dev/video" + std::to_string(number);
}

} // namespace lvcam::test

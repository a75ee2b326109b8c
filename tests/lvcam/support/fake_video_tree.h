// Video device nodes and their sysfs entries in a temporary folder, for the lvcam tests.
#pragma once

#include <cstdint>
#include <string>

namespace lvcam::test {

// Creates <tmp>/dev and <tmp>/sys and points LVCAM_DEV_ROOT and LVCAM_SYSFS_ROOT at them for its
// lifetime. A USB node N of USB device D gets, as the kernel lays it out,
//   sys/devices/usb1/D/{idVendor,idProduct}
//   sys/devices/usb1/D/D:1.0/video4linux/videoN/device -> ../../../D:1.0
//   sys/class/video4linux/videoN -> ../../devices/usb1/D/D:1.0/video4linux/videoN
//   dev/videoN, an empty regular file
class FakeVideoTree {
  public:
    FakeVideoTree();
    ~FakeVideoTree();
    FakeVideoTree(const FakeVideoTree&) = delete;
    FakeVideoTree& operator=(const FakeVideoTree&) = delete;

    // A node without sysfs entry.
    void AddNode(int number);
    void AddUsbNode(int number, const std::string& usbDevice, std::uint16_t vendor,
                    std::uint16_t product);
    // Any file in dev, e.g. "media0" or "video".
    void AddDevEntry(const std::string& name);
    void RemoveNode(int number);
    // Writes a sysfs file, path relative to the sysfs root.
    void WriteSysfs(const std::string& path, const std::string& text);

    std::string NodePath(int number) const;
    std::string SysfsRoot() const { return root_ + "/sys"; }

  private:
    std::string root_;
    std::string saved_[2];
    bool had_[2] = {false, false};
};

} // namespace lvcam::test

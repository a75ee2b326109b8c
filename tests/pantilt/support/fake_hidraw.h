// A hidraw tree in a temporary folder, laid out like sysfs, for the discovery and motor tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pantilt::test {

// Creates <tmp>/sys and <tmp>/dev and points PANTILT_SYSFS_ROOT and PANTILT_DEV_ROOT at them
// for its lifetime. Each device gets
//   sys/devices/fake/hid<N>/{uevent,report_descriptor,hidraw/hidraw<N>/device -> ../..}
//   sys/class/hidraw/hidraw<N> -> ../../devices/fake/hid<N>/hidraw/hidraw<N>
//   dev/hidraw<N>, an empty regular file that collects what is written to the device.
class FakeHidrawTree {
  public:
    FakeHidrawTree();
    ~FakeHidrawTree();
    FakeHidrawTree(const FakeHidrawTree&) = delete;
    FakeHidrawTree& operator=(const FakeHidrawTree&) = delete;

    // A USB HID device; the IDs are written as the kernel writes them (8 hex digits).
    void AddDevice(int number, std::uint32_t vendor, std::uint32_t product,
                   const std::vector<std::uint8_t>& descriptor);
    // The motor base (07b3:0a02) with a 17-byte output report.
    void AddMotor(int number);

    void SetUevent(int number, const std::string& text);
    void RemoveUevent(int number);
    void SetDescriptor(int number, const std::vector<std::uint8_t>& descriptor);
    void RemoveDescriptor(int number);
    void RemoveNode(int number);
    // Replaces the device node by a symbolic link, e.g. to /dev/full, where writes fail.
    void LinkNode(int number, const std::string& target);
    // Makes the device node an empty regular file again.
    void ResetNode(int number);
    // Adds a directory entry to sys/class/hidraw that is not a hidraw device.
    void AddClassEntry(const std::string& name);

    std::string NodePath(int number) const;
    // Everything written to the device node so far.
    std::vector<std::uint8_t> Written(int number) const;

    const std::string& Root() const { return root_; }

  private:
    std::string DeviceDir(int number) const;

    std::string root_;
    std::string savedSysfsRoot_;
    std::string savedDevRoot_;
    bool hadSysfsRoot_ = false;
    bool hadDevRoot_ = false;
};

// The number of open file descriptors of this process.
int OpenFdCount();
// The paths the open file descriptors of this process refer to.
std::vector<std::string> OpenFdTargets();

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFile(const std::string& path);

} // namespace pantilt::test

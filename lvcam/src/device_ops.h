// The few device operations the motion logic needs. V4l2DeviceOps does them with ioctls on the
// device node; tests put a fake in their place, since ioctls cannot be faked on plain files.
#pragma once

#include <linux/uvcvideo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lvcam {

// What VIDIOC_QUERYCTRL says about one control.
struct ControlInfo {
    std::uint32_t type = 0;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 0;
    std::uint32_t flags = 0;
};

struct ControlValue {
    std::uint32_t id = 0;
    std::int32_t value = 0;
};

inline bool operator==(const ControlValue& a, const ControlValue& b) {
    return a.id == b.id && a.value == b.value;
}

// Every operation but Close returns 0 on success or an errno value.
class DeviceOps {
  public:
    virtual ~DeviceOps() = default;

    // Opens the node read-write. fd is set only on success.
    virtual int Open(const std::string& path, int& fd) = 0;
    virtual void Close(int fd) = 0;
    // The capabilities of this node (device_caps where the driver reports them).
    virtual int QueryCapabilities(int fd, std::uint32_t& capabilities) = 0;
    virtual int QueryControl(int fd, std::uint32_t id, ControlInfo& info) = 0;
    // Sets all values in one request, so controls that share one device register go together.
    virtual int SetControls(int fd, const std::vector<ControlValue>& values) = 0;
    // Adds a V4L2 control mapped onto a UVC extension unit control (UVCIOC_CTRL_MAP).
    virtual int MapControl(int fd, const uvc_xu_control_mapping& mapping) = 0;
};

// The real operations, over the V4L2 and uvcvideo ioctls.
class V4l2DeviceOps : public DeviceOps {
  public:
    int Open(const std::string& path, int& fd) override;
    void Close(int fd) override;
    int QueryCapabilities(int fd, std::uint32_t& capabilities) override;
    int QueryControl(int fd, std::uint32_t id, ControlInfo& info) override;
    int SetControls(int fd, const std::vector<ControlValue>& values) override;
    int MapControl(int fd, const uvc_xu_control_mapping& mapping) override;
};

} // namespace lvcam

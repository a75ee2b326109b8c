// Device operations on made-up devices that record every request, for the motion tests.
#pragma once

#include "device_ops.h"

#include <linux/videodev2.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lvcam::test {

struct FakeDevice {
    int openError = 0;
    int capabilitiesError = 0;
    std::uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::map<std::uint32_t, ControlInfo> controls;
    // The error of a mapping request by control ID. Otherwise, as the driver does, a control that
    // exists gives EEXIST and a new one appears as OrbitControl shows it.
    std::map<std::uint32_t, int> mapErrors;
    int setError = 0;
};

// A motor control as a Logitech Orbit shows it once mapped: pan -4480..4480, tilt -1920..1920,
// the resets as buttons.
ControlInfo OrbitControl(std::uint32_t id);
// All four motor controls, or the relative pan and tilt only.
void AddMotorControls(FakeDevice& device);
void AddRelativeControls(FakeDevice& device);

class FakeDeviceOps : public DeviceOps {
  public:
    struct SetRequest {
        std::string path;
        std::vector<ControlValue> values;
    };
    struct MapRequest {
        std::string path;
        uvc_xu_control_mapping mapping;
    };

    // The device at path, made on first use. Paths without a device do not open (ENOENT).
    FakeDevice& Device(const std::string& path) { return devices_[path]; }
    void RemoveDevice(const std::string& path) { devices_.erase(path); }

    int Open(const std::string& path, int& fd) override;
    void Close(int fd) override;
    int QueryCapabilities(int fd, std::uint32_t& capabilities) override;
    int QueryControl(int fd, std::uint32_t id, ControlInfo& info) override;
    int SetControls(int fd, const std::vector<ControlValue>& values) override;
    int MapControl(int fd, const uvc_xu_control_mapping& mapping) override;

    std::vector<std::string> opened; // every successful open, in order
    std::vector<SetRequest> sets;
    std::vector<MapRequest> maps;
    // Descriptors open now, and closes of descriptors that were not open.
    std::size_t OpenCount() const { return fds_.size(); }
    int badCloses = 0;

  private:
    FakeDevice* DeviceOf(int fd);

    std::map<std::string, FakeDevice> devices_;
    std::map<int, std::string> fds_;
    int nextFd_ = 100;
};

} // namespace lvcam::test

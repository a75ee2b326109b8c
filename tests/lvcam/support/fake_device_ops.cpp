#include "fake_device_ops.h"

#include <cerrno>

namespace lvcam::test {

ControlInfo OrbitControl(std::uint32_t id) {
    switch (id) {
    case V4L2_CID_PAN_RELATIVE:
        return {V4L2_CTRL_TYPE_INTEGER, -4480, 4480, 1, V4L2_CTRL_FLAG_WRITE_ONLY};
    case V4L2_CID_TILT_RELATIVE:
        return {V4L2_CTRL_TYPE_INTEGER, -1920, 1920, 1, V4L2_CTRL_FLAG_WRITE_ONLY};
    default:
        return {V4L2_CTRL_TYPE_BUTTON, 0, 0, 0, V4L2_CTRL_FLAG_WRITE_ONLY};
    }
}

void AddRelativeControls(FakeDevice& device) {
    for (const std::uint32_t id : {V4L2_CID_PAN_RELATIVE, V4L2_CID_TILT_RELATIVE}) {
        device.controls[id] = OrbitControl(id);
    }
}

void AddMotorControls(FakeDevice& device) {
    AddRelativeControls(device);
    for (const std::uint32_t id : {V4L2_CID_PAN_RESET, V4L2_CID_TILT_RESET}) {
        device.controls[id] = OrbitControl(id);
    }
}

FakeDevice* FakeDeviceOps::DeviceOf(int fd) {
    const auto open = fds_.find(fd);
    if (open == fds_.end()) {
        return nullptr;
    }
    const auto device = devices_.find(open->second);
    return device == devices_.end() ? nullptr : &device->second;
}

int FakeDeviceOps::Open(const std::string& path, int& fd) {
    const auto device = devices_.find(path);
    if (device == devices_.end()) {
        return ENOENT;
    }
    if (device->second.openError != 0) {
        return device->second.openError;
    }
    fd = nextFd_++;
    fds_[fd] = path;
    opened.push_back(path);
    return 0;
}

void FakeDeviceOps::Close(int fd) {
    if (fds_.erase(fd) == 0) {
        ++badCloses;
    }
}

int FakeDeviceOps::QueryCapabilities(int fd, std::uint32_t& capabilities) {
    FakeDevice* device = DeviceOf(fd);
    if (device == nullptr) {
        return ENODEV;
    }
    if (device->capabilitiesError == 0) {
        capabilities = device->capabilities;
    }
    return device->capabilitiesError;
}

int FakeDeviceOps::QueryControl(int fd, std::uint32_t id, ControlInfo& info) {
    FakeDevice* device = DeviceOf(fd);
    if (device == nullptr) {
        return ENODEV;
    }
    const auto control = device->controls.find(id);
    if (control == device->controls.end()) {
        return EINVAL;
    }
    info = control->second;
    return 0;
}

int FakeDeviceOps::SetControls(int fd, const std::vector<ControlValue>& values) {
    FakeDevice* device = DeviceOf(fd);
    if (device == nullptr) {
        return ENODEV;
    }
    sets.push_back({fds_[fd], values});
    return device->setError;
}

int FakeDeviceOps::MapControl(int fd, const uvc_xu_control_mapping& mapping) {
    FakeDevice* device = DeviceOf(fd);
    if (device == nullptr) {
        return ENODEV;
    }
    maps.push_back({fds_[fd], mapping});
    const auto error = device->mapErrors.find(mapping.id);
    if (error != device->mapErrors.end()) {
        return error->second;
    }
    if (device->controls.count(mapping.id) != 0) {
        return EEXIST;
    }
    ControlInfo info = OrbitControl(mapping.id);
    info.type = mapping.v4l2_type;
    device->controls[mapping.id] = info;
    return 0;
}

} // namespace lvcam::test

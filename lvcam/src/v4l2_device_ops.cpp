#include "device_ops.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace lvcam {

namespace {

int Ioctl(int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

} // namespace

int V4l2DeviceOps::Open(const std::string& path, int& fd) {
    int result;
    do {
        result = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return errno;
    }
    fd = result;
    return 0;
}

void V4l2DeviceOps::Close(int fd) {
    // Linux releases the descriptor even when close() reports an error: never retry it.
    ::close(fd);
}

int V4l2DeviceOps::QueryCapabilities(int fd, std::uint32_t& capabilities) {
    v4l2_capability capability{};
    const int error = Ioctl(fd, VIDIOC_QUERYCAP, &capability);
    if (error == 0) {
        capabilities = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                           ? capability.device_caps
                           : capability.capabilities;
    }
    return error;
}

int V4l2DeviceOps::QueryControl(int fd, std::uint32_t id, ControlInfo& info) {
    v4l2_queryctrl query{};
    query.id = id;
    const int error = Ioctl(fd, VIDIOC_QUERYCTRL, &query);
    if (error == 0) {
        info.type = query.type;
        info.minimum = query.minimum;
        info.maximum = query.maximum;
        info.step = query.step;
        info.flags = query.flags;
    }
    return error;
}

int V4l2DeviceOps::SetControls(int fd, const std::vector<ControlValue>& values) {
    std::vector<v4l2_ext_control> controls(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        controls[i].id = values[i].id;
        controls[i].value = values[i].value;
    }
    v4l2_ext_controls request{};
    request.which = V4L2_CTRL_WHICH_CUR_VAL;
    request.count = static_cast<std::uint32_t>(controls.size());
    request.controls = controls.data();
    return Ioctl(fd, VIDIOC_S_EXT_CTRLS, &request);
}

int V4l2DeviceOps::MapControl(int fd, const uvc_xu_control_mapping& mapping) {
    uvc_xu_control_mapping copy = mapping; // the driver's argument is not const
    return Ioctl(fd, UVCIOC_CTRL_MAP, &copy);
}

} // namespace lvcam

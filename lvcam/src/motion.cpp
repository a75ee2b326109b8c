#include "motion.h"

#include "debug_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/videodev2.h>

namespace lvcam {

namespace {

// Closes a descriptor of the device at the end of a call.
class OpenDevice {
  public:
    OpenDevice(DeviceOps& ops, int fd) : ops_(ops), fd_(fd) {}
    ~OpenDevice() {
        if (fd_ >= 0) {
            ops_.Close(fd_);
        }
    }
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;

    int fd() const { return fd_; }

  private:
    DeviceOps& ops_;
    int fd_;
};

const char* MappingName(const uvc_xu_control_mapping& mapping) {
    return reinterpret_cast<const char*>(mapping.name);
}

} // namespace

std::vector<std::int32_t> SplitMove(std::int64_t total, std::int32_t minimum,
                                    std::int32_t maximum) {
    std::vector<std::int32_t> moves;
    const std::int64_t limit =
        total > 0 ? static_cast<std::int64_t>(maximum) : -static_cast<std::int64_t>(minimum);
    if (total == 0 || limit <= 0) {
        return moves;
    }
    const std::int64_t sign = total > 0 ? 1 : -1;
    std::int64_t remaining = total > 0 ? total : -total;
    while (remaining > 0 && moves.size() < kMaxMovesPerCall) {
        const std::int64_t move = std::min(remaining, limit);
        moves.push_back(static_cast<std::int32_t>(sign * move));
        remaining -= move;
    }
    return moves;
}

bool Motion::Connect() {
    std::string found;
    if (!Find(found)) {
        node_.clear();
        DebugLog("no capture device with relative pan and tilt controls");
        return false;
    }
    node_ = found;
    DebugLog("using %s", node_.c_str());
    return true;
}

std::int32_t Motion::Home() {
    if (node_.empty()) {
        DebugLog("home: no camera was found");
        return kUnreachable;
    }
    const OpenDevice device(ops_, Reach());
    if (device.fd() < 0) {
        return kUnreachable;
    }
    if (!HasResetControls(device.fd())) {
        DebugLog("home: %s has no pan and tilt reset controls", node_.c_str());
        return kNotDone;
    }
    // One request: on the Logitech cameras both resets are bits of one device register.
    const int error =
        ops_.SetControls(device.fd(), {{V4L2_CID_PAN_RESET, 1}, {V4L2_CID_TILT_RESET, 1}});
    if (error != 0) {
        DebugLog("home: %s: %s", node_.c_str(), std::strerror(error));
        return kUnreachable;
    }
    return kDone;
}

std::int32_t Motion::Move(std::int16_t direction, std::int32_t amount) {
    std::uint32_t control = 0;
    std::int64_t sign = 0;
    switch (direction) {
    case kLeft:
        control = V4L2_CID_PAN_RELATIVE;
        sign = -1;
        break;
    case kRight:
        control = V4L2_CID_PAN_RELATIVE;
        sign = 1;
        break;
    case kUp:
        control = V4L2_CID_TILT_RELATIVE;
        sign = 1;
        break;
    case kDown:
        control = V4L2_CID_TILT_RELATIVE;
        sign = -1;
        break;
    default:
        DebugLog("move: unknown direction %d", direction);
        return kNotDone;
    }
    if (node_.empty()) {
        DebugLog("move: no camera was found");
        return kUnreachable;
    }
    const std::int64_t total = sign * static_cast<std::int64_t>(amount);
    if (total == 0) {
        return kDone;
    }
    const OpenDevice device(ops_, Reach());
    ControlInfo info;
    if (device.fd() < 0 || !HasControl(device.fd(), control, &info)) {
        return kUnreachable;
    }
    const std::vector<std::int32_t> moves = SplitMove(total, info.minimum, info.maximum);
    if (moves.empty()) {
        DebugLog("move: the range %d..%d of %s allows no move by %lld", info.minimum, info.maximum,
                 node_.c_str(), static_cast<long long>(total));
        return kNotDone;
    }
    std::int64_t sent = 0;
    for (const std::int32_t move : moves) {
        sent += move;
    }
    if (sent != total) {
        DebugLog("move: %lld of %lld is sent, in %zu moves", static_cast<long long>(sent),
                 static_cast<long long>(total), moves.size());
    }
    for (const std::int32_t move : moves) {
        // Pan and tilt go together, the other one as 0: on the Logitech cameras they share one
        // device register, and the other half must not repeat an earlier move.
        const int error = ops_.SetControls(
            device.fd(), {{V4L2_CID_PAN_RELATIVE, control == V4L2_CID_PAN_RELATIVE ? move : 0},
                          {V4L2_CID_TILT_RELATIVE, control == V4L2_CID_TILT_RELATIVE ? move : 0}});
        if (error != 0) {
            DebugLog("move: %s: %s", node_.c_str(), std::strerror(error));
            return kUnreachable;
        }
    }
    return kDone;
}

bool Motion::Find(std::string& path) {
    const std::string sysfsRoot = SysfsRoot();
    for (const VideoNode& node : ListVideoNodes(DevRoot())) {
        if (Examine(node, sysfsRoot)) {
            path = node.path;
            return true;
        }
    }
    return false;
}

bool Motion::Examine(const VideoNode& node, const std::string& sysfsRoot) {
    int fd = -1;
    if (const int error = ops_.Open(node.path, fd)) {
        DebugLog("%s: cannot open: %s", node.path.c_str(), std::strerror(error));
        return false;
    }
    const OpenDevice device(ops_, fd);
    std::uint32_t capabilities = 0;
    if (const int error = ops_.QueryCapabilities(fd, capabilities)) {
        DebugLog("%s: not a V4L2 device: %s", node.path.c_str(), std::strerror(error));
        return false;
    }
    if ((capabilities & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) == 0) {
        DebugLog("%s: not a capture device", node.path.c_str());
        return false;
    }
    const bool relative = HasRelativeControls(fd);
    if (relative && HasResetControls(fd)) {
        return true;
    }
    UsbIds ids;
    if (!ReadUsbIds(sysfsRoot, node.name, ids) || !IsLogitechMotorCamera(ids)) {
        if (!relative) {
            DebugLog("%s: no relative pan and tilt controls", node.path.c_str());
        }
        return relative;
    }
    MapLogitechControls(fd, node.path);
    if (HasRelativeControls(fd)) {
        return true;
    }
    DebugLog("%s: Logitech camera %04x:%04x still has no relative pan and tilt controls",
             node.path.c_str(), ids.vendor, ids.product);
    return false;
}

void Motion::MapLogitechControls(int fd, const std::string& path) {
    for (const uvc_xu_control_mapping& mapping : LogitechMotorMappings()) {
        const int error = ops_.MapControl(fd, mapping);
        if (error == EEXIST) {
            DebugLog("%s: \"%s\" is mapped already", path.c_str(), MappingName(mapping));
        } else if (error != 0) {
            DebugLog("%s: cannot map \"%s\": %s", path.c_str(), MappingName(mapping),
                     std::strerror(error));
        }
    }
}

bool Motion::HasControl(int fd, std::uint32_t id, ControlInfo* info) {
    ControlInfo queried;
    if (ops_.QueryControl(fd, id, queried) != 0 || (queried.flags & V4L2_CTRL_FLAG_DISABLED) != 0) {
        return false;
    }
    if (info != nullptr) {
        *info = queried;
    }
    return true;
}

bool Motion::HasRelativeControls(int fd) {
    return HasControl(fd, V4L2_CID_PAN_RELATIVE) && HasControl(fd, V4L2_CID_TILT_RELATIVE);
}

bool Motion::HasResetControls(int fd) {
    return HasControl(fd, V4L2_CID_PAN_RESET) && HasControl(fd, V4L2_CID_TILT_RESET);
}

int Motion::OpenWithControls(const std::string& path) {
    int fd = -1;
    if (const int error = ops_.Open(path, fd)) {
        DebugLog("%s: cannot open: %s", path.c_str(), std::strerror(error));
        return -1;
    }
    if (HasRelativeControls(fd)) {
        return fd;
    }
    DebugLog("%s: relative pan and tilt controls are gone", path.c_str());
    ops_.Close(fd);
    return -1;
}

int Motion::Reach() {
    const int fd = OpenWithControls(node_);
    if (fd >= 0) {
        return fd;
    }
    std::string found;
    if (!Find(found)) {
        // Kept: the camera may come back before the next call.
        DebugLog("the camera at %s cannot be reached", node_.c_str());
        return -1;
    }
    node_ = found;
    DebugLog("using %s", node_.c_str());
    return OpenWithControls(node_);
}

} // namespace lvcam

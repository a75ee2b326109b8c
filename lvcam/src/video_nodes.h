// The video device nodes, their USB IDs, and the extension unit mapping of the Logitech motor
// cameras.
//
// LVCAM_DEV_ROOT and LVCAM_SYSFS_ROOT, when set and not empty, replace /dev and /sys; they are
// read at each search.
#pragma once

#include <linux/uvcvideo.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace lvcam {

std::string DevRoot();
std::string SysfsRoot();

struct VideoNode {
    std::string name; // videoN
    std::string path; // <dev root>/videoN
};

// The videoN entries of devRoot, in the numeric order of N (video2 before video10). Other names
// are left out.
std::vector<VideoNode> ListVideoNodes(const std::string& devRoot);

struct UsbIds {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// The USB IDs of the device behind <sysfs root>/class/video4linux/<name>. The device link is
// resolved; the IDs are read from the resolved folder (a USB device) or its parent (the USB
// device of an interface, the usual case for a video node). False when neither holds readable
// idVendor and idProduct files of four hexadecimal digits each.
bool ReadUsbIds(const std::string& sysfsRoot, const std::string& name, UsbIds& ids);

// Logitech QuickCam PTZ, Orbit and Sphere models, whose motors sit behind a vendor extension
// unit that older kernels do not map to V4L2 controls.
bool IsLogitechMotorCamera(const UsbIds& ids);

// The four mappings that turn the motor extension unit's controls into V4L2_CID_PAN_RELATIVE,
// V4L2_CID_TILT_RELATIVE, V4L2_CID_PAN_RESET and V4L2_CID_TILT_RESET, in that order.
std::array<uvc_xu_control_mapping, 4> LogitechMotorMappings();

} // namespace lvcam

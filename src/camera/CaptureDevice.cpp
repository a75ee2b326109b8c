#include "camera/CaptureDevice.h"

#include "camera/V4l2Device.h"
#include "camera/VirtualCamera.h"

#include <linux/videodev2.h>

namespace kestrova {

std::uint32_t V4l2ControlId(CameraProperty property) {
    switch (property) {
    case CameraProperty::Pan:
        return V4L2_CID_PAN_ABSOLUTE;
    case CameraProperty::Tilt:
        return V4L2_CID_TILT_ABSOLUTE;
    case CameraProperty::Zoom:
        return V4L2_CID_ZOOM_ABSOLUTE;
    }
    return 0;
}

CaptureDevice::~CaptureDevice() = default;

std::vector<CaptureDeviceInfo> ListCaptureDevices() {
    std::vector<CaptureDeviceInfo> devices = ListV4l2Devices();
    for (CaptureDeviceInfo& info : ListVirtualCameras())
        devices.push_back(std::move(info));
    return devices;
}

std::unique_ptr<CaptureDevice> OpenCaptureDevice(const CaptureDeviceInfo& info) {
    if (info.isVirtual)
        return VirtualCamera::Open(info);
    return V4l2Device::Open(info);
}

} // namespace kestrova

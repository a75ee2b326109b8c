#include "camera/CaptureDevice.h"

#include "camera/V4l2Device.h"
#include "camera/VirtualCamera.h"

namespace kestrova {

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

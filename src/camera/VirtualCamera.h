// Virtual cameras: a synthetic outdoor scene seen through a pan-tilt-zoom viewport, so that
// classification, camera moves, previews and uploads work without camera hardware.
#pragma once

#include "camera/CaptureDevice.h"

namespace kestrova {

// Where a virtual camera looks, and which of its inputs is selected.
struct VirtualView {
    std::int32_t pan = 0;  // tenths of a world pixel, positive to the right
    std::int32_t tilt = 0; // tenths of a world pixel, positive upwards
    std::int32_t zoom = 100;
    int input = 0;
};

// The ranges a virtual camera reports, like a UVC camera's.
ControlRange VirtualRange(CameraProperty property);

// The picture seen through `view` at the moment `ms` (milliseconds of any clock; the scene's
// clock hand and ball move with it), RGB888 at `size`.
QImage RenderVirtualScene(const VirtualView& view, qint64 ms, QSize size);

// One entry of KESTROVA_VIRTUAL_CAMERAS.
struct VirtualCameraEntry {
    QString name;
    QSize fixedSize; // empty: the camera takes any size asked for
    int inputs = 1;
};

// The entries of KESTROVA_VIRTUAL_CAMERAS as it is set now.
std::vector<VirtualCameraEntry> VirtualCameraEntries();
std::vector<CaptureDeviceInfo> ListVirtualCameras();

class VirtualCamera : public CaptureDevice {
    Q_OBJECT
  public:
    static std::unique_ptr<VirtualCamera> Open(const CaptureDeviceInfo& info);

    QString name() const override { return entry_.name; }
    bool setFormat(int width, int height) override;
    QSize frameSize() const override { return size_; }
    QImage frame() override;
    bool pushesFrames() const override { return false; }
    bool lost() const override;

    bool controlRange(CameraProperty property, ControlRange& range) override;
    bool controlValue(CameraProperty property, std::int32_t& value) override;
    bool setControlValue(CameraProperty property, std::int32_t value) override;

    QStringList inputs() override;
    int currentInput() override;
    bool selectInput(int index) override;

    std::vector<DeviceControl> controls() override;
    bool setControl(std::uint32_t id, std::int32_t value) override;

  private:
    explicit VirtualCamera(VirtualCameraEntry entry);

    VirtualCameraEntry entry_;
    QSize size_;
    mutable bool lost_ = false;
};

} // namespace kestrova

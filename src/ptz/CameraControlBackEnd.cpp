// The capture control's camera control (the Creative WebCam Live! Motion): absolute pan and
// tilt values within the ranges the camera reports, in the camera's own units and steps.
#include "camera/CaptureControl.h"
#include "ptz/MotorBackEnd.h"
#include "ptz/PtzValues.h"

#include <algorithm>

namespace kestrova {

namespace {

class CameraControlBackEnd : public MotorBackEnd {
  public:
    using MotorBackEnd::MotorBackEnd;

    void ReadRanges() override {
        AppState& s = App();
        CaptureControl& camSrc = parts_.camSrc;
        // The statuses of the range reads are not looked at: a missing range reads as 0.
        ControlRange pan;
        camSrc.GetCameraControlRange(CameraProperty::Pan, pan);
        s.PanMin = pan.min;
        s.PanMax = pan.max;
        s.PanStep = pan.step;
        s.PanDefault = pan.def;
        s.PanFlags = pan.flags;
        std::int32_t value = 0;
        camSrc.GetCameraControl(CameraProperty::Pan, value);
        s.PanPos = value;
        ControlRange tilt;
        camSrc.GetCameraControlRange(CameraProperty::Tilt, tilt);
        s.TiltMin = tilt.min;
        s.TiltMax = tilt.max;
        s.TiltStep = tilt.step;
        s.TiltDefault = tilt.def;
        s.TiltFlags = tilt.flags;
        value = 0;
        camSrc.GetCameraControl(CameraProperty::Tilt, value);
        s.TiltPos = value;
        s.DirTiltDown = 2;
        s.DirPanLeft = 0;
        s.DirPanRight = 1;
        s.DirTiltUp = 3;
    }

    void MoveStep(std::int16_t direction, std::int32_t amount) override {
        AppState& s = App();
        CaptureControl& camSrc = parts_.camSrc;
        switch (direction) {
        case 0:
            s.PanPos = std::max(AddLong(s.PanPos, -std::int64_t{amount}), s.PanMin);
            camSrc.SetCameraControl(CameraProperty::Pan, s.PanPos);
            break;
        case 1:
            s.PanPos = std::min(AddLong(s.PanPos, amount), s.PanMax);
            camSrc.SetCameraControl(CameraProperty::Pan, s.PanPos);
            break;
        case 2:
            s.TiltPos = std::max(AddLong(s.TiltPos, -std::int64_t{amount}), s.TiltMin);
            camSrc.SetCameraControl(CameraProperty::Tilt, s.TiltPos);
            break;
        case 3:
            s.TiltPos = std::min(AddLong(s.TiltPos, amount), s.TiltMax);
            camSrc.SetCameraControl(CameraProperty::Tilt, s.TiltPos);
            break;
        default:
            break;
        }
    }

    void MoveHome() override {
        AppState& s = App();
        s.PanPos = s.PanDefault;
        s.TiltPos = s.TiltDefault;
        parts_.camSrc.SetCameraControl(CameraProperty::Pan, s.PanPos);
        parts_.camSrc.SetCameraControl(CameraProperty::Tilt, s.TiltPos);
    }
};

} // namespace

std::unique_ptr<MotorBackEnd> MakeCameraControlBackEnd(MotorParts parts) {
    return std::make_unique<CameraControlBackEnd>(std::move(parts));
}

} // namespace kestrova

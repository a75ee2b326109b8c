// What every camera has: presets and zoom through the capture control's camera control.
#include "ptz/MotorBackEnd.h"

#include "camera/CaptureControl.h"
#include "ptz/PtzValues.h"

namespace kestrova {

void MotorBackEnd::MovePreset(const QStringList& pieces) {
    const std::int32_t pan = ParseLong(PresetPiece(pieces, 0));
    const std::int32_t tilt = ParseLong(PresetPiece(pieces, 1));
    const std::int32_t zoom = ParseLong(PresetPiece(pieces, 2));
    AppState& s = App();
    s.PanPos = pan;
    s.TiltPos = tilt;
    s.ZoomPos = zoom;
    parts_.camSrc.SetCameraControl(CameraProperty::Pan, s.PanPos);
    parts_.camSrc.SetCameraControl(CameraProperty::Tilt, s.TiltPos);
    parts_.setZoomSlider(s.ZoomPos);
}

void MotorBackEnd::ApplyZoom() {
    parts_.camSrc.SetCameraControl(CameraProperty::Zoom, App().ZoomPos);
}

Flag ConnectionFlag(std::int32_t result) {
    if (result == 1)
        return kTrue;
    return static_cast<Flag>(static_cast<std::uint16_t>(result & 0xFFFF));
}

QString TrueFalse(Flag flag) {
    return IsSet(flag) ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace kestrova

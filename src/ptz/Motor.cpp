// The motor back-ends, presets and zoom.
//
//   camera motion library   IsLogitechPtz      relative moves by direction code, home
//   camera control          IsCreativeMotion   absolute pan and tilt of the capture control
//   pantilt                 IsPantiltCamera    absolute X, Y and Z positions with a speed
//
// Zoom is the slider's value; it goes to the capture control's zoom, or to the pantilt Z axis.
#include "ptz/Ptz.h"

#include "camera/CaptureControl.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"
#include "core/StationState.h"
#include "core/Wait.h"
#include "ptz/MotorLibrary.h"
#include "ptz/PtzValues.h"

#include <algorithm>
#include <utility>

namespace kestrova {

namespace {

// A motor library's connection result as the back-end flag keeps it: 1 is true, anything else
// keeps its low 16 bits.
Flag ConnectionFlag(std::int32_t result) {
    if (result == 1)
        return kTrue;
    return static_cast<Flag>(static_cast<std::uint16_t>(result & 0xFFFF));
}

QString TrueFalse(Flag flag) {
    return IsSet(flag) ? QStringLiteral("True") : QStringLiteral("False");
}

// What the motion library's preset waits allow the camera: the home move, then each move.
constexpr int kLvHomeWaitMs = 3000;
constexpr int kLvMoveWaitMs = 1000;

} // namespace

void PtzControl::ReadMotorRanges() {
    AppState& s = App();
    if (IsSet(s.IsPtzCamera)) {
        if (IsSet(s.IsLogitechPtz)) {
            s.PanStep = 320;
            s.TiltStep = 192;
            s.PanPos = 0;
            s.TiltPos = 0;
            s.DirTiltDown = 3;
            s.DirPanLeft = 0;
            s.DirPanRight = 1;
            s.DirTiltUp = 2;
        } else if (IsSet(s.IsCreativeMotion)) {
            // The statuses of the range reads are not looked at: a missing range reads as 0.
            ControlRange pan;
            camSrc_.GetCameraControlRange(CameraProperty::Pan, pan);
            s.PanMin = pan.min;
            s.PanMax = pan.max;
            s.PanStep = pan.step;
            s.PanDefault = pan.def;
            s.PanFlags = pan.flags;
            std::int32_t value = 0;
            camSrc_.GetCameraControl(CameraProperty::Pan, value);
            s.PanPos = value;
            ControlRange tilt;
            camSrc_.GetCameraControlRange(CameraProperty::Tilt, tilt);
            s.TiltMin = tilt.min;
            s.TiltMax = tilt.max;
            s.TiltStep = tilt.step;
            s.TiltDefault = tilt.def;
            s.TiltFlags = tilt.flags;
            value = 0;
            camSrc_.GetCameraControl(CameraProperty::Tilt, value);
            s.TiltPos = value;
            s.DirTiltDown = 2;
            s.DirPanLeft = 0;
            s.DirPanRight = 1;
            s.DirTiltUp = 3;
        } else if (IsSet(s.IsPantiltCamera)) {
            s.PanStep = 5;
            s.TiltStep = 10;
            s.PanPos = 0;
            s.TiltPos = 0;
            s.DirTiltDown = 2;
            s.DirPanLeft = 0;
            s.DirPanRight = 1;
            s.DirTiltUp = 3;
        }
    }

    Slider& slider = Ui().sldFocus;
    ControlRange zoom;
    if (camSrc_.GetCameraControlRange(CameraProperty::Zoom, zoom)) {
        s.ZoomMin = zoom.min;
        s.ZoomMax = zoom.max;
        s.ZoomDefault = zoom.def;
        s.ZoomFlags = zoom.flags;
        s.ZoomStep = 10;
        slider.setRange(s.ZoomMin, s.ZoomMax);
        std::int32_t value = 0;
        camSrc_.GetCameraControl(CameraProperty::Zoom, value);
        s.ZoomPos = value;
        // The camera is at this zoom already: nothing is written back to it.
        slider.setQuietly(s.ZoomPos);
        // A camera changed for one with a zoom gets its slider back.
        slider.setEnabled(true);
    } else {
        slider.setEnabled(false);
    }

    // A newly connected camera gets the time stamp back (the box's handler sets the overlay).
    Ui().chkTimeStamp.set(s.Settings.TimeStampOn);
}

void PtzControl::ConnectMotorAtStartup() {
    AppState& s = App();
    Controls& ui = Ui();
    if (IsSet(s.IsLogitechPtz)) {
        ui.lblLoading.set(QStringLiteral("Connecting to Logitech Sphere."));
        WriteLog(QStringLiteral("Launching Software: Connecting to Logitech Sphere"));
        SetStartupFailureText(QStringLiteral("Failed to connect to lvcam.dll"));
        WriteLog(QStringLiteral("Launching Software: Connecting to lvcam.dll"));
        s.IsLogitechPtz = ConnectionFlag(lvcam_->Function1());
        WriteLog(QStringLiteral("Launching Software: Connected = ") + TrueFalse(s.IsLogitechPtz));
    } else if (IsSet(s.IsPantiltCamera)) {
        ui.lblLoading.set(QStringLiteral("Connecting to Plustek Opticam M1."));
        WriteLog(QStringLiteral("Launching Software: Connecting to Plustek Opticam M1"));
        SetStartupFailureText(QStringLiteral("Failed to connect to pantilt.dll"));
        WriteLog(QStringLiteral("Launching Software: Connecting to pantilt.dll"));
        s.IsPantiltCamera = ConnectionFlag(pantilt_->OpenMotor());
        WriteLog(QStringLiteral("Launching Software: Connected = ") + TrueFalse(s.IsPantiltCamera));
        pantilt_->InitMotor();
        for (int axis = 0; axis < 3; ++axis)
            ReadAxisStatus(axis);
        s.PanPos = s.AxisX.Position;
        s.TiltPos = s.AxisY.Position;
        s.ZoomStep = 5;
        Slider& slider = ui.sldFocus;
        slider.setRange(0, s.AxisZ.Limit);
        s.ZoomPos = s.AxisZ.Position;
        slider.setQuietly(s.ZoomPos);
        // The unit's Z axis is the zoom, whatever the capture control reports.
        if (IsSet(s.IsPantiltCamera))
            slider.setEnabled(true);
    }
}

// The program's copy of one pantilt axis: position, speed and limit as 16-bit values.
void PtzControl::ReadAxisStatus(int axis) {
    AppState& s = App();
    ::AxisStatus record{};
    pantilt_->GetStatus(axis, &record);
    AxisStatus& copy = axis == 0 ? s.AxisX : axis == 1 ? s.AxisY : s.AxisZ;
    copy.Position = ToInteger(record.position);
    copy.Speed = ToInteger(record.speed);
    copy.Limit = ToInteger(record.limit);
    if (axis == 0) {
        copy.Speed = 200;
        copy.Limit = 210;
    } else if (axis == 1) {
        copy.Speed = 200;
        copy.Limit = 330;
    }
}

void PtzControl::MoveStep(std::int16_t direction, std::int32_t amount) {
    const AppState& s = App();
    if (IsSet(s.IsLogitechPtz))
        CheckLvResult(lvcam_->Function5(direction, amount));
    else if (IsSet(s.IsCreativeMotion))
        MoveCameraControl(direction, amount);
    else if (IsSet(s.IsPantiltCamera))
        MoveAxisRelative(direction, amount);
}

void PtzControl::MoveCameraControl(std::int16_t direction, std::int32_t amount) {
    AppState& s = App();
    switch (direction) {
    case 0:
        s.PanPos = std::max(AddLong(s.PanPos, -std::int64_t{amount}), s.PanMin);
        camSrc_.SetCameraControl(CameraProperty::Pan, s.PanPos);
        break;
    case 1:
        s.PanPos = std::min(AddLong(s.PanPos, amount), s.PanMax);
        camSrc_.SetCameraControl(CameraProperty::Pan, s.PanPos);
        break;
    case 2:
        s.TiltPos = std::max(AddLong(s.TiltPos, -std::int64_t{amount}), s.TiltMin);
        camSrc_.SetCameraControl(CameraProperty::Tilt, s.TiltPos);
        break;
    case 3:
        s.TiltPos = std::min(AddLong(s.TiltPos, amount), s.TiltMax);
        camSrc_.SetCameraControl(CameraProperty::Tilt, s.TiltPos);
        break;
    default:
        break;
    }
}

void PtzControl::MoveAxisRelative(std::int16_t direction, std::int32_t amount) {
    AppState& s = App();
    const std::int64_t step = ToInteger(amount);
    switch (direction) {
    case 0:
        s.AxisX.Position = std::max(ToInteger(s.AxisX.Position - step), std::int16_t{0});
        pantilt_->XMoveTo(s.AxisX.Position, s.AxisX.Speed);
        break;
    case 1:
        s.AxisX.Position =
            std::min<std::int32_t>(ToInteger(s.AxisX.Position + step), s.AxisX.Limit);
        pantilt_->XMoveTo(s.AxisX.Position, s.AxisX.Speed);
        break;
    case 2:
        s.AxisY.Position = std::max(ToInteger(s.AxisY.Position - step), std::int16_t{0});
        pantilt_->YMoveTo(s.AxisY.Position, s.AxisY.Speed);
        break;
    case 3:
        s.AxisY.Position =
            std::min<std::int32_t>(ToInteger(s.AxisY.Position + step), s.AxisY.Limit);
        pantilt_->YMoveTo(s.AxisY.Position, s.AxisY.Speed);
        break;
    default:
        break;
    }
}

void PtzControl::MoveHome() {
    AppState& s = App();
    if (IsSet(s.IsLogitechPtz)) {
        CheckLvResult(lvcam_->Function4());
    } else if (IsSet(s.IsCreativeMotion)) {
        s.PanPos = s.PanDefault;
        s.TiltPos = s.TiltDefault;
        camSrc_.SetCameraControl(CameraProperty::Pan, s.PanPos);
        camSrc_.SetCameraControl(CameraProperty::Tilt, s.TiltPos);
    } else if (IsSet(s.IsPantiltCamera)) {
        // The unit's home is where it was at start-up (0 after a camera change).
        s.AxisX.Position = ToInteger(s.PanPos);
        s.AxisY.Position = ToInteger(s.TiltPos);
        pantilt_->XMoveTo(s.AxisX.Position, s.AxisX.Speed);
        pantilt_->YMoveTo(s.AxisY.Position, s.AxisY.Speed);
    }
}

// Pan and tilt are offsets from the home position. The motors need their time: the preset
// waits for them while events run (the window stays alive; packets that arrive meanwhile wait
// their turn).
void PtzControl::ParsePresetLv(std::int32_t pan, std::int32_t tilt, std::int32_t zoom) {
    if (pan == 0 && tilt == 0) {
        CheckLvResult(lvcam_->Function4());
    } else {
        const std::int16_t panDirection = pan < 0 ? 0 : 1;
        const std::int32_t panAmount = AbsLong(pan);
        const std::int16_t tiltDirection = tilt < 0 ? 3 : 2;
        const std::int32_t tiltAmount = AbsLong(tilt);
        lvcam_->Function4();
        PauseWithEvents(kLvHomeWaitMs);
        lvcam_->Function5(panDirection, panAmount);
        PauseWithEvents(kLvMoveWaitMs);
        const std::int32_t result = lvcam_->Function5(tiltDirection, tiltAmount);
        PauseWithEvents(kLvMoveWaitMs);
        CheckLvPresetResult(result);
    }
    MovePresetZoom(zoom);
}

// Absolute values, sent as they are: the camera keeps to its own range.
void PtzControl::MovePresetCameraControl(std::int32_t pan, std::int32_t tilt, std::int32_t zoom) {
    AppState& s = App();
    s.PanPos = pan;
    s.TiltPos = tilt;
    s.ZoomPos = zoom;
    camSrc_.SetCameraControl(CameraProperty::Pan, s.PanPos);
    camSrc_.SetCameraControl(CameraProperty::Tilt, s.TiltPos);
    SetZoomSlider(s.ZoomPos);
}

void PtzControl::ParsePresetPantilt(std::int16_t x, std::int16_t y) {
    AppState& s = App();
    s.AxisX.Position = x;
    s.AxisY.Position = y;
    pantilt_->XMoveTo(x, s.AxisX.Speed);
    pantilt_->YMoveTo(y, s.AxisY.Speed);
}

void PtzControl::StepZoom(std::int16_t operation, std::int32_t step) {
    const Slider& slider = Ui().sldFocus;
    std::int32_t value = 0;
    switch (operation) {
    case 0:
        value = std::min(AddLong(slider.value(), step), slider.maximum());
        break;
    case 1:
        value = std::max(AddLong(slider.value(), -std::int64_t{step}), slider.minimum());
        break;
    case 2:
        value = slider.minimum();
        break;
    default:
        return;
    }
    App().ZoomPos = value;
    SetZoomSlider(value);
}

void PtzControl::MovePresetZoom(std::int32_t z) {
    App().ZoomPos = z;
    SetZoomSlider(z);
}

void PtzControl::SetZoomSlider(std::int32_t value) {
    zoomByCommand_ = true;
    zoomError_ = nullptr;
    // The handler runs even when the value stays (zooming in at the maximum still writes it).
    Ui().sldFocus.force(value);
    zoomByCommand_ = false;
    if (zoomError_)
        std::rethrow_exception(std::exchange(zoomError_, nullptr));
}

void PtzControl::sldFocus_Change() {
    try {
        App().ZoomPos = Ui().sldFocus.value();
        ApplyZoom();
    } catch (...) {
        // A command's error ends its packet; one of the user's own slider moves is logged here.
        if (zoomByCommand_) {
            zoomError_ = std::current_exception();
            return;
        }
        try {
            throw;
        } catch (const AppError& e) {
            WriteLog(StampedLine(QStringLiteral(" Zoom Error: ") + e.description()));
        } catch (const std::exception& e) {
            WriteLog(
                StampedLine(QStringLiteral(" Zoom Error: ") + QString::fromLocal8Bit(e.what())));
        }
    }
}

void PtzControl::ApplyZoom() {
    if (!IsSet(App().IsPantiltCamera))
        camSrc_.SetCameraControl(CameraProperty::Zoom, App().ZoomPos);
    else
        MoveZoomAxis();
}

void PtzControl::MoveZoomAxis() {
    AppState& s = App();
    s.AxisZ.Position = ToInteger(s.ZoomPos);
    pantilt_->ZMoveTo(s.AxisZ.Position, s.AxisZ.Speed);
}

bool PtzControl::CheckLvResult(std::int32_t result) {
    if (result == 1)
        return true;
    if (result == -1)
        WriteLog(QStringLiteral("Error communicating with LVCam.dll."));
    else
        WriteLog(QStringLiteral("Check Result = False"));
    return false;
}

bool PtzControl::CheckLvPresetResult(std::int32_t result) {
    if (result == 1)
        return true;
    if (result == -1)
        WriteLog(QStringLiteral("Error moving camera to home position"));
    else if (result == -2)
        WriteLog(QStringLiteral("Error moving to preset pan position"));
    else
        WriteLog(QStringLiteral("Error moving to preset tilt position"));
    return false;
}

} // namespace kestrova

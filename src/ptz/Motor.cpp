// The camera's motor back-end and its zoom. The back-end is chosen here, from the camera flags
// the classification set, each time the motor ranges are read and once more when the motor
// library has answered at start-up:
//
//   IsLogitechPtz      the camera motion library
//   IsCreativeMotion   the capture control's camera control
//   IsPantiltCamera    the pantilt motor unit
//   none of them       no moves; presets and zoom through the capture control's camera control
//
// The first flag that is set wins. Zoom is the slider's value; the back-end takes it to the
// camera.
#include "ptz/Ptz.h"

#include "camera/CaptureControl.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"
#include "ptz/MotorBackEnd.h"
#include "ptz/PtzValues.h"

#include <algorithm>
#include <utility>

namespace kestrova {

void PtzControl::ChooseMotorBackEnd() {
    MotorParts parts{camSrc_, *pantilt_, *lvcam_,
                     [this](std::int32_t value) { SetZoomSlider(value); }};
    const AppState& s = App();
    if (IsSet(s.IsLogitechPtz))
        backEnd_ = MakeMotionLibraryBackEnd(std::move(parts), &AppState::IsLogitechPtz);
    else if (IsSet(s.IsCreativeMotion))
        backEnd_ = MakeCameraControlBackEnd(std::move(parts));
    else if (IsSet(s.IsPantiltCamera))
        backEnd_ = MakePantiltBackEnd(std::move(parts), &AppState::IsPantiltCamera);
    else
        backEnd_ = std::make_shared<MotorBackEnd>(std::move(parts));
}

void PtzControl::ReadMotorRanges() {
    ChooseMotorBackEnd();
    AppState& s = App();
    if (IsSet(s.IsPtzCamera))
        Motor()->ReadRanges();

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
    // The connection keeps the library's answer in the camera's flag: a library that does not
    // answer leaves the camera without moves, whatever happens after the answer.
    try {
        Motor()->ConnectAtStartup();
    } catch (...) {
        ChooseMotorBackEnd();
        throw;
    }
    ChooseMotorBackEnd();
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
    Motor()->ApplyZoom();
}

} // namespace kestrova

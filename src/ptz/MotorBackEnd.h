// The motor back-ends: one for each way of moving a motorised camera, chosen from the camera's
// classification when the motor ranges are read (and again once the motor library has answered
// at start-up). A back-end sets up the step sizes and direction codes, connects its motor
// library, makes the relative and home moves, moves to presets and zooms.
//
// The base class is the camera without a motor of its own: it does not move, while its presets
// and its zoom go to the capture control's camera control, as they do for every camera whose
// back-end has no presets or zoom of its own. Each back-end lives in a file of its own and is
// made by its function below.
#pragma once

#include "core/AppState.h"

#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace kestrova {

class CaptureControl;
class LvCamLibrary;
class PantiltLibrary;

// What the back-ends drive the camera with.
struct MotorParts {
    CaptureControl& camSrc;
    PantiltLibrary& pantilt;
    LvCamLibrary& lvcam;
    // Sets the zoom slider as a command does and runs its change handler (which zooms through
    // the back-end); an error of the handler comes back to the caller.
    std::function<void(std::int32_t)> setZoomSlider;
};

class MotorBackEnd {
  public:
    explicit MotorBackEnd(MotorParts parts) : parts_(std::move(parts)) {}
    virtual ~MotorBackEnd() = default;
    MotorBackEnd(const MotorBackEnd&) = delete;
    MotorBackEnd& operator=(const MotorBackEnd&) = delete;

    // Step sizes, ranges and direction codes of a camera with a motor.
    virtual void ReadRanges() {}
    // Connects the motor library at start-up. Throws AppError.
    virtual void ConnectAtStartup() {}
    // A relative move by direction code and amount, and the move home. Throw AppError.
    virtual void MoveStep(std::int16_t /*direction*/, std::int32_t /*amount*/) {}
    virtual void MoveHome() {}
    // A preset from the pieces of its packet: pan, tilt and zoom, absolute values sent as they
    // are (the camera keeps to its own range). Throws AppError.
    virtual void MovePreset(const QStringList& pieces);
    // Writes ZoomPos to the camera's zoom. Throws AppError.
    virtual void ApplyZoom();

  protected:
    MotorParts parts_;
};

// The camera motion library of Logitech motor webcams: relative moves by direction code. Its
// connection at start-up keeps the library's answer in the flag `connected`.
std::unique_ptr<MotorBackEnd> MakeMotionLibraryBackEnd(MotorParts parts, Flag AppState::*connected);
// The capture control's camera control: absolute pan and tilt within the camera's ranges.
std::unique_ptr<MotorBackEnd> MakeCameraControlBackEnd(MotorParts parts);
// The pantilt motor unit: absolute X, Y and Z positions with a speed; the Z axis zooms. Its
// connection at start-up keeps the unit's answer in the flag `connected`.
std::unique_ptr<MotorBackEnd> MakePantiltBackEnd(MotorParts parts, Flag AppState::*connected);

// A motor library's connection result as a camera flag keeps it: 1 is true, anything else keeps
// its low 16 bits.
Flag ConnectionFlag(std::int32_t result);
// "True" or "False", as the log writes a flag.
QString TrueFalse(Flag flag);

// The motion library's results, logged: true for success.
bool CheckLvResult(std::int32_t result);
bool CheckLvPresetResult(std::int32_t result);

} // namespace kestrova

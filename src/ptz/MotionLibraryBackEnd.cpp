// The camera motion library of Logitech motor webcams (libKestrovaLVCam.so): the library moves
// the camera from where it is, by a direction code and an amount in its own units, and home.
#include "core/Controls.h"
#include "core/EventLog.h"
#include "core/StationState.h"
#include "core/Wait.h"
#include "ptz/MotorBackEnd.h"
#include "ptz/MotorLibrary.h"
#include "ptz/PtzValues.h"

namespace kestrova {

namespace {

// What a preset's waits allow the camera: the home move, then each move.
constexpr int kHomeWaitMs = 3000;
constexpr int kMoveWaitMs = 1000;

class MotionLibraryBackEnd : public MotorBackEnd {
  public:
    MotionLibraryBackEnd(MotorParts parts, Flag AppState::*connected)
        : MotorBackEnd(std::move(parts)), connected_(connected) {}

    void ReadRanges() override {
        AppState& s = App();
        s.PanStep = 320;
        s.TiltStep = 192;
        s.PanPos = 0;
        s.TiltPos = 0;
        s.DirTiltDown = 3;
        s.DirPanLeft = 0;
        s.DirPanRight = 1;
        s.DirTiltUp = 2;
    }

    void ConnectAtStartup() override {
        Ui().lblLoading.set(QStringLiteral("Connecting to Logitech Sphere."));
        WriteLog(QStringLiteral("Launching Software: Connecting to Logitech Sphere"));
        SetStartupFailureText(QStringLiteral("Failed to connect to lvcam.dll"));
        WriteLog(QStringLiteral("Launching Software: Connecting to lvcam.dll"));
        Flag& connected = App().*connected_;
        connected = ConnectionFlag(parts_.lvcam.Function1());
        WriteLog(QStringLiteral("Launching Software: Connected = ") + TrueFalse(connected));
    }

    void MoveStep(std::int16_t direction, std::int32_t amount) override {
        CheckLvResult(parts_.lvcam.Function5(direction, amount));
    }

    void MoveHome() override { CheckLvResult(parts_.lvcam.Function4()); }

    // Pan and tilt are offsets from the home position. The motors need their time: the preset
    // waits for them while events run (the window stays alive; packets that arrive meanwhile
    // wait their turn).
    void MovePreset(const QStringList& pieces) override {
        const std::int32_t pan = ParseLong(PresetPiece(pieces, 0));
        const std::int32_t tilt = ParseLong(PresetPiece(pieces, 1));
        const std::int32_t zoom = ParseLong(PresetPiece(pieces, 2));
        if (pan == 0 && tilt == 0) {
            CheckLvResult(parts_.lvcam.Function4());
        } else {
            const std::int16_t panDirection = pan < 0 ? 0 : 1;
            const std::int32_t panAmount = AbsLong(pan);
            const std::int16_t tiltDirection = tilt < 0 ? 3 : 2;
            const std::int32_t tiltAmount = AbsLong(tilt);
            parts_.lvcam.Function4();
            PauseWithEvents(kHomeWaitMs);
            parts_.lvcam.Function5(panDirection, panAmount);
            PauseWithEvents(kMoveWaitMs);
            const std::int32_t result = parts_.lvcam.Function5(tiltDirection, tiltAmount);
            PauseWithEvents(kMoveWaitMs);
            CheckLvPresetResult(result);
        }
        App().ZoomPos = zoom;
        parts_.setZoomSlider(zoom);
    }

  private:
    Flag AppState::*connected_;
};

} // namespace

std::unique_ptr<MotorBackEnd> MakeMotionLibraryBackEnd(MotorParts parts,
                                                       Flag AppState::*connected) {
    return std::make_unique<MotionLibraryBackEnd>(std::move(parts), connected);
}

bool CheckLvResult(std::int32_t result) {
    if (result == 1)
        return true;
    if (result == -1)
        WriteLog(QStringLiteral("Error communicating with LVCam.dll."));
    else
        WriteLog(QStringLiteral("Check Result = False"));
    return false;
}

bool CheckLvPresetResult(std::int32_t result) {
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

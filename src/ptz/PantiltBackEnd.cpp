// The pantilt motor unit (libpantilt.so): absolute X, Y and Z positions, each with a speed. The
// station keeps its own copy of each axis; the Z axis is the zoom.
#include "core/Controls.h"
#include "core/EventLog.h"
#include "core/StationState.h"
#include "ptz/MotorBackEnd.h"
#include "ptz/MotorLibrary.h"
#include "ptz/PtzValues.h"

#include <algorithm>

namespace kestrova {

namespace {

class PantiltBackEnd : public MotorBackEnd {
  public:
    PantiltBackEnd(MotorParts parts, Flag AppState::*connected)
        : MotorBackEnd(std::move(parts)), connected_(connected) {}

    void ReadRanges() override {
        AppState& s = App();
        s.PanStep = 5;
        s.TiltStep = 10;
        s.PanPos = 0;
        s.TiltPos = 0;
        s.DirTiltDown = 2;
        s.DirPanLeft = 0;
        s.DirPanRight = 1;
        s.DirTiltUp = 3;
    }

    void ConnectAtStartup() override {
        AppState& s = App();
        Controls& ui = Ui();
        ui.lblLoading.set(QStringLiteral("Connecting to Plustek Opticam M1."));
        WriteLog(QStringLiteral("Launching Software: Connecting to Plustek Opticam M1"));
        SetStartupFailureText(QStringLiteral("Failed to connect to pantilt.dll"));
        WriteLog(QStringLiteral("Launching Software: Connecting to pantilt.dll"));
        Flag& connected = s.*connected_;
        connected = ConnectionFlag(parts_.pantilt.OpenMotor());
        WriteLog(QStringLiteral("Launching Software: Connected = ") + TrueFalse(connected));
        parts_.pantilt.InitMotor();
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
        if (IsSet(connected))
            slider.setEnabled(true);
    }

    void MoveStep(std::int16_t direction, std::int32_t amount) override {
        AppState& s = App();
        PantiltLibrary& unit = parts_.pantilt;
        const std::int64_t step = ToInteger(amount);
        switch (direction) {
        case 0:
            s.AxisX.Position = std::max(ToInteger(s.AxisX.Position - step), std::int16_t{0});
            unit.XMoveTo(s.AxisX.Position, s.AxisX.Speed);
            break;
        case 1:
            s.AxisX.Position =
                std::min<std::int32_t>(ToInteger(s.AxisX.Position + step), s.AxisX.Limit);
            unit.XMoveTo(s.AxisX.Position, s.AxisX.Speed);
            break;
        case 2:
            s.AxisY.Position = std::max(ToInteger(s.AxisY.Position - step), std::int16_t{0});
            unit.YMoveTo(s.AxisY.Position, s.AxisY.Speed);
            break;
        case 3:
            s.AxisY.Position =
                std::min<std::int32_t>(ToInteger(s.AxisY.Position + step), s.AxisY.Limit);
            unit.YMoveTo(s.AxisY.Position, s.AxisY.Speed);
            break;
        default:
            break;
        }
    }

    // The unit's home is where it was at start-up (0 after a camera change).
    void MoveHome() override {
        AppState& s = App();
        s.AxisX.Position = ToInteger(s.PanPos);
        s.AxisY.Position = ToInteger(s.TiltPos);
        parts_.pantilt.XMoveTo(s.AxisX.Position, s.AxisX.Speed);
        parts_.pantilt.YMoveTo(s.AxisY.Position, s.AxisY.Speed);
    }

    // The unit has no preset zoom: only pan and tilt are read.
    void MovePreset(const QStringList& pieces) override {
        const std::int16_t x = ParseInteger(PresetPiece(pieces, 0));
        const std::int16_t y = ParseInteger(PresetPiece(pieces, 1));
        AppState& s = App();
        s.AxisX.Position = x;
        s.AxisY.Position = y;
        parts_.pantilt.XMoveTo(x, s.AxisX.Speed);
        parts_.pantilt.YMoveTo(y, s.AxisY.Speed);
    }

    void ApplyZoom() override {
        AppState& s = App();
        s.AxisZ.Position = ToInteger(s.ZoomPos);
        parts_.pantilt.ZMoveTo(s.AxisZ.Position, s.AxisZ.Speed);
    }

  private:
    // The station's copy of one axis: position, speed and limit as 16-bit values.
    void ReadAxisStatus(int axis) {
        AppState& s = App();
        ::AxisStatus record{};
        parts_.pantilt.GetStatus(axis, &record);
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

    Flag AppState::*connected_;
};

} // namespace

std::unique_ptr<MotorBackEnd> MakePantiltBackEnd(MotorParts parts, Flag AppState::*connected) {
    return std::make_unique<PantiltBackEnd>(std::move(parts), connected);
}

} // namespace kestrova

// The command words and their dispatcher.
#include "ptz/Ptz.h"

#include "core/AppError.h"
#include "core/AppState.h"
#include "core/EventLog.h"
#include "ptz/MotorBackEnd.h"
#include "ptz/PtzValues.h"

namespace kestrova {

namespace {

// Packets that wait while a preset runs: the listener holds at most three connections, each
// served once, so only a flood of button clicks could reach this.
constexpr std::size_t kMaxWaitingPackets = 32;

bool Has(const QString& packet, const char* word) {
    return packet.contains(QLatin1String(word), Qt::CaseSensitive);
}

void LogPacketError(const QString& description) {
    WriteLog(StampedLine(QStringLiteral(" Process Packet Error: ") + description));
}

// A packet as a log line shows it between quotes: printable ASCII as it is, a quote, a
// backslash and any other byte as \xNN, at most 80 bytes.
QString Shown(const QString& packet) {
    QString out;
    for (const QChar c : packet.left(80)) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F && u != '\\' && u != '"')
            out += c;
        else
            out += QStringLiteral("\\x%1").arg(static_cast<unsigned>(u & 0xFF), 2, 16,
                                               QLatin1Char('0'));
    }
    return packet.size() > 80 ? out + QStringLiteral("...") : out;
}

// The packets of the five move buttons: left, right, up, down, home.
constexpr const char* kMovePackets[5] = {"pan_left", "pan_right", "tilt_up", "tilt_down",
                                         "set_motor_home"};

} // namespace

void PtzControl::ProcessPacket(const QString& packet) {
    Dispatch(packet, nullptr);
}

// Carries out the packet now, or once the packet under way has ended; `done` runs after it.
void PtzControl::Dispatch(QString packet, std::function<void()> done) {
    if (dispatching_ && pending_.size() >= kMaxWaitingPackets) {
        LogPacketError(QStringLiteral("Too many packets waiting; this one was dropped"));
        if (done)
            done();
        return;
    }
    pending_.push_back(Pending{std::move(packet), std::move(done)});
    if (dispatching_)
        return;
    dispatching_ = true;
    struct Reset {
        PtzControl& control;
        ~Reset() {
            control.dispatching_ = false;
            control.DeleteClosedSockets();
        }
    } reset{*this};
    while (!pending_.empty()) {
        Pending next = std::move(pending_.front());
        pending_.pop_front();
        RunPacket(next.packet);
        if (next.done)
            next.done();
    }
}

void PtzControl::RunPacket(const QString& packet) {
    AppState& s = App();
    try {
        if (Has(packet, "Reflector_true"))
            s.ReflectorActive = kTrue;
        if (Has(packet, "Reflector_false"))
            s.ReflectorActive = kFalse;
        const bool motor = IsSet(s.IsPtzCamera);
        if (motor) {
            if (Has(packet, "tilt_up"))
                Motor()->MoveStep(s.DirTiltUp, s.TiltStep);
            if (Has(packet, "tilt_down"))
                Motor()->MoveStep(s.DirTiltDown, s.TiltStep);
            if (Has(packet, "pan_left"))
                Motor()->MoveStep(s.DirPanLeft, s.PanStep);
            if (Has(packet, "pan_right"))
                Motor()->MoveStep(s.DirPanRight, s.PanStep);
            if (Has(packet, "pan_double_left"))
                Motor()->MoveStep(s.DirPanLeft, 640);
            if (Has(packet, "pan_double_right"))
                Motor()->MoveStep(s.DirPanRight, 640);
            if (Has(packet, "set_motor_home"))
                Motor()->MoveHome();
            if (Has(packet, "Preset_"))
                ParsePreset(packet);
            if (Has(packet, "pre_up"))
                Motor()->MoveStep(s.DirTiltUp, 320);
            if (Has(packet, "pre_down"))
                Motor()->MoveStep(s.DirTiltDown, 320);
            if (Has(packet, "pre_left"))
                Motor()->MoveStep(s.DirPanLeft, 320);
            if (Has(packet, "pre_right"))
                Motor()->MoveStep(s.DirPanRight, 320);
        }
        // A plain webcam zooms too when its capture control has a zoom.
        const std::int32_t step = motor ? s.ZoomStep : 10;
        if (Has(packet, "ZOOM_IN"))
            StepZoom(0, step);
        if (Has(packet, "ZOOM_OUT"))
            StepZoom(1, step);
        if (Has(packet, "RESTORE"))
            StepZoom(2, step);
        if (IsSet(s.LogPtzPackets))
            WriteLog(QStringLiteral("PTZ listener: carried out \"%1\"").arg(Shown(packet)));
    } catch (const AppError& e) {
        LogPacketError(e.description());
    } catch (const std::exception& e) {
        LogPacketError(QString::fromLocal8Bit(e.what()));
    }
}

void PtzControl::ParsePreset(const QString& packet) {
    Motor()->MovePreset(PresetPieces(packet));
}

void PtzControl::butMove_Click(int index) {
    if (!IsSet(App().IsPtzCamera) || index < 0 || index >= 5)
        return;
    ProcessPacket(QLatin1String(kMovePackets[index]));
}

} // namespace kestrova

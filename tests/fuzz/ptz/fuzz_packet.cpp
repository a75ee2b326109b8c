// Fuzz entry for the command dispatcher and the preset grammar. The first byte picks the
// back-end and where the camera starts; the rest is the packet, one character per byte as it
// comes off the wire. The motor libraries are stand-ins linked in here, and the station counts
// as closing so that the presets' waits end at once.
#include "camera/CaptureControl.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/StationState.h"
#include "ptz/MotorLibrary.h"
#include "ptz/Ptz.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

using namespace kestrova;

std::int32_t Succeed() {
    return 1;
}
std::int32_t Move(std::int32_t, std::int32_t) {
    return 1;
}
std::int32_t Status(std::int32_t axis, ::AxisStatus* status) {
    if (axis < 0 || axis > 2 || !status)
        return 0;
    *status = ::AxisStatus{100, 200, 100, 215};
    return 1;
}
std::int32_t Step(std::int16_t, std::int32_t) {
    return 1;
}

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "ptz_packet_fuzzer";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

// Positions at the edges of their types, so that the moves' arithmetic meets its limits.
void StartAtTheEdges(AppState& s) {
    constexpr std::int32_t kLongMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kLongMin = std::numeric_limits<std::int32_t>::min();
    s.PanPos = kLongMin + 100;
    s.TiltPos = kLongMax - 100;
    s.PanMin = kLongMin;
    s.PanMax = kLongMax;
    s.TiltMin = kLongMin;
    s.TiltMax = kLongMax;
    s.AxisX.Position = 32760;
    s.AxisY.Position = -32760;
    s.AxisX.Limit = 32767;
    s.AxisY.Limit = 32767;
    Ui().sldFocus.setRange(kLongMin, kLongMax);
    Ui().sldFocus.setQuietly(kLongMax - 3);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EnsureApplication();
    if (size == 0)
        return 0;
    StationState state;
    AppState& s = state.app;
    s.AbortRequested = kTrue;
    CaptureControl camSrc;
    PtzControl ptz(camSrc);
    ptz.pantilt().Bind(PantiltFunctions{Succeed, Succeed, Status, Move, Move, Move});
    ptz.lvcam().Bind(LvCamFunctions{Succeed, Succeed, Step});

    const std::uint8_t choice = data[0];
    const int backEnd = choice & 3;
    s.IsPtzCamera = (choice & 4) ? kFalse : kTrue;
    s.IsLogitechPtz = backEnd == 1 ? kTrue : kFalse;
    s.IsCreativeMotion = backEnd == 2 ? kTrue : kFalse;
    s.IsPantiltCamera = backEnd == 3 ? kTrue : kFalse;
    ptz.ReadMotorRanges();
    ptz.ConnectMotorAtStartup();
    if (choice & 8)
        StartAtTheEdges(s);

    const QString packet = QString::fromLatin1(reinterpret_cast<const char*>(data + 1),
                                               static_cast<qsizetype>(size - 1));
    ptz.ProcessPacket(packet);
    try {
        ptz.ParsePreset(packet);
    } catch (const AppError&) {
        // A preset that is no preset: the dispatcher logs it.
    }
    return 0;
}

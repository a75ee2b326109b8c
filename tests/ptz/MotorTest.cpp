// The motor back-ends: their set-up and connection at start-up, the motion library's presets and
// results, zoom, and the picture of a camera that moves.
#include "PtzFixture.h"

#include "core/AppError.h"
#include "core/Controls.h"
#include "core/StationState.h"
#include "ptz/MotorBackEnd.h"

#include <QImage>
#include <QTimer>

#include <ctime>

namespace kestrova::test {
namespace {

TEST_F(PtzTest, PantiltAtStartUpOpensAndInitialisesTheUnitAndReadsItsAxes) {
    useBackEnd(BackEnd::Pantilt, true);
    const AppState& s = App();
    EXPECT_EQ(kTrue, s.IsPantiltCamera);
    EXPECT_EQ((QStringList{"Launching Software: Connecting to Plustek Opticam M1",
                           "Launching Software: Connecting to pantilt.dll",
                           "Launching Software: Connected = True"}),
              log());
    EXPECT_EQ(QStringLiteral("Connecting to Plustek Opticam M1."), Ui().lblLoading.value());
    EXPECT_EQ(QStringLiteral("Failed to connect to pantilt.dll"), StartupFailureText());
    ASSERT_EQ(2u, reports().size());
    EXPECT_EQ(0xFE, reports()[1].command);
    EXPECT_EQ(
        (std::vector<std::int32_t>{100, 200, 210, 90, 200, 330, 55, 200, 215, 100, 90, 5}),
        (std::vector<std::int32_t>{s.AxisX.Position, s.AxisX.Speed, s.AxisX.Limit, s.AxisY.Position,
                                   s.AxisY.Speed, s.AxisY.Limit, s.AxisZ.Position, s.AxisZ.Speed,
                                   s.AxisZ.Limit, s.PanPos, s.TiltPos, s.ZoomStep}));
    EXPECT_EQ((std::vector<int>{0, 215, 55}),
              (std::vector<int>{Ui().sldFocus.minimum(), Ui().sldFocus.maximum(),
                                Ui().sldFocus.value()}));
}

struct ConnectCase {
    std::int32_t result; // of Function1
    Flag flag;           // IsLogitechPtz afterwards
    const char* connected;
};

class LvConnectTest : public PtzTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(LvConnectTest, TheMotionLibraryIsConnectedAndItsResultKept) {
    setLvResults(GetParam().result, 1, 1);
    useBackEnd(BackEnd::MotionLibrary, true);
    EXPECT_EQ(GetParam().flag, App().IsLogitechPtz);
    EXPECT_EQ((QStringList{"Launching Software: Connecting to Logitech Sphere",
                           "Launching Software: Connecting to lvcam.dll", GetParam().connected}),
              log());
    EXPECT_EQ(QStringLiteral("Connecting to Logitech Sphere."), Ui().lblLoading.value());
    EXPECT_EQ(QStringLiteral("Failed to connect to lvcam.dll"), StartupFailureText());
}

INSTANTIATE_TEST_SUITE_P(
    Results, LvConnectTest,
    ::testing::Values(ConnectCase{1, kTrue, "Launching Software: Connected = True"},
                      ConnectCase{0, kFalse, "Launching Software: Connected = False"},
                      ConnectCase{2, 2, "Launching Software: Connected = True"}));

class MissingLibraryTest : public PtzTest,
                           public ::testing::WithParamInterface<std::pair<BackEnd, const char*>> {};

TEST_P(MissingLibraryTest, AtStartUpAMissingLibraryIsAnErrorUnderItsFailureText) {
    station_.useProgramFolder(station_.tempPath() + QStringLiteral("/empty"));
    EXPECT_THROW(useBackEnd(GetParam().first, true), AppError);
    EXPECT_EQ(QString::fromLatin1(GetParam().second), StartupFailureText());
    // Later the same call is a packet's error.
    ptz_->ProcessPacket(QStringLiteral("pan_left"));
    ASSERT_EQ(1, packetErrors().size());
    EXPECT_TRUE(packetErrors()[0].contains(QStringLiteral("Cannot load library")));
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, MissingLibraryTest,
    ::testing::Values(std::make_pair(BackEnd::MotionLibrary, "Failed to connect to lvcam.dll"),
                      std::make_pair(BackEnd::Pantilt, "Failed to connect to pantilt.dll")));

TEST_F(PtzTest, AMotionLibraryPresetHomesWaitsAndMovesWhilePacketsWaitTheirTurn) {
    useBackEnd(BackEnd::MotionLibrary);
    Ui().sldFocus.setRange(0, 200);
    // A click during the preset's waits is carried out after the preset.
    QTimer::singleShot(500, &camSrc_, [] { Ui().butMove[0].click(); });
    ptz_->ProcessPacket(QStringLiteral("Preset_-320:96:150"));
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long end = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;

    const std::vector<LvCall> calls = lvCalls();
    EXPECT_EQ(
        (QStringList{"Function4()", "Function5(0,320)", "Function5(2,96)", "Function5(0,320)"}),
        lvCallNames());
    ASSERT_EQ(4u, calls.size());
    EXPECT_GE(calls[1].atMs - calls[0].atMs, 3000);
    EXPECT_GE(calls[2].atMs - calls[1].atMs, 1000);
    EXPECT_GE(calls[3].atMs - calls[2].atMs, 1000);
    EXPECT_GE(end, calls[3].atMs);
    EXPECT_EQ(150, Ui().sldFocus.value());
    EXPECT_EQ(150, App().ZoomPos);
}

struct LvResultCase {
    bool preset; // CheckLvPresetResult instead of CheckLvResult
    std::int32_t result;
    const char* line; // nullptr: success, nothing logged
};

class LvResultTest : public PtzTest, public ::testing::WithParamInterface<LvResultCase> {};

TEST_P(LvResultTest, TheResultIsLogged) {
    const LvResultCase& c = GetParam();
    const bool ok = c.preset ? CheckLvPresetResult(c.result) : CheckLvResult(c.result);
    EXPECT_EQ(c.line == nullptr, ok);
    EXPECT_EQ(c.line ? QStringList{QString::fromLatin1(c.line)} : QStringList(), log());
}

INSTANTIATE_TEST_SUITE_P(
    Results, LvResultTest,
    ::testing::Values(LvResultCase{false, 1, nullptr},
                      LvResultCase{false, -1, "Error communicating with LVCam.dll."},
                      LvResultCase{false, 0, "Check Result = False"},
                      LvResultCase{true, 1, nullptr},
                      LvResultCase{true, -1, "Error moving camera to home position"},
                      LvResultCase{true, -2, "Error moving to preset pan position"},
                      LvResultCase{true, 0, "Error moving to preset tilt position"}));

struct RangesCase {
    BackEnd backEnd;
    std::vector<int> steps; // PanStep, TiltStep, DirPanLeft, DirPanRight, DirTiltUp, DirTiltDown
};

class RangesTest : public PtzTest, public ::testing::WithParamInterface<RangesCase> {};

TEST_P(RangesTest, EachBackEndHasItsStepsAndDirectionCodesAndTheCamerasZoom) {
    connectCamera("Creative WebCam Live! Motion");
    useBackEnd(GetParam().backEnd);
    const AppState& s = App();
    EXPECT_EQ(GetParam().steps, (std::vector<int>{s.PanStep, s.TiltStep, s.DirPanLeft,
                                                  s.DirPanRight, s.DirTiltUp, s.DirTiltDown}));
    EXPECT_EQ(10, s.ZoomStep);
    EXPECT_TRUE(Ui().sldFocus.enabled());
    EXPECT_EQ((std::vector<int>{100, 500, cameraValue(CameraProperty::Zoom)}),
              (std::vector<int>{Ui().sldFocus.minimum(), Ui().sldFocus.maximum(),
                                Ui().sldFocus.value()}));
}

INSTANTIATE_TEST_SUITE_P(
    BackEnds, RangesTest,
    ::testing::Values(RangesCase{BackEnd::MotionLibrary, {320, 192, 0, 1, 2, 3}},
                      RangesCase{BackEnd::CameraControl, {320, 240, 0, 1, 3, 2}},
                      RangesCase{BackEnd::Pantilt, {5, 10, 0, 1, 3, 2}}));

// The camera control back-end on the virtual Creative camera.
class CameraControlTest : public PtzTest {
  protected:
    void SetUp() override {
        connectCamera("Creative WebCam Live! Motion");
        camSrc_.SetCameraControl(CameraProperty::Pan, 2880);
        camSrc_.SetCameraControl(CameraProperty::Tilt, 0);
        camSrc_.SetCameraControl(CameraProperty::Zoom, 490);
        useBackEnd(BackEnd::CameraControl);
    }
};

TEST_F(CameraControlTest, ZoomInAtTheMaximumStillWritesItAndRestoreGoesFullyOut) {
    ptz_->ProcessPacket(QStringLiteral("ZOOM_IN"));
    EXPECT_EQ(500, Ui().sldFocus.value());
    // The camera's zoom changed behind the slider's back: zooming in at the maximum writes it.
    camSrc_.SetCameraControl(CameraProperty::Zoom, 300);
    ptz_->ProcessPacket(QStringLiteral("ZOOM_IN"));
    EXPECT_EQ(500, cameraValue(CameraProperty::Zoom));
    ptz_->ProcessPacket(QStringLiteral("RESTORE"));
    EXPECT_EQ(100, Ui().sldFocus.value());
    EXPECT_EQ(100, cameraValue(CameraProperty::Zoom));
    // The user's own move of the slider zooms too.
    Ui().sldFocus.set(250);
    EXPECT_EQ(250, cameraValue(CameraProperty::Zoom));
}

TEST_F(CameraControlTest, APresetMovesThePicture) {
    ptz_->ProcessPacket(QStringLiteral("Preset_0:0:100"));
    const QImage before = camSrc_.CurrentFrame(QSize(320, 240));
    ptz_->ProcessPacket(QStringLiteral("Preset_-3200:1200:200"));
    EXPECT_GT(MeanDifference(before, camSrc_.CurrentFrame(QSize(320, 240))), 10);
    // Back where it was, the picture is the same but for the clock's hand.
    ptz_->ProcessPacket(QStringLiteral("Preset_0:0:100"));
    EXPECT_LT(MeanDifference(before, camSrc_.CurrentFrame(QSize(320, 240))), 3);
}

TEST_F(CameraControlTest, APresetZoomBeyondTheRangeStopsAtItsEndAndZoomingOutWorksAtOnce) {
    ptz_->ProcessPacket(QStringLiteral("Preset_0:0:900"));
    EXPECT_EQ((std::vector<int>{500, 500}),
              (std::vector<int>{Ui().sldFocus.value(), App().ZoomPos}));
    ptz_->ProcessPacket(QStringLiteral("ZOOM_OUT"));
    EXPECT_EQ((std::vector<int>{490, 490, 490}),
              (std::vector<int>{Ui().sldFocus.value(), App().ZoomPos,
                                cameraValue(CameraProperty::Zoom)}));
}

// The camera's own step and the fixed far move, as the picture shows them: a step visibly, a
// far move about twice as far.
TEST_F(CameraControlTest, AFarPanMovesThePictureAboutTwiceAsFarAsAStep) {
    int shift[2] = {};
    for (const int i : {0, 1}) {
        ptz_->ProcessPacket(QStringLiteral("Preset_0:0:100"));
        const QImage before = camSrc_.CurrentFrame(QSize(320, 240));
        ptz_->ProcessPacket(i == 0 ? QStringLiteral("pan_right")
                                   : QStringLiteral("pan_double_right"));
        shift[i] = -BestShift(before, camSrc_.CurrentFrame(QSize(320, 240)), 80).first;
    }
    EXPECT_GE(shift[0], 10);
    EXPECT_GE(shift[1] * 2, shift[0] * 3);
    EXPECT_LE(shift[1], shift[0] * 3);
}

} // namespace
} // namespace kestrova::test

// The motor back-ends: set-up at start-up, relative, home and preset moves, zoom, and the
// checked arithmetic of the moves.
#include "PtzFixture.h"

#include "core/AppError.h"
#include "core/Controls.h"
#include "core/StationState.h"
#include "support/fake_hidraw.h"

#include <QImage>
#include <QTimer>

#include <cstdlib>
#include <ctime>
#include <limits>

namespace kestrova::test {
namespace {

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The pantilt back-end connected at start-up to the motor base of a fake hidraw tree.
class PantiltTest : public PtzTest {
  protected:
    void SetUp() override {
        tree_.AddMotor(0);
        App().IsPtzCamera = kTrue;
        App().IsPantiltCamera = kTrue;
        ptz_->ReadMotorRanges();
        ptz_->ConnectMotorAtStartup();
    }
    PantiltReport last() {
        const std::vector<PantiltReport> reports = PantiltReports(tree_.Written(0));
        return reports.empty() ? PantiltReport{} : reports.back();
    }
    std::size_t reportCount() { return PantiltReports(tree_.Written(0)).size(); }

    pantilt::test::FakeHidrawTree tree_;
};

TEST_F(PantiltTest, TheStartUpOpensAndInitialisesTheUnitAndReadsItsAxes) {
    const AppState& s = App();
    EXPECT_EQ(kTrue, s.IsPantiltCamera);
    EXPECT_EQ((QStringList{"Launching Software: Connecting to Plustek Opticam M1",
                           "Launching Software: Connecting to pantilt.dll",
                           "Launching Software: Connected = True"}),
              log());
    EXPECT_EQ(QStringLiteral("Connecting to Plustek Opticam M1."), Ui().lblLoading.value());
    EXPECT_EQ(QStringLiteral("Failed to connect to pantilt.dll"), StartupFailureText());
    const std::vector<PantiltReport> init = PantiltReports(tree_.Written(0));
    ASSERT_EQ(2u, init.size());
    EXPECT_EQ(0xFF, init[0].command);
    EXPECT_EQ(0xFE, init[1].command);
    EXPECT_EQ((std::vector<std::int32_t>{100, 200, 210, 90, 200, 330, 55, 200, 215}),
              (std::vector<std::int32_t>{s.AxisX.Position, s.AxisX.Speed, s.AxisX.Limit,
                                         s.AxisY.Position, s.AxisY.Speed, s.AxisY.Limit,
                                         s.AxisZ.Position, s.AxisZ.Speed, s.AxisZ.Limit}));
    EXPECT_EQ(100, s.PanPos);
    EXPECT_EQ(90, s.TiltPos);
    EXPECT_EQ(5, s.ZoomStep);
    EXPECT_EQ(5, s.PanStep);
    EXPECT_EQ(10, s.TiltStep);
    EXPECT_EQ(0, Ui().sldFocus.minimum());
    EXPECT_EQ(215, Ui().sldFocus.maximum());
    EXPECT_EQ(55, Ui().sldFocus.value());
}

struct PantiltMoveCase {
    const char* packet;
    int x, y, z;
};

class PantiltMoveTest : public PantiltTest,
                        public ::testing::WithParamInterface<PantiltMoveCase> {};

// Each case starts at X 3 and Y 320 (preset), Z 55.
TEST_P(PantiltMoveTest, TheMoveReachesTheUnitWithinItsLimits) {
    const PantiltMoveCase& c = GetParam();
    ptz_->ProcessPacket(QStringLiteral("Preset_3:320"));
    ptz_->ProcessPacket(QString::fromLatin1(c.packet));
    const PantiltReport report = last();
    EXPECT_EQ(c.x, report.x);
    EXPECT_EQ(c.y, report.y);
    EXPECT_EQ(c.z, report.z);
    EXPECT_TRUE(packetErrors().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Moves, PantiltMoveTest,
                         ::testing::Values(PantiltMoveCase{"pan_left", 0, 320, 55},
                                           PantiltMoveCase{"pan_right", 8, 320, 55},
                                           PantiltMoveCase{"pan_double_right", 210, 320, 55},
                                           PantiltMoveCase{"tilt_up", 3, 330, 55},
                                           PantiltMoveCase{"tilt_down", 3, 310, 55},
                                           PantiltMoveCase{"pre_down", 3, 0, 55},
                                           // Home is where the unit was at start-up.
                                           PantiltMoveCase{"set_motor_home", 100, 90, 55},
                                           PantiltMoveCase{"ZOOM_IN", 3, 320, 60},
                                           PantiltMoveCase{"RESTORE", 3, 320, 0},
                                           // The preset's zoom is not used.
                                           PantiltMoveCase{"Preset_150:60:200", 150, 60, 55}));

TEST_F(PantiltTest, APresetOfTwoPiecesMovesTheUnit) {
    ptz_->ProcessPacket(QStringLiteral("Preset_150:60"));
    EXPECT_EQ(150, last().x);
    EXPECT_EQ(60, last().y);
    EXPECT_TRUE(packetErrors().isEmpty());
}

TEST_F(PantiltTest, AMoveBeyondSixteenBitsIsAPacketErrorAndSendsNothing) {
    ptz_->ProcessPacket(QStringLiteral("Preset_32768:0")); // does not fit
    ptz_->ProcessPacket(QStringLiteral("Preset_-32768:0"));
    const std::size_t reports = reportCount();
    ptz_->ProcessPacket(QStringLiteral("pan_left")); // -32768 - 5 does not fit
    EXPECT_EQ(reports, reportCount());
    ASSERT_EQ(2, packetErrors().size());
    for (const QString& line : packetErrors())
        EXPECT_TRUE(line.endsWith(QStringLiteral("Overflow"))) << line.toStdString();
    EXPECT_EQ(-32768, App().AxisX.Position);
}

TEST_F(PtzTest, WithoutAUnitTheStartUpGoesOnWithTheMotorFlagCleared) {
    pantilt::test::FakeHidrawTree empty;
    App().IsPtzCamera = kTrue;
    App().IsPantiltCamera = kTrue;
    ptz_->ConnectMotorAtStartup();
    EXPECT_EQ(kFalse, App().IsPantiltCamera);
    EXPECT_TRUE(log().contains(QStringLiteral("Launching Software: Connected = False")));
    EXPECT_EQ(215, Ui().sldFocus.maximum());
    // Moves then go nowhere; presets and zoom go to the capture control.
    ptz_->ProcessPacket(QStringLiteral("pan_left set_motor_home"));
    EXPECT_TRUE(packetErrors().isEmpty());
}

struct ConnectCase {
    BackEnd backEnd;
    std::int32_t result; // of the connect call
    Flag flag;           // the back-end flag afterwards
    QStringList lines;
};

class LvConnectTest : public PtzTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(LvConnectTest, TheMotionLibraryIsConnectedAndItsResultKept) {
    const ConnectCase& c = GetParam();
    setLvResults(c.result, 1, 1);
    useBackEnd(c.backEnd);
    ptz_->ConnectMotorAtStartup();
    EXPECT_EQ(c.flag, App().IsLogitechPtz);
    EXPECT_EQ(c.lines, log());
    EXPECT_EQ(QStringLiteral("Connecting to Logitech Sphere."), Ui().lblLoading.value());
    EXPECT_EQ(QStringLiteral("Failed to connect to lvcam.dll"), StartupFailureText());
}

const QStringList kLvLines{"Launching Software: Connecting to Logitech Sphere",
                           "Launching Software: Connecting to lvcam.dll"};

INSTANTIATE_TEST_SUITE_P(
    Results, LvConnectTest,
    ::testing::Values(ConnectCase{BackEnd::MotionLibrary, 1, kTrue,
                                  kLvLines + QStringList{"Launching Software: Connected = True"}},
                      ConnectCase{BackEnd::MotionLibrary, 0, kFalse,
                                  kLvLines + QStringList{"Launching Software: Connected = False"}},
                      ConnectCase{BackEnd::MotionLibrary, 2, 2,
                                  kLvLines + QStringList{"Launching Software: Connected = True"}}));

struct MissingLibraryCase {
    BackEnd backEnd;
    const char* failureText;
};

class MissingLibraryTest : public PtzTest,
                           public ::testing::WithParamInterface<MissingLibraryCase> {};

TEST_P(MissingLibraryTest, AtStartUpAMissingLibraryIsAnErrorUnderItsFailureText) {
    station_.useProgramFolder(station_.tempPath() + QStringLiteral("/empty"));
    useBackEnd(GetParam().backEnd);
    EXPECT_THROW(ptz_->ConnectMotorAtStartup(), AppError);
    EXPECT_EQ(QString::fromLatin1(GetParam().failureText), StartupFailureText());
    // Later the same call is a packet's error.
    ptz_->ProcessPacket(QStringLiteral("pan_left"));
    ASSERT_EQ(1, packetErrors().size());
    EXPECT_TRUE(packetErrors()[0].contains(QStringLiteral("Cannot load library")));
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, MissingLibraryTest,
    ::testing::Values(MissingLibraryCase{BackEnd::MotionLibrary, "Failed to connect to lvcam.dll"},
                      MissingLibraryCase{BackEnd::Pantilt, "Failed to connect to pantilt.dll"}));

TEST_F(PtzTest, AMotionLibraryPresetHomesWaitsAndMovesWhilePacketsWaitTheirTurn) {
    useBackEnd(BackEnd::MotionLibrary);
    Ui().sldFocus.setRange(0, 200);
    // A button click during the preset's waits runs after the preset.
    QTimer click;
    click.setSingleShot(true);
    QObject::connect(&click, &QTimer::timeout, [] { Ui().butMove[0].click(); });
    click.start(500);
    ptz_->ProcessPacket(QStringLiteral("Preset_-320:96:150"));
    const long long end = NowMs();

    const std::vector<LvCall> calls = lvCalls();
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(
        (QStringList{"Function4()", "Function5(0,320)", "Function5(2,96)", "Function5(0,320)"}),
        lvCallNames());
    EXPECT_GE(calls[1].atMs - calls[0].atMs, 3000);
    EXPECT_GE(calls[2].atMs - calls[1].atMs, 1000);
    EXPECT_GE(calls[3].atMs - calls[2].atMs, 1000);
    EXPECT_GE(end, calls[3].atMs);
    EXPECT_EQ(150, Ui().sldFocus.value());
    EXPECT_EQ(150, App().ZoomPos);
    EXPECT_TRUE(packetErrors().isEmpty());
}

TEST_F(PtzTest, APresetOfTheSmallestLongIsAnOverflowAndMovesNothing) {
    useBackEnd(BackEnd::MotionLibrary);
    ptz_->ProcessPacket(QStringLiteral("Preset_-2147483648:1:0"));
    EXPECT_TRUE(lvCallNames().isEmpty());
    ASSERT_EQ(1, packetErrors().size());
    EXPECT_TRUE(packetErrors()[0].endsWith(QStringLiteral("Overflow")));
}

struct LvResultCase {
    std::int32_t result;
    const char* line; // nullptr: nothing logged
    bool preset;      // CheckLvPresetResult instead of CheckLvResult
};

class LvResultTest : public PtzTest, public ::testing::WithParamInterface<LvResultCase> {};

TEST_P(LvResultTest, TheResultIsLogged) {
    const LvResultCase& c = GetParam();
    const bool ok =
        c.preset ? PtzControl::CheckLvPresetResult(c.result) : PtzControl::CheckLvResult(c.result);
    EXPECT_EQ(c.line == nullptr, ok);
    EXPECT_EQ(c.line ? QStringList{QString::fromLatin1(c.line)} : QStringList(), log());
}

INSTANTIATE_TEST_SUITE_P(
    Results, LvResultTest,
    ::testing::Values(LvResultCase{1, nullptr, false},
                      LvResultCase{-1, "Error communicating with LVCam.dll.", false},
                      LvResultCase{0, "Check Result = False", false},
                      LvResultCase{1, nullptr, true},
                      LvResultCase{-1, "Error moving camera to home position", true},
                      LvResultCase{-2, "Error moving to preset pan position", true},
                      LvResultCase{0, "Error moving to preset tilt position", true}));

TEST_F(PtzTest, AFailingMoveOfTheMotionLibraryIsLoggedAndTheNextWordStillRuns) {
    setLvResults(1, 1, -1);
    useBackEnd(BackEnd::MotionLibrary);
    ptz_->ProcessPacket(QStringLiteral("pan_left set_motor_home"));
    EXPECT_EQ((QStringList{"Function5(0,320)", "Function4()"}), lvCallNames());
    EXPECT_EQ(QStringList{"Error communicating with LVCam.dll."}, log());
}

struct RangesCase {
    BackEnd backEnd;
    std::int32_t panStep, tiltStep;
    std::int16_t left, right, up, down;
};

class RangesTest : public PtzTest, public ::testing::WithParamInterface<RangesCase> {};

TEST_P(RangesTest, EachBackEndHasItsStepsAndDirectionCodes) {
    const RangesCase& c = GetParam();
    connectCamera("Creative WebCam Live! Motion");
    useBackEnd(c.backEnd);
    const AppState& s = App();
    EXPECT_EQ(c.panStep, s.PanStep);
    EXPECT_EQ(c.tiltStep, s.TiltStep);
    EXPECT_EQ((std::vector<std::int16_t>{c.left, c.right, c.up, c.down}),
              (std::vector<std::int16_t>{s.DirPanLeft, s.DirPanRight, s.DirTiltUp, s.DirTiltDown}));
    // Every camera's zoom range is the slider's.
    EXPECT_EQ(10, s.ZoomStep);
    EXPECT_TRUE(Ui().sldFocus.enabled());
    EXPECT_EQ(100, Ui().sldFocus.minimum());
    EXPECT_EQ(500, Ui().sldFocus.maximum());
    EXPECT_EQ(cameraValue(CameraProperty::Zoom), Ui().sldFocus.value());
}

INSTANTIATE_TEST_SUITE_P(BackEnds, RangesTest,
                         ::testing::Values(RangesCase{BackEnd::MotionLibrary, 320, 192, 0, 1, 2, 3},
                                           RangesCase{BackEnd::CameraControl, 3600, 3600, 0, 1, 3,
                                                      2},
                                           RangesCase{BackEnd::Pantilt, 5, 10, 0, 1, 3, 2}));

TEST_F(PtzTest, ACameraWithoutZoomDisablesTheSlider) {
    useBackEnd(BackEnd::None); // no device connected: no zoom range
    EXPECT_FALSE(Ui().sldFocus.enabled());
}

// The camera control back-end on the virtual Creative camera.
class CameraControlTest : public PtzTest {
  protected:
    void SetUp() override {
        connectCamera("Creative WebCam Live! Motion");
        camSrc_.SetCameraControl(CameraProperty::Pan, 32400);
        camSrc_.SetCameraControl(CameraProperty::Tilt, 0);
        camSrc_.SetCameraControl(CameraProperty::Zoom, 490);
        useBackEnd(BackEnd::CameraControl);
    }
};

TEST_F(CameraControlTest, MovesStepWithinTheCameraRanges) {
    ptz_->ProcessPacket(QStringLiteral("pan_right"));
    EXPECT_EQ(36000, cameraValue(CameraProperty::Pan));
    ptz_->ProcessPacket(QStringLiteral("pan_double_left tilt_up"));
    EXPECT_EQ(36000 - 640, cameraValue(CameraProperty::Pan));
    EXPECT_EQ(3600, cameraValue(CameraProperty::Tilt));
    ptz_->ProcessPacket(QStringLiteral("set_motor_home"));
    EXPECT_EQ(0, cameraValue(CameraProperty::Pan));
    EXPECT_EQ(0, cameraValue(CameraProperty::Tilt));
}

// Mean absolute difference per channel of two pictures of the same size.
double MeanDifference(const QImage& first, const QImage& second) {
    const QImage a = first.convertToFormat(QImage::Format_RGB888);
    const QImage b = second.convertToFormat(QImage::Format_RGB888);
    if (a.size() != b.size() || a.isNull())
        return 0;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* p = a.constScanLine(y);
        const uchar* q = b.constScanLine(y);
        for (int x = 0; x < a.width() * 3; ++x)
            sum += std::abs(p[x] - q[x]);
    }
    return sum / (a.width() * a.height() * 3.0);
}

TEST_F(CameraControlTest, APresetMovesThePicture) {
    ptz_->ProcessPacket(QStringLiteral("Preset_0:0:100"));
    const QImage before = camSrc_.CurrentFrame(QSize(320, 240));
    ptz_->ProcessPacket(QStringLiteral("Preset_-36000:18000:200"));
    const QImage after = camSrc_.CurrentFrame(QSize(320, 240));
    EXPECT_GT(MeanDifference(before, after), 10);
    // Back where it was, the picture is the same but for the clock's hand.
    ptz_->ProcessPacket(QStringLiteral("Preset_0:0:100"));
    EXPECT_LT(MeanDifference(before, camSrc_.CurrentFrame(QSize(320, 240))), 3);
}

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
    EXPECT_EQ(100, App().ZoomPos);
    ptz_->ProcessPacket(QStringLiteral("ZOOM_OUT"));
    EXPECT_EQ(100, Ui().sldFocus.value());
}

TEST_F(CameraControlTest, TheUsersSliderMoveZoomsTheCamera) {
    Ui().sldFocus.set(250);
    EXPECT_EQ(250, App().ZoomPos);
    EXPECT_EQ(250, cameraValue(CameraProperty::Zoom));
}

TEST_F(CameraControlTest, AMoveBeyondThirtyTwoBitsIsAPacketError) {
    ptz_->ProcessPacket(QStringLiteral("Preset_-2147483648:0:100"));
    ptz_->ProcessPacket(QStringLiteral("pan_left"));
    ASSERT_EQ(1, packetErrors().size());
    EXPECT_TRUE(packetErrors()[0].endsWith(QStringLiteral("Overflow")));
    EXPECT_EQ(std::numeric_limits<std::int32_t>::min(), App().PanPos);
}

TEST_F(PtzTest, APlainWebcamZoomsByTen) {
    connectCamera("USB Camera");
    camSrc_.SetCameraControl(CameraProperty::Zoom, 100);
    useBackEnd(BackEnd::None);
    ptz_->ProcessPacket(QStringLiteral("ZOOM_IN"));
    EXPECT_EQ(110, cameraValue(CameraProperty::Zoom));
    EXPECT_EQ(110, Ui().sldFocus.value());
}

} // namespace
} // namespace kestrova::test

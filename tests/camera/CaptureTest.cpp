// The capture layer: the virtual camera's picture and camera controls, the capture control's
// connection, formats, inputs and settings dialogs, and a camera that is unplugged.
#include "CameraTestSupport.h"

#include "camera/Camera.h"
#include "camera/CameraPreview.h"
#include "camera/CaptureControl.h"
#include "camera/VirtualCamera.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/EventLog.h"

#include <QApplication>
#include <QPushButton>
#include <QSlider>

#include <linux/videodev2.h>

namespace kestrova::test {
namespace {

const QSize kSize(320, 240);

TEST(VirtualSceneTest, ThePictureChangesWithTimeButNotWithoutIt) {
    const VirtualView view;
    const qint64 t = 1'700'000'000'123;
    const QImage first = RenderVirtualScene(view, t, kSize);
    ASSERT_EQ(kSize, first.size());
    EXPECT_EQ(first, RenderVirtualScene(view, t, kSize));
    EXPECT_NE(first, RenderVirtualScene(view, t + 1000, kSize));
    EXPECT_NE(first, RenderVirtualScene(view, t + 33, kSize));
}

TEST(VirtualSceneTest, TheViewportFollowsPanTiltAndZoom) {
    const qint64 t = 1'700'000'000'000;
    VirtualView view;
    const QImage centre = RenderVirtualScene(view, t, kSize);
    const int step = VirtualRange(CameraProperty::Pan).step;

    // Panning right moves the scene to the left in the picture, tilting up moves it down.
    view.pan = step;
    const auto [panX, panY] = BestShift(centre, RenderVirtualScene(view, t, kSize), 24);
    EXPECT_LT(panX, 0);
    EXPECT_EQ(0, panY);
    view.pan = 0;
    view.tilt = step;
    const auto [tiltX, tiltY] = BestShift(centre, RenderVirtualScene(view, t, kSize), 24);
    EXPECT_EQ(0, tiltX);
    EXPECT_GT(tiltY, 0);

    // Zoom 200 shows the middle of the zoom-100 picture at twice the size.
    view.tilt = 0;
    view.zoom = 200;
    const QImage zoomed = RenderVirtualScene(view, t, kSize);
    const QImage middle = centre.copy(QRect(80, 60, 160, 120))
                              .scaled(kSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LT(MeanDifference(zoomed, middle) * 3, MeanDifference(zoomed, centre));
}

TEST(VirtualSceneTest, InputsChangeThePicture) {
    const qint64 t = 1'700'000'000'000;
    VirtualView view;
    const QImage camera = RenderVirtualScene(view, t, kSize);
    view.input = 1;
    const QImage second = RenderVirtualScene(view, t, kSize);
    view.input = 2;
    const QImage third = RenderVirtualScene(view, t, kSize);
    EXPECT_GT(MeanDifference(camera, second), 5);
    EXPECT_GT(MeanDifference(camera, third), 5);
    EXPECT_GT(MeanDifference(second, third), 5);
}

class CaptureControlTest : public CameraTest {};

TEST_F(CaptureControlTest, CameraControlsReportUvcLikeRangesAndMoveThePicture) {
    useCameras("Logitech QuickCam Orbit");
    CaptureControl control;
    ASSERT_EQ(1, control.DeviceCount());
    ControlRange r;
    EXPECT_FALSE(control.GetCameraControlRange(CameraProperty::Pan, r)); // nothing connected
    control.SetDevice(0);
    control.SetConnected(true);
    ASSERT_TRUE(control.HasDevice());

    for (const CameraProperty p :
         {CameraProperty::Pan, CameraProperty::Tilt, CameraProperty::Zoom}) {
        SCOPED_TRACE(static_cast<int>(p));
        ASSERT_TRUE(control.GetCameraControlRange(p, r));
        EXPECT_LT(r.min, r.max);
        EXPECT_GT(r.step, 0);
        EXPECT_GE(r.def, r.min);
        EXPECT_LE(r.def, r.max);
        std::int32_t value = 0;
        ASSERT_TRUE(control.GetCameraControl(p, value));
        EXPECT_EQ(r.def, value);
        EXPECT_TRUE(control.SetCameraControl(p, r.max));
        ASSERT_TRUE(control.GetCameraControl(p, value));
        EXPECT_EQ(r.max, value);
        // Beyond the range the camera stops at its end.
        control.SetCameraControl(p, r.min - 1000);
        ASSERT_TRUE(control.GetCameraControl(p, value));
        EXPECT_EQ(r.min, value);
        control.SetCameraControl(p, r.def);
    }
    ASSERT_TRUE(control.GetCameraControlRange(CameraProperty::Pan, r));
    EXPECT_LT(r.min, 0); // pan goes both ways from the middle

    const QImage before = control.CurrentFrame();
    control.SetCameraControl(CameraProperty::Pan, r.max);
    const QImage after = control.CurrentFrame();
    EXPECT_GT(MeanDifference(before, after), 10);

    // The camera keeps its position when it is connected again.
    control.SetConnected(false);
    control.SetConnected(true);
    std::int32_t pan = 0;
    ASSERT_TRUE(control.GetCameraControl(CameraProperty::Pan, pan));
    EXPECT_EQ(r.max, pan);
    control.SetCameraControl(CameraProperty::Pan, r.def);
}

TEST_F(CaptureControlTest, VideoFormatIsKeptOrRefusedByTheDevice) {
    useCameras("Plain Cam;Old Cam|640x480");
    CaptureControl control;
    ASSERT_EQ(2, control.DeviceCount());
    EXPECT_FALSE(control.SetVideoFormat(320, 240)); // nothing connected

    control.SetDevice(0);
    control.SetConnected(true);
    EXPECT_TRUE(control.SetVideoFormat(320, 240));
    EXPECT_EQ(QSize(320, 240), control.FrameSize());
    EXPECT_EQ(QSize(320, 240), control.CurrentFrame().size());

    control.SetConnected(false);
    control.SetDevice(1);
    control.SetConnected(true);
    EXPECT_FALSE(control.SetVideoFormat(320, 240));
    EXPECT_EQ(QSize(640, 480), control.FrameSize());
    EXPECT_EQ(QSize(640, 480), control.CurrentFrame().size());
}

TEST_F(CaptureControlTest, SourceKindAndInputsFollowTheDevice) {
    useCameras("Plain Cam;TV Card|inputs=3");
    CaptureControl control;
    control.DeviceCount();
    control.SetDevice(0);
    control.SetConnected(true);
    EXPECT_EQ(0, control.SourceKind());
    EXPECT_FALSE(control.SelectInput(1));

    control.SetConnected(false);
    control.SetDevice(1);
    control.SetConnected(true);
    EXPECT_EQ(1, control.SourceKind());
    EXPECT_EQ(3, control.Inputs().size());
    const QImage first = control.CurrentFrame();
    EXPECT_TRUE(control.SelectInput(2));
    EXPECT_EQ(2, control.CurrentInput());
    EXPECT_GT(MeanDifference(first, control.CurrentFrame()), 10);
    EXPECT_FALSE(control.SelectInput(3));
    EXPECT_EQ(2, control.CurrentInput());
    control.SelectInput(0);
}

TEST_F(CaptureControlTest, AnUnpluggedCameraLeavesNoPictureAndIsPickedUpAgain) {
    const QString folder = station_.useDataFolder();
    CreateEventLog();
    useCameras("Other Cam;Logitech QuickCam Orbit");
    App().Settings.CameraIndex = 1;
    CaptureControl& control = camera().CamSrc();
    CameraPreview preview(control);
    control.DeviceCount();
    control.SetDevice(1);
    control.SetConnected(true);
    control.SetVideoFormat(320, 240);
    control.SetPreview(true);
    ASSERT_TRUE(preview.showsPicture());

    useCameras("Other Cam");
    EXPECT_TRUE(control.CurrentFrame().isNull());
    EXPECT_FALSE(preview.showsPicture());
    EXPECT_TRUE(control.Connected());
    EXPECT_TRUE(control.Reconnecting());
    control.TryReconnect(); // still away
    EXPECT_TRUE(control.Reconnecting());

    // Back, now first in the list.
    useCameras("Logitech QuickCam Orbit;Other Cam");
    control.TryReconnect();
    EXPECT_FALSE(control.Reconnecting());
    EXPECT_EQ(QStringLiteral("Logitech QuickCam Orbit"), control.ConnectedName());
    EXPECT_EQ(0, control.Device());
    EXPECT_EQ(1, App().Settings.CameraIndex); // the chooser's to change
    EXPECT_EQ(QSize(320, 240), control.CurrentFrame().size());
    EXPECT_TRUE(preview.showsPicture());

    const QStringList log = LogMessages(folder);
    EXPECT_EQ(1, log.count(QStringLiteral("Camera: Picture lost: Logitech QuickCam Orbit")));
    EXPECT_EQ(1, log.count(QStringLiteral("Camera: Picture back: Logitech QuickCam Orbit")));

    // A disconnected control looks for nothing.
    control.SetConnected(false);
    EXPECT_FALSE(control.Reconnecting());
    EXPECT_FALSE(preview.showsPicture());
}

TEST_F(CaptureControlTest, AdvancedCameraSettingsOpenTheInputWindowOnlyForDevicesWithInputs) {
    useCameras("Plain Cam;TV Card|inputs=3");
    CaptureControl& control = camera().CamSrc();
    control.DeviceCount();

    // A camera: the device's own settings, whose sliders act at once.
    control.SetDevice(0);
    control.SetConnected(true);
    App().CameraSourceKind = control.SourceKind();
    Ui().cmdCamSource.click();
    QWidget* settings = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        EXPECT_NE(QStringLiteral("frmTV"), w->objectName());
        if (w->objectName() == QLatin1String("frmSourceSettings") && w->isVisible())
            settings = w;
    }
    ASSERT_NE(nullptr, settings);
    auto* pan =
        settings->findChild<QSlider*>(QStringLiteral("control-%1").arg(V4L2_CID_PAN_ABSOLUTE));
    ASSERT_NE(nullptr, pan);
    pan->setValue(pan->maximum());
    std::int32_t value = 0;
    ASSERT_TRUE(control.GetCameraControl(CameraProperty::Pan, value));
    EXPECT_EQ(pan->maximum(), value);
    control.SetCameraControl(CameraProperty::Pan, 0);
    CloseTopLevelWindows();

    // A device with inputs: frmTV, whose buttons select the inputs and open the settings.
    control.SetConnected(false);
    control.SetDevice(1);
    control.SetConnected(true);
    App().CameraSourceKind = control.SourceKind();
    ASSERT_EQ(1, App().CameraSourceKind);
    Ui().cmdCamSource.click();
    QWidget* tv = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("frmTV") && w->isVisible())
            tv = w;
    }
    ASSERT_NE(nullptr, tv);
    EXPECT_EQ(QStringLiteral("Advanced Camera Settings"), tv->windowTitle());
    const QStringList captions{"TV", "AV", "AV2"};
    for (int i = 2; i >= 0; --i) {
        auto* button = tv->findChild<QPushButton*>(QStringLiteral("cmdInputSource_%1").arg(i));
        ASSERT_NE(nullptr, button);
        EXPECT_EQ(captions[i], button->text());
        button->click();
        EXPECT_EQ(i, control.CurrentInput());
    }
    auto* source = tv->findChild<QPushButton*>(QStringLiteral("cmdCamSource"));
    ASSERT_NE(nullptr, source);
    EXPECT_EQ(QStringLiteral("Settings"), source->text());
    source->click();
    bool settingsShown = false;
    for (QWidget* w : QApplication::topLevelWidgets())
        settingsShown |= w->objectName() == QLatin1String("frmSourceSettings") && w->isVisible();
    EXPECT_TRUE(settingsShown);
}

} // namespace
} // namespace kestrova::test

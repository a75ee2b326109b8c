// The camera model classification by device name.
#include "CameraTestSupport.h"

#include "camera/Camera.h"
#include "camera/CaptureControl.h"
#include "core/AppState.h"
#include "core/Controls.h"

namespace kestrova::test {
namespace {

// Sets the camera flags, the presets option and the enabled state of the PTZ controls.
void Apply(Flag flags, bool controls) {
    AppState& s = App();
    s.IsPtzCamera = s.IsLogitechPtz = s.IsCreativeMotion = s.IsPantiltCamera = flags;
    s.Settings.PresetsEnabled = 1;
    Ui().cmdPtuAdmin.setEnabled(controls);
    Ui().chkEnablePresets.setEnabled(controls);
}

class ClassificationTest : public CameraTest {
  protected:
    void classify(int index) {
        App().Settings.CameraIndex = static_cast<std::int16_t>(index);
        camera().CheckCamera();
    }
};

TEST_F(ClassificationTest, TheModelNameDecidesTheBackEnd) {
    constexpr Flag T = kTrue;
    constexpr Flag F = kFalse;
    struct Case {
        const char* name;
        Flag ptz, logitech, creative, pantilt;
        std::int16_t presets;
    };
    const Case cases[] = {
        {"Logitech QuickCam PTZ", T, T, F, F, 1},
        {"Logitech QuickCam Orbit MP", T, T, F, F, 1},
        {"Logitech QuickCam Sphere AF", T, T, F, F, 1},
        {"Orbit", T, T, F, F, 1},
        // The Logitech names are tried first, even when a later one would match as well.
        {"Creative WebCam Live! Motion Sphere", T, T, F, F, 1},
        // The camera's old driver interface changes nothing.
        {"Creative WebCam Live! Motion (VFW)", F, F, F, F, 1},
        {"Creative WebCam Live! Motion", T, F, T, F, 1},
        {"3 Axis (Webcam)", T, F, F, T, 1},
        // A plain webcam, and names that match only without regard to case.
        {"USB2.0 PC Camera", F, F, F, F, 0},
        {"logitech quickcam orbit", F, F, F, F, 0},
        {"creative webcam live! motion", F, F, F, F, 0},
        {"3 axis (webcam)", F, F, F, F, 0},
    };
    QStringList names;
    for (const Case& c : cases)
        names << QLatin1String(c.name);
    useCameras(names.join(QLatin1Char(';')).toUtf8());
    ASSERT_EQ(static_cast<int>(std::size(cases)), camera().CamSrc().DeviceCount());

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        Apply(kFalse, false);
        classify(static_cast<int>(i));
        EXPECT_EQ(c.ptz, App().IsPtzCamera);
        EXPECT_EQ(c.logitech, App().IsLogitechPtz);
        EXPECT_EQ(c.creative, App().IsCreativeMotion);
        EXPECT_EQ(c.pantilt, App().IsPantiltCamera);
        EXPECT_EQ(c.presets, App().Settings.PresetsEnabled);
        EXPECT_EQ(c.ptz == kTrue, Ui().cmdPtuAdmin.enabled());
        EXPECT_EQ(c.ptz == kTrue, Ui().chkEnablePresets.enabled());
    }
}

TEST_F(ClassificationTest, ChangesBetweenCamerasKeepWhatTheTableLeavesAlone) {
    useCameras(
        "Logitech QuickCam Orbit;Creative WebCam Live! Motion VFW;3 Axis (Webcam);USB Camera");
    camera().CamSrc().DeviceCount();

    // Logitech, then the VFW device: the Logitech flags and controls stay.
    classify(0);
    classify(1);
    EXPECT_EQ(kTrue, App().IsPtzCamera);
    EXPECT_EQ(kTrue, App().IsLogitechPtz);
    EXPECT_EQ(kFalse, App().IsCreativeMotion);
    EXPECT_TRUE(Ui().cmdPtuAdmin.enabled());

    // The pan-tilt base, then a plain webcam: IsPantiltCamera survives, nothing else does.
    Apply(kFalse, false);
    classify(2);
    classify(3);
    EXPECT_EQ(kTrue, App().IsPantiltCamera);
    EXPECT_EQ(kFalse, App().IsPtzCamera);
    EXPECT_EQ(0, App().Settings.PresetsEnabled);
    EXPECT_FALSE(Ui().cmdPtuAdmin.enabled());
    EXPECT_FALSE(Ui().chkEnablePresets.enabled());
}

TEST_F(ClassificationTest, AnIndexOutsideTheListCountsAsAPlainWebcam) {
    useCameras("Logitech QuickCam Orbit");
    camera().CamSrc().DeviceCount();
    for (int index : {-1, 1, 200}) {
        SCOPED_TRACE(index);
        Apply(kTrue, true);
        classify(index);
        EXPECT_EQ(kFalse, App().IsPtzCamera);
        EXPECT_EQ(kFalse, App().IsLogitechPtz);
        EXPECT_EQ(0, App().Settings.PresetsEnabled);
        EXPECT_FALSE(Ui().cmdPtuAdmin.enabled());
    }
}

} // namespace
} // namespace kestrova::test

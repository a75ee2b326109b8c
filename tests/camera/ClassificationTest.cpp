// The camera model classification by device name.
#include "CameraTestSupport.h"

#include "app/AppState.h"
#include "app/Controls.h"
#include "camera/Camera.h"
#include "camera/CaptureControl.h"

namespace kestrova::test {
namespace {

// What the model table does to the flags and controls it touches.
enum class Row { Logitech, CreativeVfw, Creative, Pantilt, Plain };

struct CameraState {
    Flag ptz, logitech, creative, pantilt;
    std::int16_t presets;
    bool editEnabled, presetsBoxEnabled;
};

CameraState Capture() {
    const AppState& s = App();
    return {s.IsPtzCamera,
            s.IsLogitechPtz,
            s.IsCreativeMotion,
            s.IsPantiltCamera,
            s.Settings.PresetsEnabled,
            Ui().cmdPtzEdit.enabled(),
            Ui().chkEnablePresets.enabled()};
}

void Apply(const CameraState& state) {
    AppState& s = App();
    s.IsPtzCamera = state.ptz;
    s.IsLogitechPtz = state.logitech;
    s.IsCreativeMotion = state.creative;
    s.IsPantiltCamera = state.pantilt;
    s.Settings.PresetsEnabled = state.presets;
    Ui().cmdPtzEdit.setEnabled(state.editEnabled);
    Ui().chkEnablePresets.setEnabled(state.presetsBoxEnabled);
}

// The table: a matching row sets its flags to true and enables the PTZ controls; the VFW row
// changes nothing; the plain row clears three flags and the presets option and disables the
// controls, leaving IsPantiltCamera alone.
CameraState Expected(Row row, CameraState before) {
    CameraState after = before;
    switch (row) {
    case Row::Logitech:
        after.ptz = after.logitech = kTrue;
        after.editEnabled = after.presetsBoxEnabled = true;
        break;
    case Row::CreativeVfw:
        break;
    case Row::Creative:
        after.ptz = after.creative = kTrue;
        after.editEnabled = after.presetsBoxEnabled = true;
        break;
    case Row::Pantilt:
        after.ptz = after.pantilt = kTrue;
        after.editEnabled = after.presetsBoxEnabled = true;
        break;
    case Row::Plain:
        after.ptz = after.logitech = after.creative = kFalse;
        after.presets = 0;
        after.editEnabled = after.presetsBoxEnabled = false;
        break;
    }
    return after;
}

void ExpectState(const CameraState& expected, const CameraState& actual) {
    EXPECT_EQ(expected.ptz, actual.ptz);
    EXPECT_EQ(expected.logitech, actual.logitech);
    EXPECT_EQ(expected.creative, actual.creative);
    EXPECT_EQ(expected.pantilt, actual.pantilt);
    EXPECT_EQ(expected.presets, actual.presets);
    EXPECT_EQ(expected.editEnabled, actual.editEnabled);
    EXPECT_EQ(expected.presetsBoxEnabled, actual.presetsBoxEnabled);
}

class ClassificationTest : public CameraTest {
  protected:
    void classify(int index) {
        App().Settings.CameraIndex = static_cast<std::int16_t>(index);
        CheckCamera();
    }
};

TEST_F(ClassificationTest, EveryRowOfTheModelTableFromBothStartingStates) {
    const std::vector<std::pair<QString, Row>> devices = {
        {QStringLiteral("Logitech QuickCam PTZ"), Row::Logitech},
        {QStringLiteral("Logitech QuickCam Orbit MP"), Row::Logitech},
        {QStringLiteral("Logitech QuickCam Sphere AF"), Row::Logitech},
        {QStringLiteral("Orbit"), Row::Logitech},
        // The first row is tried first, even when a later one would match as well.
        {QStringLiteral("Creative WebCam Live! Motion Sphere"), Row::Logitech},
        {QStringLiteral("Creative WebCam Live! Motion (VFW)"), Row::CreativeVfw},
        {QStringLiteral("Creative WebCam Live! Motion"), Row::Creative},
        {QStringLiteral("3 Axis (Webcam)"), Row::Pantilt},
        {QStringLiteral("USB2.0 PC Camera"), Row::Plain},
        // Case-sensitive: these match no row.
        {QStringLiteral("logitech quickcam orbit"), Row::Plain},
        {QStringLiteral("creative webcam live! motion"), Row::Plain},
        {QStringLiteral("3 axis (webcam)"), Row::Plain},
    };
    QStringList names;
    for (const auto& d : devices)
        names << d.first;
    useCameras(names.join(QLatin1Char(';')).toUtf8());
    ASSERT_EQ(static_cast<int>(devices.size()), CamSrc().DeviceCount());

    const CameraState allOff{kFalse, kFalse, kFalse, kFalse, 1, false, false};
    const CameraState allOn{kTrue, kTrue, kTrue, kTrue, 1, true, true};
    for (std::size_t i = 0; i < devices.size(); ++i) {
        for (const CameraState& before : {allOff, allOn}) {
            SCOPED_TRACE(devices[i].first.toStdString() +
                         (before.ptz ? " from all on" : " from all off"));
            Apply(before);
            classify(static_cast<int>(i));
            ExpectState(Expected(devices[i].second, before), Capture());
        }
    }
}

TEST_F(ClassificationTest, ChangesBetweenCamerasKeepWhatTheTableLeavesAlone) {
    useCameras(
        "Logitech QuickCam Orbit;Creative WebCam Live! Motion VFW;3 Axis (Webcam);USB Camera");
    CamSrc().DeviceCount();

    // Logitech, then the VFW device: the Logitech flags and controls stay.
    classify(0);
    classify(1);
    EXPECT_EQ(kTrue, App().IsPtzCamera);
    EXPECT_EQ(kTrue, App().IsLogitechPtz);
    EXPECT_EQ(kFalse, App().IsCreativeMotion);
    EXPECT_TRUE(Ui().cmdPtzEdit.enabled());

    // The pan-tilt base, then a plain webcam: IsPantiltCamera survives, nothing else does.
    ResetAppState();
    classify(2);
    classify(3);
    EXPECT_EQ(kTrue, App().IsPantiltCamera);
    EXPECT_EQ(kFalse, App().IsPtzCamera);
    EXPECT_EQ(0, App().Settings.PresetsEnabled);
    EXPECT_FALSE(Ui().cmdPtzEdit.enabled());
    EXPECT_FALSE(Ui().chkEnablePresets.enabled());
}

TEST_F(ClassificationTest, AnIndexOutsideTheListCountsAsAPlainWebcam) {
    useCameras("Logitech QuickCam Orbit");
    CamSrc().DeviceCount();
    for (int index : {-1, 1, 200}) {
        SCOPED_TRACE(index);
        Apply({kTrue, kTrue, kFalse, kFalse, 1, true, true});
        classify(index);
        EXPECT_EQ(kFalse, App().IsPtzCamera);
        EXPECT_EQ(kFalse, App().IsLogitechPtz);
        EXPECT_EQ(0, App().Settings.PresetsEnabled);
        EXPECT_FALSE(Ui().cmdPtzEdit.enabled());
    }
}

} // namespace
} // namespace kestrova::test

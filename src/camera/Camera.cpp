#include "camera/Camera.h"

#include "app/AppState.h"
#include "app/Controls.h"
#include "app/EventLog.h"
#include "app/Station.h"
#include "app/Wait.h"
#include "camera/AdvancedSettings.h"
#include "camera/CameraChooser.h"
#include "camera/CameraPreview.h"
#include "camera/CaptureControl.h"
#include "camera/FrameCapture.h"
#include "ptz/Motor.h"
#include "ptz/PtzListener.h"
#include "service/Reflector.h"
#include "settings/Settings.h"
#include "ui/Dialogs.h"

#include <QCoreApplication>
#include <QLayout>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace kestrova {

namespace {

struct CameraModule {
    std::unique_ptr<CaptureControl> camSrc;
    QPointer<QWidget> window; // parent of the camera dialogs
    bool changing = false;    // "Change Camera" is running
    int generation = 0;       // counts disconnections at the unload
};

CameraModule& Module() {
    static CameraModule module;
    return module;
}

void ReleaseCaptureControl() {
    Module().camSrc.reset();
}

void WatchMainControl(CaptureControl& control) {
    QObject::connect(&control, &CaptureControl::pictureLost, &control, [](const QString& name) {
        WriteLog(QStringLiteral("Camera: Picture lost: ") + name);
    });
    QObject::connect(&control, &CaptureControl::pictureBack, &control,
                     [](const QString& name, int index) {
                         WriteLog(QStringLiteral("Camera: Picture back: ") + name);
                         // The same camera may now have another place in the device list.
                         App().Settings.CameraIndex = static_cast<std::int16_t>(index);
                     });
}

bool Contains(const QString& name, const char* text) {
    return name.contains(QLatin1String(text), Qt::CaseSensitive);
}

void EnablePtzControls(bool on) {
    Ui().cmdPtzEdit.setEnabled(on);
    Ui().chkEnablePresets.setEnabled(on);
}

} // namespace

CaptureControl& CamSrc() {
    CameraModule& m = Module();
    if (!m.camSrc) {
        static bool cleanupRegistered = false;
        if (!cleanupRegistered && QCoreApplication::instance()) {
            // The control's timers and notifiers must go before the application object does.
            qAddPostRoutine(ReleaseCaptureControl);
            cleanupRegistered = true;
        }
        m.camSrc = std::make_unique<CaptureControl>();
        WatchMainControl(*m.camSrc);
    }
    return *m.camSrc;
}

void InitCamera(QWidget* cameraArea) {
    Controls& ui = Ui();
    ui.chkTimeStamp.onChange(chkTimeStamp_Click);
    ui.sldJPEGQuality.onChange(sldJPEGQuality_Change);
    ui.cmdChangeCam.onClick(cmdChangeCam_Click);
    ui.cmdCamSource.onClick(cmdCamSource_Click);
    if (!cameraArea)
        return;
    Module().window = cameraArea->window();
    auto* preview = new CameraPreview(CamSrc(), cameraArea);
    if (cameraArea->layout())
        cameraArea->layout()->addWidget(preview);
}

void CheckCamera() {
    AppState& s = App();
    const QString name = CamSrc().DeviceName(s.Settings.CameraIndex);
    if (Contains(name, "Logitech QuickCam PTZ") || Contains(name, "Orbit") ||
        Contains(name, "Sphere")) {
        s.IsPtzCamera = kTrue;
        s.IsLogitechPtz = kTrue;
        EnablePtzControls(true);
    } else if (Contains(name, "Creative WebCam Live! Motion") && Contains(name, "VFW")) {
        // The camera's old driver interface: it cannot be moved through it, and nothing changes.
    } else if (Contains(name, "Creative WebCam Live! Motion")) {
        s.IsPtzCamera = kTrue;
        s.IsCreativeMotion = kTrue;
        EnablePtzControls(true);
    } else if (Contains(name, "3 Axis (Webcam)")) {
        s.IsPtzCamera = kTrue;
        s.IsPantiltCamera = kTrue;
        EnablePtzControls(true);
    } else {
        // A plain webcam. IsPantiltCamera stays: only the start-up clears it.
        s.IsPtzCamera = kFalse;
        s.IsCreativeMotion = kFalse;
        s.IsLogitechPtz = kFalse;
        s.Settings.PresetsEnabled = 0;
        EnablePtzControls(false);
    }
}

bool DetectAndConnectCamera() {
    AppState& s = App();
    Controls& ui = Ui();
    CaptureControl& cam = CamSrc();

    ui.lblLoading.set(QStringLiteral("Detecting available webcams."));
    SetStartupFailureText(QStringLiteral("Failed to detect webcam(s)"));
    WriteLog(QStringLiteral("Launching Software: Detecting Webcam(s)"));

    const int count = cam.DeviceCount();
    s.IsPtzCamera = kFalse;
    s.IsCreativeMotion = kFalse;
    s.IsLogitechPtz = kFalse;
    s.IsPantiltCamera = kFalse;

    if (count == 0) {
        WriteLog(QStringLiteral("Launching Software: No webcam(s) found"));
        dialogs::MessageBox(
            QStringLiteral("There is no web cam hardware/software installed on your computer"),
            dialogs::Icon::Critical);
        return false;
    }

    // No device chosen yet, or the chosen one is no longer there: the user chooses.
    if (s.Settings.CameraIndex < 0 || s.Settings.CameraIndex >= count)
        ShowCameraChooser(Module().window);

    CheckCamera();
    SaveSettingsFile();

    // The capture control has no preparatory settings of its own; connecting is all it needs.
    const bool formatOk = ConnectAt320x240(cam, s.Settings.CameraIndex);
    s.CameraSourceKind = cam.SourceKind();

    const QString name = cam.DeviceName(s.Settings.CameraIndex);
    ui.lblCameraName.set(name);
    WriteLog(QStringLiteral("Launching Software: Connecting to: ") + name);
    WriteLog(QStringLiteral("Launching Software: Setting Video Format 320x240 = ") +
             (formatOk ? QStringLiteral("True") : QStringLiteral("False")));
    return true;
}

void cmdChangeCam_Click() {
    CameraModule& m = Module();
    // The waits below let events run: a second click must not start a second change.
    if (m.changing)
        return;
    m.changing = true;
    struct Done {
        ~Done() { Module().changing = false; }
    } done;

    AppState& s = App();
    const int generation = m.generation;
    // The station may close during one of the waits; the change then ends without connecting
    // anything or starting the broadcast again. The close need not have finished: once it has
    // sent the posting helper its "shutdown" (ShutdownRequested), or asked the exchanges under
    // way to end (AbortRequested, which only the station's close sets), the station is on its way
    // out, and the relay must not be looked up and registered with again. StartReflector would
    // also clear the AbortRequested the close relies on.
    const auto closed = [&] {
        const AppState& now = App();
        if (Module().generation == generation && now.ShutdownRequested != kTrue &&
            now.AbortRequested != kTrue)
            return false;
        App().CameraChanging = kFalse;
        return true;
    };

    s.CameraChanging = kTrue;
    StopReflector();
    PauseWithEvents(1000);
    if (closed())
        return;

    CaptureControl& cam = CamSrc();
    if (cam.Connected()) {
        cam.SetPreview(false);
        cam.SetConnected(false);
    }
    ShowCameraChooser(m.window);
    if (closed())
        return;

    ConnectAt320x240(cam, s.Settings.CameraIndex); // a refused format is not reported here
    s.CameraSourceKind = cam.SourceKind();
    Ui().lblCameraName.set(cam.DeviceName(s.Settings.CameraIndex));

    CheckCamera();
    ReadMotorRanges();
    OpenPtzListener();
    if (Ui().chkTimeStamp.value() == 1)
        ApplyTimeStampOverlay();

    PauseWithEvents(3000);
    if (closed())
        return;
    s.CameraChanging = kFalse;
    StartReflector();
}

void cmdCamSource_Click() {
    if (App().CameraSourceKind == 1)
        ShowAdvancedCameraSettings(CamSrc(), Module().window);
    else
        CamSrc().ShowSourceDialog(Module().window);
}

void DisconnectCamera() {
    CameraModule& m = Module();
    ++m.generation;
    if (!m.camSrc)
        return;
    m.camSrc->SetPreview(false);
    m.camSrc->SetConnected(false);
}

void ResetCamera() {
    CameraModule& m = Module();
    ++m.generation;
    m.camSrc.reset();
    m.window = nullptr;
    m.changing = false;
}

} // namespace kestrova

#include "camera/Camera.h"

#include "camera/AdvancedSettings.h"
#include "camera/CameraChooser.h"
#include "camera/CameraPreview.h"
#include "camera/CaptureControl.h"
#include "camera/FrameCapture.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/Dialogs.h"
#include "core/EventLog.h"
#include "core/StationState.h"
#include "settings/Settings.h"

#include <QLayout>
#include <QWidget>

namespace kestrova {

namespace {

bool Contains(const QString& name, const char* text) {
    return name.contains(QLatin1String(text), Qt::CaseSensitive);
}

void EnablePtzControls(bool on) {
    Ui().cmdPtuAdmin.setEnabled(on);
    Ui().chkEnablePresets.setEnabled(on);
}

} // namespace

CameraModule::CameraModule() : camSrc_(std::make_unique<CaptureControl>()) {
    QObject::connect(
        camSrc_.get(), &CaptureControl::pictureLost, camSrc_.get(),
        [](const QString& name) { WriteLog(QStringLiteral("Camera: Picture lost: ") + name); });
    // The camera may come back at another place of the device list; CameraIndex keeps the
    // place the user chose.
    QObject::connect(
        camSrc_.get(), &CaptureControl::pictureBack, camSrc_.get(),
        [](const QString& name) { WriteLog(QStringLiteral("Camera: Picture back: ") + name); });
    Controls& ui = Ui();
    ui.chkTimeStamp.onChange(alive_, [this] { chkTimeStamp_Click(*camSrc_); });
    ui.sldJPEGQuality.onChange(alive_, [] { sldJPEGQuality_Change(); });
    ui.cmdCamSource.onClick(alive_, [this] { cmdCamSource_Click(); });
}

CameraModule::~CameraModule() {
    delete advancedSettings_.data();
}

void CameraModule::ShowPreviewIn(QWidget* cameraArea) {
    if (!cameraArea)
        return;
    window_ = cameraArea->window();
    auto* preview = new CameraPreview(*camSrc_, cameraArea);
    if (cameraArea->layout())
        cameraArea->layout()->addWidget(preview);
}

void CameraModule::CheckCamera() {
    AppState& s = App();
    const QString name = camSrc_->DeviceName(s.Settings.CameraIndex);
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

bool CameraModule::DetectAndConnectCamera() {
    AppState& s = App();
    Controls& ui = Ui();
    CaptureControl& cam = *camSrc_;

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

    // No device chosen yet: the user chooses. A chosen one that is not there now stays chosen.
    if (s.Settings.CameraIndex == -1)
        ShowCameraChooser(window_);
    else if (s.Settings.CameraIndex >= count || s.Settings.CameraIndex < 0)
        WriteLog(QStringLiteral("Launching Software: No webcam at index %1; \"Change Camera\" "
                                "chooses another")
                     .arg(s.Settings.CameraIndex));

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

void CameraModule::ReleaseForChange() {
    if (camSrc_->Connected()) {
        camSrc_->SetPreview(false);
        camSrc_->SetConnected(false);
    }
}

void CameraModule::ChooseCamera() {
    ShowCameraChooser(window_);
}

void CameraModule::ConnectChosenCamera() {
    const AppState& s = App();
    ConnectAt320x240(*camSrc_, s.Settings.CameraIndex);
    App().CameraSourceKind = camSrc_->SourceKind();
    Ui().lblCameraName.set(camSrc_->DeviceName(s.Settings.CameraIndex));
}

void CameraModule::cmdCamSource_Click() {
    if (App().CameraSourceKind != 1) {
        camSrc_->ShowSourceDialog(window_);
        return;
    }
    // One frmTV at a time; closing it unloads it.
    if (!advancedSettings_) {
        advancedSettings_ = new frmTV(*camSrc_, window_);
        advancedSettings_->setAttribute(Qt::WA_DeleteOnClose);
    }
    advancedSettings_->show();
    advancedSettings_->raise();
    advancedSettings_->activateWindow();
}

void CameraModule::DisconnectCamera() {
    camSrc_->SetPreview(false);
    camSrc_->SetConnected(false);
}

QByteArray CameraModule::Frame(bool localImage) {
    return localImage ? GetLocalImage() : GetLatestImage(*camSrc_);
}

} // namespace kestrova

// The camera of the station: finding, choosing and connecting the capture device, and
// classifying the camera model.
#pragma once

#include "core/Controls.h"

#include <QByteArray>
#include <QPointer>

#include <memory>

class QWidget;

namespace kestrova {

class CaptureControl;
class frmTV;

class CameraModule {
  public:
    // Makes the capture control (camSrc) and installs the handlers of the camera's controls:
    // the time stamp, the JPEG quality and "Advanced Camera Settings".
    CameraModule();
    ~CameraModule();
    CameraModule(const CameraModule&) = delete;
    CameraModule& operator=(const CameraModule&) = delete;

    // The capture control of the main window. The motor back-ends move the camera through its
    // camera-control operations.
    CaptureControl& CamSrc() { return *camSrc_; }

    // Places the live preview in the main window's camera area; the camera's dialogs open over
    // that window.
    void ShowPreviewIn(QWidget* cameraArea);
    QWidget* window() const { return window_; }

    // Classifies the device at CameraIndex by its name: the camera flags and the enabled state
    // of the PTZ "Edit" button and the presets check box.
    void CheckCamera();

    // The camera step of the start-up sequence: detection, the chooser when no device was
    // chosen yet, classification, saving the choice, connection at 320 x 240 and preview.
    // Returns false when start-up must end here (no capture device).
    bool DetectAndConnectCamera();

    // The steps of "Change Camera" that belong to the camera: let go of the device, let the user
    // choose again, connect the chosen one (a refused format is not reported).
    void ReleaseForChange();
    void ChooseCamera();
    void ConnectChosenCamera();

    // "Advanced Camera Settings": frmTV for a device with selectable inputs, the device's own
    // settings dialog for any other.
    void cmdCamSource_Click();

    // Switches the preview off and disconnects the capture device (the unload).
    void DisconnectCamera();

    // The frame to upload: the camera's (false) or the still local image (true).
    QByteArray Frame(bool localImage);

  private:
    std::unique_ptr<CaptureControl> camSrc_;
    QPointer<QWidget> window_; // parent of the camera dialogs
    QPointer<frmTV> advancedSettings_;
    HandlerOwner alive_ = std::make_shared<int>();
};

} // namespace kestrova

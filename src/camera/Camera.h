// Finding, choosing and connecting the capture device; classifying the camera model.
#pragma once

class QWidget;

namespace kestrova {

class CaptureControl;

// The capture control of the main window (camSrc). The motor back-ends move the camera
// through its camera-control operations.
CaptureControl& CamSrc();

// Called once before the start-up sequence: registers the handlers of the camera's controls
// (time stamp, JPEG quality, "Change Camera", "Advanced Camera Settings") and, when the main
// window has a camera area, places the live preview in it.
void InitCamera(QWidget* cameraArea);

// Classifies the device at CameraIndex by its name: the camera flags and the enabled state of
// the PTZ "Edit" button and the presets check box.
void CheckCamera();

// The camera step of the start-up sequence: detection, the chooser when no device was chosen
// yet, classification, saving the choice, connection at 320 x 240 and preview. Returns false
// when start-up must end here (no capture device).
bool DetectAndConnectCamera();

// "Change Camera": stops the broadcast, lets the user choose again, connects the new camera
// and starts the broadcast again.
void cmdChangeCam_Click();

// "Advanced Camera Settings": frmTV for a device with selectable inputs, the device's own
// settings dialog for any other.
void cmdCamSource_Click();

// Switches the preview off and disconnects the capture device (the unload).
void DisconnectCamera();

// Disconnects and replaces the capture control, and forgets the main window. For tests.
void ResetCamera();

} // namespace kestrova

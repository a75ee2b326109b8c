// The camera chooser frmCamWizard: the list of capture devices with a live preview; the
// device shown when it closes (by OK or any other way) becomes CameraIndex.
#pragma once

#include "camera/CaptureControl.h"

#include <QDialog>

class QComboBox;
class QWidget;

namespace kestrova {

class CameraPreview;

// The device the chooser opens with: CameraIndex when it names a device of the list, else the
// first device. With no device at all CameraIndex stays as it is.
int ChooserStartDevice(int cameraIndex, int deviceCount);

// The chooser's work, apart from its window.
class CameraChooser {
  public:
    explicit CameraChooser(CaptureControl& control) : control_(control) {}

    // Reads the device list and connects the preview to the start device.
    void Open();
    QStringList Items() const { return items_; }
    // A click on a list entry: the preview switches to that device (again, for the same one).
    void Click(int index);
    // OK or close: CameraIndex := the preview's device; the preview is disconnected.
    void Finish();

  private:
    CaptureControl& control_;
    QStringList items_;
    bool finished_ = false;
};

class frmCamWizard : public QDialog {
    Q_OBJECT
  public:
    explicit frmCamWizard(QWidget* parent = nullptr);

    // Closing by OK, the window button or Escape all record the choice.
    void done(int result) override;

    CaptureControl& camSrc() { return camSrc_; }

  private:
    CaptureControl camSrc_;
    CameraChooser chooser_;
    QComboBox* cboCameras_;
    CameraPreview* preview_;
};

// Shows the chooser modally and leaves the choice in CameraIndex. Unattended, nobody can
// choose: the chooser takes the device it would open with, without showing.
void ShowCameraChooser(QWidget* parent);

} // namespace kestrova

// The device's own settings dialog: every setting the device offers, as sliders, check boxes,
// lists and buttons that act on the device at once.
#pragma once

#include <QDialog>

namespace kestrova {

class CaptureControl;

class SourceSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    SourceSettingsDialog(CaptureControl& control, QWidget* parent = nullptr);

  private:
    CaptureControl& control_;
};

} // namespace kestrova

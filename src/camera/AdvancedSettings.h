// "Advanced Camera Settings" (frmTV): the device's settings dialog and the input buttons of a
// device with selectable inputs, both acting on the main window's capture control.
#pragma once

#include <QDialog>

namespace kestrova {

class CaptureControl;

class frmTV : public QDialog {
    Q_OBJECT
  public:
    frmTV(CaptureControl& camSrc, QWidget* parent = nullptr);
};

} // namespace kestrova

#pragma once

#include <QMainWindow>

class QVBoxLayout;

namespace kestrova {

// What decides whether the main window may close: the station's close check and its unload.
class CloseGate {
  public:
    virtual ~CloseGate() = default;
    virtual bool unloaded() const = 0;
    // True lets the close go ahead; false cancels it (the gate asks again later).
    virtual bool CloseCheck() = 0;
    virtual void Unload() = 0;
};

// frmUI, the main window. It shows the controls of Controls and hands its close requests to
// the close gate.
class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(CloseGate& gate, QWidget* parent = nullptr);

    // The area where the camera's live picture is shown.
    QWidget* cameraArea() const { return cameraArea_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    CloseGate& gate_;
    QWidget* cameraArea_;
};

} // namespace kestrova

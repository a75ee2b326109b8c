#pragma once

#include <QMainWindow>

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

// frmUI, the main window: the toolbars, the camera view (the live picture and the PTZ panel)
// and the settings area (its picture, the tab buttons and the four panels). Every widget
// mirrors a control of Controls; the window hands its close requests to the close gate.
class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(CloseGate& gate, QWidget* parent = nullptr);

    // The area where the camera's live picture is shown; it keeps the picture's 4:3 shape.
    QWidget* cameraArea() const { return cameraArea_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* BuildCameraView();
    QWidget* BuildSettingsView();
    QWidget* BuildBroadcastPanel();
    QWidget* BuildCameraPanel();
    QWidget* BuildOptionsPanel();
    QWidget* BuildArchivePanel();
    void BuildToolbars();
    void BuildStatusBar();

    CloseGate& gate_;
    QWidget* cameraArea_;
};

} // namespace kestrova

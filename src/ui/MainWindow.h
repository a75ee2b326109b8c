#pragma once

#include <QMainWindow>

class QVBoxLayout;

namespace kestrova {

class Station;

// frmUI, the main window. It shows the controls of Controls and hands its close requests to
// the station's close check.
class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(Station& station, QWidget* parent = nullptr);

    // The area where the camera's live picture is shown.
    QWidget* cameraArea() const { return cameraArea_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    Station& station_;
    QWidget* cameraArea_;
};

} // namespace kestrova

// The live picture of a capture control, scaled into the widget; "No picture" while there is
// none (no camera connected, preview off, camera unplugged).
#pragma once

#include <QImage>
#include <QWidget>

namespace kestrova {

class CaptureControl;

class CameraPreview : public QWidget {
    Q_OBJECT
  public:
    explicit CameraPreview(CaptureControl& control, QWidget* parent = nullptr);

    bool showsPicture() const { return !frame_.isNull(); }
    QSize sizeHint() const override { return QSize(320, 240); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage frame_;
};

} // namespace kestrova

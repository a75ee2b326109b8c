// Small widgets of the main window.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <functional>

namespace kestrova {

// Holds one child and gives it the largest rectangle of the aspect ratio that fits, centred.
class AspectBox : public QWidget {
  public:
    AspectBox(QWidget* child, int ratioWidth, int ratioHeight, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QWidget* child_;
    int ratioWidth_;
    int ratioHeight_;
};

// A picture scaled to fit, its outer rows or columns drawn out to the edges so that a picture
// with a plain border fills any shape; a click runs `clicked`.
class PictureBox : public QWidget {
  public:
    explicit PictureBox(QWidget* parent = nullptr);
    void setPicture(const QString& file);
    bool hasPicture() const { return !picture_.isNull(); }
    std::function<void()> clicked;

    QSize sizeHint() const override { return QSize(480, 300); }
    QSize minimumSizeHint() const override { return QSize(160, 90); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QString file_;
    QPixmap picture_;
};

} // namespace kestrova

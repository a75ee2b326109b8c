#include "ui/Widgets.h"

#include <QMouseEvent>
#include <QPainter>

namespace kestrova {

AspectBox::AspectBox(QWidget* child, int ratioWidth, int ratioHeight, QWidget* parent)
    : QWidget(parent), child_(child), ratioWidth_(ratioWidth), ratioHeight_(ratioHeight) {
    child_->setParent(this);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize AspectBox::sizeHint() const {
    return QSize(ratioWidth_, ratioHeight_) * (640 / ratioWidth_);
}

QSize AspectBox::minimumSizeHint() const {
    return QSize(ratioWidth_, ratioHeight_) * (320 / ratioWidth_);
}

void AspectBox::resizeEvent(QResizeEvent*) {
    const QSize shown = QSize(ratioWidth_, ratioHeight_).scaled(size(), Qt::KeepAspectRatio);
    child_->setGeometry(
        QRect(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown));
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PictureBox::setPicture(const QString& file) {
    if (file == file_)
        return;
    file_ = file;
    picture_ = file.isEmpty() ? QPixmap() : QPixmap(file);
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (picture_.isNull()) {
        p.fillRect(rect(), palette().dark());
        return;
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize shown = picture_.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                       shown);
    p.drawPixmap(target, picture_);
    const int w = picture_.width();
    const int h = picture_.height();
    if (target.left() > 0) {
        p.drawPixmap(QRect(0, target.top(), target.left(), target.height()), picture_,
                     QRect(0, 0, 1, h));
        p.drawPixmap(
            QRect(target.right() + 1, target.top(), width() - target.right() - 1, target.height()),
            picture_, QRect(w - 1, 0, 1, h));
    }
    if (target.top() > 0) {
        p.drawPixmap(QRect(target.left(), 0, target.width(), target.top()), picture_,
                     QRect(0, 0, w, 1));
        p.drawPixmap(QRect(target.left(), target.bottom() + 1, target.width(),
                           height() - target.bottom() - 1),
                     picture_, QRect(0, h - 1, w, 1));
    }
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        clicked)
        clicked();
}

} // namespace kestrova

#include "camera/CameraPreview.h"

#include "camera/CaptureControl.h"

#include <QPainter>

namespace kestrova {

CameraPreview::CameraPreview(CaptureControl& control, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("cameraPreview"));
    setMinimumSize(160, 120);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&control, &CaptureControl::frameChanged, this, [this](const QImage& frame) {
        frame_ = frame;
        update();
    });
}

void CameraPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (frame_.isNull()) {
        p.fillRect(rect(), QColor(32, 32, 36));
        p.setPen(QColor(220, 220, 220));
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No picture"));
        return;
    }
    p.fillRect(rect(), Qt::black);
    const QSize shown = frame_.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                       shown);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, frame_);
}

} // namespace kestrova

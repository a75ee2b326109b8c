#include "ui/Artwork.h"

#include "settings/DataFolder.h"

#include <QFile>

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <functional>

namespace kestrova {

namespace {

const QColor kInk(52, 64, 84);
const QColor kAccent(232, 126, 32);
const QColor kBlue(34, 98, 170);

// An icon drawn at several sizes by `draw`, which paints into a 24 x 24 design square.
QIcon Drawn(const std::function<void(QPainter&)>& draw) {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 24.0, size / 24.0);
        draw(p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPen Line(const QColor& color, double width = 1.8) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void DrawLens(QPainter& p, QPointF centre, double radius) {
    QRadialGradient ring(centre, radius);
    ring.setColorAt(0.0, QColor(70, 80, 96));
    ring.setColorAt(1.0, QColor(24, 28, 36));
    p.setPen(Qt::NoPen);
    p.setBrush(ring);
    p.drawEllipse(centre, radius, radius);
    QRadialGradient glass(centre - QPointF(radius * 0.2, radius * 0.2), radius * 0.7);
    glass.setColorAt(0.0, QColor(120, 180, 240));
    glass.setColorAt(1.0, QColor(20, 60, 120));
    p.setBrush(glass);
    p.drawEllipse(centre, radius * 0.62, radius * 0.62);
    p.setBrush(QColor(10, 16, 28));
    p.drawEllipse(centre, radius * 0.3, radius * 0.3);
    p.setBrush(QColor(255, 255, 255, 190));
    p.drawEllipse(centre + QPointF(-radius * 0.24, -radius * 0.24), radius * 0.1, radius * 0.1);
}

} // namespace

QIcon SettingsIcon() {
    return Drawn([](QPainter& p) {
        // Three sliders.
        p.setPen(Line(kInk));
        for (const double y : {6.0, 12.0, 18.0})
            p.drawLine(QPointF(3, y), QPointF(21, y));
        p.setBrush(kAccent);
        p.setPen(Line(kInk, 1.4));
        p.drawEllipse(QPointF(8, 6), 2.6, 2.6);
        p.drawEllipse(QPointF(16, 12), 2.6, 2.6);
        p.drawEllipse(QPointF(10, 18), 2.6, 2.6);
    });
}

QIcon CameraIcon() {
    return Drawn([](QPainter& p) {
        p.setPen(Line(kInk));
        p.setBrush(QColor(236, 240, 245));
        QPainterPath body;
        body.addRoundedRect(QRectF(2.5, 7, 19, 13), 2.5, 2.5);
        body.addRect(QRectF(8, 4.5, 8, 3));
        p.drawPath(body.simplified());
        DrawLens(p, QPointF(12, 13.5), 4.6);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(220, 40, 40));
        p.drawEllipse(QPointF(18.3, 9.6), 1.1, 1.1);
    });
}

QIcon WebPageIcon() {
    return Drawn([](QPainter& p) {
        p.setPen(Line(kBlue));
        p.setBrush(QColor(225, 238, 252));
        p.drawEllipse(QPointF(12, 12), 9, 9);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(12, 12), 4, 9);
        p.drawLine(QPointF(3, 12), QPointF(21, 12));
        p.drawLine(QPointF(4.5, 7.5), QPointF(19.5, 7.5));
        p.drawLine(QPointF(4.5, 16.5), QPointF(19.5, 16.5));
    });
}

QIcon HelpIcon() {
    return Drawn([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
        p.setPen(Line(Qt::white, 2.4));
        QPainterPath hook;
        hook.moveTo(8.8, 9.4);
        hook.cubicTo(8.8, 5.6, 15.4, 5.6, 15.4, 9.2);
        hook.cubicTo(15.4, 11.6, 12, 11.6, 12, 14.2);
        p.setBrush(Qt::NoBrush);
        p.drawPath(hook);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(12, 17.6), 1.4, 1.4);
    });
}

QIcon MoveIcon(int index) {
    return Drawn([index](QPainter& p) {
        p.setPen(Line(kInk, 1.2));
        p.setBrush(kInk);
        if (index == 4) {
            QPainterPath house;
            house.moveTo(12, 4);
            house.lineTo(21, 12);
            house.lineTo(18.5, 12);
            house.lineTo(18.5, 20);
            house.lineTo(14, 20);
            house.lineTo(14, 15);
            house.lineTo(10, 15);
            house.lineTo(10, 20);
            house.lineTo(5.5, 20);
            house.lineTo(5.5, 12);
            house.lineTo(3, 12);
            house.closeSubpath();
            p.drawPath(house);
            return;
        }
        // A triangle pointing right, turned to its direction.
        static const double kAngles[] = {180, 0, 270, 90};
        p.translate(12, 12);
        p.rotate(kAngles[index]);
        QPolygonF arrow({QPointF(7, 0), QPointF(-4.5, -7.5), QPointF(-4.5, 7.5)});
        p.drawPolygon(arrow);
    });
}

QIcon DrawnAppIcon() {
    return Drawn([](QPainter& p) {
        QLinearGradient back(0, 0, 0, 24);
        back.setColorAt(0, QColor(36, 92, 150));
        back.setColorAt(1, QColor(12, 34, 66));
        p.setPen(Qt::NoPen);
        p.setBrush(back);
        p.drawRoundedRect(QRectF(1, 1, 22, 22), 5, 5);
        DrawLens(p, QPointF(12, 12), 7.5);
    });
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString file =
            ProgramFolder() + QStringLiteral("/icons/kestrova-webcam-%1.png").arg(size);
        if (QFile::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    return icon.isNull() ? DrawnAppIcon() : icon;
}

QPixmap WizardSidePicture(QSize size) {
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(30, 78, 130));
    sky.setColorAt(1, QColor(8, 22, 42));
    p.fillRect(pixmap.rect(), sky);
    // Soft circles of light, then the lens.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(QColor(255, 255, 255, 14 + i * 6));
        const double r = size.width() * (0.9 - i * 0.22);
        p.drawEllipse(QPointF(size.width() * 0.5, size.height() * 0.36), r, r);
    }
    const QPointF lens(size.width() * 0.5, size.height() * 0.36);
    const double radius = size.width() * 0.26;
    // The camera's white shell, its lens and the light that says "on air".
    QLinearGradient shell(0, lens.y() - radius * 1.4, 0, lens.y() + radius * 1.4);
    shell.setColorAt(0, Qt::white);
    shell.setColorAt(1, QColor(196, 206, 220));
    p.setBrush(shell);
    p.drawEllipse(lens, radius * 1.4, radius * 1.4);
    DrawLens(p, lens, radius);
    p.setBrush(QColor(226, 48, 48));
    p.drawEllipse(lens + QPointF(radius * 0.85, -radius * 0.95), radius * 0.12, radius * 0.12);
    p.setPen(QColor(255, 255, 255, 230));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(size.width() / 8);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(0, size.height() * 0.62, size.width(), size.height() * 0.1), Qt::AlignCenter,
               QStringLiteral("Kestrova"));
    font.setBold(false);
    font.setPixelSize(size.width() / 12);
    p.setFont(font);
    p.setPen(QColor(255, 190, 120));
    p.drawText(QRectF(0, size.height() * 0.71, size.width(), size.height() * 0.08), Qt::AlignCenter,
               QStringLiteral("Webcam"));
    return pixmap;
}

} // namespace kestrova

// Draws the station's own pictures at build time: interface.jpg (splash and settings area)
// and local.jpg (the still image sent while the camera is being changed).
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cstdio>

namespace {

void DrawLens(QPainter& p, QPointF centre, double radius) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 36));
    p.drawEllipse(centre, radius, radius);
    p.setBrush(QColor(70, 110, 160));
    p.drawEllipse(centre, radius * 0.62, radius * 0.62);
    p.setBrush(QColor(15, 20, 30));
    p.drawEllipse(centre, radius * 0.32, radius * 0.32);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(centre + QPointF(-radius * 0.22, -radius * 0.22), radius * 0.1, radius * 0.1);
}

QImage Picture(int width, int height, const QString& title, const QString& subtitle) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(24, 62, 104));
    sky.setColorAt(1, QColor(8, 20, 38));
    p.fillRect(image.rect(), sky);
    DrawLens(p, QPointF(width * 0.22, height * 0.5), height * 0.28);
    p.setPen(Qt::white);
    QFont big(QStringLiteral("DejaVu Sans"), height / 9, QFont::Bold);
    p.setFont(big);
    p.drawText(QRectF(width * 0.42, height * 0.25, width * 0.56, height * 0.3),
               Qt::AlignLeft | Qt::AlignVCenter, title);
    QFont small(QStringLiteral("DejaVu Sans"), height / 22);
    p.setFont(small);
    p.drawText(QRectF(width * 0.42, height * 0.55, width * 0.56, height * 0.2),
               Qt::AlignLeft | Qt::AlignTop, subtitle);
    return image;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_images interface.jpg local.jpg\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const bool ok =
        Picture(480, 240, QStringLiteral("Kestrova"), QStringLiteral("Webcam station"))
            .save(QString::fromLocal8Bit(argv[1]), "JPEG", 90) &&
        Picture(320, 240, QStringLiteral("Kestrova"), QStringLiteral("Changing camera..."))
            .save(QString::fromLocal8Bit(argv[2]), "JPEG", 90);
    if (!ok) {
        std::fprintf(stderr, "make_images: cannot write the pictures\n");
        return 1;
    }
    return 0;
}

// Draws the station's own pictures at build time: interface.jpg (the splash window and the
// settings area), local.jpg (the still image sent while the camera is being changed) and the
// program's icon in several sizes (the same drawing as kestrova-webcam.svg).
//
//   make_images <interface.jpg> <local.jpg> [<icon folder>]
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor kNavyTop(27, 74, 122);
const QColor kNavyBottom(8, 24, 46);
const QColor kOrange(240, 138, 36);
const QColor kShell(233, 238, 245);

// The lens of the camera motif: a dark ring, blue glass, the pupil and a highlight.
void DrawLens(QPainter& p, QPointF c, double r) {
    QRadialGradient ring(c, r);
    ring.setColorAt(0.0, QColor(90, 102, 120));
    ring.setColorAt(1.0, QColor(26, 30, 38));
    p.setPen(Qt::NoPen);
    p.setBrush(ring);
    p.drawEllipse(c, r, r);
    QRadialGradient glass(c - QPointF(r * 0.2, r * 0.2), r * 0.75);
    glass.setColorAt(0.0, QColor(140, 196, 255));
    glass.setColorAt(1.0, QColor(20, 60, 120));
    p.setBrush(glass);
    p.drawEllipse(c, r * 0.64, r * 0.64);
    p.setBrush(QColor(10, 16, 32));
    p.drawEllipse(c, r * 0.3, r * 0.3);
    p.setBrush(QColor(255, 255, 255, 205));
    p.drawEllipse(c + QPointF(-r * 0.22, -r * 0.22), r * 0.12, r * 0.12);
}

// A webcam on its stand with broadcast arcs, in a design square of 256 units whose lens sits
// at (108, 118): the camera motif of the icon and of the pictures.
void DrawCamera(QPainter& p, bool withArcs) {
    const QPointF lens(108, 118);
    // Shadow, shell and stand.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawEllipse(lens + QPointF(3, 5), 70, 70);
    QLinearGradient shell(0, 48, 0, 188);
    shell.setColorAt(0, Qt::white);
    shell.setColorAt(1, QColor(196, 206, 220));
    p.setBrush(shell);
    p.drawEllipse(lens, 70, 70);
    p.drawRect(QRectF(101, 186, 14, 20));
    p.drawRoundedRect(QRectF(68, 202, 80, 16), 8, 8);
    DrawLens(p, lens, 50);
    // The light that says "on air".
    p.setBrush(QColor(226, 48, 48));
    p.drawEllipse(QPointF(148, 74), 6, 6);
    if (!withArcs)
        return;
    p.setBrush(Qt::NoBrush);
    for (const auto& [radius, alpha] : {std::pair<double, int>{86, 255}, {114, 170}}) {
        QColor colour = kOrange;
        colour.setAlpha(alpha);
        p.setPen(QPen(colour, 12, Qt::SolidLine, Qt::RoundCap));
        const QRectF box(lens.x() - radius, lens.y() - radius, radius * 2, radius * 2);
        p.drawArc(box, -38 * 16, 76 * 16);
    }
}

// The program's icon at `size` pixels.
QImage Icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    QLinearGradient back(0, 8, 0, 248);
    back.setColorAt(0, QColor(42, 106, 168));
    back.setColorAt(1, QColor(12, 36, 66));
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 52, 52);
    DrawCamera(p, true);
    return image;
}

// The background of the pictures: a vertical gradient only, so that its rows can be drawn
// out sideways to fill a wider area without a seam.
void DrawSky(QPainter& p, const QRect& r) {
    QLinearGradient sky(0, 0, 0, r.height());
    sky.setColorAt(0, kNavyTop);
    sky.setColorAt(1, kNavyBottom);
    p.fillRect(r, sky);
}

// A soft glow and faint rings around a centre.
void DrawGlow(QPainter& p, QPointF c, double r) {
    QRadialGradient glow(c, r);
    glow.setColorAt(0, QColor(120, 180, 255, 70));
    glow.setColorAt(1, QColor(120, 180, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(c, r, r);
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        p.setPen(QPen(QColor(255, 255, 255, 18), 1.5));
        p.drawEllipse(c, r * (0.45 + 0.18 * i), r * (0.45 + 0.18 * i));
    }
}

QFont Font(int pixels, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QImage Interface() {
    const int w = 800;
    const int h = 500;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawSky(p, image.rect());
    DrawGlow(p, QPointF(240, 240), 210);

    p.save();
    p.translate(240 - 108 * 1.2, 240 - 118 * 1.2);
    p.scale(1.2, 1.2);
    DrawCamera(p, true);
    p.restore();

    p.setPen(Qt::white);
    p.setFont(Font(64, true));
    p.drawText(QRectF(440, 150, 340, 80), Qt::AlignLeft | Qt::AlignBottom,
               QStringLiteral("Kestrova"));
    p.setPen(kOrange);
    p.setFont(Font(40, false));
    p.drawText(QRectF(444, 232, 340, 52), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Webcam"));
    p.setPen(QPen(QColor(255, 255, 255, 90), 2));
    p.drawLine(QPointF(446, 298), QPointF(700, 298));
    p.setPen(QColor(190, 208, 232));
    p.setFont(Font(17, false));
    p.drawText(QRectF(446, 310, 330, 60), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               QStringLiteral("Your camera, live on the web"));
    return image;
}

QImage Local() {
    const int w = 320;
    const int h = 240;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawSky(p, image.rect());
    DrawGlow(p, QPointF(160, 96), 90);
    p.save();
    p.translate(160 - 108 * 0.55, 96 - 118 * 0.55);
    p.scale(0.55, 0.55);
    DrawCamera(p, false);
    p.restore();
    p.setPen(Qt::white);
    p.setFont(Font(20, true));
    p.drawText(QRectF(0, 178, w, 28), Qt::AlignCenter, QStringLiteral("Kestrova Webcam"));
    p.setPen(QColor(190, 208, 232));
    p.setFont(Font(13, false));
    p.drawText(QRectF(0, 204, w, 22), Qt::AlignCenter, QStringLiteral("Changing camera..."));
    return image;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_images interface.jpg local.jpg [icon-folder]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    bool ok = Interface().save(QString::fromLocal8Bit(argv[1]), "JPEG", 92) &&
              Local().save(QString::fromLocal8Bit(argv[2]), "JPEG", 90);
    if (ok && argc == 4) {
        const QString folder = QString::fromLocal8Bit(argv[3]);
        ok = QDir().mkpath(folder);
        for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
            ok = ok && Icon(size).save(folder + QStringLiteral("/kestrova-webcam-%1.png").arg(size),
                                       "PNG");
        }
    }
    if (!ok) {
        std::fprintf(stderr, "make_images: cannot write the pictures\n");
        return 1;
    }
    return 0;
}

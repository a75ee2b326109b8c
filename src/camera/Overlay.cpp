#include "camera/Overlay.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <array>

namespace kestrova {

namespace {

constexpr int kPadding = 2;
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

// Rows of a 5 x 7 glyph, the leftmost pixel in bit 4.
using Glyph = std::array<unsigned char, kGlyphHeight>;

const Glyph* BuiltInGlyph(QChar c) {
    static const Glyph digits[10] = {
        {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
        {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
        {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
        {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};
    static const Glyph letters[26] = {
        {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}, {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},
        {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C},
        {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},
        {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},
        {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},
        {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},
        {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},
        {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},
        {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},
        {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},
        {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},
        {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},
        {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}};
    static const Glyph colon{0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00};
    static const Glyph dash{0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00};
    static const Glyph slash{0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00};
    static const Glyph dot{0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C};
    const char16_t u = c.toUpper().unicode();
    if (u >= u'0' && u <= u'9')
        return &digits[u - u'0'];
    if (u >= u'A' && u <= u'Z')
        return &letters[u - u'A'];
    switch (u) {
    case u':':
        return &colon;
    case u'-':
        return &dash;
    case u'/':
        return &slash;
    case u'.':
        return &dot;
    default:
        return nullptr;
    }
}

QColor ColourOf(int rgb) {
    return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

bool SystemHasFonts() {
    static const bool has = !QFontDatabase::families().isEmpty();
    return has;
}

} // namespace

QString TimeStampText(const QDateTime& now) {
    return now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void DrawBuiltInText(QImage& frame, const QString& text, int left, int top, int colour,
                     int background) {
    if (frame.isNull() || text.isEmpty())
        return;
    QPainter p(&frame);
    const int width = static_cast<int>(text.size()) * (kGlyphWidth + 1) - 1 + 2 * kPadding;
    const int height = kGlyphHeight + 2 * kPadding;
    if (background != -1)
        p.fillRect(QRect(left, top, width, height), ColourOf(background));
    const QColor ink = ColourOf(colour == -1 ? 0xFFFFFF : colour);
    for (int i = 0; i < text.size(); ++i) {
        const Glyph* glyph = BuiltInGlyph(text[i]);
        if (!glyph)
            continue;
        const int x0 = left + kPadding + i * (kGlyphWidth + 1);
        for (int row = 0; row < kGlyphHeight; ++row) {
            for (int col = 0; col < kGlyphWidth; ++col) {
                if ((*glyph)[static_cast<std::size_t>(row)] & (0x10 >> col))
                    p.fillRect(QRect(x0 + col, top + kPadding + row, 1, 1), ink);
            }
        }
    }
}

void DrawOverlay(QImage& frame, const TextOverlay& overlay, const QDateTime& now) {
    if (frame.isNull() || overlay.text.isEmpty())
        return;
    const QString text = overlay.text == QLatin1String("TIME") ? TimeStampText(now) : overlay.text;
    if (!SystemHasFonts()) {
        DrawBuiltInText(frame, text, overlay.left, overlay.top, overlay.colour, overlay.background);
        return;
    }
    // The text changes once a second at most, frames come many times a second: the stamp is
    // drawn once and kept until its text or look changes.
    static QString cachedKey;
    static QImage stamp;
    const QString family = overlay.font.isEmpty() ? QStringLiteral("Verdana") : overlay.font;
    const int size = std::clamp(overlay.size, 4, 72);
    const QString key = QStringLiteral("%1|%2|%3|%4|%5")
                            .arg(text, family)
                            .arg(size)
                            .arg(overlay.colour)
                            .arg(overlay.background);
    if (key != cachedKey) {
        QFont font(family);
        font.setStyleHint(QFont::SansSerif);
        font.setPointSize(size);
        const QFontMetrics metrics(font, &frame);
        stamp = QImage(metrics.horizontalAdvance(text) + 2 * kPadding, metrics.height() + kPadding,
                       QImage::Format_ARGB32_Premultiplied);
        stamp.setDotsPerMeterX(frame.dotsPerMeterX());
        stamp.setDotsPerMeterY(frame.dotsPerMeterY());
        stamp.fill(overlay.background == -1 ? QColor(Qt::transparent)
                                            : ColourOf(overlay.background));
        QPainter p(&stamp);
        p.setFont(font);
        p.setPen(ColourOf(overlay.colour == -1 ? 0xFFFFFF : overlay.colour));
        p.drawText(QPoint(kPadding, kPadding / 2 + metrics.ascent()), text);
        cachedKey = key;
    }
    QPainter p(&frame);
    p.drawImage(QPoint(overlay.left, overlay.top), stamp);
}

} // namespace kestrova

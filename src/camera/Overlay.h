// The text overlay that the capture layer draws into every frame.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

namespace kestrova {

// An overlay as the capture control is told to draw it. Colours are RGB values with red in the
// lowest byte (white 0xFFFFFF, black 0); -1 is "none". The text "TIME" stands for the current
// local time.
struct TextOverlay {
    int slot = 0;
    QString text;
    int left = 0;
    int top = 0;
    QString font;
    int size = 0;
    int colour = -1;
    int background = -1;
};

// The text "TIME" stands for.
QString TimeStampText(const QDateTime& now);

// Draws the overlay into the frame (a null frame or an empty text draws nothing). Uses the
// overlay's font when the system has fonts and a small built-in font otherwise.
void DrawOverlay(QImage& frame, const TextOverlay& overlay, const QDateTime& now);

// Draws text with the built-in 5 x 7 font (digits, upper-case letters and the punctuation of a
// date and time; other characters are left blank), on the background when it is not -1.
void DrawBuiltInText(QImage& frame, const QString& text, int left, int top, int colour,
                     int background);

} // namespace kestrova

// JPEG encoding and decoding in memory with libjpeg-turbo.
#pragma once

#include <QByteArray>
#include <QImage>

namespace kestrova {

// A complete JPEG file of the image at the quality (0 to 100, clamped), with optimised Huffman
// tables. Empty when the image is null or the encoder fails.
QByteArray EncodeJpeg(const QImage& image, int quality);

// The picture of a JPEG file (RGB888); null when the bytes are no JPEG the decoder can read or
// the picture is larger than maxSide pixels in either direction.
QImage DecodeJpeg(const QByteArray& bytes, int maxSide = 8192);

} // namespace kestrova

// The current frame as the bytes of a complete JPEG file.
#pragma once

#include <QByteArray>

namespace kestrova {

// The connected camera's current frame at JpegQuality; empty when there is none.
QByteArray GetLatestImage();

// The still image local.jpg of the program folder at JpegQuality; empty when it is missing.
QByteArray GetLocalImage();

} // namespace kestrova

// The current frame as the bytes of a complete JPEG file, and the two capture options of the
// main window (JPEG quality, time stamp).
#pragma once

#include <QByteArray>

namespace kestrova {

class CaptureControl;

// The connected camera's current frame, 320 x 240, at JpegQuality; empty when there is none.
QByteArray GetLatestImage(CaptureControl& camSrc);

// The still image local.jpg of the program folder at JpegQuality; empty when it is missing.
QByteArray GetLocalImage();

// The time-stamp check box changed: the overlay shows the time (ticked) or nothing, and
// TimeStampOn keeps the box's value.
void chkTimeStamp_Click(CaptureControl& camSrc);

// Puts the time stamp (current time, white on black, top left) on the capture control.
void ApplyTimeStampOverlay(CaptureControl& camSrc);

// The quality slider moved: JpegQuality takes its value.
void sldJPEGQuality_Change();

} // namespace kestrova

#include "camera/FrameCapture.h"

#include "camera/CaptureControl.h"
#include "camera/Jpeg.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "settings/DataFolder.h"

#include <QFile>

#include <algorithm>

namespace kestrova {

namespace {

constexpr int kUploadWidth = 320;
constexpr int kUploadHeight = 240;
// local.jpg is a small still; a file far larger than any such picture is not read.
constexpr qint64 kMaxStillBytes = 16 * 1024 * 1024;

// Colours as RGB values with red in the low byte.
constexpr int Rgb(int red, int green, int blue) {
    return red | (green << 8) | (blue << 16);
}

} // namespace

QByteArray GetLatestImage(CaptureControl& camSrc) {
    // The frame is encoded in memory; no file is written on the way. A camera that refused
    // 320 x 240 has its frame scaled first and the time stamp drawn afterwards, at the size it
    // has on every other camera.
    const QImage frame = camSrc.CurrentFrame(QSize(kUploadWidth, kUploadHeight));
    if (frame.isNull())
        return {};
    return EncodeJpeg(frame, App().Settings.JpegQuality);
}

QByteArray GetLocalImage() {
    QFile file(ProgramFolder() + QStringLiteral("/local.jpg"));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxStillBytes)
        return {};
    return EncodeJpeg(DecodeJpeg(file.readAll()), App().Settings.JpegQuality);
}

void ApplyTimeStampOverlay(CaptureControl& camSrc) {
    camSrc.SetTextOverlay(0, QStringLiteral("TIME"), 0, 0, QStringLiteral("Verdana"), 10,
                          Rgb(255, 255, 255), Rgb(0, 0, 0));
}

void chkTimeStamp_Click(CaptureControl& camSrc) {
    const short value = Ui().chkTimeStamp.value();
    if (value == 1)
        ApplyTimeStampOverlay(camSrc);
    else
        camSrc.SetTextOverlay(0, QString(), 0, 0, QStringLiteral("Verdana"), 10, -1, -1);
    App().Settings.TimeStampOn = value;
}

void sldJPEGQuality_Change() {
    App().Settings.JpegQuality =
        static_cast<std::int16_t>(std::clamp(Ui().sldJPEGQuality.value(), 0, 100));
}

} // namespace kestrova

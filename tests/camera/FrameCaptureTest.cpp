// Frames as JPEG bytes: the live frame, the still image, quality, the time stamp.
#include "CameraTestSupport.h"

#include "camera/Camera.h"
#include "camera/CaptureControl.h"
#include "camera/FrameCapture.h"
#include "camera/Jpeg.h"
#include "camera/Overlay.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "ptz/Ptz.h"
#include "settings/DataFolder.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>

namespace kestrova::test {
namespace {

bool IsCompleteJpeg(const QByteArray& bytes) {
    return bytes.size() > 4 && bytes.startsWith("\xFF\xD8") && bytes.endsWith("\xFF\xD9");
}

// Share of the pixels of a rectangle that are near black and near white.
struct InkShare {
    double dark = 0;
    double light = 0;
};

InkShare Ink(const QImage& image, const QRect& area) {
    int dark = 0, light = 0, all = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int sum = c.red() + c.green() + c.blue();
            dark += sum < 90 ? 1 : 0;
            light += sum > 500 ? 1 : 0;
            ++all;
        }
    }
    return {static_cast<double>(dark) / all, static_cast<double>(light) / all};
}

const QRect kStampArea(0, 0, 60, 8);

bool IsDark(const QImage& image, int x, int y) {
    const QColor c = image.pixelColor(x, y);
    return c.red() + c.green() + c.blue() < 150;
}

// The size of the time stamp's black box at the top left: its left column and its top row are
// background only (the text keeps a margin), so the box ends where they stop being dark.
QSize StampBox(const QImage& image) {
    int width = 0;
    while (width < image.width() && IsDark(image, width, 0))
        ++width;
    int height = 0;
    while (height < image.height() && IsDark(image, 0, height))
        ++height;
    return QSize(width, height);
}

class FrameCaptureTest : public CameraTest {
  protected:
    // A connected virtual camera, as the start-up leaves it.
    void connect(const QByteArray& cameras = "Logitech QuickCam Orbit") {
        useCameras(cameras);
        CaptureControl& cam = camera().CamSrc();
        cam.DeviceCount();
        cam.SetDevice(0);
        cam.SetConnected(true);
        cam.SetVideoFormat(320, 240);
        cam.SetPreview(true);
    }
};

TEST_F(FrameCaptureTest, TheLatestImageIsA320x240JpegAtTheChosenQuality) {
    const QString folder = station_.useDataFolder();
    connect();
    const QStringList filesBefore = QDir(folder).entryList(QDir::Files);

    std::vector<qsizetype> sizes;
    for (const int quality : {10, 75, 100}) {
        SCOPED_TRACE(quality);
        Ui().sldJPEGQuality.set(quality);
        ASSERT_EQ(quality, App().Settings.JpegQuality);
        const QByteArray jpeg = GetLatestImage(camera().CamSrc());
        ASSERT_TRUE(IsCompleteJpeg(jpeg));
        const QImage picture = DecodeWithQt(jpeg);
        ASSERT_EQ(QSize(320, 240), picture.size());
        // The picture is the camera's, not an empty frame.
        EXPECT_LT(MeanDifference(picture, camera().CamSrc().CurrentFrame()), 20);
        sizes.push_back(jpeg.size());
    }
    EXPECT_LT(sizes[0], sizes[1]);
    EXPECT_LT(sizes[1], sizes[2]);

    // A quality of 0 is used as it is and still gives a picture.
    Ui().sldJPEGQuality.set(0);
    EXPECT_EQ(0, App().Settings.JpegQuality);
    const QByteArray lowest = GetLatestImage(camera().CamSrc());
    EXPECT_EQ(QSize(320, 240), DecodeWithQt(lowest).size());
    EXPECT_LT(lowest.size(), sizes[0]);

    // Nothing was written to the data folder on the way.
    EXPECT_EQ(filesBefore, QDir(folder).entryList(QDir::Files));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/frame.jpg")));
}

TEST_F(FrameCaptureTest, WithoutAPictureTheResultIsEmptyAndNoFileIsLeft) {
    const QString folder = station_.useDataFolder();
    EXPECT_TRUE(GetLatestImage(camera().CamSrc()).isEmpty()); // never connected

    connect();
    ASSERT_FALSE(GetLatestImage(camera().CamSrc()).isEmpty());
    useCameras(""); // unplugged
    EXPECT_TRUE(GetLatestImage(camera().CamSrc()).isEmpty());
    camera().CamSrc().SetConnected(false);
    EXPECT_TRUE(GetLatestImage(camera().CamSrc()).isEmpty());
    // Only the event log, which noted the lost picture.
    EXPECT_EQ(QStringList{QStringLiteral("Log.txt")}, QDir(folder).entryList(QDir::Files));
}

TEST_F(FrameCaptureTest, AFrameOfAnotherSizeIsScaledForTheUpload) {
    connect("Old Cam|640x480");
    ASSERT_EQ(QSize(640, 480), camera().CamSrc().FrameSize());
    const QImage picture = DecodeWithQt(GetLatestImage(camera().CamSrc()));
    EXPECT_EQ(QSize(320, 240), picture.size());
    const QImage expected = camera().CamSrc().CurrentFrame().scaled(320, 240, Qt::IgnoreAspectRatio,
                                                                    Qt::SmoothTransformation);
    EXPECT_LT(MeanDifference(picture, expected), 20);
}

TEST_F(FrameCaptureTest, TheTimeStampKeepsItsSizeOnACameraThatRefuses320x240) {
    App().Settings.JpegQuality = 100;
    connect("Plain Cam");
    Ui().chkTimeStamp.set(1);
    const QImage plain = DecodeWithQt(GetLatestImage(camera().CamSrc()));
    ASSERT_EQ(QSize(320, 240), plain.size());
    const QSize box = StampBox(plain);
    // Nowhere near the whole picture: the sky around the box is light.
    ASSERT_GE(box.height(), 8);
    ASSERT_LT(box.height(), 60);
    ASSERT_GE(box.width(), 40);
    ASSERT_LT(box.width(), 320);

    camera().CamSrc().SetConnected(false);
    connect("Wide Cam|1280x720");
    ASSERT_EQ(QSize(1280, 720), camera().CamSrc().FrameSize());
    ASSERT_EQ(QStringLiteral("TIME"), camera().CamSrc().Overlay().text);
    const QImage wide = DecodeWithQt(GetLatestImage(camera().CamSrc()));
    ASSERT_EQ(QSize(320, 240), wide.size());
    const QSize wideBox = StampBox(wide);
    // The same box (a pixel of leeway for the JPEG's edges), not one shrunk by a quarter across
    // and a third down with the frame.
    EXPECT_NEAR(box.height(), wideBox.height(), 1);
    EXPECT_NEAR(box.width(), wideBox.width(), 3); // the time may have moved on a second
}

TEST_F(FrameCaptureTest, TheTimeStampBoxSwitchesTheOverlayAndIsRemembered) {
    connect();
    const InkShare plain = Ink(camera().CamSrc().CurrentFrame(), kStampArea);
    EXPECT_LT(plain.dark, 0.05); // sky

    Ui().chkTimeStamp.set(1);
    EXPECT_EQ(1, App().Settings.TimeStampOn);
    const TextOverlay& on = camera().CamSrc().Overlay();
    EXPECT_EQ(QStringLiteral("TIME"), on.text);
    EXPECT_EQ(0xFFFFFF, on.colour);
    EXPECT_EQ(0, on.background);
    EXPECT_EQ(0, on.left);
    EXPECT_EQ(0, on.top);
    const InkShare stamped = Ink(camera().CamSrc().CurrentFrame(), kStampArea);
    EXPECT_GT(stamped.dark, 0.5);   // the black box
    EXPECT_GT(stamped.light, 0.05); // the white text
    // The uploaded JPEG carries it too.
    const InkShare uploaded = Ink(DecodeWithQt(GetLatestImage(camera().CamSrc())), kStampArea);
    EXPECT_GT(uploaded.dark, 0.4);

    Ui().chkTimeStamp.set(0);
    EXPECT_EQ(0, App().Settings.TimeStampOn);
    const TextOverlay& off = camera().CamSrc().Overlay();
    EXPECT_TRUE(off.text.isEmpty());
    EXPECT_EQ(-1, off.colour);
    EXPECT_EQ(-1, off.background);
    EXPECT_LT(Ink(camera().CamSrc().CurrentFrame(), kStampArea).dark, 0.05);
}

TEST_F(FrameCaptureTest, ConnectingACameraBringsTheTimeStampBack) {
    connect();
    App().Settings.TimeStampOn = 1;
    ASSERT_TRUE(camera().CamSrc().Overlay().text.isEmpty());
    PtzControl(camera().CamSrc()).ReadMotorRanges();
    EXPECT_EQ(1, Ui().chkTimeStamp.value());
    EXPECT_EQ(QStringLiteral("TIME"), camera().CamSrc().Overlay().text);
    EXPECT_GT(Ink(camera().CamSrc().CurrentFrame(), kStampArea).dark, 0.5);
}

TEST(OverlayTest, TheStampShowsTheGivenTimeWithOrWithoutSystemFonts) {
    const QDateTime first(QDate(2024, 5, 6), QTime(7, 8, 9));
    const QDateTime second = first.addSecs(1);
    EXPECT_NE(TimeStampText(first), TimeStampText(second));
    EXPECT_TRUE(TimeStampText(first).contains(QStringLiteral("07:08:09")));

    TextOverlay overlay;
    overlay.text = QStringLiteral("TIME");
    overlay.size = 10;
    overlay.colour = 0xFFFFFF;
    overlay.background = 0;
    QImage blue(320, 240, QImage::Format_RGB888);
    blue.fill(QColor(40, 90, 200));
    QImage a = blue, b = blue;
    DrawOverlay(a, overlay, first);
    DrawOverlay(b, overlay, second);
    EXPECT_NE(a, b);
    EXPECT_GT(Ink(a, kStampArea).dark, 0.5);

    // The built-in font, used when the system has no fonts at all.
    QImage c = blue, d = blue;
    DrawBuiltInText(c, TimeStampText(first), 0, 0, 0xFFFFFF, 0);
    DrawBuiltInText(d, TimeStampText(second), 0, 0, 0xFFFFFF, 0);
    EXPECT_NE(c, d);
    const InkShare builtIn = Ink(c, kStampArea);
    EXPECT_GT(builtIn.dark, 0.5);
    EXPECT_GT(builtIn.light, 0.1);
    // Below and right of the box the frame is untouched.
    EXPECT_EQ(blue.copy(0, 20, 320, 220), c.copy(0, 20, 320, 220));
}

class LocalImageTest : public CameraTest {
  protected:
    LocalImageTest() : program_(station_.tempPath() + QStringLiteral("/program")) {
        QDir().mkpath(program_);
        station_.useProgramFolder(program_);
    }
    QString localJpg() const { return program_ + QStringLiteral("/local.jpg"); }

    QString program_;
};

TEST_F(LocalImageTest, TheStillIsReencodedAtTheQualityAndLeftAsItIs) {
    QImage still(320, 240, QImage::Format_RGB32);
    still.fill(Qt::darkGreen);
    for (int x = 0; x < 320; x += 16)
        still.setPixelColor(x, 120, Qt::yellow);
    ASSERT_TRUE(still.save(localJpg(), "JPG", 95));
    const QByteArray original = ReadFile(localJpg());
    const QDateTime modified = QFileInfo(localJpg()).lastModified();

    App().Settings.JpegQuality = 100;
    const QByteArray best = GetLocalImage();
    App().Settings.JpegQuality = 5;
    const QByteArray small = GetLocalImage();
    ASSERT_TRUE(IsCompleteJpeg(best));
    ASSERT_TRUE(IsCompleteJpeg(small));
    EXPECT_LT(small.size(), best.size());
    EXPECT_EQ(QSize(320, 240), DecodeWithQt(best).size());
    EXPECT_LT(MeanDifference(DecodeWithQt(best), still), 10);

    EXPECT_EQ(original, ReadFile(localJpg()));
    EXPECT_EQ(modified, QFileInfo(localJpg()).lastModified());
}

TEST_F(LocalImageTest, AMissingOrDamagedStillGivesNothing) {
    App().Settings.JpegQuality = 75;
    EXPECT_TRUE(GetLocalImage().isEmpty()); // missing

    WriteFile(localJpg(), QByteArray("this is not a picture"));
    EXPECT_TRUE(GetLocalImage().isEmpty());

    QImage still(64, 48, QImage::Format_RGB32);
    still.fill(Qt::red);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(still.save(&buffer, "JPG"));
    WriteFile(localJpg(), jpeg.left(jpeg.size() / 3)); // cut short
    const QByteArray truncated = GetLocalImage();
    EXPECT_TRUE(truncated.isEmpty() || IsCompleteJpeg(truncated));

    // A header that claims an enormous picture is refused before anything is allocated.
    const int sof = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    QByteArray huge = jpeg;
    huge[sof + 5] = '\xFF';
    huge[sof + 6] = '\xF0';
    huge[sof + 7] = '\xFF';
    huge[sof + 8] = '\xF0';
    WriteFile(localJpg(), huge);
    EXPECT_TRUE(GetLocalImage().isEmpty());
    EXPECT_TRUE(DecodeJpeg(huge).isNull());
}

} // namespace
} // namespace kestrova::test

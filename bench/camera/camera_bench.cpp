// Figures of the camera path with a virtual camera at 320 x 240:
//  - GetLatestImage: median time and size at quality 75 and 100, with and without time stamp;
//  - the share of one CPU that the live preview takes (and the preview plus one upload frame
//    a second), measured over a few seconds of the running event loop.
#include "camera/CameraPreview.h"
#include "camera/CaptureControl.h"
#include "camera/FrameCapture.h"
#include "core/AppState.h"
#include "core/StationState.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>

using namespace kestrova;

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename T> T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct JpegCase {
    int quality;
    bool stamp;
    std::vector<double> times;
    std::vector<qsizetype> sizes;
};

// The cases take turns, so that a change in the machine's load falls on all of them alike.
void MeasureJpeg(CaptureControl& cam) {
    std::vector<JpegCase> cases{
        {75, false, {}, {}}, {100, false, {}, {}}, {75, true, {}, {}}, {100, true, {}, {}}};
    constexpr int kWarmUp = 10;
    constexpr int kRuns = 300;
    for (int i = 0; i < kWarmUp + kRuns; ++i) {
        for (JpegCase& c : cases) {
            App().Settings.JpegQuality = static_cast<std::int16_t>(c.quality);
            if (c.stamp)
                cam.SetTextOverlay(0, QStringLiteral("TIME"), 0, 0, QStringLiteral("Verdana"), 10,
                                   0xFFFFFF, 0);
            else
                cam.SetTextOverlay(0, QString(), 0, 0, QStringLiteral("Verdana"), 10, -1, -1);
            QElapsedTimer clock;
            clock.start();
            const QByteArray jpeg = GetLatestImage(cam);
            const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            if (jpeg.isEmpty()) {
                std::printf("GetLatestImage returned nothing\n");
                return;
            }
            if (i >= kWarmUp) {
                c.times.push_back(ms);
                c.sizes.push_back(jpeg.size());
            }
        }
    }
    for (const JpegCase& c : cases)
        std::printf("GetLatestImage  quality %3d  time stamp %-3s  median %6.2f ms  %6lld bytes\n",
                    c.quality, c.stamp ? "on" : "off", Median(c.times),
                    static_cast<long long>(Median(c.sizes)));
}

// Runs the event loop for `seconds`; returns the CPU share in per cent of one core.
double MeasureCpu(CaptureControl& cam, double seconds, bool uploads) {
    QTimer upload;
    upload.setInterval(1000);
    QObject::connect(&upload, &QTimer::timeout, [&cam] { GetLatestImage(cam); });
    if (uploads)
        upload.start();
    QElapsedTimer wall;
    const double cpuStart = CpuSeconds();
    wall.start();
    QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    const double cpu = CpuSeconds() - cpuStart;
    return 100.0 * cpu / (static_cast<double>(wall.elapsed()) / 1000.0);
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("KESTROVA_VIRTUAL_CAMERAS"))
        qputenv("KESTROVA_VIRTUAL_CAMERAS", "Logitech QuickCam Orbit");
    QApplication app(argc, argv);
    const double seconds =
        argc > 1 ? std::max(1.0, QString::fromLocal8Bit(argv[1]).toDouble()) : 10.0;

    StationState state;
    CaptureControl cam;
    if (cam.DeviceCount() == 0) {
        std::printf("no capture device\n");
        return 1;
    }
    cam.SetDevice(0);
    cam.SetConnected(true);
    const bool format = cam.SetVideoFormat(320, 240);
    std::printf("camera: %s, 320x240 accepted: %s\n", qPrintable(cam.ConnectedName()),
                format ? "yes" : "no");

    MeasureJpeg(cam);

    // The preview as the main window shows it, time stamp on.
    QWidget window;
    window.resize(320, 240);
    auto* preview = new CameraPreview(cam, &window);
    preview->resize(320, 240);
    window.show();
    cam.SetTextOverlay(0, QStringLiteral("TIME"), 0, 0, QStringLiteral("Verdana"), 10, 0xFFFFFF, 0);
    cam.SetPreview(true);
    std::printf("CPU share, preview only:               %5.2f %% of one core over %.0f s\n",
                MeasureCpu(cam, seconds, false), seconds);
    std::printf("CPU share, preview and 1 JPEG a second: %5.2f %% of one core over %.0f s\n",
                MeasureCpu(cam, seconds, true), seconds);
    cam.SetPreview(false);
    std::printf("CPU share, connected, no preview:       %5.2f %% of one core over %.0f s\n",
                MeasureCpu(cam, seconds / 2, false), seconds / 2);
    cam.SetConnected(false);
    return 0;
}

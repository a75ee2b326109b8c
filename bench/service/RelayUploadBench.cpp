// The live frame cycle against a local sink that reads each upload whole and closes the
// connection without a word. Prints the frames per second the cycle reaches and the time from
// the sink's close to the first byte of the next request: with the 1000 ms watchdog, and with
// a watchdog of 1 ms, which shows what the station itself adds to each cycle. (The watchdog is a
// coarse timer, which may fire a few per cent early.)
//
//   bench_relay_upload [frames per run, default 8]
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/StationState.h"
#include "service/Upload.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QImage>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kestrova;

namespace {

// Reads each request up to its Content-Length, then closes.
class Sink {
  public:
    Sink() {
        clock_.start();
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                accept(socket);
        });
    }
    bool listen() {
        for (int attempt = 0; attempt < 500; ++attempt) {
            const auto port =
                static_cast<quint16>(QRandomGenerator::global()->bounded(20000, 32768));
            if (server_.listen(QHostAddress::LocalHost, port))
                return true;
        }
        return false;
    }
    quint16 port() const { return server_.serverPort(); }
    std::vector<qint64> firstBytes; // ns since start
    std::vector<qint64> closes;
    std::size_t bytes = 0;

  private:
    void accept(QTcpSocket* socket) {
        auto* received = new QByteArray;
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
            if (received->isEmpty())
                firstBytes.push_back(clock_.nsecsElapsed());
            received->append(socket->readAll());
            const qsizetype blank = received->indexOf("\r\n\r\n");
            if (blank < 0)
                return;
            const QByteArray key = "\r\nContent-Length: ";
            const qsizetype at = received->indexOf(key);
            const qsizetype end = received->indexOf("\r\n", at + key.size());
            const qsizetype length =
                received->mid(at + key.size(), end - at - key.size()).toLongLong();
            if (received->size() < blank + 4 + length)
                return;
            bytes += static_cast<std::size_t>(received->size());
            closes.push_back(clock_.nsecsElapsed());
            socket->disconnectFromHost();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket, received] {
            delete received;
            socket->deleteLater();
        });
    }
    QTcpServer server_;
    QElapsedTimer clock_;
};

QByteArray Frame() {
    QImage image(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 75);
    return bytes;
}

void Run(const char* name, int intervalMs, int frames, const QByteArray& jpeg) {
    StationState state;
    Uploader uploader;
    Sink sink;
    if (!sink.listen()) {
        std::fprintf(stderr, "no port for the sink\n");
        return;
    }
    AppState& s = App();
    s.WebRequestDone = kTrue;
    s.UploadReady = kTrue;
    s.ReflectorActive = kTrue;
    s.ReflectorHost = QStringLiteral("127.0.0.1");
    s.ReflectorPort = static_cast<std::int16_t>(sink.port());
    s.CameraId.assign(QStringLiteral("bench-camera"));
    uploader.setFrameSource([&jpeg](bool) { return jpeg; });
    StationTimers& timers = Timers();
    QObject::connect(&timers.tmrWatchdog, &QTimer::timeout,
                     [&uploader] { uploader.WatchdogTick(); });
    timers.tmrWatchdog.setInterval(intervalMs);
    timers.tmrWatchdog.start();

    QElapsedTimer guard;
    guard.start();
    while (sink.firstBytes.size() < static_cast<std::size_t>(frames) + 1 &&
           guard.elapsed() < 60000 + static_cast<qint64>(frames) * intervalMs * 3) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    timers.tmrWatchdog.stop();
    uploader.CloseReflectorSocket();

    const std::size_t n = std::min(sink.firstBytes.size(), sink.closes.size() + 1);
    if (n < 3) {
        std::printf("%s: too few uploads (%zu)\n", name, n);
        return;
    }
    std::vector<double> gaps; // close -> next first byte, ms
    for (std::size_t i = 0; i + 1 < n && i < sink.closes.size(); ++i)
        gaps.push_back(static_cast<double>(sink.firstBytes[i + 1] - sink.closes[i]) / 1e6);
    const double span = static_cast<double>(sink.firstBytes[n - 1] - sink.firstBytes[0]) / 1e9;
    const double fps = static_cast<double>(n - 1) / span;
    double sum = 0;
    for (double g : gaps)
        sum += g;
    const auto [minGap, maxGap] = std::minmax_element(gaps.begin(), gaps.end());
    std::printf("%s: watchdog %d ms, %zu uploads of %d-byte frames\n", name, intervalMs, n,
                static_cast<int>(jpeg.size()));
    std::printf("  frames per second: %.3f\n", fps);
    std::printf("  sink close -> next request's first byte: mean %.2f ms, min %.2f ms, max %.2f ms"
                " (%+.2f ms against the watchdog interval)\n",
                sum / static_cast<double>(gaps.size()), *minGap, *maxGap,
                sum / static_cast<double>(gaps.size()) - intervalMs);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(3, QByteArray(argv[1]).toInt()) : 8;
    const QByteArray jpeg = Frame();
    Run("as shipped", 1000, frames, jpeg);
    Run("station cost", 1, frames * 10, jpeg);
    return 0;
}

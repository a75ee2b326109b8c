// The command listener over loopback, driving the real libpantilt.so whose motor unit is a FIFO
// in a fake hidraw tree. Clients on threads of their own connect, send one packet, wait for
// "OK" and the close, as the posting helper does. Prints the packets per second the listener
// serves (one client, then three at once) and the time from a client's write of "pan_left" or
// "pan_right" to the unit's move report leaving libpantilt (read from the FIFO): median, 90th
// and 99th percentile. The client's write stands for the packet's arrival; loopback delivery
// is part of the figure.
//
//   bench_ptz [packets per run, default 2000]
#include "camera/CaptureControl.h"
#include "core/AppState.h"
#include "core/StationState.h"
#include "ptz/Ptz.h"
#include "support/fake_hidraw.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestrova;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kReportLength = 17;

long long Ns(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// One connection: connect, send, read until the listener closes. True for "OK" CR LF.
bool SendPacket(quint16 port, const char* packet, long long* sentNs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    timeval bound{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (ok) {
        if (sentNs)
            *sentNs = Ns(Clock::now());
        const std::size_t length = std::strlen(packet);
        ok = ::write(fd, packet, length) == static_cast<ssize_t>(length);
    }
    char answer[16];
    std::size_t got = 0;
    while (ok) {
        const ssize_t n = ::read(fd, answer + got, sizeof answer - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return ok && got == 4 && std::memcmp(answer, "OK\r\n", 4) == 0;
}

// Reads the unit's reports from the FIFO and notes when each arrived.
class ReportReader {
  public:
    explicit ReportReader(std::string path) : path_(std::move(path)) {
        times_.resize(1 << 20);
        thread_ = std::thread([this] { Run(); });
    }
    ~ReportReader() {
        stop_ = true;
        thread_.join();
    }
    std::size_t count() const { return count_.load(); }
    long long at(std::size_t i) const { return times_[i]; }

  private:
    void Run() {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return;
        unsigned char report[kReportLength];
        std::size_t got = 0;
        while (!stop_) {
            const ssize_t n = ::read(fd, report + got, kReportLength - got);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(20));
                continue;
            }
            got += static_cast<std::size_t>(n);
            if (got == kReportLength) {
                const std::size_t i = count_.load();
                if (i < times_.size())
                    times_[i] = Ns(Clock::now());
                count_.store(i + 1);
                got = 0;
            }
        }
        ::close(fd);
    }
    std::string path_;
    std::vector<long long> times_;
    std::atomic<std::size_t> count_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs the station's events until `done`.
void RunUntil(const std::atomic<bool>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
}

double Percentile(std::vector<long long> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return static_cast<double>(values[index]) / 1000.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int packets = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

    pantilt::test::FakeHidrawTree tree;
    tree.AddMotor(0);
    const std::string fifo = tree.Root() + "/motor.fifo";
    if (::mkfifo(fifo.c_str(), 0600) != 0) {
        std::perror("mkfifo");
        return 1;
    }
    tree.LinkNode(0, fifo);
    ReportReader reader(fifo);

    StationState state;
    state.programFolder = QStringLiteral(KESTROVA_STATION_DIR);
    AppState& s = state.app;
    s.IsPtzCamera = kTrue;
    s.IsPantiltCamera = kTrue;
    CaptureControl camSrc;
    PtzControl ptz(camSrc);
    ptz.ReadMotorRanges();
    ptz.ConnectMotorAtStartup();
    if (s.IsPantiltCamera != kTrue) {
        std::fprintf(stderr, "bench_ptz: the fake motor unit was not found\n");
        return 1;
    }
    for (int attempt = 0; attempt < 200 && ptz.listenerPort() == 0; ++attempt) {
        const int base = static_cast<int>(QRandomGenerator::global()->bounded(20000, 32000));
        QTcpServer probe;
        if (!probe.listen(QHostAddress::AnyIPv4, static_cast<quint16>(base)))
            continue;
        probe.close();
        ptz.setPorts(PtzPorts{base, base, base});
        s.Settings.PtzPort = 0;
        s.PtzListening = kFalse;
        ptz.OpenPtzListener();
    }
    const quint16 port = ptz.listenerPort();
    if (port == 0) {
        std::fprintf(stderr, "bench_ptz: no port for the listener\n");
        return 1;
    }
    // The two initialisation reports.
    while (reader.count() < 2)
        QCoreApplication::processEvents();

    // One client after another: latency of each packet.
    std::vector<long long> sent(static_cast<std::size_t>(packets));
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    QElapsedTimer clock;
    clock.start();
    std::thread client([&] {
        for (int i = 0; i < packets; ++i) {
            if (!SendPacket(port, i % 2 ? "pan_right" : "pan_left",
                            &sent[static_cast<std::size_t>(i)]))
                ++failures;
        }
        done = true;
    });
    RunUntil(done);
    client.join();
    const double serialSeconds = clock.nsecsElapsed() / 1e9;
    while (reader.count() < 2 + static_cast<std::size_t>(packets) && clock.elapsed() < 20000)
        QCoreApplication::processEvents();
    std::vector<long long> latencies;
    for (int i = 0; i < packets; ++i) {
        const std::size_t report = 2 + static_cast<std::size_t>(i);
        if (report < reader.count())
            latencies.push_back(reader.at(report) - sent[static_cast<std::size_t>(i)]);
    }

    // Three clients at once: throughput of the ring of three sockets.
    std::atomic<int> finished{0};
    std::atomic<bool> allDone{false};
    const std::size_t before = reader.count();
    clock.restart();
    std::vector<std::thread> clients;
    for (int c = 0; c < 3; ++c) {
        clients.emplace_back([&, c] {
            for (int i = c; i < packets; i += 3) {
                if (!SendPacket(port, i % 2 ? "pan_right" : "pan_left", nullptr))
                    ++failures;
            }
            if (++finished == 3)
                allDone = true;
        });
    }
    RunUntil(allDone);
    for (std::thread& t : clients)
        t.join();
    const double parallelSeconds = clock.nsecsElapsed() / 1e9;

    std::printf("bench_ptz: %d packets per run over 127.0.0.1, pantilt back-end, FIFO unit\n",
                packets);
    std::printf("  one client:    %.0f packets/s\n", packets / serialSeconds);
    std::printf("  three clients: %.0f packets/s\n", packets / parallelSeconds);
    std::printf("  write to move report: median %.1f us, p90 %.1f us, p99 %.1f us (%zu packets)\n",
                Percentile(latencies, 0.5), Percentile(latencies, 0.9), Percentile(latencies, 0.99),
                latencies.size());
    std::printf("  reports: %zu of %d; failed exchanges: %d\n", reader.count() - before, packets,
                failures.load());
    return failures == 0 ? 0 : 1;
}

// The relay across machines, on loopback: three relay programs on PostgreSQL and Redis behind
// haproxy (packaging/haproxy/kestrova-relays.cfg), beside one embedded relay, under the same
// load: stations uploading once a second through the front, MJPEG viewers spread over the
// relays, viewers polling the latest frame. Halfway through one relay of the cluster is killed
// (SIGKILL). Prints what every viewer got, the upload and delivery times, each relay's processor
// share and memory, and what the kill cost.
//
// reflector_cluster_bench [SECONDS] [STATIONS] [VIEWERS] [POLLERS]   (default 20 200 10000 500)

#include "reflector_shared/TestServers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr const char* kKey = "Bench-K3y_of-the-statio_0123456789abcdefghi";
constexpr std::size_t kFrameBytes = 16 * 1024;

std::int64_t micros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval t{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    return fd;
}

// One request on a connection of its own; the status, or 0 when it failed.
int exchange(int port, const std::string& request, std::string* body = nullptr) {
    const int fd = connectTo(port);
    if (fd < 0) {
        return 0;
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            ::close(fd);
            return 0;
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string answer;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (answer.size() < 12) {
        return 0;
    }
    if (body != nullptr) {
        const std::size_t end = answer.find("\r\n\r\n");
        *body = end == std::string::npos ? std::string() : answer.substr(end + 4);
    }
    return std::atoi(answer.c_str() + 9);
}

std::string get(const std::string& target) {
    return "GET " + target +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nAuthorization: "
           "Bearer " +
           std::string(kKey) + "\r\n\r\n";
}

// A frame: JPEG markers around the camera, its number and the time it was sent.
std::string frame(int camera, std::int64_t number) {
    std::string f(kFrameBytes, 'k');
    f[0] = '\xFF';
    f[1] = '\xD8';
    std::snprintf(&f[2], 64, " %d %lld %lld ", camera, static_cast<long long>(number),
                  static_cast<long long>(micros()));
    f[f.size() - 2] = '\xFF';
    f[f.size() - 1] = '\xD9';
    return f;
}

std::string upload(int camera, std::int64_t number) {
    const std::string boundary = "Qm8xT3zV9kL2pR7sW4nY6bC1dF5gH0jA";
    const std::string body =
        "--" + boundary + "\r\nContent-Disposition: form-data; name=\"id\"\r\n\r\ncam" +
        std::to_string(camera) + "\r\n--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"path\"\r\n\r\nwebcams\r\n--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"frame\"; filename=\"f.jpg\"\r\n"
        "Content-Type: image/jpeg\r\n\r\n" +
        frame(camera, number) + "\r\n--" + boundary + "--\r\n";
    return "POST /webcams/Reflector HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
           "multipart/form-data; boundary=" +
           boundary + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\nAuthorization: Bearer " + kKey + "\r\n\r\n" + body;
}

class Child {
  public:
    Child(std::vector<std::string> args, const std::string& log,
          std::vector<std::string> env = {}) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        for (char** e = environ; *e != nullptr; ++e) {
            env.emplace_back(*e);
        }
        std::vector<char*> argv, envp;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            throw std::runtime_error("cannot start " + args[0]);
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { kill(); }
    void kill() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    // Processor seconds used so far and resident memory in MiB.
    std::pair<double, double> usage() const {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const std::size_t close = text.rfind(')');
        std::vector<std::string> fields;
        std::string field;
        for (char c : text.substr(close + 2)) {
            if (c == ' ') {
                fields.push_back(field);
                field.clear();
            } else {
                field += c;
            }
        }
        const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
        const double cpu =
            fields.size() > 22 ? (std::stod(fields[11]) + std::stod(fields[12])) / ticks : 0.0;
        const double rss = fields.size() > 22 ? std::stod(fields[21]) * 4096.0 / 1048576.0 : 0.0;
        return {cpu, rss};
    }
    pid_t pid = -1;
};

// MJPEG viewers on a few epoll loops: each parses its stream, checks every frame of its camera
// arrives, and notes how long each took from its upload.
struct Viewer {
    int fd = -1;
    int camera = 0;
    int port = 0;
    std::string buffer;
    std::int64_t last = -1; // number of the last frame
    std::int64_t missed = 0;
    std::int64_t missedAway = 0; // while it reconnected
    std::int64_t frames = 0;
    bool reconnected = false;
};

struct Viewers {
    std::vector<Viewer> all;
    std::vector<std::vector<std::int64_t>> delays; // per loop, microseconds
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> reconnects{0};
    int front = 0;
    std::int64_t countFrom = 0; // frames before this time are not counted in the delays

    bool open(Viewer& v, int port) {
        v.fd = connectTo(port);
        if (v.fd < 0) {
            return false;
        }
        v.port = port;
        const std::string request = "GET /webcams/stream?id=cam" + std::to_string(v.camera) +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ::send(v.fd, request.data(), request.size(), MSG_NOSIGNAL);
        ::fcntl(v.fd, F_SETFL, O_NONBLOCK);
        v.buffer.clear();
        return true;
    }

    void parse(Viewer& v, std::vector<std::int64_t>& delay) {
        for (;;) {
            const std::size_t length = v.buffer.find("Content-Length: ");
            if (length == std::string::npos) {
                return;
            }
            const std::size_t start = v.buffer.find("\r\n\r\n", length);
            if (start == std::string::npos) {
                return;
            }
            const std::size_t size = std::strtoul(v.buffer.c_str() + length + 16, nullptr, 10);
            if (v.buffer.size() < start + 4 + size) {
                return;
            }
            int camera = 0;
            long long number = 0, sentAt = 0;
            std::sscanf(v.buffer.c_str() + start + 4 + 2, " %d %lld %lld ", &camera, &number,
                        &sentAt);
            const std::int64_t now = micros();
            if (v.last >= 0 && number > v.last + 1) {
                (v.reconnected ? v.missedAway : v.missed) += number - v.last - 1;
            }
            // The first frame of a stream is the one stored before it opened.
            const bool fresh = v.last >= 0 && !v.reconnected;
            v.reconnected = false;
            v.last = std::max<std::int64_t>(v.last, number);
            ++v.frames;
            if (fresh && sentAt >= countFrom) {
                delay.push_back(now - sentAt);
            }
            v.buffer.erase(0, start + 4 + size);
        }
    }

    void run(std::size_t loop, std::size_t loops) {
        const int ep = ::epoll_create1(0);
        for (std::size_t i = loop; i < all.size(); i += loops) {
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.u64 = i;
            ::epoll_ctl(ep, EPOLL_CTL_ADD, all[i].fd, &e);
        }
        std::vector<epoll_event> events(256);
        char chunk[65536];
        while (!stop) {
            const int n = ::epoll_wait(ep, events.data(), 256, 100);
            for (int k = 0; k < n; ++k) {
                Viewer& v = all[events[k].data.u64];
                const ssize_t got = ::recv(v.fd, chunk, sizeof chunk, 0);
                if (got > 0) {
                    v.buffer.append(chunk, static_cast<std::size_t>(got));
                    parse(v, delays[loop]);
                } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    // Its relay went: back through the front.
                    ::epoll_ctl(ep, EPOLL_CTL_DEL, v.fd, nullptr);
                    ::close(v.fd);
                    ++reconnects;
                    v.reconnected = true;
                    if (open(v, front)) {
                        epoll_event e{};
                        e.events = EPOLLIN;
                        e.data.u64 = events[k].data.u64;
                        ::epoll_ctl(ep, EPOLL_CTL_ADD, v.fd, &e);
                    }
                }
            }
        }
        ::close(ep);
    }
};

double percentile(std::vector<std::int64_t> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return static_cast<double>(values[static_cast<std::size_t>(p * (values.size() - 1))]) / 1000.0;
}

struct Figures {
    double uploadP99 = 0, deliveryP99 = 0;
    std::int64_t uploads = 0, failedUploads = 0, frames = 0, missed = 0, missedAway = 0;
    std::int64_t reconnects = 0;
    std::int64_t polls = 0, failedPolls = 0;
    std::vector<std::pair<double, double>> relays; // processor share, MiB
};

Figures load(const std::vector<int>& relayPorts, int front, std::vector<Child*> relays, int seconds,
             int stations, int viewers, int pollers, bool killOne) {
    Figures f;
    for (int c = 0; c < stations; ++c) {
        exchange(front,
                 get("/webcams/Register?id=cam" + std::to_string(c) + "&path=webcams&ptz=false"));
        exchange(front, upload(c, 0));
    }
    Viewers v;
    v.front = front;
    v.all.resize(static_cast<std::size_t>(viewers));
    for (int i = 0; i < viewers; ++i) {
        v.all[i].camera = i % stations;
        v.open(v.all[i], relayPorts[static_cast<std::size_t>(i) % relayPorts.size()]);
    }
    const std::size_t loops = 2;
    v.delays.resize(loops);
    std::this_thread::sleep_for(1s);
    v.countFrom = micros();
    std::vector<std::thread> threads;
    for (std::size_t l = 0; l < loops; ++l) {
        threads.emplace_back([&v, l, loops] { v.run(l, loops); });
    }
    std::vector<std::pair<double, double>> before;
    for (Child* r : relays) {
        before.push_back(r->usage());
    }
    const auto start = Clock::now();
    std::mutex mutex;
    std::vector<std::int64_t> uploadTimes;
    std::atomic<std::int64_t> failed{0}, done{0}, polls{0}, failedPolls{0};
    std::vector<std::thread> senders;
    constexpr int kSenders = 4;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int second = 1; second <= seconds; ++second) {
                for (int c = s; c < stations; c += kSenders) {
                    // Each station at its own moment of the second, as stations that started
                    // at different times upload.
                    std::this_thread::sleep_until(
                        start + std::chrono::seconds(second - 1) +
                        std::chrono::microseconds(1000000LL * c / stations));
                    const std::int64_t t0 = micros();
                    const int status = exchange(front, upload(c, second));
                    const std::int64_t t1 = micros();
                    ++done;
                    if (status != 200) {
                        ++failed;
                    }
                    std::lock_guard lock(mutex);
                    uploadTimes.push_back(t1 - t0);
                }
            }
        });
    }
    std::vector<std::thread> pollThreads;
    for (int p = 0; p < 2; ++p) {
        pollThreads.emplace_back([&, p] {
            for (int second = 0; second < seconds; ++second) {
                for (int i = p; i < pollers; i += 2) {
                    const int status =
                        exchange(front, get("/webcams/live?id=cam" + std::to_string(i % stations)));
                    ++polls;
                    if (status != 200) {
                        ++failedPolls;
                    }
                }
                std::this_thread::sleep_until(start + std::chrono::seconds(second + 1));
            }
        });
    }
    if (killOne) {
        std::this_thread::sleep_until(start + std::chrono::seconds(seconds / 2));
        relays[0]->kill();
    }
    for (auto& t : senders) {
        t.join();
    }
    for (auto& t : pollThreads) {
        t.join();
    }
    std::this_thread::sleep_for(1s);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    for (std::size_t i = 0; i < relays.size(); ++i) {
        if (relays[i]->pid < 0) {
            f.relays.emplace_back(-1, -1);
            continue;
        }
        const auto now = relays[i]->usage();
        f.relays.emplace_back((now.first - before[i].first) / elapsed, now.second);
    }
    v.stop = true;
    for (auto& t : threads) {
        t.join();
    }
    std::vector<std::int64_t> delays;
    for (auto& d : v.delays) {
        delays.insert(delays.end(), d.begin(), d.end());
    }
    for (Viewer& viewer : v.all) {
        f.frames += viewer.frames;
        f.missed += viewer.missed;
        f.missedAway += viewer.missedAway;
        ::close(viewer.fd);
    }
    f.deliveryP99 = percentile(delays, 0.99);
    f.uploadP99 = percentile(uploadTimes, 0.99);
    f.uploads = done;
    f.failedUploads = failed;
    f.reconnects = v.reconnects;
    f.polls = polls;
    f.failedPolls = failedPolls;
    return f;
}

void print(const char* what, const Figures& f) {
    std::printf("%s\n", what);
    std::printf("  uploads %lld, refused or failed %lld, answered within %.1f ms at p99\n",
                static_cast<long long>(f.uploads), static_cast<long long>(f.failedUploads),
                f.uploadP99);
    std::printf("  frames to stream viewers %lld, missed %lld (and %lld while reconnecting), "
                "upload to viewer %.1f ms at p99\n",
                static_cast<long long>(f.frames), static_cast<long long>(f.missed),
                static_cast<long long>(f.missedAway), f.deliveryP99);
    std::printf("  polls %lld, failed %lld; streams that had to reconnect %lld\n",
                static_cast<long long>(f.polls), static_cast<long long>(f.failedPolls),
                static_cast<long long>(f.reconnects));
    for (std::size_t i = 0; i < f.relays.size(); ++i) {
        if (f.relays[i].first < 0) {
            std::printf("  relay %zu: killed\n", i + 1);
        } else {
            std::printf("  relay %zu: %.0f %% of one processor, %.0f MiB\n", i + 1,
                        100 * f.relays[i].first, f.relays[i].second);
        }
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int stations = argc > 2 ? std::atoi(argv[2]) : 200;
    const int viewers = argc > 3 ? std::atoi(argv[3]) : 10000;
    const int pollers = argc > 4 ? std::atoi(argv[4]) : 500;
    std::signal(SIGPIPE, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("kestrova-cluster-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto relayArgs = [&](int port, const std::string& name) {
        return std::vector<std::string>{REFLECTOR_PROGRAM,
                                        "--port",
                                        std::to_string(port),
                                        "--data",
                                        (dir / name).string(),
                                        "--max-per-address",
                                        "0",
                                        "--max-streams",
                                        "100000",
                                        "--max-connections",
                                        "15000",
                                        "--registrations-per-hour",
                                        "1000000",
                                        "--max-long-polls",
                                        "100000"};
    };
    std::printf("%d s, %d stations uploading once a second, %d MJPEG viewers, %d polling once a "
                "second, frames of %zu KiB\n",
                seconds, stations, viewers, pollers, kFrameBytes / 1024);
    Figures single;
    {
        const int port = freePort();
        Child relay(relayArgs(port, "single"), (dir / "single.log").string());
        std::this_thread::sleep_for(1s);
        single = load({port}, port, {&relay}, seconds, stations, viewers, pollers, false);
        print("one embedded relay", single);
    }
    {
        reflector::test::PostgresServer postgres;
        reflector::test::RedisServer redis;
        const int front = freePort();
        std::vector<int> ports;
        std::vector<std::unique_ptr<Child>> relays;
        for (int i = 0; i < 3; ++i) {
            ports.push_back(freePort());
            auto args = relayArgs(ports.back(), "relay" + std::to_string(i));
            for (const std::string& a :
                 {std::string("--database"), postgres.url(), std::string("--redis"), redis.url(),
                  std::string("--public-port"), std::to_string(front),
                  std::string("--trusted-proxy"), std::string("127.0.0.1")}) {
                args.push_back(a);
            }
            relays.push_back(std::make_unique<Child>(
                args, (dir / ("relay" + std::to_string(i) + ".log")).string()));
        }
        Child haproxy({"haproxy", "-db", "-f", KESTROVA_HAPROXY_CONFIG},
                      (dir / "haproxy.log").string(),
                      {"KESTROVA_LISTEN=127.0.0.1:" + std::to_string(front),
                       "KESTROVA_RELAY1=127.0.0.1:" + std::to_string(ports[0]),
                       "KESTROVA_RELAY2=127.0.0.1:" + std::to_string(ports[1]),
                       "KESTROVA_RELAY3=127.0.0.1:" + std::to_string(ports[2]),
                       "KESTROVA_CHECK_INTER=500ms"});
        std::this_thread::sleep_for(3s);
        const Figures cluster =
            load(ports, front, {relays[0].get(), relays[1].get(), relays[2].get()}, seconds,
                 stations, viewers, pollers, true);
        print("three relays on PostgreSQL and Redis behind haproxy, relay 1 killed halfway",
              cluster);
        const auto haproxyUse = haproxy.usage();
        std::printf("  haproxy %.0f MiB\n", haproxyUse.second);
        double clusterShare = 0;
        for (const auto& relay : cluster.relays) {
            clusterShare += std::max(0.0, relay.first);
        }
        std::printf("cluster / single relay: processor %.2f (relays together), upload p99 %.2f, "
                    "delivery p99 %.2f\n",
                    single.relays[0].first > 0 ? clusterShare / single.relays[0].first : 0.0,
                    single.uploadP99 > 0 ? cluster.uploadP99 / single.uploadP99 : 0.0,
                    single.deliveryP99 > 0 ? cluster.deliveryP99 / single.deliveryP99 : 0.0);
    }
    std::filesystem::remove_all(dir);
    return 0;
}

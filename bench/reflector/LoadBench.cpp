// The relay under load, over loopback, the reflector program run as a child process:
// - the latest frame (a 320 x 240 JPEG) with wrk on kept connections: requests per second and
//   99th percentile in five pairs of runs, the relay's then nginx's serving the same file from
//   disk, each pair's ratio and their median;
// - 500 open live streams and 200 viewers polling once a second (wrk) while 20 stations upload
//   once a second: upload times, the viewers' 99th percentile, frames the streams got, the
//   relay's processor time and memory;
// - a slowloris of 1000 connections from 125 loopback addresses while 20 stations upload:
//   upload times and failures;
// - 2 MiB frames for 200 cameras, uploaded four at a time and each fetched once: the relay's
//   memory beside its frame cache's bound;
// - 32 wrong viewer passwords a second from rotating addresses while 20 stations upload once a
//   second: upload times (aim: under 20 ms) and how the relay answered the passwords.
//
// reflector_load_bench [SECONDS [PHASES]]   (each run's length, default 10, from 3 to 600;
// PHASES the digits of the phases to run, default 12345)
// Needs wrk and nginx (Debian packages wrk, nginx); a phase that needs a missing one is skipped.

#include "LoadPieces.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>
#include <spawn.h>
#include <sstream>
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

using benchload::connectTo;
using benchload::exchange;
using benchload::makeJpeg;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kWrk = "/usr/bin/wrk";
constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr int kStations = 20;
// Pairs of runs of the latest frame, relay beside nginx.
constexpr int kPairs = 5;
// The key every station of the bench registers its camera with.
constexpr const char* kKey = "B3nch-station-key_0123456789abcdefghijklmno";

std::string stationGet(const std::string& uri) {
    return benchload::stationGet(uri, kKey);
}

std::string uploadRequest(const std::string& id, const std::string& frame) {
    return benchload::uploadRequest(id, frame, kKey);
}

// ---- sockets ----

// A form posted on a fresh connection from `from`, read until the relay closes it; the answer's
// status, 0 when there is none.
int postFrom(int port, const std::string& from, const std::string& path, const std::string& form,
             bool keyed = false) {
    const int fd = connectTo(port, from);
    if (fd < 0) {
        return 0;
    }
    const timeval guard{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    const std::string request =
        "POST " + path +
        " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: " +
        std::to_string(form.size()) + "\r\n" +
        (keyed ? std::string("Authorization: Bearer ") + kKey + "\r\n" : std::string()) + "\r\n" +
        form;
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

// ---- child processes ----

class Child {
  public:
    Child(std::vector<std::string> args, const fs::path& output) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { stop(); }
    // Waits for the program to end by itself.
    void wait() {
        if (pid_ > 0) {
            ::waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = 0;
};

std::string readFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Processor seconds the process has used, and its resident and peak memory in MiB.
struct Usage {
    double cpuSeconds = 0;
    double rssMiB = 0;
    double peakMiB = 0;
};

Usage usageOf(pid_t pid) {
    Usage usage;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            usage.cpuSeconds += std::stod(field) / static_cast<double>(::sysconf(_SC_CLK_TCK));
        }
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            usage.rssMiB = std::stod(line.substr(6)) / 1024;
        } else if (line.rfind("VmHWM:", 0) == 0) {
            usage.peakMiB = std::stod(line.substr(6)) / 1024;
        }
    }
    return usage;
}

// Processor seconds that a process and its children (nginx's workers) have used so far.
double processorSeconds(pid_t pid) {
    double seconds = usageOf(pid).cpuSeconds;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        std::getline(stat, text);
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(text.substr(close + 2));
        std::string state;
        long parent = 0;
        fields >> state >> parent;
        if (parent == pid) {
            seconds += usageOf(static_cast<pid_t>(std::stol(name))).cpuSeconds;
        }
    }
    return seconds;
}

// A reflector child on a free port; `port()` is 0 when it did not start.
class RelayProcess {
  public:
    RelayProcess(const fs::path& dir, std::vector<std::string> options) : output_(dir / "out.txt") {
        // The bench registers more cameras from one address than a relay takes by default.
        std::vector<std::string> args{
            REFLECTOR_PROGRAM,          "--port", "0", "--data", (dir / "data").string(),
            "--registrations-per-hour", "1000000"};
        args.insert(args.end(), options.begin(), options.end());
        child_ = std::make_unique<Child>(args, output_);
        const std::string marker = "listening on 127.0.0.1 port ";
        for (int i = 0; i < 1000 && port_ == 0; ++i) {
            const std::string text = readFile(output_);
            if (const auto at = text.find(marker); at != std::string::npos) {
                port_ = std::atoi(text.c_str() + at + marker.size());
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
    }
    int port() const { return port_; }
    pid_t pid() const { return child_->pid(); }

  private:
    fs::path output_;
    std::unique_ptr<Child> child_;
    int port_ = 0;
};

// ---- wrk ----

struct WrkResult {
    double requestsPerSecond = 0;
    long requests = 0;
    double p50ms = 0;
    double p99ms = 0;
    long errors = 0;
    bool ran = false;
};

double millis(const std::string& text) {
    const double value = std::atof(text.c_str());
    if (text.find("us") != std::string::npos) {
        return value / 1000;
    }
    if (text.find("ms") != std::string::npos) {
        return value;
    }
    return value * 1000; // "s"
}

WrkResult runWrk(const fs::path& dir, const std::string& url, int connections, int seconds,
                 const std::string& script = {}) {
    std::vector<std::string> args{kWrk, "-t2", "-c" + std::to_string(connections),
                                  "-d" + std::to_string(seconds) + "s", "--latency"};
    if (!script.empty()) {
        std::ofstream(dir / "script.lua") << script;
        args.push_back("-s");
        args.push_back((dir / "script.lua").string());
    }
    args.push_back(url);
    const fs::path output = dir / "wrk.txt";
    Child(args, output).wait();
    WrkResult result;
    const std::string text = readFile(output);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first;
        std::string second;
        words >> first >> second;
        if (line.find(" requests in ") != std::string::npos) {
            result.requests = std::atol(line.c_str());
        }
        if (first == "Requests/sec:") {
            result.requestsPerSecond = std::atof(second.c_str());
            result.ran = true;
        } else if (first == "50%") {
            result.p50ms = millis(second);
        } else if (first == "99%") {
            result.p99ms = millis(second);
        } else if (first == "Non-2xx") {
            // "Non-2xx or 3xx responses: N"
            result.errors += std::atol(line.c_str() + line.rfind(' ') + 1);
        } else if (first == "Socket") {
            for (std::string word; words >> word;) {
                result.errors += std::atol(word.c_str());
            }
        }
    }
    if (!result.ran) {
        std::fprintf(stderr, "wrk gave no figures:\n%s\n", text.c_str());
    }
    return result;
}

// ---- stations ----

struct UploadTimes {
    std::vector<double> millis;
    long failed = 0;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

// 20 stations, each uploading a new frame once a second on a fresh connection, for `seconds`.
UploadTimes runStations(int port, const std::vector<std::string>& frames, int seconds) {
    std::vector<UploadTimes> each(kStations);
    std::vector<std::thread> threads;
    const auto start = Clock::now() + 100ms;
    for (int s = 0; s < kStations; ++s) {
        threads.emplace_back([&, s] {
            const std::string id = "st" + std::to_string(s);
            // The stations' seconds do not start together.
            const auto offset = std::chrono::milliseconds(s * 1000 / kStations);
            for (int i = 0; i < seconds; ++i) {
                std::this_thread::sleep_until(start + offset + std::chrono::seconds(i));
                const std::string& frame = frames[static_cast<std::size_t>(s + i) % frames.size()];
                const auto began = Clock::now();
                const std::string answer = exchange(port, uploadRequest(id, frame));
                const double took =
                    std::chrono::duration<double, std::milli>(Clock::now() - began).count();
                if (answer.find("Reflector: true") != std::string::npos) {
                    each[static_cast<std::size_t>(s)].millis.push_back(took);
                } else {
                    ++each[static_cast<std::size_t>(s)].failed;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    UploadTimes all;
    for (const UploadTimes& e : each) {
        all.millis.insert(all.millis.end(), e.millis.begin(), e.millis.end());
        all.failed += e.failed;
    }
    return all;
}

void printUploads(const char* phase, const UploadTimes& uploads) {
    std::printf("  %s: %zu uploads accepted, %ld failed; time to the answer: median %.1f ms, "
                "99th percentile %.1f ms, worst %.1f ms (aim: within 100 ms)\n",
                phase, uploads.millis.size(), uploads.failed, percentile(uploads.millis, 0.5),
                percentile(uploads.millis, 0.99), percentile(uploads.millis, 1.0));
}

void registerStations(int port, const std::vector<std::string>& frames) {
    for (int s = 0; s < kStations; ++s) {
        const std::string id = "st" + std::to_string(s);
        exchange(port, stationGet("/webcams/Register?id=" + id + "&path=webcams&ptz=false"));
        exchange(port, uploadRequest(id, frames[static_cast<std::size_t>(s) % frames.size()]));
    }
}

// ---- live streams ----

struct StreamCounts {
    long opened = 0;
    long frames = 0;
    long ended = 0;
};

// `count` live streams spread over the stations' cameras, read until `until`; frames counted by
// their boundaries.
StreamCounts runStreams(int port, int count, Clock::time_point until) {
    StreamCounts counts;
    const int poller = ::epoll_create1(0);
    struct Stream {
        int fd;
        std::string tail; // the last bytes, for a boundary split between reads
    };
    std::vector<Stream> streams;
    for (int i = 0; i < count; ++i) {
        const int fd = connectTo(port);
        if (fd < 0) {
            continue;
        }
        const std::string request = "GET /webcams/stream?id=st" + std::to_string(i % kStations) +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
            ::close(fd);
            continue;
        }
        streams.push_back({fd, {}});
        ++counts.opened;
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = i;
        ::epoll_ctl(poller, EPOLL_CTL_ADD, streams[i].fd, &event);
    }
    const std::string boundary = "--kestrovaframe\r\n";
    std::vector<char> buffer(1 << 16);
    epoll_event events[64];
    while (Clock::now() < until) {
        const int n = ::epoll_wait(poller, events, 64, 100);
        for (int e = 0; e < n; ++e) {
            Stream& s = streams[events[e].data.u64];
            const ssize_t got = ::recv(s.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got <= 0) {
                ::epoll_ctl(poller, EPOLL_CTL_DEL, s.fd, nullptr);
                ++counts.ended;
                continue;
            }
            std::string text = s.tail + std::string(buffer.data(), static_cast<std::size_t>(got));
            for (std::size_t at = 0; (at = text.find(boundary, at)) != std::string::npos;
                 at += boundary.size()) {
                ++counts.frames;
            }
            s.tail = text.substr(text.size() - std::min(text.size(), boundary.size() - 1));
        }
    }
    for (const Stream& s : streams) {
        ::close(s.fd);
    }
    ::close(poller);
    return counts;
}

// ---- slowloris ----

// `count` connections from 125 loopback addresses, each sending a header line every two
// seconds and never ending its header; a connection the relay closes is opened again.
struct Slowloris {
    long opened = 0;
    long closedByRelay = 0;
    long openAtEnd = 0;
};

Slowloris runSlowloris(int port, int count, Clock::time_point until) {
    Slowloris result;
    struct Slow {
        int fd = -1;
        std::string from;
        Clock::time_point next;
    };
    std::vector<Slow> slow(static_cast<std::size_t>(count));
    const auto open = [&](Slow& s) {
        s.fd = connectTo(port, s.from, false);
        s.next = Clock::now() + 500ms;
        if (s.fd >= 0) {
            ++result.opened;
            const std::string start = "GET /webcams/live?id=st0 HTTP/1.1\r\nHost: x\r\n";
            ::send(s.fd, start.data(), start.size(), MSG_NOSIGNAL);
        }
    };
    for (int i = 0; i < count; ++i) {
        slow[static_cast<std::size_t>(i)].from = "127.0.0." + std::to_string(2 + i / 8);
        open(slow[static_cast<std::size_t>(i)]);
    }
    while (Clock::now() < until) {
        const auto now = Clock::now();
        for (Slow& s : slow) {
            if (s.fd < 0 || now < s.next) {
                continue;
            }
            char byte;
            const ssize_t peek = ::recv(s.fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
            if (peek == 0 || (peek < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ||
                ::send(s.fd, "X-a: b\r\n", 8, MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
                ::close(s.fd);
                ++result.closedByRelay;
                open(s);
                continue;
            }
            s.next = now + 2s;
        }
        std::this_thread::sleep_for(20ms);
    }
    for (Slow& s : slow) {
        if (s.fd >= 0) {
            ++result.openAtEnd;
            ::close(s.fd);
        }
    }
    return result;
}

// ---- nginx ----

std::unique_ptr<Child> startNginx(const fs::path& dir, int port) {
    const std::string d = dir.string();
    std::ofstream(dir / "nginx.conf")
        << "worker_processes 2;\ndaemon off;\npid " << d << "/nginx.pid;\n"
        << "error_log " << d << "/nginx-error.log;\nevents { worker_connections 4096; }\n"
        << "http {\naccess_log off;\nclient_body_temp_path " << d << "/t1;\nproxy_temp_path " << d
        << "/t2;\nfastcgi_temp_path " << d << "/t3;\nuwsgi_temp_path " << d
        << "/t4;\nscgi_temp_path " << d << "/t5;\n"
        << "server {\nlisten 127.0.0.1:" << port << ";\nkeepalive_requests 1000000;\n"
        << "location = /webcams/live { root " << d << "/www; try_files /live.jpg =404; "
        << "default_type image/jpeg; }\n}\n}\n";
    auto nginx =
        std::make_unique<Child>(std::vector<std::string>{kNginx, "-p", d, "-c", d + "/nginx.conf",
                                                         "-e", d + "/nginx-error.log"},
                                dir / "nginx-out.txt");
    for (int i = 0; i < 500; ++i) {
        const int fd = connectTo(port);
        if (fd >= 0) {
            ::close(fd);
            return nginx;
        }
        std::this_thread::sleep_for(10ms);
    }
    return nullptr;
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool have(const char* program) {
    return ::access(program, X_OK) == 0;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string phases = argc > 2 ? argv[2] : "12345";
    if (seconds < 3 || seconds > 600 || argc > 3 ||
        phases.find_first_not_of("12345") != std::string::npos) {
        std::fprintf(stderr, "usage: reflector_load_bench [SECONDS [PHASES]]: phases of 3 to 600 "
                             "seconds (default 10), PHASES the digits of those to run (default "
                             "12345)\n");
        return 2;
    }
    const auto wanted = [&phases](int phase) {
        return phases.find(static_cast<char>('0' + phase)) != std::string::npos;
    };
    std::signal(SIGPIPE, SIG_IGN);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    char folder[] = "/tmp/reflector-load-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = folder;
    // nginx's workers read the picture as an unprivileged user.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    std::vector<std::string> frames;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        frames.push_back(makeJpeg(seed));
    }
    const std::string& picture = frames.front();
    std::printf("reflector load bench: %u processors, phases of %d s, a 320 x 240 JPEG of %zu "
                "bytes\n",
                std::thread::hardware_concurrency(), seconds, picture.size());
    int status = 0;

    // The latest frame, relay beside nginx: pairs of wrk runs with the same settings, the relay
    // then nginx, so that whatever else the machine does weighs on both runs of a pair alike.
    if (!wanted(1)) {
        // not asked for
    } else if (!have(kWrk)) {
        std::printf("1. latest frame: not run, %s missing\n", kWrk);
    } else {
        const fs::path phase = dir / "latest";
        fs::create_directories(phase / "www");
        std::ofstream(phase / "www" / "live.jpg", std::ios::binary) << picture;
        fs::permissions(phase, fs::perms::owner_all | fs::perms::others_read |
                                   fs::perms::others_exec | fs::perms::group_read |
                                   fs::perms::group_exec);
        fs::permissions(phase / "www",
                        fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        RelayProcess relay(phase, {"--max-per-address", "0"});
        exchange(relay.port(), stationGet("/webcams/Register?id=cam&path=webcams&ptz=false"));
        exchange(relay.port(), uploadRequest("cam", picture));
        const std::string relayUrl =
            "http://127.0.0.1:" + std::to_string(relay.port()) + "/webcams/live?id=cam";
        const int nginxPort = freePort();
        std::unique_ptr<Child> nginx = have(kNginx) ? startNginx(phase, nginxPort) : nullptr;
        const std::string nginxUrl =
            "http://127.0.0.1:" + std::to_string(nginxPort) + "/webcams/live";
        std::printf("1. latest frame, wrk -t2 -c50, kept connections, %d pairs of runs (relay, "
                    "then nginx serving the same file from disk)\n",
                    kPairs);
        // A short run of each first: both have their connections, caches and pages warm.
        runWrk(phase, relayUrl, 50, 2);
        if (nginx) {
            runWrk(phase, nginxUrl, 50, 2);
        }
        // One wrk run against `url`, and the processor time the server (`pid`, with its
        // children) used for each request it answered.
        const auto measure = [&](const std::string& url, pid_t pid, double& microsEach) {
            const double before = processorSeconds(pid);
            const WrkResult result = runWrk(phase, url, 50, seconds);
            const double used = processorSeconds(pid) - before;
            microsEach =
                result.requests > 0 ? 1e6 * used / static_cast<double>(result.requests) : 0;
            return result;
        };
        std::vector<double> ratios;
        std::vector<double> relayMicros;
        std::vector<double> nginxMicros;
        long errors = 0;
        for (int pair = 1; pair <= kPairs; ++pair) {
            double micros = 0;
            const WrkResult r = measure(relayUrl, relay.pid(), micros);
            relayMicros.push_back(micros);
            errors += r.errors + (r.ran ? 0 : 1);
            std::printf("  pair %d: relay %.0f requests/s, 99th percentile %.2f ms, %.1f us of "
                        "processor each, %ld errors",
                        pair, r.requestsPerSecond, r.p99ms, micros, r.errors);
            if (!nginx) {
                std::printf("\n");
                continue;
            }
            const WrkResult n = measure(nginxUrl, nginx->pid(), micros);
            nginxMicros.push_back(micros);
            const double ratio =
                n.requestsPerSecond > 0 ? r.requestsPerSecond / n.requestsPerSecond : 0;
            ratios.push_back(ratio);
            std::printf("; nginx %.0f, %.2f ms, %.1f us, %ld errors: relay / nginx %.2f\n",
                        n.requestsPerSecond, n.p99ms, micros, n.errors, ratio);
        }
        if (nginx) {
            nginx.reset();
            const double median = percentile(ratios, 0.5);
            std::printf("  relay / nginx, median of %d pairs: %.2f (aim: 1.0 or more); processor "
                        "time a request, medians: relay %.1f us, nginx %.1f us\n",
                        kPairs, median, percentile(relayMicros, 0.5), percentile(nginxMicros, 0.5));
            status |= median < 1.0 ? 1 : 0;
        } else {
            std::printf("  nginx: not run (%s missing or did not start)\n", kNginx);
        }
        status |= errors > 0 ? 1 : 0;
    }

    // Streams, pollers and stations together.
    if (wanted(2) && have(kWrk)) {
        const fs::path phase = dir / "mixed";
        fs::create_directories(phase);
        RelayProcess relay(phase, {"--max-per-address", "0"});
        registerStations(relay.port(), frames);
        const Usage before = usageOf(relay.pid());
        const auto start = Clock::now();
        StreamCounts streams;
        std::thread streamThread([&] {
            streams = runStreams(relay.port(), 500, start + std::chrono::seconds(seconds + 1));
        });
        UploadTimes uploads;
        std::thread stationThread([&] { uploads = runStations(relay.port(), frames, seconds); });
        const WrkResult pollers =
            runWrk(phase, "http://127.0.0.1:" + std::to_string(relay.port()) + "/webcams/live", 200,
                   seconds,
                   "local n = 0\n"
                   "request = function()\n"
                   "  n = n + 1\n"
                   "  return wrk.format('GET', '/webcams/live?id=st' .. (n % 20))\n"
                   "end\n"
                   "function delay() return 1000 end\n");
        stationThread.join();
        const Usage after = usageOf(relay.pid());
        streamThread.join();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("2. 500 live streams and 200 viewers polling once a second, while 20 "
                    "stations upload once a second\n");
        printUploads("stations", uploads);
        std::printf("  viewers: %.0f requests/s, median %.2f ms, 99th percentile %.2f ms (aim: "
                    "within 50 ms), %ld errors\n",
                    pollers.requestsPerSecond, pollers.p50ms, pollers.p99ms, pollers.errors);
        std::printf("  streams: %ld opened, %ld ended early, %ld frames received (%.1f per "
                    "stream per second)\n",
                    streams.opened, streams.ended, streams.frames,
                    streams.opened > 0 ? static_cast<double>(streams.frames) /
                                             static_cast<double>(streams.opened) / elapsed
                                       : 0.0);
        std::printf("  relay: %.0f%% of one processor, %.1f MiB resident, %.1f MiB at most\n",
                    100 * (after.cpuSeconds - before.cpuSeconds) / elapsed, after.rssMiB,
                    after.peakMiB);
        status |= percentile(uploads.millis, 1.0) > 100 || uploads.failed > 0 ? 1 : 0;
        status |= pollers.p99ms > 50 || pollers.errors > 0 ? 1 : 0;
    }

    // Slowloris while the stations upload.
    if (wanted(3)) {
        const fs::path phase = dir / "slowloris";
        fs::create_directories(phase);
        RelayProcess relay(phase, {});
        registerStations(relay.port(), frames);
        const auto start = Clock::now();
        Slowloris attack;
        std::thread attacker([&] {
            attack = runSlowloris(relay.port(), 1000, start + std::chrono::seconds(seconds + 1));
        });
        std::this_thread::sleep_for(500ms); // the attack in place first
        const Usage before = usageOf(relay.pid());
        const UploadTimes uploads = runStations(relay.port(), frames, seconds);
        const Usage after = usageOf(relay.pid());
        attacker.join();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("3. slowloris: 1000 connections from 125 addresses, a header line every 2 s, "
                    "while 20 stations upload once a second\n");
        std::printf("  attack: %ld connections opened, %ld closed by the relay, %ld open at the "
                    "end\n",
                    attack.opened, attack.closedByRelay, attack.openAtEnd);
        printUploads("stations", uploads);
        std::printf("  relay: %.0f%% of one processor, %.1f MiB resident, %.1f MiB at most\n",
                    100 * (after.cpuSeconds - before.cpuSeconds) / elapsed, after.rssMiB,
                    after.peakMiB);
        status |= percentile(uploads.millis, 1.0) > 100 || uploads.failed > 0 ? 1 : 0;
    }

    // Large frames for many cameras.
    if (wanted(4)) {
        const fs::path phase = dir / "large";
        fs::create_directories(phase);
        RelayProcess relay(phase, {"--max-per-address", "0"});
        std::string large = frames.front();
        large.insert(large.size() - 2, std::string(2 * 1024 * 1024 - large.size(), '\x55'));
        constexpr int cameras = 200;
        std::atomic<int> accepted{0};
        std::atomic<int> served{0};
        std::vector<std::thread> uploaders;
        const auto start = Clock::now();
        for (int t = 0; t < 4; ++t) {
            uploaders.emplace_back([&, t] {
                for (int c = t; c < cameras; c += 4) {
                    const std::string id = "big" + std::to_string(c);
                    std::string frame = large;
                    frame[100] = static_cast<char>(c); // each camera its own bytes
                    exchange(relay.port(),
                             stationGet("/webcams/Register?id=" + id + "&path=webcams&ptz=false"));
                    if (exchange(relay.port(), uploadRequest(id, frame)).find("Reflector: true") !=
                        std::string::npos) {
                        ++accepted;
                    }
                }
            });
        }
        for (std::thread& t : uploaders) {
            t.join();
        }
        for (int c = 0; c < cameras; ++c) {
            const std::string answer =
                exchange(relay.port(), stationGet("/webcams/live?id=big" + std::to_string(c)));
            if (answer.size() > large.size() && answer.rfind("HTTP/1.1 200", 0) == 0) {
                ++served;
            }
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const Usage usage = usageOf(relay.pid());
        std::printf("4. 2 MiB frames for 200 cameras, uploaded four at a time, each fetched "
                    "once (frame cache bound 128 MiB)\n");
        std::printf("  %d uploads accepted, %d frames served, in %.1f s; relay: %.1f MiB "
                    "resident, %.1f MiB at most\n",
                    accepted.load(), served.load(), elapsed, usage.rssMiB, usage.peakMiB);
        status |= accepted != cameras || served != cameras ? 1 : 0;
    }

    // Wrong viewer passwords while the stations upload.
    if (wanted(5)) {
        const fs::path phase = dir / "passwords";
        fs::create_directories(phase);
        RelayProcess relay(phase, {});
        registerStations(relay.port(), frames);
        for (int s = 0; s < kStations; ++s) {
            postFrom(relay.port(), "127.0.0.1", "/webcams/SyncWebcams",
                     "id=st" + std::to_string(s) +
                         "&path=webcams&zoom=true&snapshot=true&chat=false&secure=true"
                         "&password=right&ptz=false&presets=false&archive=false&chatID=r:1",
                     true);
        }
        // 32 a second, each from an address of its own and at a camera of the 20 in turn.
        std::map<int, long> answers;
        std::mutex answersMutex;
        const auto start = Clock::now() + 100ms;
        std::vector<std::thread> guessers;
        for (int g = 0; g < 4; ++g) {
            guessers.emplace_back([&, g] {
                for (int i = g; i < 32 * seconds; i += 4) {
                    std::this_thread::sleep_until(start + std::chrono::milliseconds(i * 1000 / 32));
                    const std::string from =
                        "127.0." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
                    const int status = postFrom(relay.port(), from, "/webcams/login",
                                                "id=st" + std::to_string(i % kStations) +
                                                    "&password=guess" + std::to_string(i));
                    std::lock_guard lock(answersMutex);
                    ++answers[status];
                }
            });
        }
        const Usage before = usageOf(relay.pid());
        const UploadTimes uploads = runStations(relay.port(), frames, seconds);
        const Usage after = usageOf(relay.pid());
        for (std::thread& t : guessers) {
            t.join();
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("5. 32 wrong viewer passwords a second from rotating addresses at the 20 "
                    "cameras, while 20 stations upload once a second\n");
        std::string told;
        for (const auto& [answerStatus, count] : answers) {
            told += std::string(told.empty() ? "" : ", ") + std::to_string(count) + " x " +
                    (answerStatus == 0 ? std::string("none") : std::to_string(answerStatus));
        }
        std::printf("  passwords answered: %s (401 wrong, 429 wait, 503 busy hashing)\n",
                    told.c_str());
        printUploads("stations", uploads);
        std::printf("  relay: %.0f%% of one processor, %.1f MiB resident, %.1f MiB at most\n",
                    100 * (after.cpuSeconds - before.cpuSeconds) / elapsed, after.rssMiB,
                    after.peakMiB);
        status |= percentile(uploads.millis, 0.99) > 20 || uploads.failed > 0 ? 1 : 0;
    }

    std::error_code ec;
    fs::remove_all(dir, ec);
    return status;
}

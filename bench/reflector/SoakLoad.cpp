// The synthetic load of the soak (bench/soak.sh), against a relay on loopback beside a real
// station, and the check of the viewers' commands against what that station carried out.
//
// reflector_soak_load load PORT CAMERA SECONDS OUT
//   For SECONDS: 20 synthetic stations, each registered with a key of its own, upload a frame
//   once a second on a fresh connection (each answer must be 200 "Reflector: true"); 100
//   viewers on kept connections poll a camera's latest frame once a second (each answer must
//   be 200 with a frame that camera uploaded); 20 live streams (each part must be a whole
//   JPEG); a viewer sends a command for the real station's camera CAMERA once a second,
//   pan_left and pan_right in turn, each written to OUT/commands.txt with its time and the
//   relay's answer. Every client has a loopback address of its own, as on the Internet. Prints
//   what came back; exit status 1 when an answer was wrong or missing.
//
// reflector_soak_load commands COMMANDS STATION-LOG KILLED-MS BACK-MS TTL-SECONDS
//   Matches the commands the relay accepted (204) with the lines "PTZ listener: carried out"
//   of the station's event log (the station in debug mode), in order and in time. A command
//   that never reached the station counts as dropped by design when the posting helper was
//   down (from KILLED-MS, when it was killed, to BACK-MS, when its successor polled the relay
//   again): taken by the helper's last poll in the two seconds before the kill, or queued
//   after it and older than its time to live when polling resumed. Any other is lost. Exit
//   status 1 when a command was lost or carried out without being sent.

#include "LoadPieces.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using benchload::connectTo;
using benchload::exchange;
using benchload::statusOf;

constexpr int kStations = 20;
constexpr int kViewers = 100;
constexpr int kViewerThreads = 4;
constexpr int kStreams = 20;
constexpr int kFramesPerStation = 6;
constexpr const char* kBoundary = "--kestrovaframe\r\n";

std::int64_t unixMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool looksLikeJpeg(std::string_view bytes) {
    return bytes.size() >= 4 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xD8 &&
           static_cast<unsigned char>(bytes[bytes.size() - 2]) == 0xFF &&
           static_cast<unsigned char>(bytes.back()) == 0xD9;
}

// Failures of one kind: counted, the first few told with what came back.
class Failures {
  public:
    explicit Failures(const char* what) : what_(what) {}
    void add(const std::string& detail) {
        std::lock_guard lock(mutex_);
        if (++count_ <= 5) {
            std::printf("  %s failed: %s\n", what_, detail.c_str());
            std::fflush(stdout);
        }
    }
    long count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }

  private:
    const char* what_;
    mutable std::mutex mutex_;
    long count_ = 0;
};

// The first line of an answer, for a failure's detail.
std::string firstLine(const std::string& answer) {
    if (answer.empty()) {
        return "no answer";
    }
    return answer.substr(0, std::min(answer.find("\r\n"), std::size_t{80}));
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

std::string randomKey(std::mt19937_64& random) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string key;
    for (int i = 0; i < 43; ++i) {
        key += kAlphabet[random() % 64];
    }
    return key;
}

struct Camera {
    std::string id;
    std::string key;                 // empty for the real station's camera
    std::vector<std::string> frames; // what it uploads; empty for the real station's
};

// ---- viewers on kept connections ----

// One answer read from a kept connection: its status, headers and body; false when the
// connection failed or the answer did not come whole within the socket's time-out.
struct Answer {
    int status = 0;
    bool close = false;
    std::string body;
};

bool readAnswer(int fd, Answer& answer, std::string& error) {
    std::string data;
    char buffer[16384];
    std::size_t headEnd = std::string::npos;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            error = n == 0 ? "connection closed before the answer" : std::strerror(errno);
            return false;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string head = data.substr(0, headEnd);
    answer.status = statusOf(head);
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    answer.close = lower.find("\r\nconnection: close") != std::string::npos;
    const std::size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) {
        error = "no Content-Length: " + firstLine(head);
        return false;
    }
    const std::size_t length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
    answer.body = data.substr(headEnd + 4);
    while (answer.body.size() < length) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            error = "the body was cut short";
            return false;
        }
        answer.body.append(buffer, static_cast<std::size_t>(n));
    }
    if (answer.body.size() != length) {
        error = "more bytes than the Content-Length";
        return false;
    }
    return true;
}

struct ViewerCounts {
    std::atomic<long> polls{0};
    std::atomic<long> good{0};
    std::atomic<long> connections{0};
};

// `first`..`last` viewers, each polling its camera once a second on a kept connection.
void runViewers(int port, const std::vector<Camera>& cameras,
                const std::unordered_map<std::size_t, std::size_t>& frameOwner, int first, int last,
                Clock::time_point start, Clock::time_point until, ViewerCounts& counts,
                Failures& failures) {
    struct Viewer {
        int fd = -1;
        std::size_t camera = 0;
        std::string from;
    };
    std::vector<Viewer> viewers;
    for (int v = first; v < last; ++v) {
        viewers.push_back(
            {-1, static_cast<std::size_t>(v) % cameras.size(), "127.0.3." + std::to_string(1 + v)});
    }
    const timeval guard{10, 0};
    for (long second = 0;; ++second) {
        for (std::size_t i = 0; i < viewers.size(); ++i) {
            Viewer& viewer = viewers[i];
            // The viewers of a thread spread over the second.
            const auto at = start + std::chrono::seconds(second) +
                            std::chrono::milliseconds(1000 * i / viewers.size());
            if (at >= until) {
                for (Viewer& v : viewers) {
                    if (v.fd >= 0) {
                        ::close(v.fd);
                    }
                }
                return;
            }
            std::this_thread::sleep_until(at);
            if (viewer.fd < 0) {
                viewer.fd = connectTo(port, viewer.from);
                if (viewer.fd < 0) {
                    ++counts.polls;
                    failures.add("cannot connect from " + viewer.from);
                    continue;
                }
                ++counts.connections;
                ::setsockopt(viewer.fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
                ::setsockopt(viewer.fd, SOL_SOCKET, SO_SNDTIMEO, &guard, sizeof guard);
            }
            const Camera& camera = cameras[viewer.camera];
            const std::string request =
                "GET /webcams/live?id=" + camera.id + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
            ++counts.polls;
            Answer answer;
            std::string error;
            const bool sent = ::send(viewer.fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(request.size());
            if (!sent || !readAnswer(viewer.fd, answer, error)) {
                failures.add(camera.id + ": " + (sent ? error : "cannot send the request"));
                ::close(viewer.fd);
                viewer.fd = -1;
                continue;
            }
            if (answer.close) {
                // The relay ends a kept connection after so many requests.
                ::close(viewer.fd);
                viewer.fd = -1;
            }
            if (answer.status != 200 || !looksLikeJpeg(answer.body)) {
                failures.add(camera.id + ": status " + std::to_string(answer.status) + ", " +
                             std::to_string(answer.body.size()) + " bytes");
                continue;
            }
            if (!camera.frames.empty()) {
                const auto owner = frameOwner.find(std::hash<std::string>()(answer.body));
                if (owner == frameOwner.end() || &cameras[owner->second] != &camera) {
                    failures.add(camera.id + ": a frame this camera never uploaded");
                    continue;
                }
            }
            ++counts.good;
        }
    }
}

// ---- live streams ----

struct StreamCounts {
    long opened = 0;
    long frames = 0;
    long reopened = 0;
    double longestGapSeconds = 0;
};

// `kStreams` live streams over the cameras, each part checked, read until `until`; a stream
// the relay ends is opened again a second later.
StreamCounts runStreams(int port, const std::vector<Camera>& cameras, Clock::time_point until,
                        Failures& failures) {
    StreamCounts counts;
    struct Stream {
        int fd = -1;
        std::size_t camera = 0;
        std::string from;
        std::string data;
        bool headRead = false;
        Clock::time_point lastFrame;
        Clock::time_point reopenAt;
    };
    const int poller = ::epoll_create1(0);
    std::vector<Stream> streams(kStreams);
    const auto open = [&](std::size_t i) {
        Stream& s = streams[i];
        s.fd = connectTo(port, s.from);
        s.data.clear();
        s.headRead = false;
        s.lastFrame = Clock::now();
        const std::string request = "GET /webcams/stream?id=" + cameras[s.camera].id +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (s.fd < 0 || ::send(s.fd, request.data(), request.size(), MSG_NOSIGNAL) !=
                            static_cast<ssize_t>(request.size())) {
            failures.add("cannot open the stream of " + cameras[s.camera].id);
            if (s.fd >= 0) {
                ::close(s.fd);
            }
            s.fd = -1;
            s.reopenAt = Clock::now() + 1s;
            return;
        }
        ++counts.opened;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = i;
        ::epoll_ctl(poller, EPOLL_CTL_ADD, s.fd, &event);
    };
    const auto end = [&](Stream& s, const std::string& why) {
        if (!why.empty()) {
            failures.add("stream of " + cameras[s.camera].id + ": " + why);
        }
        ::epoll_ctl(poller, EPOLL_CTL_DEL, s.fd, nullptr);
        ::close(s.fd);
        s.fd = -1;
        s.reopenAt = Clock::now() + 1s;
        ++counts.reopened;
    };
    for (std::size_t i = 0; i < streams.size(); ++i) {
        streams[i].camera = (i + 1) % cameras.size();
        streams[i].from = "127.0.4." + std::to_string(1 + i);
        open(i);
    }
    std::vector<char> buffer(1 << 16);
    epoll_event events[kStreams];
    while (Clock::now() < until) {
        const int n = ::epoll_wait(poller, events, kStreams, 100);
        for (int e = 0; e < n; ++e) {
            Stream& s = streams[events[e].data.u64];
            const ssize_t got = ::recv(s.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                continue;
            }
            if (got <= 0) {
                end(s, {}); // ended by the relay: opened again
                continue;
            }
            s.data.append(buffer.data(), static_cast<std::size_t>(got));
            if (!s.headRead) {
                const std::size_t headEnd = s.data.find("\r\n\r\n");
                if (headEnd == std::string::npos) {
                    continue;
                }
                if (statusOf(s.data) != 200) {
                    end(s, firstLine(s.data));
                    continue;
                }
                s.headRead = true;
                s.data.erase(0, headEnd + 4);
            }
            // Whole parts: boundary, headers, Content-Length bytes, CR LF.
            for (;;) {
                const std::size_t partHeadEnd = s.data.find("\r\n\r\n");
                if (partHeadEnd == std::string::npos) {
                    break;
                }
                const std::size_t length = s.data.find("Content-Length: ");
                if (s.data.rfind(kBoundary, 0) != 0 || length == std::string::npos ||
                    length > partHeadEnd) {
                    end(s, "a part without its boundary or length");
                    break;
                }
                const std::size_t size = std::strtoul(s.data.c_str() + length + 16, nullptr, 10);
                if (s.data.size() < partHeadEnd + 4 + size + 2) {
                    break;
                }
                const std::string_view jpeg(s.data.data() + partHeadEnd + 4, size);
                if (!looksLikeJpeg(jpeg) ||
                    s.data.compare(partHeadEnd + 4 + size, 2, "\r\n") != 0) {
                    end(s, "a part that is not a whole JPEG");
                    break;
                }
                const auto now = Clock::now();
                counts.longestGapSeconds =
                    std::max(counts.longestGapSeconds,
                             std::chrono::duration<double>(now - s.lastFrame).count());
                s.lastFrame = now;
                ++counts.frames;
                s.data.erase(0, partHeadEnd + 4 + size + 2);
            }
        }
        for (std::size_t i = 0; i < streams.size(); ++i) {
            if (streams[i].fd < 0 && Clock::now() >= streams[i].reopenAt) {
                open(i);
            }
        }
    }
    for (Stream& s : streams) {
        if (s.fd >= 0) {
            ::close(s.fd);
        }
    }
    ::close(poller);
    return counts;
}

// ---- the load ----

int runLoad(int port, const std::string& realCamera, int seconds, const std::string& out) {
    std::mt19937_64 random{std::random_device{}()};
    std::vector<Camera> cameras;
    std::unordered_map<std::size_t, std::size_t> frameOwner; // hash of the bytes: camera
    for (int s = 0; s < kStations; ++s) {
        Camera camera;
        camera.id = "soak" + std::to_string(s);
        camera.key = randomKey(random);
        for (int f = 0; f < kFramesPerStation; ++f) {
            camera.frames.push_back(
                benchload::makeJpeg(static_cast<unsigned>(s * kFramesPerStation + f + 1)));
            frameOwner[std::hash<std::string>()(camera.frames.back())] = cameras.size();
        }
        cameras.push_back(std::move(camera));
    }
    cameras.push_back(Camera{realCamera, {}, {}});

    // Each station registers with its key and uploads a first frame.
    for (int s = 0; s < kStations; ++s) {
        const Camera& c = cameras[static_cast<std::size_t>(s)];
        const std::string from = "127.0.2." + std::to_string(1 + s);
        const std::string registered =
            exchange(port,
                     benchload::stationGet(
                         "/webcams/Register?id=" + c.id + "&path=webcams&ptz=false", c.key),
                     from);
        const std::string uploaded =
            exchange(port, benchload::uploadRequest(c.id, c.frames[0], c.key), from);
        if (statusOf(registered) != 200 || statusOf(uploaded) != 200) {
            std::printf("station %s could not register: %s / %s\n", c.id.c_str(),
                        firstLine(registered).c_str(), firstLine(uploaded).c_str());
            return 1;
        }
    }
    // The real station uploads while it has viewers: a first look makes it start.
    for (int i = 0; i < 600; ++i) {
        if (statusOf(exchange(port,
                              "GET /webcams/live?id=" + realCamera +
                                  " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                              "127.0.5.2")) == 200) {
            break;
        }
        std::this_thread::sleep_for(100ms);
    }

    std::printf("load: %d stations uploading once a second, %d viewers polling once a second, "
                "%d live streams, a command a second to %s, for %d s\n",
                kStations, kViewers, kStreams, realCamera.c_str(), seconds);
    std::fflush(stdout);
    const auto start = Clock::now() + 200ms;
    const auto until = start + std::chrono::seconds(seconds);

    Failures uploadFailures("upload");
    std::vector<std::vector<double>> uploadMillis(kStations);
    std::atomic<long> uploads{0};
    std::vector<std::thread> threads;
    for (int s = 0; s < kStations; ++s) {
        threads.emplace_back([&, s] {
            const Camera& c = cameras[static_cast<std::size_t>(s)];
            const std::string from = "127.0.2." + std::to_string(1 + s);
            const auto offset = std::chrono::milliseconds(s * 1000 / kStations);
            for (int i = 0; i < seconds; ++i) {
                std::this_thread::sleep_until(start + offset + std::chrono::seconds(i));
                const std::string& frame = c.frames[static_cast<std::size_t>(i) % c.frames.size()];
                const auto began = Clock::now();
                const std::string answer =
                    exchange(port, benchload::uploadRequest(c.id, frame, c.key), from);
                ++uploads;
                if (statusOf(answer) != 200 ||
                    answer.find("Reflector: true") == std::string::npos) {
                    uploadFailures.add(c.id + ": " + firstLine(answer));
                    continue;
                }
                uploadMillis[static_cast<std::size_t>(s)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - began).count());
            }
        });
    }

    ViewerCounts viewerCounts;
    Failures viewerFailures("viewer poll");
    for (int t = 0; t < kViewerThreads; ++t) {
        threads.emplace_back([&, t] {
            runViewers(port, cameras, frameOwner, t * kViewers / kViewerThreads,
                       (t + 1) * kViewers / kViewerThreads, start, until, viewerCounts,
                       viewerFailures);
        });
    }

    Failures streamFailures("stream");
    StreamCounts streams;
    threads.emplace_back([&] { streams = runStreams(port, cameras, until, streamFailures); });

    Failures commandFailures("command");
    long commandsSent = 0;
    long commandsAccepted = 0;
    threads.emplace_back([&] {
        std::ofstream log(out + "/commands.txt");
        const char* words[] = {"pan_left", "pan_right"};
        for (int i = 0; i < seconds; ++i) {
            std::this_thread::sleep_until(start + 500ms + std::chrono::seconds(i));
            const std::string form = "id=" + realCamera + "&cmd=" + words[i % 2];
            const std::string request =
                "POST /webcams/command HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(form.size()) + "\r\n\r\n" + form;
            const std::int64_t sentAt = unixMillis();
            const std::string answer = exchange(port, request, "127.0.5.1");
            const int status = statusOf(answer);
            ++commandsSent;
            log << sentAt << ' ' << status << ' ' << words[i % 2] << '\n' << std::flush;
            if (status == 204) {
                ++commandsAccepted;
            } else {
                commandFailures.add(std::string(words[i % 2]) + ": " + firstLine(answer));
            }
        }
    });

    for (std::thread& t : threads) {
        t.join();
    }

    std::vector<double> all;
    for (const auto& m : uploadMillis) {
        all.insert(all.end(), m.begin(), m.end());
    }
    std::printf("uploads: %ld sent, %zu answered 200 \"Reflector: true\", %ld not; time to the "
                "answer: median %.1f ms, 99th percentile %.1f ms, worst %.1f ms\n",
                uploads.load(), all.size(), uploadFailures.count(), percentile(all, 0.5),
                percentile(all, 0.99), percentile(all, 1.0));
    std::printf("viewer polls: %ld, %ld answered 200 with a frame of their camera, %ld not; %ld "
                "connections opened for %d viewers\n",
                viewerCounts.polls.load(), viewerCounts.good.load(), viewerFailures.count(),
                viewerCounts.connections.load(), kViewers);
    std::printf("live streams: %ld opened for %d, %ld whole frames, %ld failed; longest wait for "
                "a frame %.1f s\n",
                streams.opened, kStreams, streams.frames, streamFailures.count(),
                streams.longestGapSeconds);
    std::printf("commands: %ld sent, %ld accepted (204), %ld not\n", commandsSent, commandsAccepted,
                commandFailures.count());
    const bool failed = uploadFailures.count() > 0 || uploads.load() != kStations * seconds ||
                        viewerFailures.count() > 0 || streamFailures.count() > 0 ||
                        commandFailures.count() > 0;
    return failed ? 1 : 0;
}

// ---- the commands' check ----

struct Sent {
    std::int64_t atMillis = 0;
    std::string word;
    bool matched = false;
};

// Seconds since local midnight of a Unix time in milliseconds.
double localSecondOfDay(std::int64_t unixMillis) {
    const std::time_t seconds = static_cast<std::time_t>(unixMillis / 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return parts.tm_hour * 3600 + parts.tm_min * 60 + parts.tm_sec +
           static_cast<double>(unixMillis % 1000) / 1000;
}

int checkCommands(const std::string& commandsFile, const std::string& stationLog,
                  std::int64_t killedMillis, std::int64_t backMillis, int ttlSeconds) {
    std::vector<Sent> sent;
    {
        std::ifstream in(commandsFile);
        std::int64_t at = 0;
        int status = 0;
        std::string word;
        while (in >> at >> status >> word) {
            if (status == 204) {
                sent.push_back({at, word, false});
            }
        }
    }
    struct Carried {
        int secondOfDay = 0;
        std::string word;
    };
    std::vector<Carried> carried;
    {
        std::ifstream in(stationLog);
        const std::regex line(
            R"re(([0-9]{1,2}):([0-9]{2}):([0-9]{2}).*PTZ listener: carried out "([^"]*)")re");
        std::smatch m;
        for (std::string text; std::getline(in, text);) {
            // Only the words viewers send: the helper's own packets to the listener (the
            // relay's answers, "Reflector_true") are not commands.
            if (std::regex_search(text, m, line) &&
                std::any_of(sent.begin(), sent.end(),
                            [&](const Sent& s) { return s.word == m[4].str(); })) {
                carried.push_back(
                    {std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stoi(m[3]), m[4]});
            }
        }
    }
    // In order: each line the station wrote takes the oldest command of its word sent at most
    // a second after it (the log has whole seconds) and not too long before it to be delivered.
    long extra = 0;
    std::size_t next = 0;
    for (const Carried& c : carried) {
        bool found = false;
        for (std::size_t i = next; i < sent.size(); ++i) {
            double age = c.secondOfDay - localSecondOfDay(sent[i].atMillis);
            age += age < -43200 ? 86400 : age > 43200 ? -86400 : 0; // across midnight
            if (age < -1) {
                break; // sent after this line was written
            }
            if (age <= ttlSeconds + 5 && sent[i].word == c.word) {
                sent[i].matched = true;
                next = i + 1;
                found = true;
                break;
            }
        }
        extra += found ? 0 : 1;
    }
    long byDesign = 0;
    long lost = 0;
    for (const Sent& s : sent) {
        if (s.matched) {
            continue;
        }
        const double sinceKill = static_cast<double>(s.atMillis - killedMillis) / 1000;
        const double ageAtBack = static_cast<double>(backMillis - s.atMillis) / 1000;
        // Taken by the helper's last poll just before it was killed, or queued while no helper
        // polled and too old by the time one did.
        const bool takenByTheKilled = sinceKill >= -2 && sinceKill <= 0;
        const bool expired = sinceKill >= 0 && ageAtBack >= ttlSeconds - 1;
        if (takenByTheKilled || expired) {
            ++byDesign;
            std::printf("  dropped while the helper was down: %s sent %.1f s after the kill, "
                        "%.1f s before polling resumed\n",
                        s.word.c_str(), sinceKill, ageAtBack);
        } else {
            ++lost;
            std::printf("  lost: %s sent %.1f s after the kill (%.1f s before polling resumed)\n",
                        s.word.c_str(), sinceKill, ageAtBack);
        }
    }
    std::printf("commands: %zu accepted by the relay, %zu carried out by the station; %ld dropped "
                "while the helper was down (%.1f s from the kill to polling again, commands live "
                "%d s), %ld lost, %ld carried out but never sent\n",
                sent.size(), carried.size(), byDesign,
                static_cast<double>(backMillis - killedMillis) / 1000, ttlSeconds, lost, extra);
    return lost > 0 || extra > 0 ? 1 : 0;
}

int usage() {
    std::fprintf(stderr, "usage: reflector_soak_load load PORT CAMERA SECONDS OUT\n"
                         "       reflector_soak_load commands COMMANDS STATION-LOG KILLED-MS "
                         "BACK-MS TTL-SECONDS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[0] == "load") {
        const int port = std::atoi(args[1].c_str());
        const int seconds = std::atoi(args[3].c_str());
        if (port <= 0 || port > 65535 || seconds < 10) {
            return usage();
        }
        return runLoad(port, args[2], seconds, args[4]);
    }
    if (args.size() == 6 && args[0] == "commands") {
        return checkCommands(args[1], args[2], std::atoll(args[3].c_str()),
                             std::atoll(args[4].c_str()), std::atoi(args[5].c_str()));
    }
    return usage();
}

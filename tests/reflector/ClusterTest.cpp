// Three relay programs on one PostgreSQL and one Redis, behind Debian's haproxy with the
// configuration the deployment notes give (packaging/haproxy/kestrova-relays.cfg): a station
// and viewers through haproxy and on relays of their own, one relay killed on the way.

#include "RelaySupport.h"
#include "TestFiles.h"
#include "reflector_shared/TestServers.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A program run by the test, its output in `log`; killed with the test.
class Child {
  public:
    Child(std::vector<std::string> args, const std::filesystem::path& log,
          const std::vector<std::string>& environment = {}) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> env(environment);
        for (char** e = environ; *e != nullptr; ++e) {
            env.emplace_back(*e);
        }
        std::vector<char*> argv;
        std::vector<char*> envp;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            throw std::runtime_error("cannot start " + args[0]);
        }
    }
    ~Child() { kill(); }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
};

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int statusOf(int port, const std::string& request) {
    return parse(rawExchange(port, request).bytes).status;
}

bool healthy(int port) {
    try {
        return statusOf(port, stationGet("/healthz")) == 200;
    } catch (const std::exception&) {
        return false; // not listening yet
    }
}

// A viewer of the live stream: the frames it got, in order.
class StreamViewer {
  public:
    explicit StreamViewer(int port) { connect(port); }
    ~StreamViewer() {
        stop_ = true;
        ::shutdown(client_->fd(), SHUT_RDWR); // wakes the reader
        if (reader_.joinable()) {
            reader_.join();
        }
    }
    // Opens the stream again, on `port`, after the connection ended.
    void reconnect(int port) {
        if (reader_.joinable()) {
            reader_.join();
        }
        connect(port);
    }
    bool ended() const { return ended_; }
    std::vector<std::string> frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }

  private:
    void connect(int port) {
        ended_ = false;
        client_ = std::make_unique<Client>(port);
        client_->send(viewerGet("/webcams/stream?id=cam"));
        client_->readUntil("\r\n\r\n");
        reader_ = std::thread([this] {
            try {
                while (!stop_) {
                    const std::string head = client_->readUntil("\r\n\r\n", 30s);
                    const std::size_t at = head.find("Content-Length: ");
                    const std::size_t size = std::stoul(head.substr(at + 16));
                    std::string frame = client_->readExactly(size, 30s);
                    std::lock_guard lock(mutex_);
                    frames_.push_back(std::move(frame));
                }
            } catch (const std::exception&) {
                ended_ = true;
            }
        });
    }

    std::unique_ptr<Client> client_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::mutex mutex_;
    std::vector<std::string> frames_;
};

// True when `seen` holds each of `sent` (in order) from the first it holds on.
bool everyFrameFrom(const std::vector<std::string>& seen, const std::vector<std::string>& sent,
                    std::size_t from) {
    std::size_t next = 0;
    for (std::size_t i = from; i < sent.size(); ++i) {
        while (next < seen.size() && seen[next] != sent[i]) {
            ++next;
        }
        if (next == seen.size()) {
            return false;
        }
    }
    return true;
}

TEST(Cluster, ThreeRelaysBehindHaproxyCarryOnWhenOneIsKilled) {
    TempDir dir;
    PostgresServer postgres;
    RedisServer redis;
    const int front = freePort();
    std::vector<int> ports;
    std::vector<std::unique_ptr<Child>> relays;
    for (int i = 0; i < 3; ++i) {
        ports.push_back(freePort());
        relays.push_back(std::make_unique<Child>(
            std::vector<std::string>{
                REFLECTOR_PROGRAM, "--port", std::to_string(ports[i]), "--data",
                (dir.path() / ("relay" + std::to_string(i))).string(), "--database", postgres.url(),
                "--redis", redis.url(), "--public-host", "127.0.0.1", "--public-port",
                std::to_string(front), "--max-per-address", "0", "--trusted-proxy", "127.0.0.1"},
            dir.path() / ("relay" + std::to_string(i) + ".log")));
    }
    for (int port : ports) {
        ASSERT_TRUE(eventually([&] { return healthy(port); }, 30s)) << "relay on " << port;
    }
    Child haproxy({"haproxy", "-db", "-f", KESTROVA_HAPROXY_CONFIG}, dir.path() / "haproxy.log",
                  {"KESTROVA_LISTEN=127.0.0.1:" + std::to_string(front),
                   "KESTROVA_RELAY1=127.0.0.1:" + std::to_string(ports[0]),
                   "KESTROVA_RELAY2=127.0.0.1:" + std::to_string(ports[1]),
                   "KESTROVA_RELAY3=127.0.0.1:" + std::to_string(ports[2]),
                   "KESTROVA_CHECK_INTER=100ms"});
    ASSERT_TRUE(eventually([&] { return healthy(front); }, 10s))
        << readFile(dir.path() / "haproxy.log");

    // The station: the directory names haproxy; it registers and uploads through it.
    EXPECT_EQ(get(front, "/getReflector.php").body,
              "127.0.0.1\r\n" + std::to_string(front) + "\r\nwebcams\r\n");
    ASSERT_EQ(statusOf(front, stationGet("/webcams/Register?id=cam&path=webcams&ptz=true")), 200);
    std::vector<std::string> sent;
    const auto upload = [&](unsigned n) {
        sent.push_back(fakeJpeg(4000, n));
        return parse(rawExchange(front, stationUpload("cam", "webcams", &sent.back(), front)).bytes)
            .body;
    };
    ASSERT_EQ(upload(1), "Reflector: true");

    // Viewers on the second relay and on the first; the helper polls the first.
    StreamViewer second(ports[1]);
    StreamViewer first(ports[0]);
    ASSERT_TRUE(eventually([&] { return !second.frames().empty() && !first.frames().empty(); }));
    std::string commands;
    std::thread helper(
        [&] { commands = get(ports[0], "/webcams/MoveRouterProxy?id=cam&wait=10").body; });
    std::this_thread::sleep_for(300ms); // the poll is held by now
    EXPECT_EQ(statusOf(ports[2], "POST /webcams/command HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                 "Content-Type: application/x-www-form-urlencoded\r\n"
                                 "Content-Length: 19\r\nConnection: close\r\n\r\n"
                                 "id=cam&cmd=pan_left"),
              204);
    helper.join();
    EXPECT_EQ(commands, "pan_left\r\n") << "posted on the third relay, polled on the first";

    for (unsigned n = 2; n <= 10; ++n) {
        ASSERT_EQ(upload(n), "Reflector: true") << n;
        std::this_thread::sleep_for(50ms);
    }
    // A command acknowledged by the first relay just before it dies.
    EXPECT_EQ(statusOf(ports[0], "POST /webcams/command HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                 "Content-Type: application/x-www-form-urlencoded\r\n"
                                 "Content-Length: 18\r\nConnection: close\r\n\r\n"
                                 "id=cam&cmd=ZOOM_IN"),
              204);
    relays[0]->kill();

    // Every upload through haproxy is answered, whether or not its check has noticed yet.
    for (unsigned n = 11; n <= 20; ++n) {
        ASSERT_EQ(upload(n), "Reflector: true") << n;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(get(front, "/webcams/MoveRouterProxy?id=cam").body, "ZOOM_IN\r\n")
        << "the command the killed relay acknowledged";
    ASSERT_TRUE(eventually([&] { return first.ended(); }));
    const std::size_t firstLater = sent.size();
    first.reconnect(front);
    for (unsigned n = 21; n <= 25; ++n) {
        ASSERT_EQ(upload(n), "Reflector: true") << n;
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(eventually([&] { return second.frames().back() == sent.back(); }));
    ASSERT_TRUE(eventually([&] { return first.frames().back() == sent.back(); }));
    EXPECT_TRUE(everyFrameFrom(second.frames(), sent, 0)) << "every frame on the second relay";
    EXPECT_TRUE(everyFrameFrom(first.frames(), sent, firstLater))
        << "every frame after the viewer of the killed relay came back through haproxy";
    EXPECT_EQ(get(front, "/webcams/live?id=cam").body, sent.back());
}

} // namespace
} // namespace reflector

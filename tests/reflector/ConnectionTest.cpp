// The station ends every exchange when the relay closes the connection, so every answer must
// be followed by a close.

#include "RelaySupport.h"
#include "core/GatheredLog.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace reflector {
namespace {

using namespace test;

// True when something accepts a connection on 127.0.0.1:port.
bool canConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

class Connections : public ::testing::Test {
  protected:
    TempDir dir;
    RunningRelay relay{dir.path()};
};

TEST_F(Connections, ClosedAfterAnAnswerToConnectionClose) {
    const RawAnswer raw = rawExchange(relay.port(), stationGet("/getReflector.php"));
    EXPECT_TRUE(raw.closed) << "end of file after the answer";
    const auto answer = parse(raw.bytes);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.header("Connection"), "close");
    EXPECT_EQ(std::to_string(answer.body.size()), answer.header("Content-Length"));
}

TEST_F(Connections, ClosedEvenWhenTheClientAsksToKeepItOpen) {
    const RawAnswer raw =
        rawExchange(relay.port(), "GET /webcams/CheckFolderExists?id=a&path=webcams HTTP/1.1\r\n"
                                  "Host: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_TRUE(raw.closed);
    EXPECT_EQ(parse(raw.bytes).header("Connection"), "close");
    EXPECT_EQ(parse(raw.bytes).body, "Exists: false");
}

TEST_F(Connections, OnlyTheFirstOfPipelinedRequestsIsAnswered) {
    const std::string twice = stationGet("/getReflector.php") + stationGet("/getReflector.php");
    const RawAnswer raw = rawExchange(relay.port(), twice);
    EXPECT_TRUE(raw.closed);
    std::size_t answers = 0;
    for (std::size_t at = raw.bytes.find("HTTP/1.1 "); at != std::string::npos;
         at = raw.bytes.find("HTTP/1.1 ", at + 1)) {
        ++answers;
    }
    EXPECT_EQ(answers, 1u);
}

TEST_F(Connections, ClosedAfterRefusalsAndUploadsToo) {
    EXPECT_TRUE(rawExchange(relay.port(), stationGet("/no/such/page")).closed);
    EXPECT_TRUE(rawExchange(relay.port(), "NONSENSE\r\n\r\n").closed);
    ASSERT_EQ(registerCamera(relay.port(), "cam").body, "User Registered Successfully.");
    const std::string frame = fakeJpeg(20000, 7);
    const RawAnswer raw =
        rawExchange(relay.port(), stationUpload("cam", "webcams", &frame, relay.port()));
    EXPECT_TRUE(raw.closed);
    EXPECT_EQ(parse(raw.bytes).body, "Reflector: true");
}

TEST(ConnectionLimits, ConnectionEndsAtItsTimeLimitBeforeTheIdleTimeout) {
    TempDir dir;
    RelayConfig config;
    config.dataDir = dir.path();
    // Longer than the test client waits (30 s): only the time limit can end this exchange.
    config.transport.readTimeoutSeconds = 600;
    config.transport.connectionTimeLimitSeconds = 1;
    RunningRelay relay(config);
    const RawAnswer raw =
        rawExchange(relay.port(), "GET /getReflector.php HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    EXPECT_TRUE(raw.closed) << "the relay ended the unfinished request";
    EXPECT_EQ(raw.bytes, "");
    EXPECT_EQ(get(relay.port(), "/getReflector.php").status, 200) << "and serves the next one";
}

TEST(ConnectionLimits, TurnsAwayConnectionsBeyondTheLimitForAnAddress) {
    TempDir dir;
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool released = false;
    std::vector<std::string> lines;
    RelayConfig config;
    config.dataDir = dir.path();
    config.transport.maxConnectionsPerAddress = 1;
    // Holds the directory request in the relay until the test lets it go.
    config.requestLog = [&](const std::string& line) {
        std::unique_lock lock(mutex);
        lines.push_back(line);
        if (line.find("/getReflector.php") != std::string::npos && !held) {
            held = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
        }
    };
    RunningRelay relay(config);
    WireAnswer first;
    std::thread client([&] { first = get(relay.port(), "/getReflector.php"); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return held; });
    }

    const RawAnswer busy =
        rawExchange(relay.port(), stationGet("/webcams/CheckFolderExists?id=cam&path=webcams"));
    EXPECT_TRUE(busy.closed);
    const auto refusal = parse(busy.bytes);
    EXPECT_EQ(refusal.status, 503);
    EXPECT_NE(refusal.body.find("too many connections"), std::string::npos) << refusal.body;
    EXPECT_NE(refusal.body.find("Exists: false"), std::string::npos)
        << "the station must not take the folder for existing";
    EXPECT_NE(refusal.body.find("Reflector: false"), std::string::npos)
        << "nor an upload for accepted";
    EXPECT_NE(refusal.body.find("Failed to synchronise settings."), std::string::npos)
        << "and an option sync ends its wait";
    EXPECT_EQ(refusal.header("Connection"), "close");

    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    client.join();
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(get(relay.port(), "/webcams/CheckFolderExists?id=cam&path=webcams").body,
              "Exists: false")
        << "the address is served again once its connection has ended";

    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find(" 127.0.0.1 - - 503 "), std::string::npos) << lines[1];
}

TEST(RelayLifecycle, StopsWhenAskedAndCanBeStoppedBeforeItRuns) {
    TempDir dir;
    RunningRelay running(dir.path());
    const int port = running.port();
    EXPECT_EQ(get(port, "/getReflector.php").status, 200);
    EXPECT_TRUE(running.stop()) << "run() reports a requested stop as success";
    EXPECT_THROW(rawExchange(port, stationGet("/")), std::runtime_error)
        << "nothing listens any more";

    RelayConfig config;
    config.dataDir = dir.path();
    Relay idle(config);
    ASSERT_GT(idle.bind("127.0.0.1", 0), 0);
    idle.stop();
    EXPECT_TRUE(idle.run()) << "a relay stopped before it ran returns at once";
    idle.waitUntilReady();
}

TEST(RelayLifecycle, DestroyingTheRelayWaitsUntilRunHasReturned) {
    TempDir dir;
    std::mutex mutex;
    std::condition_variable changed;
    bool inLog = false;
    bool released = false;
    bool logReturned = false;
    RelayConfig config;
    config.dataDir = dir.path();
    // Holds the one request in the relay, so that run() cannot return before the test says so.
    config.requestLog = [&](const std::string&) {
        std::unique_lock lock(mutex);
        inLog = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        logReturned = true;
    };
    auto relay = std::make_unique<Relay>(config);
    const int port = relay->bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    Relay* running = relay.get();
    std::thread server([running] { running->run(); });
    relay->waitUntilReady();
    std::thread client([port] { get(port, "/getReflector.php"); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return inLog; });
    }

    bool logReturnedWhenDestroyed = false;
    std::thread destroyer([&] {
        relay.reset();
        std::lock_guard lock(mutex);
        logReturnedWhenDestroyed = logReturned;
    });
    // Once nothing listens any more the destructor has stopped the relay; only then is the
    // request let go.
    while (canConnect(port)) {
        std::this_thread::yield();
    }
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    destroyer.join();
    EXPECT_TRUE(logReturnedWhenDestroyed)
        << "the destructor returned while run() was still serving a request";
    server.join();
    client.join();
}

TEST(RelayLifecycle, LogsOneLinePerRequest) {
    TempDir dir;
    std::mutex mutex;
    std::vector<std::string> lines;
    RelayConfig config;
    config.dataDir = dir.path();
    config.requestLog = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    };
    {
        RunningRelay relay(config);
        get(relay.port(), "/getReflector.php");
        get(relay.port(), "/webcams/live?id=nobody");
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" 127.0.0.1 GET /getReflector.php 200 "), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find(" GET /webcams/live 404 14"), std::string::npos) << lines[1];
}

TEST(RelayLifecycle, TheLogWritesGatheredLinesSoonAndInTheirOrder) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    std::string read;
    // What has arrived once `wanted` ends it (at most 5 s of silence).
    const auto readUntil = [&](const std::string& wanted) {
        char buffer[4096];
        pollfd p{pipeEnds[0], POLLIN, 0};
        while (read.size() < wanted.size() ||
               read.compare(read.size() - wanted.size(), wanted.size(), wanted) != 0) {
            const ssize_t n =
                ::poll(&p, 1, 5000) == 1 ? ::read(pipeEnds[0], buffer, sizeof buffer) : 0;
            if (n <= 0) {
                return false;
            }
            read.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    };
    std::string expected = "first\n";
    {
        GatheredLog log(pipeEnds[1], std::chrono::milliseconds(50));
        log.add("first");
        EXPECT_TRUE(readUntil("first\n")) << "a lone line is written within the gathering time";
        for (int i = 0; i < 2000; ++i) {
            log.add("line " + std::to_string(i));
            expected += "line " + std::to_string(i) + "\n";
        }
        log.now("stopping");
        expected += "stopping\n";
        EXPECT_TRUE(readUntil("stopping\n"));
        EXPECT_EQ(read, expected) << "the program's own line after those gathered before it";
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

} // namespace
} // namespace reflector

// Long polls over real sockets: held until their event, bounded, and not counted against the
// limit of connections per address.

#include "RelaySupport.h"

#include <arpa/inet.h>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;

// A connection that has sent the start of a request and waits, as an upload in progress does.
class RequestInProgress {
  public:
    RequestInProgress(int port, const std::string& start) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::send(fd_, start.data(), start.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(start.size())) {
            throw std::runtime_error("cannot start a request");
        }
    }
    ~RequestInProgress() { ::close(fd_); }
    RequestInProgress(const RequestInProgress&) = delete;
    RequestInProgress& operator=(const RequestInProgress&) = delete;

  private:
    int fd_;
};

class LongPolls : public ::testing::Test {
  protected:
    void start(RelayConfig config) {
        config.dataDir = dir.path();
        relay = std::make_unique<RunningRelay>(config);
        ASSERT_EQ(registerCamera(relay->port(), "cam", true).body, "User Registered Successfully.");
    }
    // Starts a poll of the helper's on its own thread and returns once the relay holds it.
    std::future<WireAnswer> hold(const std::string& uri, std::size_t heldAfter = 1) {
        const int port = relay->port();
        auto answer = std::async(std::launch::async, [port, uri] { return get(port, uri); });
        EXPECT_TRUE(eventually([&] { return relay->heldRequests() == heldAfter; })) << uri;
        return answer;
    }

    TempDir dir;
    std::unique_ptr<RunningRelay> relay;
};

TEST_F(LongPolls, APollIsAnsweredWhenACommandIsQueuedWhileItWaits) {
    start({});
    const auto began = std::chrono::steady_clock::now();
    auto poll = hold("/webcams/MoveRouterProxy?id=cam&wait=20");
    const WireAnswer queued = postForm(relay->port(), "/webcams/command", "id=cam&cmd=ZOOM_IN");
    EXPECT_EQ(queued.status, 204);
    EXPECT_EQ(queued.header("Content-Length"), "0");
    ASSERT_EQ(poll.wait_for(10s), std::future_status::ready);
    const WireAnswer answer = poll.get();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "ZOOM_IN\r\n");
    EXPECT_EQ(answer.header("Content-Length"), "9");
    EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
}

TEST_F(LongPolls, HeldPollsDoNotCountAgainstTheLimitPerAddress) {
    RelayConfig config;
    config.transport.maxConnectionsPerAddress = 2;
    start(config);
    auto moves = hold("/webcams/MoveRouterProxy?id=cam&wait=25", 1);
    auto visitors = hold("/webcams/CheckVisitorStatus?id=cam&known=false&wait=25", 2);
    {
        RequestInProgress upload(relay->port(), "POST /webcams/Reflector HTTP/1.1\r\nHost: x\r\n");
        // Two held polls and an upload under way: counted, that would be 4 of 2.
        const WireAnswer check = get(relay->port(), "/live/check?id=cam");
        EXPECT_EQ(check.status, 200) << check.body;
        EXPECT_EQ(check.body, "Listed: false");
    }
    EXPECT_EQ(postForm(relay->port(), "/webcams/command", "id=cam&cmd=pan_left").status, 204);
    EXPECT_EQ(get(relay->port(), "/webcams/live?id=cam").body, "No picture yet");
    ASSERT_EQ(moves.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(visitors.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(moves.get().body, "pan_left\r\n");
    EXPECT_EQ(visitors.get().body, "true");
}

TEST_F(LongPolls, ALocalStationAndItsHelperStayUnderTheDefaultLimit) {
    start({});
    // The helper's two polls held, the station's upload, archive upload and option sync under
    // way, and the helper's listing call under way too ...
    auto moves = hold("/webcams/MoveRouterProxy?id=cam&wait=25", 1);
    auto visitors = hold("/webcams/CheckVisitorStatus?id=cam&known=false&wait=25", 2);
    std::vector<std::unique_ptr<RequestInProgress>> inProgress;
    for (const char* path :
         {"/webcams/Reflector", "/webcams/Archive", "/webcams/SyncWebcams", "/live/refresh"}) {
        inProgress.push_back(std::make_unique<RequestInProgress>(
            relay->port(), std::string("POST ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
    }
    // ... and a further listing call and a fresh poll of the helper's are still served.
    EXPECT_EQ(get(relay->port(), "/live/check?id=cam").status, 200);
    EXPECT_EQ(get(relay->port(), "/webcams/MoveRouterProxy?id=cam").status, 200);
    inProgress.clear();
    relay->stop();
    EXPECT_EQ(moves.get().status, 200);
    EXPECT_EQ(visitors.get().body, "false");
}

TEST_F(LongPolls, StoppingTheRelayAnswersHeldPollsAtOnce) {
    start({});
    auto poll = hold("/webcams/MoveRouterProxy?id=cam&wait=25");
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(relay->stop());
    EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
    ASSERT_EQ(poll.wait_for(10s), std::future_status::ready);
    const WireAnswer answer = poll.get();
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "");
}

} // namespace
} // namespace reflector

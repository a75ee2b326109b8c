// The transport as an attacker and a crowd meet it: slow clients from many addresses, floods of
// header lines, many clients at once, ranges and odd lengths, the caps per address and in all,
// and kept connections for viewers.

#include "RelaySupport.h"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The resident memory of this process, in bytes.
std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// The n-th of many loopback client addresses, `perAddress` connections to each.
std::string loopback(std::size_t n, std::size_t perAddress = 1) {
    return "127.0.0." + std::to_string(2 + n / perAddress);
}

class Transport : public ::testing::Test {
  protected:
    void start(const std::function<void(RelayConfig&)>& adjust = {}) {
        RelayConfig config;
        config.dataDir = dir.path();
        if (adjust) {
            adjust(config);
        }
        relay = std::make_unique<RunningRelay>(config);
        ASSERT_EQ(registerCamera(port(), "cam").status, 200);
        ASSERT_EQ(upload(port(), "cam", frame).body, "Reflector: true");
    }
    int port() const { return relay->port(); }
    // A fresh viewer's request for the latest frame; its answer's time.
    Clock::duration timedLiveRequest() {
        const auto began = Clock::now();
        Client viewer(port());
        viewer.send(viewerGet("/webcams/live?id=cam"));
        EXPECT_EQ(viewer.readAnswer(5s).body, frame);
        return Clock::now() - began;
    }

    TempDir dir;
    const std::string frame = fakeJpeg(16000, 5);
    std::unique_ptr<RunningRelay> relay;
};

TEST_F(Transport, SlowClientsFromManyAddressesNeitherHoldUpOthersNorStayPastTheHeaderTime) {
    start([](RelayConfig& c) { c.transport.headerTimeoutSeconds = 2; });
    // 200 connections, 8 from each of 25 addresses, each sending a header line now and then.
    std::vector<std::unique_ptr<Client>> slow;
    for (std::size_t i = 0; i < 200; ++i) {
        slow.push_back(std::make_unique<Client>(port(), loopback(i, 8)));
        ASSERT_TRUE(slow.back()->send("GET /webcams/live?id=cam HTTP/1.1\r\nHost: x\r\n"));
    }
    const auto began = Clock::now();
    for (int round = 0; round < 6; ++round) {
        for (auto& client : slow) {
            client->send("X-Slow: " + std::to_string(round) + "\r\n");
        }
        EXPECT_LT(timedLiveRequest(), 1s) << "round " << round;
    }
    for (std::size_t i = 0; i < slow.size(); ++i) {
        ASSERT_TRUE(slow[i]->closedWithin(5s)) << "slow client " << i;
    }
    EXPECT_LT(Clock::now() - began, 8s) << "their headers had 2 s to arrive, however steadily";
    EXPECT_LT(timedLiveRequest(), 1s);
}

TEST_F(Transport, AFloodOfHeaderLinesIsRefusedWhileMemoryStaysFlat) {
    start();
    std::string lines;
    while (lines.size() < 64 * 1024) {
        lines += "X-Flood: aaaaaaaaaaaaaaaa\r\n";
    }
    const std::size_t before = residentBytes();
    Client flood(port(), "127.0.0.9");
    ASSERT_TRUE(flood.send("GET / HTTP/1.1\r\nHost: x\r\n" + lines));
    const WireAnswer refused = flood.readAnswer();
    EXPECT_EQ(refused.status, 431);
    // Whichever limit the lines pass first: their number or their bytes.
    EXPECT_NE(refused.body.find("header"), std::string::npos) << refused.body;
    std::size_t sent = lines.size();
    while (sent < 256u * 1024 * 1024 && flood.send(lines)) {
        sent += lines.size();
    }
    EXPECT_LT(sent, 64u * 1024 * 1024) << "the relay stops reading after a few megabytes";
    EXPECT_LT(residentBytes(), before + 32 * 1024 * 1024) << "the lines were thrown away, not kept";
    EXPECT_LT(timedLiveRequest(), 1s);
}

TEST_F(Transport, FiftyClientsAtOnceAreAllServed) {
    start();
    std::atomic<int> ready{0};
    std::atomic<int> served{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 50; ++i) {
        clients.emplace_back([&, i] {
            ++ready;
            while (ready < 50) {
                std::this_thread::yield();
            }
            try {
                Client viewer(port(), loopback(static_cast<std::size_t>(100 + i)));
                for (int request = 0; request < 4; ++request) {
                    viewer.send(viewerGet("/webcams/live?id=cam"));
                    const WireAnswer answer = viewer.readAnswer(5s);
                    if (answer.status == 200 && answer.body == frame) {
                        ++served;
                    }
                }
            } catch (const std::exception&) {
                // counted as not served
            }
        });
    }
    for (std::thread& t : clients) {
        t.join();
    }
    EXPECT_EQ(served, 200) << "four requests from each of 50 clients, on kept connections";
}

TEST_F(Transport, RangesAreIgnoredOnFrames) {
    start();
    std::string many = "bytes=";
    for (int i = 0; many.size() < 8000; ++i) {
        many += std::to_string(i * 4) + "-" + std::to_string(i * 4 + 1) + ",";
    }
    many.pop_back();
    for (const std::string& range : {std::string("bytes=0-10"), std::string("bytes=-5"), many}) {
        Client viewer(port());
        viewer.send(viewerGet("/webcams/live?id=cam", {{"Range", range}}));
        const WireAnswer answer = viewer.readAnswer();
        EXPECT_EQ(answer.status, 200) << range.substr(0, 20);
        EXPECT_EQ(answer.body, frame) << "the whole frame, once";
        EXPECT_EQ(answer.header("Content-Range"), "");
    }
}

TEST_F(Transport, OddRequestsAreRefusedAtOnceAndTheirConnectionsClosed) {
    start();
    const std::string post = "POST /webcams/Reflector HTTP/1.1\r\nHost: x\r\n"
                             "Content-Type: multipart/form-data; boundary=b\r\n";
    std::string manyLines = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 101; ++i) {
        manyLines += "X-" + std::to_string(i) + ": x\r\n";
    }
    const struct {
        const char* what;
        std::string request;
        int status;
    } cases[] = {
        {"negative length", post + "Content-Length: -1\r\n\r\n", 400},
        {"length beyond 64 bits", post + "Content-Length: 99999999999999999999999\r\n\r\n", 400},
        {"length with letters", post + "Content-Length: 12ab\r\n\r\n", 400},
        {"two lengths", post + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nabcdef", 400},
        {"length beyond the limit", post + "Content-Length: 4194305\r\n\r\n", 413},
        {"no length", post + "\r\n", 411},
        {"long request line", "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", 414},
        {"long header line", "GET / HTTP/1.1\r\nX-Long: " + std::string(9000, 'a') + "\r\n\r\n",
         431},
        {"many header lines", manyLines + "\r\n", 431},
        {"unknown version", "GET / HTTP/2.0\r\nHost: x\r\n\r\n", 505},
        {"not HTTP", "NONSENSE\r\n\r\n", 400},
    };
    for (const auto& c : cases) {
        const auto began = Clock::now();
        Client client(port());
        client.send(c.request);
        const WireAnswer answer = client.readAnswer(5s);
        EXPECT_EQ(answer.status, c.status) << c.what << ": " << answer.body;
        EXPECT_EQ(answer.header("Connection"), "close") << c.what;
        EXPECT_TRUE(client.closedWithin(5s)) << c.what;
        EXPECT_LT(Clock::now() - began, 2s) << c.what << " held the relay";
    }
    EXPECT_LT(timedLiveRequest(), 1s);
}

TEST_F(Transport, AmbiguousHeadersAreRefusedAndATwiceNamedSessionCountsAsNone) {
    start();
    ASSERT_EQ(postForm(port(), "/webcams/SyncWebcams",
                       "id=cam&path=webcams&zoom=false&snapshot=false&chat=false&secure=true"
                       "&password=s3cret&ptz=false&presets=false&archive=false&chatID=r:1")
                  .status,
              200);
    const auto login = [this] {
        const std::string cookie =
            postForm(port(), "/webcams/login", "id=cam&password=s3cret").header("Set-Cookie");
        return cookie.substr(0, cookie.find(';'));
    };
    // Each works alone; a second one (planted by a page of a neighbouring site, say) must not
    // stand in for the first.
    const std::string session = login();
    const std::string planted = login();
    ASSERT_EQ(session.rfind("kestrova_cam=", 0), 0u) << session;
    const std::string live = "GET /webcams/live?id=cam HTTP/1.1\r\n";
    const std::string form = "POST /live/remove HTTP/1.1\r\nHost: x\r\n"
                             "Content-Type: application/x-www-form-urlencoded\r\n";
    const struct {
        const char* what;
        std::string request;
        int status;
        const char* body; // nullptr: the frame
    } cases[] = {
        {"length on a folded line", form + "X-Note: a\r\n Content-Length: 9\r\n\r\nid=cam&t=", 400,
         "Listing: false - a header line continues the line before it"},
        {"folded with a tab", live + "Host: x\r\nCookie: " + session + "\r\n\tx=1\r\n\r\n", 400,
         "a header line continues the line before it"},
        {"HTTP/1.1 without Host", live + "Cookie: " + session + "\r\n\r\n", 400,
         "an HTTP/1.1 request without a Host header line"},
        {"two Hosts", live + "Host: x\r\nHost: y\r\nCookie: " + session + "\r\n\r\n", 400,
         "more than one Host header line"},
        {"HTTP/1.0 without Host",
         "GET /webcams/live?id=cam HTTP/1.0\r\nCookie: " + session + "\r\n\r\n", 200, nullptr},
        {"the session", viewerGet("/webcams/live?id=cam", {{"Cookie", "a=1; " + session}}), 200,
         nullptr},
        {"the planted session alone", viewerGet("/webcams/live?id=cam", {{"Cookie", planted}}), 200,
         nullptr},
        {"a session planted before the session",
         viewerGet("/webcams/live?id=cam", {{"Cookie", planted + "; " + session}}), 401,
         "Password required"},
        {"the session and a planted one on two lines",
         viewerGet("/webcams/live?id=cam", {{"Cookie", planted}, {"Cookie", session}}), 401,
         "Password required"},
    };
    for (const auto& c : cases) {
        Client client(port());
        client.send(c.request);
        const WireAnswer answer = client.readAnswer(5s);
        EXPECT_EQ(answer.status, c.status) << c.what << ": " << answer.body;
        EXPECT_EQ(answer.body, c.body != nullptr ? std::string(c.body) : frame) << c.what;
    }
}

TEST_F(Transport, BodiesBeyondTheBudgetInFlightAreRefusedAsTheyArrive) {
    start([](RelayConfig& c) { c.transport.maxBodyBytesInFlight = 50000; });
    // Within the largest request, but more than all bodies together may hold.
    Client large(port(), "127.0.0.3");
    large.send("POST /live/post HTTP/1.1\r\nHost: x\r\nContent-Length: 90000\r\n\r\n" +
               std::string(60000, 'a'));
    const WireAnswer refused = large.readAnswer();
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(
        refused.body,
        "Listing: false - the relay is receiving too many requests at once, try again shortly");
    // Its bytes were given back: a body that fits is read.
    Client other(port(), "127.0.0.4");
    other.send("POST /live/post HTTP/1.1\r\nHost: x\r\nContent-Length: 40000\r\n\r\n" +
               std::string(40000, 'b'));
    EXPECT_EQ(other.readAnswer().body, "Listing: false - expected a form");
}

TEST_F(Transport, ConnectionsAreCappedPerAddressAndInAll) {
    start([](RelayConfig& c) {
        c.transport.maxConnectionsPerAddress = 2;
        c.transport.maxConnections = 4;
    });
    std::vector<std::unique_ptr<Client>> open;
    open.push_back(std::make_unique<Client>(port(), "127.0.0.5"));
    open.push_back(std::make_unique<Client>(port(), "127.0.0.5"));
    ASSERT_TRUE(eventually([&] { return relay->connections() == 2; }));
    {
        Client third(port(), "127.0.0.5");
        third.send(viewerGet("/webcams/live?id=cam"));
        const WireAnswer busy = third.readAnswer();
        EXPECT_EQ(busy.status, 503);
        EXPECT_NE(busy.body.find("too many connections from your address"), std::string::npos);
        EXPECT_EQ(busy.header("Retry-After"), "1");
    }
    open.push_back(std::make_unique<Client>(port(), "127.0.0.6"));
    open.push_back(std::make_unique<Client>(port(), "127.0.0.7"));
    ASSERT_TRUE(eventually([&] { return relay->connections() == 4; }));
    {
        Client fifth(port(), "127.0.0.8");
        fifth.send(viewerGet("/webcams/live?id=cam"));
        const WireAnswer full = fifth.readAnswer();
        EXPECT_EQ(full.status, 503);
        EXPECT_NE(full.body.find("as many connections as it takes"), std::string::npos);
        EXPECT_NE(full.body.find("Reflector: false"), std::string::npos)
            << "the station does not take it for success";
    }
    open.back()->send(viewerGet("/webcams/live?id=cam"));
    EXPECT_EQ(open.back()->readAnswer().body, frame) << "the open ones are served";
}

TEST_F(Transport, ViewersKeepTheirConnectionsTheStationsExchangesClose) {
    start();
    Client viewer(port());
    // The second request after an empty line, as some clients send it.
    viewer.send(viewerGet("/webcams/live?id=cam") + "\r\n" + viewerGet("/webcams/view?id=cam"));
    const WireAnswer first = viewer.readAnswer();
    EXPECT_EQ(first.body, frame);
    EXPECT_EQ(first.header("Connection"), "");
    EXPECT_EQ(viewer.readAnswer().status, 200) << "a request sent before the first answer";
    viewer.send(viewerGet("/webcams/live?id=cam"));
    EXPECT_EQ(viewer.readAnswer().body, frame) << "the connection was kept";

    viewer.send(viewerGet("/webcams/CheckFolderExists?id=cam&path=webcams"));
    const WireAnswer station = viewer.readAnswer();
    EXPECT_EQ(station.body, "Exists: true");
    EXPECT_EQ(station.header("Connection"), "close");
    EXPECT_TRUE(viewer.closedWithin(5s)) << "the station's exchange ends with the close";

    Client old(port());
    old.send("GET /webcams/live?id=cam HTTP/1.0\r\n\r\n");
    EXPECT_EQ(old.readAnswer().body, frame);
    EXPECT_TRUE(old.closedWithin(5s)) << "HTTP/1.0 without keep-alive";
}

} // namespace
} // namespace reflector

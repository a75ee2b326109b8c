// The visitor status that the posting helper reads to pause and resume the station's uploads.

#include "RelaySupport.h"

#include <future>
#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;

std::string status(Handlers& relay, const std::string& query = "id=cam") {
    return relay(getRequest("/webcams/CheckVisitorStatus?" + query)).body;
}

TEST(Visitors, OnlyViewersOfARegisteredCameraCount) {
    Handlers relay;
    const std::string frame = fakeJpeg(3000, 1);
    ASSERT_EQ(relay(framePost("/webcams/Reflector", "cam", frame)).body, "Reflector: true");
    const struct {
        const char* what;
        HttpRequest request;
        bool counts;
    } cases[] = {
        {"live frame", getRequest("/webcams/live?id=cam&t=17"), true},
        {"live frame by HEAD", makeRequest("HEAD", "/webcams/live?id=cam"), true},
        {"viewer page", getRequest("/webcams/view?id=cam"), true},
        {"short viewer address", getRequest("/webcams/cam"), true},
        {"station's button", getRequest("/webcams/index.jsp?id=cam&path=webcams&ptz=true"), true},
        {"frame upload", framePost("/webcams/Reflector", "cam", frame), false},
        {"archive upload", framePost("/webcams/Archive", "cam", frame), false},
        {"folder check", getRequest("/webcams/CheckFolderExists?id=cam&path=webcams"), false},
        {"registration", getRequest("/webcams/Register?id=cam&path=webcams&ptz=true"), false},
        {"move poll", getRequest("/webcams/MoveRouterProxy?id=cam"), false},
        {"visitor status", getRequest("/webcams/CheckVisitorStatus?id=cam"), false},
        {"camera list", getRequest("/"), false},
        {"command", formPost("/webcams/command", "id=cam&cmd=pan_left"), false},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(status(relay), "false") << "before " << c.what;
        relay(c.request);
        EXPECT_EQ(status(relay), c.counts ? "true" : "false") << c.what;
        relay.clock.advance(30s);
    }
    relay(getRequest("/webcams/live?id=nobody"));
    relay(getRequest("/webcams/view?id=nobody"));
    EXPECT_FALSE(relay.storage->visitors().hasVisitors("nobody"));
}

TEST(Visitors, StatusLastsForTheWindowAfterTheLatestVisit) {
    Handlers relay;
    relay(getRequest("/webcams/view?id=cam"));
    relay.clock.advance(20s);
    relay(getRequest("/webcams/live?id=cam"));
    relay.clock.advance(29s);
    EXPECT_EQ(status(relay), "true") << "29 s after the latest visit";
    relay.clock.advance(1s);
    EXPECT_EQ(status(relay), "false") << "30 s after it";
}

TEST(Visitors, AnswersEveryStatusRequest) {
    Handlers relay;
    const struct {
        const char* query;
        int status;
        const char* body;
    } cases[] = {
        {"id=cam", 200, "false"},
        {"id=cam&known=false", 200, "false"},
        {"id=cam&known=true&wait=0", 200, "false"},
        {"id=cam&known=true&wait=5", 200, "false"},
        {"id=cam&wait=5", 200, "false"},
        {"id=nobody", 404, "Unknown camera"},
        {"id=", 400, "Not a valid camera id"},
        {"id=cam&known=yes", 400, "known must be true or false"},
        {"id=cam&known=false&wait=99", 400, "wait must be a whole number of seconds from 0 to 25"},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer =
            relay(getRequest("/webcams/CheckVisitorStatus?" + std::string(c.query)));
        EXPECT_EQ(answer.status, c.status) << c.query;
        EXPECT_EQ(answer.body, c.body) << c.query;
    }
}

TEST(Visitors, AWaitingStatusRequestIsAnsweredByTheFirstVisit) {
    Handlers relay;
    auto waiting =
        std::async(std::launch::async, [&] { return status(relay, "id=cam&known=false&wait=20"); });
    ASSERT_TRUE(eventually([&] { return relay.service->heldRequests() == 1; }));
    relay(getRequest("/webcams/live?id=cam"));
    ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), "true");
}

TEST(Visitors, AWaitingStatusRequestIsAnsweredWhenTheWindowEnds) {
    // Real time, over a socket: a window of 300 ms that ends while the helper waits.
    TempDir dir;
    RelayConfig config;
    config.dataDir = dir.path();
    config.visitorWindow = 300ms;
    RunningRelay relay(config);
    ASSERT_EQ(registerCamera(relay.port(), "cam").body, "User Registered Successfully.");
    ASSERT_EQ(get(relay.port(), "/webcams/view?id=cam").status, 200);
    const auto start = std::chrono::steady_clock::now();
    const WireAnswer answer =
        get(relay.port(), "/webcams/CheckVisitorStatus?id=cam&known=true&wait=20");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "false");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "not held for the whole wait";
}

} // namespace
} // namespace reflector

// The move queue: viewers' commands in, the posting helper's poll out.

#include "stores/MoveQueue.h"
#include "RelaySupport.h"

#include <future>
#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;

HttpRequest commandPost(const std::string& id, const std::string& cmd) {
    return formPost("/webcams/command", "id=" + id + "&cmd=" + cmd);
}

HttpAnswer poll(Handlers& relay, const std::string& query = "id=cam") {
    return relay(getRequest("/webcams/MoveRouterProxy?" + query));
}

TEST(MoveQueue, TakesOnlyTheStationsCommands) {
    for (const char* ok :
         {"tilt_up", "tilt_down", "pan_left", "pan_right", "pan_double_left", "pan_double_right",
          "set_motor_home", "pre_up", "pre_down", "pre_left", "pre_right", "ZOOM_IN", "ZOOM_OUT",
          "RESTORE", "Preset_-640:192:20", "Preset_+1:0:-0", "Preset_1234567:-1234567:0"}) {
        EXPECT_TRUE(isStationCommand(ok)) << ok;
    }
    for (const char* bad :
         {"", "pan_leftx", "zoom_in", "tilt_up tilt_down", "Reflector_true", "Preset_1:2",
          "Preset_1:2:3:4", "Preset_12345678:0:0", "Preset_a:b:c", "Preset_1::3", "Preset_-:1:2",
          "preset_1:2:3", "Preset_1:2:3\r\n", "GET /Preset_1:2:3 HTTP/1.1"}) {
        EXPECT_FALSE(isStationCommand(bad)) << bad;
    }
}

TEST(MoveQueue, AnswersEveryCommandRequest) {
    Handlers relay;
    const struct {
        HttpRequest request;
        int status;
        const char* body;
    } cases[] = {
        {commandPost("cam", "pan_left"), 204, ""},
        {commandPost("cam", "Preset_%2D640%3A192%3A20"), 204, ""},
        {commandPost("cam", "launch_missiles"), 400, "Command refused: unknown command"},
        {commandPost("cam", ""), 400, "Command refused: unknown command"},
        {commandPost("..%2Fcam", "pan_left"), 400, "Command refused: not a valid camera id"},
        {commandPost("nobody", "pan_left"), 404, "Unknown camera"},
        {makeRequest("POST", "/webcams/command", "id=cam&cmd=pan_left"), 400,
         "Command refused: expected a form"},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = relay(c.request);
        EXPECT_EQ(answer.status, c.status) << c.request.body;
        EXPECT_EQ(answer.body, c.body) << c.request.body;
    }
    EXPECT_EQ(poll(relay).body, "pan_left\r\nPreset_-640:192:20\r\n")
        << "only the accepted commands were queued";
}

TEST(MoveQueue, AnswersEveryPollRequest) {
    Handlers relay;
    const struct {
        const char* query;
        int status;
        const char* body;
    } cases[] = {
        {"id=cam", 200, ""},
        {"id=cam&wait=0", 200, ""},
        {"id=nobody", 404, "Unknown camera"},
        {"id=a.b", 400, "Not a valid camera id"},
        {"", 400, "Not a valid camera id"},
        {"id=cam&wait=26", 400, "wait must be a whole number of seconds from 0 to 25"},
        {"id=cam&wait=-1", 400, "wait must be a whole number of seconds from 0 to 25"},
        {"id=cam&wait=", 400, "wait must be a whole number of seconds from 0 to 25"},
        {"id=cam&wait=1.5", 400, "wait must be a whole number of seconds from 0 to 25"},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = poll(relay, c.query);
        EXPECT_EQ(answer.status, c.status) << c.query;
        EXPECT_EQ(answer.body, c.body) << c.query;
        EXPECT_EQ(answer.contentType, kTextType) << c.query;
    }
}

TEST(MoveQueue, HandsOutCommandsOnceOldestFirstKeepingTheNewest32) {
    Handlers relay([](RelayConfig& c) { c.commandBurst = 100; });
    ASSERT_EQ(relay(commandPost("cam", "tilt_up")).status, 204);
    ASSERT_EQ(relay(commandPost("cam", "ZOOM_IN")).status, 204);
    EXPECT_EQ(poll(relay).body, "tilt_up\r\nZOOM_IN\r\n");
    EXPECT_EQ(poll(relay).body, "") << "handed out once";

    std::string expected;
    for (int i = 1; i <= 35; ++i) {
        const std::string cmd = "Preset_" + std::to_string(i) + ":0:0";
        ASSERT_EQ(relay(commandPost("cam", cmd)).status, 204);
        if (i > 3) {
            expected += cmd + "\r\n";
        }
    }
    EXPECT_EQ(poll(relay).body, expected) << "the 3 oldest of 35 were dropped";
}

TEST(MoveQueue, CommandsExpireAfterTheirTimeToLive) {
    Handlers relay;
    ASSERT_EQ(relay(commandPost("cam", "pan_left")).status, 204);
    relay.clock.advance(4s);
    ASSERT_EQ(relay(commandPost("cam", "pan_right")).status, 204);
    relay.clock.advance(1s);
    EXPECT_EQ(poll(relay).body, "pan_right\r\n") << "pan_left was 5 s old";

    Handlers longer([](RelayConfig& c) { c.commandTimeToLive = 60s; });
    ASSERT_EQ(longer(commandPost("cam", "pan_left")).status, 204);
    longer.clock.advance(59s);
    EXPECT_EQ(poll(longer).body, "pan_left\r\n");
}

TEST(MoveQueue, APollThatWaitsIsAnsweredByTheNextCommand) {
    Handlers relay;
    const HttpAnswer held =
        relay.service->handle(getRequest("/webcams/MoveRouterProxy?id=cam&wait=20"));
    ASSERT_TRUE(held.pending) << "the handler leaves the wait to the transport";
    EXPECT_EQ(relay.service->heldRequests(), 1u);
    auto waiting = std::async(std::launch::async, [&] { return settle(held); });
    EXPECT_EQ(relay(commandPost("cam", "set_motor_home")).status, 204);
    ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
    const HttpAnswer answer = waiting.get();
    EXPECT_EQ(answer.body, "set_motor_home\r\n");
}

TEST(MoveQueue, PollsBeyondTheBoundAndAfterShutdownAreAnsweredAtOnce) {
    Handlers relay([](RelayConfig& c) { c.maxLongPolls = 1; });
    auto first = std::async(std::launch::async, [&] { return poll(relay, "id=cam&wait=25"); });
    ASSERT_TRUE(eventually([&] { return relay.service->heldRequests() == 1; }));
    const HttpAnswer second =
        relay.service->handle(getRequest("/webcams/MoveRouterProxy?id=cam&wait=25"));
    EXPECT_FALSE(second.pending) << "answered as if it had not asked to wait";
    EXPECT_EQ(second.body, "");
    EXPECT_EQ(relay.service->heldRequests(), 1u);

    relay.service->shutdown();
    ASSERT_EQ(first.wait_for(10s), std::future_status::ready) << "the held poll ended";
    EXPECT_EQ(first.get().body, "");
    EXPECT_EQ(poll(relay, "id=cam&wait=25").status, 200) << "and no later poll waits";
}

} // namespace
} // namespace reflector

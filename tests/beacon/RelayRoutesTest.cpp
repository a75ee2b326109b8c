// The helper against the real relay program: live listing, move queue and visitor status.

#include "BeaconSupport.h"
#include "BeaconTestSupport.h"

#include <gtest/gtest.h>

namespace beacon::test {
namespace {

class RelayRoutes : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(relay.registerCamera("cam1"));
    }

    std::string relayHost() const { return "127.0.0.1:" + std::to_string(relay.port()); }

    Reflector relay;
    FakePtzListener listener;
    Helper helper;
};

TEST_F(RelayRoutes, TheListingEntryIsKeptAndChecked) {
    ASSERT_EQ(
        Ask(helper.port(), "begin_posting", ListingDataString(relayHost(), relay.port(), "cam1"))
            .text,
        "Posting; Start OK\r\n");
    ASSERT_TRUE(WaitUntil(
        [&] { return HttpCall(relay.port(), "GET", "/live/check?id=cam1").body == "Listed: true"; },
        10000));
    EXPECT_EQ(Ask(helper.port(), "check_posting").text, "Posting; Check OK\r\n");

    ASSERT_EQ(Ask(helper.port(), "stop_posting").text, "Posting; Stop OK\r\n");
    EXPECT_TRUE(WaitUntil(
        [&] {
            return HttpCall(relay.port(), "GET", "/live/check?id=cam1").body == "Listed: false";
        },
        10000));
    EXPECT_EQ(Ask(helper.port(), "check_posting").text, "Posting; Check FAIL\r\n");
}

TEST_F(RelayRoutes, AQueuedCommandReachesTheListenerWithinASecond) {
    ASSERT_EQ(Ask(helper.port(), "start_polling",
                  RelayParameterLine(relay.port(), "MoveRouterProxy", "cam1", listener.port()))
                  .text,
              "Polling; Start OK\r\n");
    // The first command may be queued before the helper's first poll arrives.
    ASSERT_EQ(HttpCall(relay.port(), "POST", "/webcams/command", "id=cam1&cmd=pan_left").status,
              204);
    ASSERT_TRUE(listener.waitForPackets(1, 5000));
    const struct {
        std::string command;
    } cases[] = {{"Preset_-640:192:20"}, {"ZOOM_IN"}, {"tilt_up"}};
    std::size_t expected = 1;
    for (const auto& c : cases) {
        const auto queued = Clock::now();
        ASSERT_EQ(
            HttpCall(relay.port(), "POST", "/webcams/command", "id=cam1&cmd=" + c.command).status,
            204);
        ASSERT_TRUE(listener.waitForPackets(++expected, 5000)) << c.command;
        const auto packet = listener.packets().back();
        EXPECT_EQ(packet.text, c.command);
        const double ms = std::chrono::duration<double, std::milli>(packet.at - queued).count();
        EXPECT_LT(ms, 1000) << c.command;
    }
}

TEST_F(RelayRoutes, AVisitorChangeIsDelivered) {
    ASSERT_EQ(Ask(helper.port(), "start_reflector",
                  RelayParameterLine(relay.port(), "CheckVisitorStatus", "cam1", listener.port()))
                  .text,
              "Reflector; Start OK\r\n");
    ASSERT_TRUE(listener.waitForPackets(1, 5000));
    EXPECT_EQ(listener.texts().front(), "Reflector_false");
    // A viewer opens the camera's page.
    HttpCall(relay.port(), "GET", "/webcams/view?id=cam1");
    ASSERT_TRUE(listener.waitForPackets(2, 5000));
    EXPECT_EQ(listener.texts(), (std::vector<std::string>{"Reflector_false", "Reflector_true"}));
}

} // namespace
} // namespace beacon::test

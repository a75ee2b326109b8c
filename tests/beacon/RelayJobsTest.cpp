// Move polling and the visitor check against fake relays: what reaches the station's PTZ
// listener, and how the helper asks; the station key on every request the helper makes.

#include "BeaconSupport.h"
#include "BeaconTestSupport.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>

namespace beacon::test {
namespace {

double GapMs(const HttpRequest& a, const HttpRequest& b) {
    return std::chrono::duration<double, std::milli>(b.at - a.at).count();
}

TEST(Polling, DeliversTheRelaysCommandsInOrderAndNothingElse) {
    FakePtzListener listener;
    std::atomic<int> polls{0};
    // The first poll hands out commands and junk; later ones answer at once with nothing, as a
    // relay that does not hold the poll.
    FakeHttpHost relay([&polls](const HttpRequest&) {
        return polls++ == 0 ? HttpReply{200, "pan_left\r\nrm -rf /\r\nPreset_-640:192:20\r\n"
                                             "Reflector_false\r\nZOOM_IN\r\n"}
                            : HttpReply{200, ""};
    });
    Helper helper;
    ASSERT_EQ(Ask(helper.port(), "start_polling",
                  RelayParameterLine(relay.port(), "MoveRouterProxy", "cam1", listener.port()))
                  .text,
              "Polling; Start OK\r\n");

    ASSERT_TRUE(relay.waitForRequests("/webcams/MoveRouterProxy", 5, 10000));
    ASSERT_TRUE(listener.waitForPackets(3, 5000));
    EXPECT_EQ(listener.texts(),
              (std::vector<std::string>{"pan_left", "Preset_-640:192:20", "ZOOM_IN"}));
    EXPECT_TRUE(helper.waitForLog("Polling: ignoring \"rm -rf /\""));
    EXPECT_TRUE(helper.waitForLog("Polling: ignoring \"Reflector_false\""));

    const auto requests = relay.requests("/webcams/MoveRouterProxy");
    for (const auto& r : requests) {
        EXPECT_EQ(r.query("id"), "cam1");
        EXPECT_EQ(r.query("wait"), "20");
    }
    // Empty answers that come at once do not make the helper ask in a tight loop.
    for (std::size_t i = 2; i < requests.size(); ++i) {
        EXPECT_GE(GapMs(requests[i - 1], requests[i]), 250) << i;
    }
}

TEST(Polling, AnotherLineReplacesTheJobAndStopEndsIt) {
    FakePtzListener listener;
    FakeHttpHost first([](const HttpRequest&) { return HttpReply{200, ""}; });
    FakeHttpHost second([](const HttpRequest&) { return HttpReply{200, ""}; });
    Helper helper;
    const std::string lineA =
        RelayParameterLine(first.port(), "MoveRouterProxy", "cam1", listener.port());
    ASSERT_EQ(Ask(helper.port(), "start_polling", lineA).text, "Polling; Start OK\r\n");
    ASSERT_TRUE(first.waitForRequests("", 2, 5000));
    // The station's retry with the same line keeps the running job.
    ASSERT_EQ(Ask(helper.port(), "start_polling", lineA).text, "Polling; Start OK\r\n");
    ASSERT_EQ(Ask(helper.port(), "start_polling",
                  RelayParameterLine(second.port(), "MoveRouterProxy", "cam1", listener.port()))
                  .text,
              "Polling; Start OK\r\n");
    ASSERT_TRUE(helper.waitForLog("Polling: stopped (camera cam1)"));
    const auto firstCount = first.requests().size();
    ASSERT_TRUE(second.waitForRequests("", 3, 5000));
    EXPECT_EQ(first.requests().size(), firstCount) << "the replaced job asks no more";
    EXPECT_TRUE(helper.waitForLog("Polling: started", 1000, 2));
    EXPECT_FALSE(helper.waitForLog("Polling: started", 0, 3)) << "the same line did not restart";

    ASSERT_EQ(Ask(helper.port(), "stop_polling").text, "Polling; Stop OK\r\n");
    EXPECT_TRUE(helper.waitForLog("Polling: stopped (camera cam1)", 5000, 2));
}

TEST(VisitorCheck, DeliversTheFirstStatusAndEachChange) {
    FakePtzListener listener;
    std::atomic<int> asked{0};
    FakeHttpHost relay([&asked](const HttpRequest&) {
        const int n = asked++;
        // Later questions are held for a moment, as a relay holds them while nothing changes.
        return n < 3 ? HttpReply{200, n < 2 ? "false" : "true"} : HttpReply{200, "true", 100};
    });
    Helper helper;
    ASSERT_EQ(Ask(helper.port(), "start_reflector",
                  RelayParameterLine(relay.port(), "CheckVisitorStatus", "cam1", listener.port()))
                  .text,
              "Reflector; Start OK\r\n");
    ASSERT_TRUE(relay.waitForRequests("/webcams/CheckVisitorStatus", 5, 10000));
    EXPECT_EQ(listener.texts(), (std::vector<std::string>{"Reflector_false", "Reflector_true"}));

    const auto requests = relay.requests();
    EXPECT_EQ(requests[0].target, "/webcams/CheckVisitorStatus?id=cam1");
    EXPECT_EQ(requests[1].query("known"), "false");
    EXPECT_EQ(requests[1].query("wait"), "20");
    EXPECT_EQ(requests[3].query("known"), "true");
}

TEST(VisitorCheck, RelayTroubleIsLoggedAndRetried) {
    FakePtzListener listener;
    std::atomic<int> asked{0};
    FakeHttpHost relay([&asked](const HttpRequest&) {
        switch (asked++) {
        case 0:
            return HttpReply{500, "Internal error"};
        case 1:
            return HttpReply{200, "<html>maybe</html>"};
        default:
            return HttpReply{200, "true", 100};
        }
    });
    Helper helper;
    ASSERT_EQ(Ask(helper.port(), "start_reflector",
                  RelayParameterLine(relay.port(), "CheckVisitorStatus", "cam1", listener.port()))
                  .text,
              "Reflector; Start OK\r\n");
    ASSERT_TRUE(listener.waitForPackets(1, 10000));
    EXPECT_EQ(listener.texts(), std::vector<std::string>{"Reflector_true"});
    EXPECT_TRUE(helper.waitForLog("answered 500 \"Internal error\"; retrying in 1000 ms"));
    EXPECT_TRUE(helper.waitForLog("Visitor check: working again after 2 failures"));
    const auto requests = relay.requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_GE(GapMs(requests[1], requests[2]), 1900) << "the delay doubles";
}

TEST(StationKey, EveryRequestCarriesItLastOnlyWhenGivenAndARefusalIsLoggedAndBackedOff) {
    const std::string key = "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA";
    for (const std::optional<std::string>& given :
         {std::optional(key), std::optional<std::string>()}) {
        SCOPED_TRACE(given ? "with the key" : "without the key");
        FakePtzListener listener;
        // The move queue refuses the key; the others answer as the relay does.
        FakeHttpHost relay([](const HttpRequest& r) {
            if (r.path() == "/webcams/MoveRouterProxy")
                return HttpReply{403, "Station key does not match"};
            if (r.path() == "/live/post")
                return HttpReply{200, "Listing: true token=0123456789abcdef0123456789abcdef"};
            return r.path() == "/live/check" ? HttpReply{200, "Listed: true"}
                                             : HttpReply{200, "false", 200};
        });
        Helper helper(Helper::Options{false, {{"KESTROVA_STATION_KEY", given}}});
        const auto line = [&](const std::string& route) {
            return RelayParameterLine(relay.port(), route, "cam1", listener.port());
        };
        Ask(helper.port(), "start_polling", line("MoveRouterProxy"));
        Ask(helper.port(), "start_reflector", line("CheckVisitorStatus"));
        Ask(helper.port(), "begin_posting",
            ListingDataString("127.0.0.1:" + std::to_string(relay.port()), relay.port(), "cam1"));
        ASSERT_TRUE(relay.waitForRequests("/live/post", 1, 10000));
        EXPECT_EQ(Ask(helper.port(), "check_posting").text, "Posting; Check OK\r\n");
        ASSERT_TRUE(relay.waitForRequests("/webcams/MoveRouterProxy", 2, 10000));

        for (const HttpRequest& r : relay.requests()) {
            SCOPED_TRACE(r.path());
            const auto keyLines = std::count_if(r.headers.begin(), r.headers.end(), [](auto& h) {
                return h.rfind("Authorization:", 0) == 0;
            });
            EXPECT_EQ(keyLines, given ? 1 : 0);
            EXPECT_EQ(!r.headers.empty() && r.headers.back() == "Authorization: Bearer " + key,
                      given.has_value());
        }
        EXPECT_TRUE(
            helper.waitForLog("answered 403 \"Station key does not match\"; retrying in 1000 ms"));
        const auto polls = relay.requests("/webcams/MoveRouterProxy");
        EXPECT_GE(GapMs(polls[0], polls[1]), 900) << "the refusal is backed off";
        EXPECT_EQ(helper.log().find(key), std::string::npos) << "the key is never logged";
    }
}

} // namespace
} // namespace beacon::test

// What keeps viewers within bounds: rates, the delay after wrong passwords, sessions, cookies
// and the check that a request comes from the relay's own pages.

#include "RelaySupport.h"
#include "routes/Forms.h"
#include "stores/embedded/MemoryViewerGuard.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(RateLimiter, AllowsABurstThenTheRatePerKey) {
    ManualClock clock;
    MemoryRateLimiter limiter(clock.source(), 3, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(limiter.allow("192.0.2.1")) << i;
    }
    EXPECT_FALSE(limiter.allow("192.0.2.1"));
    EXPECT_TRUE(limiter.allow("192.0.2.2")) << "each address has its own bucket";
    clock.advance(milliseconds(340));
    EXPECT_TRUE(limiter.allow("192.0.2.1")) << "a third of a second gives one more";
    EXPECT_FALSE(limiter.allow("192.0.2.1"));
    clock.advance(seconds(10));
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(limiter.allow("192.0.2.1")) << "never more than the burst saved up";
    }
    EXPECT_FALSE(limiter.allow("192.0.2.1"));
}

TEST(RateLimiter, KeepsABoundedNumberOfAddresses) {
    ManualClock clock;
    MemoryRateLimiter limiter(clock.source(), 1, 1, 3);
    for (const char* key : {"a", "b", "c", "d", "e"}) {
        EXPECT_TRUE(limiter.allow(key));
    }
    // "a" was forgotten to make room, so it starts afresh; "e" is still counted.
    EXPECT_TRUE(limiter.allow("a"));
    EXPECT_FALSE(limiter.allow("e"));
}

TEST(LoginThrottle, FreeTriesThenADoublingWaitUntilARightPassword) {
    ManualClock clock;
    MemoryLoginThrottle throttle(clock.source(), 3, seconds(300));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(throttle.waitFor("a")) << i;
        throttle.failed("a");
    }
    EXPECT_EQ(throttle.waitFor("a"), seconds(1));
    EXPECT_FALSE(throttle.waitFor("b")) << "per address";
    clock.advance(seconds(1));
    EXPECT_FALSE(throttle.waitFor("a"));
    throttle.failed("a");
    EXPECT_EQ(throttle.waitFor("a"), seconds(2));
    for (int i = 0; i < 20; ++i) {
        throttle.failed("a");
    }
    EXPECT_EQ(throttle.waitFor("a"), seconds(300)) << "the wait stops growing";
    throttle.succeeded("a");
    EXPECT_FALSE(throttle.waitFor("a"));
    throttle.failed("b");
    clock.advance(std::chrono::hours(2));
    throttle.failed("b");
    throttle.failed("b");
    throttle.failed("b");
    EXPECT_EQ(throttle.waitFor("b"), seconds(1)) << "failures an hour old are forgotten";
}

TEST(ViewerSessions, OpenOneCameraWhileItKeepsItsPasswordAndUntilTheyExpire) {
    ManualClock clock;
    MemorySessions sessions(clock.source(), std::chrono::hours(24), 2);
    const std::string token = sessions.open("cam", "hash-1");
    ASSERT_EQ(token.size(), 64u);
    EXPECT_NE(sessions.open("cam", "hash-1"), token) << "every session its own token";
    EXPECT_TRUE(sessions.valid(token, "cam", "hash-1"));
    EXPECT_FALSE(sessions.valid(token, "other", "hash-1"));
    EXPECT_FALSE(sessions.valid(token, "cam", "hash-2")) << "the password changed";
    const char other = token.back() == '0' ? '1' : '0';
    EXPECT_FALSE(sessions.valid(token.substr(0, 63) + other, "cam", "hash-1"));
    EXPECT_FALSE(sessions.valid("", "cam", "hash-1"));
    clock.advance(std::chrono::hours(25));
    EXPECT_FALSE(sessions.valid(token, "cam", "hash-1"));

    const std::string a = sessions.open("cam", "h");
    clock.advance(seconds(1));
    const std::string b = sessions.open("cam", "h");
    clock.advance(seconds(1));
    const std::string c = sessions.open("cam", "h");
    EXPECT_FALSE(sessions.valid(a, "cam", "h")) << "beyond the bound the oldest goes";
    EXPECT_TRUE(sessions.valid(b, "cam", "h"));
    EXPECT_TRUE(sessions.valid(c, "cam", "h"));
}

TEST(Cookies, AreFoundByTheirExactName) {
    const struct {
        const char* header;
        const char* value;
    } cases[] = {{"kestrova_cam=abc", "abc"},
                 {"x=1; kestrova_cam=abc; y=2", "abc"},
                 {"kestrova_camera=zzz;kestrova_cam=\"q\"", "q"},
                 {"kestrova_cam", ""},
                 {"kestrova_cam=abc; kestrova_cam=planted", ""},
                 {"", ""},
                 {"xkestrova_cam=no", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(cookieValue(c.header, sessionCookieName("cam")), c.value) << c.header;
    }
}

TEST(SameOrigin, ComparesTheOriginWithTheHostTheRequestWasSentTo) {
    const struct {
        const char* origin; // nullptr: none
        const char* host;
        bool same;
    } cases[] = {
        {nullptr, "relay:8080", true},
        {"http://relay:8080", "relay:8080", true},
        {"http://RELAY:8080", "relay:8080", true},
        {"https://relay.example.org", "relay.example.org", true},
        {"http://relay", "relay:80", true},
        {"http://[::1]:8080", "[::1]:8080", true},
        {"http://evil.example:8080", "relay:8080", false},
        {"http://relay:8081", "relay:8080", false},
        {"https://relay", "relay:80", false},
        {"null", "relay:8080", false},
        {"", "relay:8080", false},
        {"http://relay:8080", "", false},
        {"file://", "relay", false},
    };
    for (const auto& c : cases) {
        Fields headers{{"Host", c.host}};
        if (c.origin != nullptr) {
            headers.emplace_back("Origin", c.origin);
        }
        EXPECT_EQ(sameOrigin(makeRequest("POST", "/webcams/command", "", headers)), c.same)
            << (c.origin ? c.origin : "(none)") << " to " << c.host;
    }
}

} // namespace
} // namespace reflector

// What keeps viewers within bounds in this process's memory (their behaviour shared by every
// storage is in the storage's contract suite), cookies and the check that a request comes from
// the relay's own pages.

#include "RelaySupport.h"
#include "routes/Forms.h"
#include "stores/embedded/MemoryViewerGuard.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;
using std::chrono::milliseconds;
using std::chrono::seconds;

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

// What every storage's sessions do is in the storage's contract suite; the embedded ones are
// bounded in number by their constructor.
TEST(ViewerSessions, BeyondTheBoundTheOldestGo) {
    ManualClock clock;
    MemorySessions sessions(clock.source(), std::chrono::hours(24), 2);
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

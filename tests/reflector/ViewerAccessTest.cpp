// The viewer password and the viewers' commands: who may see and steer a camera.

#include "RelaySupport.h"
#include "core/Text.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;

// The station's option form for the camera "cam".
std::string syncBody(const std::string& switches, const std::string& password = "s3cret") {
    // switches: zoom snapshot chat secure presets archive, each 't' or 'f'
    const auto flag = [&switches](std::size_t i) {
        return switches.at(i) == 't' ? std::string("true") : std::string("false");
    };
    return "id=cam&path=webcams&zoom=" + flag(0) + "&snapshot=" + flag(1) + "&chat=" + flag(2) +
           "&secure=" + flag(3) + "&password=" + password + "&ptz=true&presets=" + flag(4) +
           "&archive=" + flag(5) + "&chatID=Kestrova%20Chat:0";
}

HttpRequest withHeaders(HttpRequest request, const Fields& headers) {
    for (const auto& h : headers) {
        request.headers.push_back(h);
    }
    return request;
}

std::string headerOf(const HttpAnswer& answer, const std::string& name) {
    for (const auto& [key, value] : answer.headers) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

class PasswordGate : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", syncBody("tttttt"))).status, 200);
        relay.storage->frames().put("cam", fakeJpeg(4000, 1));
        relay.storage->archive().add("cam", fakeJpeg(3000, 2));
    }

    // Logs in from `client`; the session cookie ("name=value"), empty when refused.
    std::string login(const std::string& password, const std::string& client = "127.0.0.1") {
        const HttpAnswer answer =
            relay(formPost("/webcams/login", "id=cam&password=" + password, client));
        const std::string cookie = headerOf(answer, "Set-Cookie");
        return cookie.substr(0, cookie.find(';'));
    }

    Handlers relay;
};

TEST_F(PasswordGate, EveryProtectedRouteAnswers401WithoutASessionAndServesWithOne) {
    const std::string cookie = login("s3cret");
    ASSERT_EQ(cookie.rfind("kestrova_cam=", 0), 0u) << cookie;
    const std::int64_t frame = relay.storage->archive().days("cam").empty() ? 0 : 1;
    ASSERT_EQ(frame, 1);
    const HttpRequest requests[] = {
        getRequest("/webcams/index.jsp?id=cam&name=Garden"),
        getRequest("/webcams/cam"),
        getRequest("/webcams/live?id=cam"),
        getRequest("/webcams/stream?id=cam"),
        getRequest("/webcams/snapshot?id=cam"),
        getRequest("/webcams/PassRequiredArchive?id=cam"),
        getRequest("/webcams/archive/frame?id=cam&frame=1"),
        getRequest("/webcams/thumb?id=cam"),
        formPost("/webcams/command", "id=cam&cmd=pan_left"),
    };
    for (const HttpRequest& request : requests) {
        const HttpAnswer refused = relay(request);
        EXPECT_EQ(refused.status, 401) << request.target;
        EXPECT_TRUE(refused.content().find("\xFF\xD8") == std::string_view::npos)
            << "no picture leaks: " << request.target;
    }
    EXPECT_FALSE(relay.storage->visitors().hasVisitors("cam"))
        << "refused requests are no visits: the station stays paused";
    for (const HttpRequest& request : requests) {
        if (request.target == "/webcams/thumb?id=cam") {
            continue; // thumbnails of a protected camera are never shown
        }
        HttpAnswer served = relay(withHeaders(request, {{"Cookie", cookie}}));
        if (served.stream) {
            EXPECT_EQ(served.status, 200) << request.target;
            continue;
        }
        EXPECT_GE(served.status, 200) << request.target;
        EXPECT_LT(served.status, 300) << request.target;
    }
    // The password form instead of the page, leading back to where the viewer wanted to go.
    const HttpAnswer page = relay(getRequest("/webcams/PassRequiredArchive?id=cam&day=2026-12-07"));
    EXPECT_NE(page.body.find("type=\"password\""), std::string::npos);
    EXPECT_NE(page.body.find("value=\"/webcams/PassRequiredArchive?id=cam&amp;day=2026-12-07\""),
              std::string::npos);
}

TEST_F(PasswordGate, ALoginGivesAStrictHttpOnlyCookieAndGoesBackToALocalAddressOnly) {
    const struct {
        std::string next;
        std::string location;
    } cases[] = {
        {"/webcams/PassRequiredArchive?id=cam", "/webcams/PassRequiredArchive?id=cam"},
        {"http://evil.example/", "/webcams/index.jsp?id=cam"},
        {"//evil.example/", "/webcams/index.jsp?id=cam"},
        {"/\\evil.example/", "/webcams/index.jsp?id=cam"},
        {"", "/webcams/index.jsp?id=cam"},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer =
            relay(formPost("/webcams/login", "id=cam&password=s3cret&next=" + urlEncode(c.next)));
        EXPECT_EQ(answer.status, 303) << c.next;
        EXPECT_EQ(headerOf(answer, "Location"), c.location) << c.next;
        const std::string cookie = headerOf(answer, "Set-Cookie");
        EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos);
        EXPECT_NE(cookie.find("; SameSite=Strict"), std::string::npos);
        EXPECT_NE(cookie.find("; Path=/"), std::string::npos);
        EXPECT_NE(cookie.find("; Max-Age=86400"), std::string::npos);
    }
    const HttpAnswer other =
        relay(withHeaders(formPost("/webcams/login", "id=cam&password=s3cret"),
                          {{"Origin", "http://evil.example"}, {"Host", "127.0.0.1:8080"}}));
    EXPECT_EQ(other.status, 403);
}

TEST_F(PasswordGate, WrongPasswordsAreRefusedAndSlowedDownPerAddress) {
    for (int i = 0; i < 5; ++i) {
        const HttpAnswer wrong = relay(formPost("/webcams/login", "id=cam&password=guess"));
        EXPECT_EQ(wrong.status, 401) << i;
        EXPECT_NE(wrong.body.find("Wrong password."), std::string::npos);
        EXPECT_TRUE(headerOf(wrong, "Set-Cookie").empty());
    }
    const HttpAnswer slowed = relay(formPost("/webcams/login", "id=cam&password=s3cret"));
    EXPECT_EQ(slowed.status, 429) << "even the right password waits its turn";
    EXPECT_EQ(headerOf(slowed, "Retry-After"), "1");
    EXPECT_NE(login("s3cret", "192.0.2.9"), "") << "another address is not slowed";
    relay.clock.advance(std::chrono::seconds(1));
    EXPECT_NE(login("s3cret"), "");
    EXPECT_EQ(relay(formPost("/webcams/login", "id=cam&password=guess")).status, 401)
        << "a right password clears the count";
}

TEST_F(PasswordGate, SessionsEndWhenThePasswordChangesButNotWhenOtherOptionsDo) {
    const std::string cookie = login("s3cret");
    const auto live = [&] {
        return relay(withHeaders(getRequest("/webcams/live?id=cam"), {{"Cookie", cookie}})).status;
    };
    ASSERT_EQ(live(), 200);
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", syncBody("fttttt"))).status, 200);
    EXPECT_EQ(live(), 200) << "the same password";
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", syncBody("fttttt", "n3w"))).status, 200);
    EXPECT_EQ(live(), 401);
    EXPECT_EQ(relay(withHeaders(getRequest("/webcams/live?id=cam"),
                                {{"Cookie", "kestrova_cam=" + std::string(64, 'a')}}))
                  .status,
              401);
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", syncBody("ffffff", "n3w"))).status, 200);
    EXPECT_EQ(relay(getRequest("/webcams/live?id=cam")).status, 200) << "password off: open";
}

TEST_F(PasswordGate, APictureBehindThePasswordIsNeverKeptByASharedCache) {
    const std::string cookie = login("s3cret");
    const HttpAnswer frame =
        relay(withHeaders(getRequest("/webcams/live?id=cam"), {{"Cookie", cookie}}));
    EXPECT_EQ(headerOf(frame, "Cache-Control"), "private, max-age=1");
}

// The command route: the vocabulary, the origin, the rate and the options.
TEST(ViewerCommand, OnlyTheVocabularyFromThisSiteAtAFewPerSecondAsTheOptionsAllow) {
    Handlers relay;
    const auto post = [&relay](const std::string& cmd, const Fields& headers = {},
                               const std::string& client = "127.0.0.1") {
        return relay(
            withHeaders(formPost("/webcams/command", "id=cam&cmd=" + cmd, client), headers));
    };
    const Fields here{{"Host", "relay.example:8080"}, {"Origin", "http://relay.example:8080"}};
    const Fields elsewhere{{"Host", "relay.example:8080"}, {"Origin", "http://evil.example"}};
    const struct {
        std::string cmd;
        Fields headers;
        int status;
    } cases[] = {
        {"pan_left", here, 204},       {"Preset_-640%3A192%3A20", {}, 204},
        {"pan_left", elsewhere, 403},  {"pan_left", {{"Origin", "null"}}, 403},
        {"Reflector_true", here, 400}, {"pan_left%0D%0Atilt_up", here, 400},
        {"ZOOM_IN", here, 204},        {"tilt_up", here, 204},
        {"tilt_down", here, 204},      {"pan_right", here, 429},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = post(c.cmd, c.headers);
        EXPECT_EQ(answer.status, c.status) << c.cmd;
    }
    EXPECT_EQ(post("tilt_down", here, "192.0.2.7").status, 204) << "the rate is per address";
    relay.clock.advance(std::chrono::milliseconds(340));
    EXPECT_EQ(post("tilt_down", here).status, 204);

    // Once the station has sent its options: zoom and presets only when they are on.
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", syncBody("ffffff"))).status, 200);
    relay.clock.advance(std::chrono::seconds(10));
    EXPECT_EQ(post("ZOOM_IN").status, 403);
    EXPECT_EQ(post("Preset_1:2:3").status, 403);
    EXPECT_EQ(post("pan_right").status, 204);
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", syncBody("tffftf"))).status, 200);
    EXPECT_EQ(post("ZOOM_IN").status, 204);
    EXPECT_EQ(post("Preset_1:2:3").status, 204);
}

} // namespace
} // namespace reflector

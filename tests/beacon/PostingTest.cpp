// Posting: the helper keeps the camera's entry alive at a (fake) listing host.

#include "BeaconSupport.h"
#include "BeaconTestSupport.h"

#include <gtest/gtest.h>

namespace beacon::test {
namespace {

const std::string kToken = "0123456789abcdef0123456789abcdef";

// A listing host that lists what is posted; its second refresh answers "not listed", as when
// the entry had expired; /live/check answers from what it holds unless told to deny.
class FakeListing {
  public:
    explicit FakeListing(int port = 0)
        : host([this](const HttpRequest& r) { return answer(r); }, port) {}

    void denyChecks() {
        std::lock_guard lock(mutex);
        deny = true;
    }

    std::string where() const { return "127.0.0.1:" + std::to_string(host.port()); }

  private:
    HttpReply answer(const HttpRequest& r) {
        std::lock_guard lock(mutex);
        if (r.path() == "/live/post") {
            listed = true;
            return {200, "Listing: true token=" + kToken};
        }
        if (r.path() == "/live/refresh") {
            if (++refreshes == 2) {
                listed = false;
                return {404, "Listing: false - not listed"};
            }
            return {200, "Listing: true"};
        }
        if (r.path() == "/live/remove") {
            listed = false;
            return {200, "Listing: true"};
        }
        if (r.path() == "/live/check") {
            return {200, listed && !deny ? "Listed: true" : "Listed: false"};
        }
        return {404, "Not found"};
    }

    std::mutex mutex;
    bool listed = false;
    bool deny = false;
    int refreshes = 0;

  public:
    FakeHttpHost host; // last: it answers from the members above
};

TEST(Posting, KeepsTheEntryAliveEditsAndRemovesIt) {
    FakeListing listing;
    Helper::Options options;
    options.env["KESTROVA_BEACON_REFRESH_MS"] = "200";
    Helper helper(options);
    const std::string data = ListingDataString(listing.where(), 8080, "cam1");
    ASSERT_EQ(Ask(helper.port(), "begin_posting", data).text, "Posting; Start OK\r\n");

    ASSERT_TRUE(listing.host.waitForRequests("/live/post", 1, 5000));
    const HttpRequest first = listing.host.requests("/live/post")[0];
    const std::map<std::string, std::string> fields{
        {"id", "cam1"},        {"name", "My%20Cam"},
        {"email", "%20"},      {"relay", "127.0.0.1%3A8080"},
        {"folder", "webcams"}, {"type", "1"},
        {"ptz", "1"},          {"password", "0"},
        {"listed", "1"},       {"hidethumb", "0"},
        {"archive", "0"}};
    for (const auto& [name, value] : fields) {
        EXPECT_EQ(first.field(name), value) << name;
    }
    EXPECT_FALSE(first.field("token")) << "a new entry is posted without a token";

    // Refreshed with the token; when the host has lost the entry it is posted again.
    ASSERT_TRUE(listing.host.waitForRequests("/live/post", 2, 5000));
    const auto refreshes = listing.host.requests("/live/refresh");
    ASSERT_EQ(refreshes.size(), 2u);
    EXPECT_EQ(refreshes[0].field("token"), kToken);
    EXPECT_EQ(refreshes[0].field("id"), "cam1");
    EXPECT_EQ(listing.host.requests("/live/post")[1].field("token"), kToken);
    EXPECT_EQ(Ask(helper.port(), "check_posting").text, "Posting; Check OK\r\n");

    // An edit posts the new values again under the same token.
    const std::string edited = ReplaceField(ReplaceField(data, 6, "New%20Name"), 12, "0");
    ASSERT_EQ(Ask(helper.port(), "edit_posting", edited).text, "Posting; Edit OK\r\n");
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto posts = listing.host.requests("/live/post");
            return posts.back().field("name") == "New%20Name";
        },
        5000));
    const HttpRequest edit = listing.host.requests("/live/post").back();
    EXPECT_EQ(edit.field("listed"), "0");
    EXPECT_EQ(edit.field("token"), kToken);

    // A stop removes the entry; posting is off afterwards.
    ASSERT_EQ(Ask(helper.port(), "stop_posting").text, "Posting; Stop OK\r\n");
    ASSERT_TRUE(listing.host.waitForRequests("/live/remove", 1, 5000));
    EXPECT_EQ(listing.host.requests("/live/remove")[0].field("token"), kToken);
    const auto checks = listing.host.requests("/live/check").size();
    EXPECT_EQ(Ask(helper.port(), "check_posting").text, "Posting; Check FAIL\r\n");
    EXPECT_EQ(listing.host.requests("/live/check").size(), checks) << "no check while off";
}

TEST(Posting, ADownListingHostFailsTheCheckAndIsRetried) {
    RefusingPort down;
    Helper helper;
    const std::string data =
        ListingDataString("127.0.0.1:" + std::to_string(down.port()), 8080, "cam1");
    ASSERT_EQ(Ask(helper.port(), "begin_posting", data).text, "Posting; Start OK\r\n");
    EXPECT_EQ(Ask(helper.port(), "check_posting").text, "Posting; Check FAIL\r\n");
    EXPECT_TRUE(helper.waitForLog("Posting: cannot post camera cam1 to 127.0.0.1:"));

    // The host comes up on the same port: the next retry lists the camera.
    down.release();
    FakeListing listing(down.port());
    ASSERT_TRUE(listing.host.waitForRequests("/live/post", 1, 20000));
    EXPECT_EQ(Ask(helper.port(), "check_posting").text, "Posting; Check OK\r\n");
    EXPECT_TRUE(helper.waitForLog("Posting: working again after"));
    EXPECT_FALSE(helper.process().ended());
}

TEST(Posting, ACheckThatFindsNoEntryFailsAndPostsAgainAtOnce) {
    FakeListing listing;
    Helper helper;
    ASSERT_EQ(
        Ask(helper.port(), "begin_posting", ListingDataString(listing.where(), 8080, "cam1")).text,
        "Posting; Start OK\r\n");
    ASSERT_TRUE(listing.host.waitForRequests("/live/post", 1, 5000));
    listing.denyChecks();
    EXPECT_EQ(Ask(helper.port(), "check_posting").text, "Posting; Check FAIL\r\n");
    // Long before the next refresh (45 s), the entry is posted again with its token.
    ASSERT_TRUE(listing.host.waitForRequests("/live/post", 2, 5000));
    EXPECT_EQ(listing.host.requests("/live/post")[1].field("token"), kToken);
}

} // namespace
} // namespace beacon::test

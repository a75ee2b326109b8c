// The live listing as the posting helper keeps it: post, refresh, remove, check.

#include "RelaySupport.h"
#include "core/StationKey.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <sqlite3.h>

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;

// The fields the helper posts, from the station's listing data string.
std::string entry(const std::string& id = "cam", const std::string& extra = "",
                  const std::string& relay = "relay.example.org:8080") {
    return "id=" + id + "&name=My%20Garden%20%C3%A9&email=ana%40example%2Eorg&relay=" + relay +
           "&folder=webcams&type=3&ptz=1&password=0&listed=1&hidethumb=0&archive=1" + extra;
}

// The token of a "Listing: true token=..." answer; empty for any other.
std::string tokenOf(const HttpAnswer& answer) {
    const std::string prefix = "Listing: true token=";
    return answer.body.rfind(prefix, 0) == 0 ? answer.body.substr(prefix.size()) : std::string();
}

HttpAnswer withToken(Handlers& relay, const char* path, const std::string& token,
                     const std::string& id = "cam") {
    return relay(formPost(path, "id=" + id + "&token=" + token));
}

std::string check(Handlers& relay, const std::string& id = "cam") {
    return relay(getRequest("/live/check?id=" + id)).body;
}

TEST(Listing, TokenHoldsTheEntryAgainstOtherStations) {
    Handlers relay;
    EXPECT_EQ(check(relay), "Listed: false");
    const HttpAnswer posted = relay(formPost("/live/post", entry()));
    EXPECT_EQ(posted.status, 200);
    std::string token = tokenOf(posted);
    EXPECT_TRUE(isListingToken(token)) << posted.body;
    EXPECT_EQ(check(relay), "Listed: true");

    const std::string other = "0123456789abcdef0123456789abcdef";
    const struct {
        const char* what;
        HttpRequest request;
        int status;
        std::string body;
    } cases[] = {
        {"refresh with another token", formPost("/live/refresh", "id=cam&token=" + other), 403,
         "Listing: false - held by another station"},
        {"remove with another token", formPost("/live/remove", "id=cam&token=" + other), 403,
         "Listing: false - held by another station"},
        {"refresh", formPost("/live/refresh", "id=cam&token=" + token), 200, "Listing: true"},
        {"post with the token",
         formPost("/live/post",
                  "id=cam&name=Renamed&email=%20&relay=RELAY.example.org:8080&folder=webcams"
                  "&type=-2&ptz=0&password=1&listed=0&hidethumb=1&archive=0&token=" +
                      token),
         200, "Listing: true token=" + token},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = relay(c.request);
        EXPECT_EQ(answer.status, c.status) << c.what;
        EXPECT_EQ(answer.body, c.body) << c.what;
    }
    const auto entries = relay.storage->listing().current();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "Renamed") << "the values were replaced";
    EXPECT_EQ(entries[0].relay, "RELAY.example.org:8080");
    EXPECT_EQ(entries[0].type, -2);
    EXPECT_TRUE(entries[0].password && entries[0].hideThumbnail);
    EXPECT_FALSE(entries[0].ptz || entries[0].listed || entries[0].archive);
    EXPECT_EQ(entries[0].email, "") << "never handed out";

    // The key holder's helper, started again without the token, takes the entry over.
    const std::string again =
        tokenOf(relay(formPost("/live/post", entry("cam", "&token=" + other))));
    EXPECT_TRUE(isListingToken(again) && again != token);
    EXPECT_EQ(withToken(relay, "/live/refresh", token).status, 403) << "the old token is gone";
    token = again;
    EXPECT_EQ(withToken(relay, "/live/remove", token).body, "Listing: true");
    EXPECT_EQ(check(relay), "Listed: false");
    EXPECT_EQ(withToken(relay, "/live/remove", token).status, 200) << "also when not listed";
    const HttpAnswer gone = withToken(relay, "/live/refresh", token);
    EXPECT_EQ(gone.status, 404);
    EXPECT_EQ(gone.body, "Listing: false - not listed");
}

TEST(Listing, EntriesExpireUnlessRefreshed) {
    Handlers relay;
    const std::string token = tokenOf(relay(formPost("/live/post", entry())));
    relay.clock.advance(119s);
    EXPECT_EQ(check(relay), "Listed: true");
    EXPECT_EQ(withToken(relay, "/live/refresh", token).status, 200);
    relay.clock.advance(119s);
    EXPECT_EQ(check(relay), "Listed: true") << "119 s after the refresh";
    relay.clock.advance(1s);
    EXPECT_EQ(check(relay), "Listed: false") << "120 s after it";
    EXPECT_EQ(withToken(relay, "/live/refresh", token).body, "Listing: false - not listed");
    EXPECT_TRUE(relay.storage->listing().current().empty());

    // An expired entry is free for whoever posts next, under a new token.
    const std::string next = tokenOf(relay(formPost("/live/post", entry())));
    EXPECT_TRUE(isListingToken(next));
    EXPECT_NE(next, token);
}

// A post's fields with some changed; a field changed to nullopt is left out.
std::string
changed(const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
    std::vector<std::pair<std::string, std::string>> fields = {
        {"id", "cam"},         {"name", "n"},
        {"email", "%20"},      {"relay", "relay.example.org:8080"},
        {"folder", "webcams"}, {"type", "1"},
        {"ptz", "0"},          {"password", "0"},
        {"listed", "1"},       {"hidethumb", "0"},
        {"archive", "0"}};
    for (const auto& [name, value] : changes) {
        auto it = std::find_if(fields.begin(), fields.end(),
                               [&name = name](const auto& f) { return f.first == name; });
        if (!value) {
            fields.erase(it);
        } else if (it != fields.end()) {
            it->second = *value;
        } else {
            fields.emplace_back(name, *value);
        }
    }
    std::string body;
    for (const auto& [name, value] : fields) {
        body += (body.empty() ? "" : "&") + name + "=" + value;
    }
    return body;
}

TEST(Listing, RefusesFieldsItCannotUse) {
    Handlers relay;
    ASSERT_EQ(relay(formPost("/live/post", changed({}))).status, 200) << "the unchanged fields";
    Handlers fresh;
    const struct {
        const char* what;
        std::string body;
        const char* reason;
    } cases[] = {
        {"no id", changed({{"id", std::nullopt}}), "missing field 'id'"},
        {"bad id", changed({{"id", "a%2Fb"}}), "not a valid camera id"},
        {"no relay", changed({{"relay", std::nullopt}}), "missing field 'relay'"},
        {"no archive switch", changed({{"archive", std::nullopt}}), "missing field 'archive'"},
        {"relay without port", changed({{"relay", "host"}}), "relay must be host:port"},
        {"relay port 0", changed({{"relay", "host:0"}}), "relay must be host:port"},
        {"relay with a path", changed({{"relay", "ho%2Fst:80"}}), "relay must be host:port"},
        {"other folder", changed({{"folder", "x"}}), "unknown folder"},
        {"type not a number", changed({{"type", "x"}}), "type must be a number"},
        {"type too large", changed({{"type", "32768"}}), "type must be a number"},
        {"switch not 0 or 1", changed({{"ptz", "2"}}), "ptz must be 0 or 1"},
        {"bad token", changed({{"token", "ABC"}}), "not a valid token"},
        {"name too long", changed({{"name", std::string(257, 'n')}}), "name longer than 256 bytes"},
        {"control character", changed({{"name", "a%0Ab"}}), "name holds control characters"},
        {"e-mail with control character", changed({{"email", "a%09b"}}),
         "email holds control characters"},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = fresh(formPost("/live/post", c.body));
        EXPECT_EQ(answer.status, 400) << c.what;
        EXPECT_EQ(answer.body, std::string("Listing: false - ") + c.reason) << c.what;
    }
    EXPECT_EQ(fresh(makeRequest("POST", "/live/post", entry())).status, 400) << "not a form";
    EXPECT_EQ(fresh(formPost("/live/refresh", "id=cam&token=x")).body,
              "Listing: false - not a valid token");
    EXPECT_EQ(fresh(formPost("/live/remove", "id=&token=x")).body,
              "Listing: false - not a valid camera id");
    EXPECT_EQ(fresh(getRequest("/live/check?id=%00")).body,
              "Listed: false - not a valid camera id");
    EXPECT_EQ(check(fresh), "Listed: false") << "nothing was listed";
}

TEST(Listing, KeepsNamesAsTextAndHasRoomForAsManyEntriesAsCameras) {
    Handlers relay([](RelayConfig& c) { c.maxCameras = 1; });
    relay.storage->registry().enrol("other", false, stationKeyHash(kStationKey), 0);
    ASSERT_EQ(relay(formPost("/live/post", changed({{"name", "caf%E9"}}))).status, 200);
    EXPECT_EQ(relay.storage->listing().current().at(0).name, "caf\xEF\xBF\xBD")
        << "a byte that is not UTF-8 is replaced";
    const HttpAnswer full = relay(formPost("/live/post", entry("other")));
    EXPECT_EQ(full.status, 503);
    EXPECT_EQ(full.body, "Listing: false - the listing is full");
    relay.clock.advance(120s);
    EXPECT_EQ(relay(formPost("/live/post", entry("other"))).status, 200)
        << "an expired entry makes room";
}

TEST(Listing, EntriesSurviveARestartUntilTheyExpire) {
    TempDir dir;
    ManualClock clock;
    std::string token;
    {
        RunningRelay relay(configWithClock(dir.path(), clock));
        ASSERT_EQ(registerCamera(relay.port(), "cam").status, 200);
        const WireAnswer posted =
            postForm(relay.port(), "/live/post",
                     entry("cam", "", "127.0.0.1:" + std::to_string(relay.port())));
        ASSERT_EQ(posted.status, 200);
        token = posted.body.substr(std::string("Listing: true token=").size());
    }
    // The e-mail address is kept, decoded, in the database.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() / "reflector.db").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT email FROM listings", -1, &query, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)), "ana@example.org");
    sqlite3_finalize(query);
    sqlite3_close(db);

    clock.advance(60s);
    RunningRelay again(configWithClock(dir.path(), clock));
    EXPECT_EQ(get(again.port(), "/live/check?id=cam").body, "Listed: true");
    EXPECT_EQ(postForm(again.port(), "/live/refresh", "id=cam&token=" + token).body,
              "Listing: true");
    clock.advance(120s);
    EXPECT_EQ(get(again.port(), "/live/check?id=cam").body, "Listed: false");
}

} // namespace
} // namespace reflector

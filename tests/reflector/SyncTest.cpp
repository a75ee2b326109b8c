// The option sync, written byte for byte as the station writes it.

#include "RelaySupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace reflector {
namespace {

using namespace test;

// The request the station sends: seven header lines, then the body without a line end.
std::string stationSync(int port, const std::string& body) {
    return "POST /webcams/SyncWebcams HTTP/1.1\r\n"
           "Accept: text/plain, text/html, */*\r\n"
           "Content-Type: application/x-www-form-urlencoded; charset=utf-8\r\n"
           "Host: 127.0.0.1:" +
           std::to_string(port) +
           "\r\n"
           "Content-Length: " +
           std::to_string(body.size()) +
           "\r\n"
           "Connection: Close\r\n"
           "Cache-Control: no-cache\r\n" +
           std::string(test::kKeyLine) + "\r\n\r\n" + body;
}

// A motorised camera with presets on; the password "a&b c d" as the station encodes it
// (letters and digits kept, everything else %XX) and the room "Kestrova Chat" as it keeps it.
const std::string kMotorised =
    "id=cam&path=webcams&zoom=true&snapshot=false&chat=true&secure=true&password=a%26b%20c%20d"
    "&ptz=true&presets=true&archive=true&chatID=Kestrova%20Chat:0";

// The password hash as the database holds it.
std::string storedHash(const std::filesystem::path& dir) {
    sqlite3* db = nullptr;
    sqlite3_open((dir / "reflector.db").c_str(), &db);
    sqlite3_stmt* query = nullptr;
    std::string hash;
    if (sqlite3_prepare_v2(db, "SELECT password_hash FROM camera_options", -1, &query, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW) {
        hash = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return hash;
}

TEST(OptionSync, StationsFormIsStoredHashedAndSurvivesARestart) {
    TempDir dir;
    {
        RunningRelay relay(dir.path());
        ASSERT_EQ(registerCamera(relay.port(), "cam", true).body, "User Registered Successfully.");
        const RawAnswer raw = rawExchange(relay.port(), stationSync(relay.port(), kMotorised));
        EXPECT_TRUE(raw.closed);
        const WireAnswer answer = parse(raw.bytes);
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "Settings written successfully.");
    }
    const std::string hash = storedHash(dir.path());
    EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
    EXPECT_EQ(hash.find("a&b"), std::string::npos) << "never the password itself";

    RelayConfig config;
    config.dataDir = dir.path();
    const auto restarted = openStorage(config);
    const auto options = restarted->options().find("cam");
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->zoom);
    EXPECT_FALSE(options->snapshot);
    EXPECT_TRUE(options->chat);
    EXPECT_TRUE(options->secure);
    EXPECT_TRUE(options->ptz);
    EXPECT_TRUE(options->presets);
    EXPECT_TRUE(options->archive);
    EXPECT_EQ(options->chatRoom, "Kestrova Chat");
    EXPECT_EQ(options->chatNumber, 0);
    EXPECT_EQ(options->syncedAt.size(), std::string("2026-12-07T00:00:00Z").size());
    EXPECT_TRUE(restarted->options().verifyViewerPassword("cam", "a&b c d"));
    for (const char* wrong : {"a&b c", "a", "", "a&b c d ", "A&b c d"}) {
        EXPECT_FALSE(restarted->options().verifyViewerPassword("cam", wrong)) << wrong;
    }
    EXPECT_FALSE(restarted->options().verifyViewerPassword("other", "a&b c d"));
    EXPECT_FALSE(restarted->options().find("other"));
}

TEST(OptionSync, APlainWebcamReplacesItsOptions) {
    Handlers relay;
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", kMotorised)).body,
              "Settings written successfully.");
    const std::string plain = "id=cam&path=webcams&zoom=false&snapshot=true&chat=false&secure=false"
                              "&password=vorda&ptz=false&presets=false&archive=false"
                              "&chatID=room%3Aone:-12";
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", plain)).body,
              "Settings written successfully.");
    const auto options = relay.storage->options().find("cam");
    ASSERT_TRUE(options);
    EXPECT_FALSE(options->ptz || options->presets || options->secure || options->zoom);
    EXPECT_TRUE(options->snapshot);
    EXPECT_EQ(options->chatRoom, "room:one") << "the number follows the last colon";
    EXPECT_EQ(options->chatNumber, -12);
    EXPECT_TRUE(relay.storage->options().verifyViewerPassword("cam", "vorda"));
    EXPECT_FALSE(relay.storage->options().verifyViewerPassword("cam", "a&b c d"));

    // A room never named arrives as NUL characters.
    std::string unnamed = kMotorised.substr(0, kMotorised.find("&chatID=")) + "&chatID=";
    unnamed += std::string(3, '\0') + ":7";
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", unnamed)).status, 200);
    EXPECT_EQ(relay.storage->options().find("cam")->chatRoom, "");
}

TEST(OptionSync, RefusesFormsItCannotUseWithThePhraseTheStationWaitsFor) {
    Handlers relay;
    const auto with = [](const std::string& from, const std::string& to) {
        std::string body = kMotorised;
        return body.replace(body.find(from), from.size(), to);
    };
    const struct {
        const char* what;
        HttpRequest request;
        int status;
        const char* reason;
    } cases[] = {
        {"unknown camera", formPost("/webcams/SyncWebcams", with("id=cam", "id=nobody")), 404,
         "Unknown camera."},
        {"bad id", formPost("/webcams/SyncWebcams", with("id=cam", "id=c%20m")), 400,
         "Not a valid camera id."},
        {"other folder", formPost("/webcams/SyncWebcams", with("webcams", "archive")), 400,
         "Unknown folder."},
        {"missing field", formPost("/webcams/SyncWebcams", with("&zoom=true", "")), 400,
         "Missing field 'zoom'."},
        {"field twice", formPost("/webcams/SyncWebcams", kMotorised + "&ptz=false"), 400,
         "Field 'ptz' given twice."},
        {"password sent unencoded", formPost("/webcams/SyncWebcams", with("a%26b", "a&b")), 400,
         "Unknown field 'b c d'."},
        {"not a switch value", formPost("/webcams/SyncWebcams", with("zoom=true", "zoom=1")), 400,
         "Field 'zoom' must be true or false."},
        {"empty password", formPost("/webcams/SyncWebcams", with("a%26b%20c%20d", "")), 400,
         "The password is empty."},
        {"long password",
         formPost("/webcams/SyncWebcams", with("a%26b%20c%20d", std::string(257, 'p'))), 400,
         "The password is longer than 256 bytes."},
        {"chatID without number", formPost("/webcams/SyncWebcams", with("Chat:0", "Chat")), 400,
         "Field 'chatID' must be a room name, ':' and a number."},
        {"chatID number too large",
         formPost("/webcams/SyncWebcams", with("Chat:0", "Chat:4294967296")), 400,
         "Field 'chatID' must be a room name, ':' and a number."},
        {"not a form", makeRequest("POST", "/webcams/SyncWebcams", kMotorised), 415,
         "Expected a form (application/x-www-form-urlencoded)."},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = relay(c.request);
        EXPECT_EQ(answer.status, c.status) << c.what;
        EXPECT_EQ(answer.body, std::string("Failed to synchronise settings. ") + c.reason)
            << c.what;
    }
    EXPECT_FALSE(relay.storage->options().find("cam")) << "nothing was stored";
}

TEST(OptionSync, RefusalsOfTheTransportEndTheStationsWaitToo) {
    TempDir dir;
    RunningRelay relay(dir.path());
    for (const std::string& request :
         {std::string("POST /webcams/SyncWebcams HTTP/1.1\r\nHost: x\r\n"
                      "Content-Type: application/x-www-form-urlencoded\r\n"
                      "Connection: Close\r\n\r\nid=cam"),
          std::string("POST /webcams/SyncWebcams HTTP/1.1\r\nHost: x\r\n"
                      "Content-Length: 99999999\r\nConnection: Close\r\n\r\n")}) {
        const WireAnswer answer = parse(rawExchange(relay.port(), request).bytes);
        EXPECT_GE(answer.status, 400);
        EXPECT_EQ(answer.body.rfind("Failed to synchronise settings. ", 0), 0u) << answer.body;
    }
}

} // namespace
} // namespace reflector

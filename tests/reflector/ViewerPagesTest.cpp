// The pages a viewer's browser loads: what they offer, what they escape, what they refuse.

#include "RelaySupport.h"
#include "core/Text.h"
#include "pages/Pages.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::string syncBody(const std::string& camera, bool ptz, const std::string& switches) {
    // switches: zoom snapshot chat secure presets archive
    const auto flag = [&switches](std::size_t i) {
        return switches.at(i) == 't' ? std::string("true") : std::string("false");
    };
    return "id=" + camera + "&path=webcams&zoom=" + flag(0) + "&snapshot=" + flag(1) +
           "&chat=" + flag(2) + "&secure=" + flag(3) + "&password=pw" +
           (ptz ? "&ptz=true&presets=" + flag(4) : std::string("&ptz=false&presets=false")) +
           "&archive=" + flag(5) + "&chatID=Garden%20Chat:7";
}

TEST(CameraPage, OffersWhatTheCameraAndItsSynchronisedOptionsAllow) {
    Handlers relay;
    relay.storage->registry().registerCamera("plain", false);
    relay.storage->pages().savePreset("cam", {"Gate", "Preset_-640:192:20"});
    const struct {
        const char* name;
        std::string camera;
        std::string sync; // empty: never synchronised
        std::vector<const char*> present;
        std::vector<const char*> absent;
    } cases[] = {
        {"motorised, before any sync",
         "cam",
         "",
         {"value=\"pan_left\"", "value=\"set_motor_home\"", "value=\"pan_double_right\""},
         {"ZOOM_IN", "Preset_", "/webcams/snapshot", "PassRequiredArchive", "/fchat/"}},
        {"motorised, everything on",
         "cam",
         syncBody("cam", true, "tttftt"),
         {"value=\"tilt_up\"", "value=\"ZOOM_IN\"", "value=\"RESTORE\"",
          "value=\"Preset_-640:192:20\">Gate</button>", "href=\"/webcams/snapshot?id=cam\"",
          "href=\"/webcams/PassRequiredArchive?id=cam&amp;name=Cam\"",
          "href=\"/fchat/chat2.php?path=1&amp;room=Garden%20Chat%3A7\""},
         {}},
        {"motorised, everything off",
         "cam",
         syncBody("cam", true, "ffffff"),
         {"value=\"pan_left\""},
         {"ZOOM_IN", "Preset_", "/webcams/snapshot", "PassRequiredArchive", "/fchat/"}},
        {"plain webcam with zoom",
         "plain",
         syncBody("plain", false, "tfffff"),
         {"value=\"ZOOM_OUT\""},
         {"pan_left", "Preset_"}},
        {"plain webcam, nothing",
         "plain",
         syncBody("plain", false, "ffffff"),
         {"/webcams/stream?id=plain"},
         {"class=\"controls\""}},
    };
    for (const auto& c : cases) {
        if (!c.sync.empty()) {
            ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", c.sync)).status, 200) << c.name;
        }
        const HttpAnswer page = relay(getRequest("/webcams/index.jsp?id=" + c.camera +
                                                 "&path=webcams&type=1"
                                                 "&gads=1&ptz=true&browser=MOZILLA&name=Cam"));
        EXPECT_EQ(page.status, 200) << c.name;
        for (const char* text : c.present) {
            EXPECT_TRUE(contains(page.body, text)) << c.name << ": " << text;
        }
        for (const char* text : c.absent) {
            EXPECT_FALSE(contains(page.body, text)) << c.name << ": " << text;
        }
        EXPECT_FALSE(contains(page.body, "{{")) << c.name;
    }
}

TEST(CameraPage, EveryAddressOfACameraPageCountsAsAVisitAndShowsTheLatestPictureAtOnce) {
    for (const char* uri : {"/webcams/index.jsp?id=cam", "/webcams/view?id=cam", "/webcams/cam"}) {
        Handlers relay;
        const HttpAnswer page = relay(getRequest(uri));
        EXPECT_EQ(page.status, 200) << uri;
        EXPECT_TRUE(contains(page.body, "<img id=\"picture\" src=\"/webcams/live?id=cam\"")) << uri;
        EXPECT_TRUE(contains(page.body, "data-camera=\"cam\"")) << uri;
        EXPECT_TRUE(contains(page.body, "/static/camera.js")) << uri;
        EXPECT_TRUE(relay.storage->visitors().hasVisitors("cam")) << uri;
    }
}

// Every value a page shows comes from a station, an owner or a viewer: all are escaped.
TEST(Pages, EscapeEveryValueTheyShow) {
    const std::string evil = "<script>alert(\"x\")</script>&'";
    const std::string escaped = "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;&#39;";
    Handlers relay;
    const std::string station = "192.0.2.50";
    ASSERT_EQ(relay(getRequest("/webcams/Register?id=cam&path=webcams&ptz=true", station)).status,
              200);
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams", syncBody("cam", true, "tttftt"))).status, 200);
    relay.storage->pages().savePreset("cam", {evil, "Preset_1:2:3"});
    relay.storage->pages().setProfile("cam", {evil, evil});
    relay.storage->chat().post("Garden Chat:7", evil, evil);
    relay.storage->archive().add("cam", fakeJpeg(3000, 3));
    ListingEntry entry;
    entry.camera = "cam";
    entry.name = evil;
    entry.relay = "127.0.0.1:8080";
    entry.folder = "webcams";
    entry.listed = true;
    ASSERT_EQ(relay.storage->listing().post(entry, "").outcome, ListingStore::Outcome::Created);

    const std::string e = urlEncode(evil);
    for (const HttpRequest& request :
         {getRequest("/webcams/index.jsp?id=cam&name=" + e), getRequest("/webcams/cam"),
          getRequest("/webcams/PassRequiredArchive?id=cam&name=" + e),
          getRequest("/webcams/admin/index.jsp?id=cam", station), getRequest("/livelist.php"),
          getRequest("/description.php?id=cam"),
          getRequest("/fchat/chat2.php?path=1&name=" + e + "&room=Garden%20Chat:7")}) {
        const HttpAnswer page = relay(request);
        EXPECT_EQ(page.status, 200) << request.target;
        EXPECT_FALSE(contains(page.body, "<script>")) << request.target;
        EXPECT_TRUE(contains(page.body, escaped)) << request.target;
    }
    const HttpAnswer json = relay(getRequest("/fchat/messages?room=Garden%20Chat%3A7"));
    EXPECT_EQ(json.contentType, "application/json");
    EXPECT_TRUE(contains(json.body, "\"\\u003cscript\\u003ealert(\\\"x\\\")")) << json.body;
    EXPECT_TRUE(contains(cameraListPage({Camera{"a<b", false, "", ""}}), "a&lt;b"));
}

// Names reach a page, the database or a lookup, never a file: traversal gets nowhere.
TEST(Pages, TraversalAttemptsAreRefusedOnEveryRouteThatTakesAName) {
    Handlers relay;
    relay.storage->frames().put("cam", fakeJpeg(3000, 4));
    const char* attempts[] = {
        "/webcams/index.jsp?id=../cam",
        "/webcams/index.jsp?id=%2e%2e%2fcam",
        "/webcams/..%2f..%2fetc%2fpasswd",
        "/webcams/%2e%2e",
        "/webcams/live?id=..%2Fframes%2Fcam",
        "/webcams/stream?id=%2e%2e",
        "/webcams/snapshot?id=cam%2F..",
        "/webcams/thumb?id=..",
        "/webcams/PassRequiredArchive?id=..%2Fcam",
        "/webcams/PassRequiredArchive?id=cam&day=..%2F..%2Freflector.db",
        "/webcams/archive/frame?id=cam&frame=..%2F1",
        "/webcams/archive/frame?id=..%5Ccam&frame=1",
        "/webcams/admin/index.jsp?id=%2e%2e%2f%2e%2e",
        "/description.php?id=..%2F..",
        "/static/../reflector.db",
        "/static/%2e%2e%2fcamera.html",
        "/static/camera.html",
        "/static/..%2Fstyle.css",
        "/help/webcams/..%2F..%2Freflector.db",
        "/fchat/messages?room=..%2F..&after=..%2F1",
    };
    for (const char* uri : attempts) {
        const HttpAnswer answer = relay(getRequest(uri));
        EXPECT_TRUE(answer.status == 400 || answer.status == 403 || answer.status == 404)
            << uri << " answered " << answer.status;
        EXPECT_FALSE(contains(answer.content(), "SQLite format")) << uri;
        EXPECT_FALSE(contains(answer.content(), "\xFF\xD8")) << uri;
        EXPECT_FALSE(contains(answer.content(), "{{")) << uri;
    }
}

TEST(Pages, AreServedWithTheRelaysPolicyAndTheirFilesByNameOnly) {
    TempDir dir;
    RunningRelay relay(dir.path());
    ASSERT_EQ(registerCamera(relay.port(), "garden-cam", true).body,
              "User Registered Successfully.");
    for (const char* uri : {"/webcams/index.jsp?id=garden-cam", "/help/webcams/index.htm",
                            "/livelist.php", "/fchat/chat2.php?path=1&name=Ann&room=R:0",
                            "/webcams/admin/index.jsp?id=garden-cam", "/"}) {
        const WireAnswer page = get(relay.port(), uri);
        EXPECT_EQ(page.status, 200) << uri;
        EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8") << uri;
        const std::string policy = page.header("Content-Security-Policy");
        EXPECT_TRUE(contains(policy, "default-src 'self'")) << uri;
        EXPECT_TRUE(contains(policy, "frame-ancestors 'none'")) << uri;
        EXPECT_FALSE(contains(page.body, "<script>")) << "no inline script: " << uri;
        EXPECT_FALSE(contains(page.body, "style=")) << "no inline style: " << uri;
        EXPECT_TRUE(contains(page.body, "name=\"viewport\"")) << "fit for a phone: " << uri;
    }
    const struct {
        const char* uri;
        const char* type;
        const char* holds;
    } files[] = {{"/static/camera.js", "text/javascript; charset=utf-8", "PERIOD_MS = 1000"},
                 {"/static/chat.js", "text/javascript; charset=utf-8", "/fchat/messages"},
                 {"/static/style.css", "text/css; charset=utf-8", "skin-night"}};
    for (const auto& f : files) {
        const WireAnswer file = get(relay.port(), f.uri);
        EXPECT_EQ(file.status, 200) << f.uri;
        EXPECT_EQ(file.header("Content-Type"), f.type);
        EXPECT_TRUE(contains(file.body, f.holds)) << f.uri;
    }
}

TEST(LiveList, ShowsListedCamerasWithThumbnailsUnlessHiddenOrProtected) {
    Handlers relay;
    const auto post = [&relay](const std::string& id, const std::string& name, bool listed,
                               bool hide, bool password, const std::string& host) {
        ListingEntry e;
        e.camera = id;
        e.name = name;
        e.email = "owner@example.org";
        e.relay = host;
        e.folder = "webcams";
        e.ptz = true;
        e.listed = listed;
        e.hideThumbnail = hide;
        e.password = password;
        ASSERT_EQ(relay.storage->listing().post(e, "").outcome, ListingStore::Outcome::Created);
    };
    post("a-cam", "Zebra pond", true, false, false, "127.0.0.1:8080");
    post("b-cam", "apple tree", true, true, false, "127.0.0.1:8080");
    post("c-cam", "Attic", true, false, true, "127.0.0.1:8080");
    post("d-cam", "Hidden", false, false, false, "127.0.0.1:8080");
    post("e-cam", "Elsewhere", true, false, false, "relay2.example:9000");
    HttpRequest request = getRequest("/livelist.php");
    request.headers.emplace_back("Host", "127.0.0.1:8080");
    const HttpAnswer page = relay(request);
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(contains(page.body, "src=\"/webcams/thumb?id=a-cam\""));
    EXPECT_FALSE(contains(page.body, "thumb?id=b-cam")) << "thumbnail hidden";
    EXPECT_FALSE(contains(page.body, "thumb?id=c-cam")) << "behind a password";
    EXPECT_FALSE(contains(page.body, "Hidden")) << "not in the public list";
    EXPECT_FALSE(contains(page.body, "owner@example.org"));
    EXPECT_TRUE(
        contains(page.body, "href=\"http://relay2.example:9000/webcams/index.jsp?id=e-cam"));
    EXPECT_TRUE(contains(page.body, "src=\"http://relay2.example:9000/webcams/thumb?id=e-cam\""));
    for (const auto& [name, value] : page.headers) {
        if (name == "Content-Security-Policy") {
            EXPECT_TRUE(contains(value, "img-src 'self' blob: http://relay2.example:9000;"))
                << value;
        }
    }
    EXPECT_LT(page.body.find("apple tree"), page.body.find("Attic")) << "by name, any case";
    EXPECT_LT(page.body.find("Attic"), page.body.find("Zebra pond"));

    // The thumbnail is the stored picture and wakes nobody.
    relay.storage->registry().registerCamera("a-cam", true);
    relay.storage->frames().put("a-cam", fakeJpeg(3000, 5));
    const HttpAnswer thumb = relay(getRequest("/webcams/thumb?id=a-cam"));
    EXPECT_EQ(thumb.status, 200);
    EXPECT_FALSE(relay.storage->visitors().hasVisitors("a-cam"));
    EXPECT_TRUE(contains(relay(getRequest("/livelist.asp")).body, "Zebra pond"));
}

TEST(LiveList, SaysSoWhenNobodyIsLive) {
    Handlers relay;
    EXPECT_TRUE(contains(relay(getRequest("/livelist.php")).body, "No camera is live right now."));
}

} // namespace
} // namespace reflector

// The pages a viewer's browser loads.

#include "Pages.h"
#include "RelaySupport.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Viewer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(registerCamera(relay.port(), "garden-cam", true).body,
                  "User Registered Successfully.");
    }
    TempDir dir;
    RunningRelay relay{dir.path()};
};

TEST_F(Viewer, EveryViewerAddressShowsTheCamerasLivePicture) {
    for (const char* uri : {"/webcams/view?id=garden-cam", "/webcams/garden-cam",
                            "/webcams/index.jsp?id=garden-cam&path=webcams&type=1&gads=1&ptz=true"
                            "&browser=MOZILLA&name=My%20Garden"}) {
        const auto page = get(relay.port(), uri);
        EXPECT_EQ(page.status, 200) << uri;
        EXPECT_EQ(page.header("Content-Type").rfind("text/html", 0), 0u) << uri;
        EXPECT_TRUE(contains(page.body, "data-camera=\"garden-cam\"")) << uri;
        EXPECT_TRUE(contains(page.body, "No picture yet")) << uri;
        EXPECT_TRUE(contains(page.body, "/static/viewer.js")) << uri;
        EXPECT_FALSE(contains(page.body, "{{")) << "every template field is filled: " << uri;
    }
}

TEST_F(Viewer, ScriptRefreshesFromTheLiveAddressAboutEverySecond) {
    const auto script = get(relay.port(), "/static/viewer.js");
    EXPECT_EQ(script.status, 200);
    EXPECT_EQ(script.header("Content-Type").rfind("text/javascript", 0), 0u);
    EXPECT_TRUE(contains(script.body, "/webcams/live?id="));
    EXPECT_TRUE(contains(script.body, "cache: 'no-cache'")) << "revalidated, not fetched whole";
    EXPECT_TRUE(contains(script.body, "PERIOD_MS = 1000"));
    EXPECT_TRUE(contains(script.body, "No picture yet"));

    const auto style = get(relay.port(), "/static/style.css");
    EXPECT_EQ(style.status, 200);
    EXPECT_EQ(style.header("Content-Type").rfind("text/css", 0), 0u);
    EXPECT_FALSE(style.body.empty());
}

TEST_F(Viewer, RefusesUnknownAndMalformedCameras) {
    const auto unknown = get(relay.port(), "/webcams/view?id=nobody");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_TRUE(contains(unknown.body, "nobody"));

    const auto malformed = get(relay.port(), "/webcams/view?id=%3Cscript%3Ealert(1)%3C/script%3E");
    EXPECT_EQ(malformed.status, 400);
    EXPECT_FALSE(contains(malformed.body, "<script>")) << "the request is never echoed";
}

TEST_F(Viewer, HomePageListsTheRegisteredCameras) {
    ASSERT_EQ(registerCamera(relay.port(), "Attic").body, "User Registered Successfully.");
    const auto home = get(relay.port(), "/");
    EXPECT_EQ(home.status, 200);
    EXPECT_TRUE(contains(home.body, "href=\"/webcams/view?id=garden-cam\""));
    EXPECT_TRUE(contains(home.body, "href=\"/webcams/view?id=Attic\""));
    EXPECT_LT(home.body.find("Attic"), home.body.find("garden-cam")) << "listed in order";
    EXPECT_FALSE(contains(home.body, "{{"));
}

TEST(CameraList, SaysSoWhenEmptyAndEscapesWhatItShows) {
    EXPECT_TRUE(contains(cameraListPage({}), "No camera is registered yet."));
    Camera odd;
    odd.id = "<b>&\"'";
    odd.registeredAt = "2026-01-01T00:00:00Z";
    const std::string page = cameraListPage({odd});
    EXPECT_TRUE(contains(page, "&lt;b&gt;&amp;&quot;&#39;"));
    EXPECT_FALSE(contains(page, "<b>&"));
    EXPECT_TRUE(contains(page, "none yet"));
}

} // namespace
} // namespace reflector

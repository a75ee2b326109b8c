// The camera's management page and live profile: who may change them, what they keep, and that
// what owners and viewers leave survives a restart.

#include "RelaySupport.h"

#include "core/PasswordHash.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;

constexpr const char* kStation = "192.0.2.50";
constexpr const char* kStranger = "198.51.100.7";

std::string headerOf(const HttpAnswer& answer, const std::string& name) {
    for (const auto& [key, value] : answer.headers) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

class Management : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(
            relay(getRequest("/webcams/Register?id=cam&path=webcams&ptz=true", kStation)).status,
            200);
    }
    HttpAnswer change(const std::string& body, const std::string& client = kStation) {
        return relay(formPost("/webcams/admin/index.jsp", "id=cam&" + body, client));
    }

    Handlers relay{[](RelayConfig& c) { c.adminPasswordHash = hashPassword("relay-admin"); }};
};

TEST_F(Management, ChangesComeFromTheStationsNetworkOrWithTheAdministratorsPassword) {
    const struct {
        const char* client;
        std::string password;
        int status;
    } cases[] = {
        {kStation, "", 303},
        {kStranger, "", 403},
        {kStranger, "wrong", 403},
        {kStranger, "relay-admin", 303},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = change("action=skin&skin=night&adminpw=" + c.password, c.client);
        EXPECT_EQ(answer.status, c.status) << c.client << " " << c.password;
    }
    EXPECT_EQ(relay.storage->pages().skin("cam"), "night");

    const HttpAnswer stranger = relay(getRequest("/webcams/admin/index.jsp?id=cam", kStranger));
    EXPECT_TRUE(contains(stranger.body, "Anyone who knows this camera's identifier"));
    EXPECT_TRUE(contains(stranger.body, "name=\"adminpw\""));
    EXPECT_TRUE(contains(stranger.body, "is not the station's"));
    const HttpAnswer owner = relay(getRequest("/webcams/admin/index.jsp?id=cam", kStation));
    EXPECT_EQ(owner.body.find("name=\"adminpw\""), owner.body.rfind("name=\"adminpw\""))
        << "only releasing the camera from its key asks the owner for the password";
    EXPECT_TRUE(contains(owner.body, "your changes are accepted"));

    // Another site's page cannot make the owner's browser change anything.
    HttpRequest forged =
        formPost("/webcams/admin/index.jsp", "id=cam&action=skin&skin=meadow", kStation);
    forged.headers.emplace_back("Origin", "http://evil.example");
    forged.headers.emplace_back("Host", "relay:8080");
    EXPECT_EQ(relay(forged).status, 403);
    EXPECT_EQ(relay.storage->pages().skin("cam"), "night");
}

TEST_F(Management, WrongAdministratorPasswordsAreSlowedDown) {
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(change("action=skin&skin=night&adminpw=guess", kStranger).status, 403);
    }
    const HttpAnswer slowed = change("action=skin&skin=night&adminpw=relay-admin", kStranger);
    EXPECT_EQ(slowed.status, 429);
    EXPECT_FALSE(headerOf(slowed, "Retry-After").empty());
}

TEST_F(Management, PresetsAreNamedPositionsShownOnTheCameraPage) {
    const struct {
        std::string body;
        int status;
    } cases[] = {
        {"action=save-preset&name=Gate&pan=-640&tilt=192&zoom=20", 303},
        {"action=save-preset&name=Pond&pan=%2B12&tilt=0&zoom=0", 303},
        {"action=save-preset&name=Gate&pan=1&tilt=2&zoom=3", 303}, // replaces
        {"action=save-preset&name=&pan=1&tilt=2&zoom=3", 400},
        {"action=save-preset&name=X&pan=12345678&tilt=2&zoom=3", 400},
        {"action=save-preset&name=X&pan=1%3A2&tilt=2&zoom=3", 400},
        {"action=save-preset&name=X&pan=a&tilt=2&zoom=3", 400},
        {"action=save-preset&name=" + std::string(41, 'n') + "&pan=1&tilt=2&zoom=3", 400},
        {"action=save-preset&name=a%0Ab&pan=1&tilt=2&zoom=3", 400},
        {"action=delete-preset&name=Pond", 303},
        {"action=delete-preset&name=Pond", 404},
        {"action=skin&skin=..%2F..%2Fetc", 400},
        {"action=format-disk", 400},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(change(c.body).status, c.status) << c.body;
    }
    const auto presets = relay.storage->pages().presets("cam");
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].name, "Gate");
    EXPECT_EQ(presets[0].command, "Preset_1:2:3");

    for (int i = 0; i < 19; ++i) {
        ASSERT_EQ(
            change("action=save-preset&name=P" + std::to_string(i) + "&pan=1&tilt=1&zoom=1").status,
            303);
    }
    EXPECT_EQ(change("action=save-preset&name=one-too-many&pan=1&tilt=1&zoom=1").status, 409);

    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams",
                             "id=cam&path=webcams&zoom=false&snapshot=false&chat=false"
                             "&secure=false&password=pw&ptz=true&presets=true&archive=false"
                             "&chatID=R:0"))
                  .status,
              200);
    const HttpAnswer page = relay(getRequest("/webcams/index.jsp?id=cam"));
    EXPECT_TRUE(contains(page.body, "value=\"Preset_1:2:3\">Gate</button>"));
    EXPECT_LT(page.body.find(">Gate<"), page.body.find(">P0<")) << "in the order added";
}

TEST_F(Management, TheProfileIsEditedUnderTheSameRule) {
    const auto save = [this](const std::string& body, const std::string& client) {
        return relay(formPost("/description.php", "id=cam&" + body, client));
    };
    EXPECT_EQ(save("name=Garden&description=Birds%0D%0Aand%20bees", kStation).status, 303);
    EXPECT_EQ(save("name=Mine&description=x", kStranger).status, 403);
    EXPECT_EQ(save("name=Ours&description=y&adminpw=relay-admin", kStranger).status, 303);
    EXPECT_EQ(save("name=" + std::string(81, 'n'), kStation).status, 400);
    EXPECT_EQ(save("name=ok&description=" + std::string(1001, 'd'), kStation).status, 400);
    EXPECT_EQ(save("name=bad%00name", kStation).status, 400);
    const auto profile = relay.storage->pages().profile("cam");
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->name, "Ours");
    EXPECT_EQ(profile->description, "y");
    ASSERT_EQ(save("name=Garden&description=Birds%0D%0Aand%20bees", kStation).status, 303);
    const HttpAnswer page = relay(getRequest("/description.php?id=cam"));
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(contains(page.body, "<h1>Garden</h1>"));
    EXPECT_TRUE(contains(page.body, "Birds\nand bees"));
    EXPECT_EQ(relay(getRequest("/description.php?id=nobody")).status, 404);
}

TEST(Restart, KeepsPresetsSkinsProfilesChatOptionsAndTheStationsAddress) {
    TempDir dir;
    {
        RunningRelay relay(dir.path());
        ASSERT_EQ(registerCamera(relay.port(), "cam", true).body, "User Registered Successfully.");
        ASSERT_EQ(postForm(relay.port(), "/webcams/SyncWebcams",
                           "id=cam&path=webcams&zoom=true&snapshot=false&chat=true&secure=false"
                           "&password=pw&ptz=true&presets=true&archive=false&chatID=Porch:3")
                      .status,
                  200);
        const auto change = [&relay](const std::string& path, const std::string& body) {
            return postForm(relay.port(), path, body).status;
        };
        // From 127.0.0.1, where the station registered from.
        ASSERT_EQ(change("/webcams/admin/index.jsp",
                         "id=cam&action=save-preset&name=Gate&pan=-640&tilt=192&zoom=20"),
                  303);
        ASSERT_EQ(change("/webcams/admin/index.jsp", "id=cam&action=skin&skin=meadow"), 303);
        ASSERT_EQ(change("/description.php", "id=cam&name=Porch&description=Front%20door"), 303);
        ASSERT_EQ(change("/fchat/send", "room=Porch:3&name=Ann&text=Hello"), 204);
        EXPECT_TRUE(relay.stop());
    }
    RunningRelay again(dir.path());
    const WireAnswer page = get(again.port(), "/webcams/index.jsp?id=cam");
    EXPECT_TRUE(contains(page.body, "value=\"Preset_-640:192:20\">Gate</button>"));
    EXPECT_TRUE(contains(page.body, "class=\"skin-meadow\""));
    EXPECT_TRUE(contains(page.body, "Front door"));
    EXPECT_TRUE(contains(page.body, "value=\"ZOOM_IN\""));
    EXPECT_TRUE(contains(page.body, "room=Porch%3A3"));
    EXPECT_TRUE(contains(get(again.port(), "/fchat/messages?room=Porch%3A3").body, "Hello"));
    EXPECT_TRUE(contains(get(again.port(), "/webcams/admin/index.jsp?id=cam").body,
                         "your changes are accepted"))
        << "the station's address is remembered";
}

} // namespace
} // namespace reflector

namespace reflector {
namespace {

TEST(TrustedProxy, NamesTheViewerForTheStationCheckAndTheLimitsOnlyForItsOwnRequests) {
    test::Handlers relay([](RelayConfig& c) { c.trustedProxies = {"127.0.0.9"}; });
    ASSERT_EQ(
        relay(test::getRequest("/webcams/Register?id=cam&path=webcams&ptz=true", kStation)).status,
        200);
    const struct {
        const char* from;
        const char* forwarded;
        int status;
    } cases[] = {
        {"127.0.0.9", "198.51.100.1, 192.0.2.50", 303},
        {"127.0.0.9", "192.0.2.50, 198.51.100.7", 403},
        {"127.0.0.9", "", 403},
        {"198.51.100.7", "192.0.2.50", 403},
    };
    for (const auto& c : cases) {
        HttpRequest request =
            test::formPost("/webcams/admin/index.jsp", "id=cam&action=skin&skin=night", c.from);
        request.headers.emplace_back("X-Forwarded-For", c.forwarded);
        EXPECT_EQ(relay(request).status, c.status) << c.from << " for " << c.forwarded;
    }
    // Each viewer behind the proxy has its own rate.
    for (int viewer = 0; viewer < 8; ++viewer) {
        HttpRequest command =
            test::formPost("/webcams/command", "id=cam&cmd=pan_left", "127.0.0.9");
        command.headers.emplace_back("X-Forwarded-For", "198.51.100." + std::to_string(viewer));
        EXPECT_EQ(relay(command).status, 204) << viewer;
    }
}

} // namespace
} // namespace reflector

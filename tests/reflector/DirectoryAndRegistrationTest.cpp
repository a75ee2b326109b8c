// The exchanges the station makes when it starts its relay side: the directory look-up, the
// folder check and the registration, each written exactly as the station writes it.

#include "RelaySupport.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;

class StartExchanges : public ::testing::Test {
  protected:
    TempDir dir;
    RunningRelay relay{dir.path()};
};

TEST_F(StartExchanges, DirectoryNamesHostPortAndFolder) {
    const auto answer = get(relay.port(), "/getReflector.php");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "127.0.0.1\r\n" + std::to_string(relay.port()) + "\r\nwebcams\r\n");
    EXPECT_EQ(answer.header("Transfer-Encoding"), "") << "the body is sent whole";
    EXPECT_EQ(answer.header("Content-Type").rfind("text/plain", 0), 0u);
}

TEST(Directory, NamesTheConfiguredPublicHost) {
    TempDir dir;
    RelayConfig config;
    config.dataDir = dir.path();
    config.publicHost = "relay.example.org";
    RunningRelay relay(config);
    EXPECT_EQ(get(relay.port(), "/getReflector.php").body,
              "relay.example.org\r\n" + std::to_string(relay.port()) + "\r\nwebcams\r\n");
}

TEST(Directory, HostFollowsPublicNameThenListenAddressThenRequest) {
    EXPECT_EQ(directoryHost("relay.example.org", "127.0.0.1", "x"), "relay.example.org");
    EXPECT_EQ(directoryHost("", "192.0.2.5", "other.example.org"), "192.0.2.5");
    EXPECT_EQ(directoryHost("", "0.0.0.0", "cams.lan:8080"), "cams.lan");
    EXPECT_EQ(directoryHost("", "0.0.0.0", "cams.lan"), "cams.lan");
    EXPECT_EQ(directoryHost("", "::", "[2001:db8::7]:8080"), "[2001:db8::7]");
    EXPECT_EQ(directoryHost("", "0.0.0.0", ""), "127.0.0.1");
    EXPECT_EQ(directoryHost("", "0.0.0.0", "evil\r\nInjected: 1"), "127.0.0.1");
}

TEST_F(StartExchanges, RegisterThenCheck) {
    const std::string check = "/webcams/CheckFolderExists?id=Zx9Qw3Er5Ty7Ui1O&path=webcams";
    const auto before = get(relay.port(), check);
    EXPECT_EQ(before.status, 200);
    EXPECT_EQ(before.body, "Exists: false");

    const auto registered = registerCamera(relay.port(), "Zx9Qw3Er5Ty7Ui1O", true);
    EXPECT_EQ(registered.status, 200);
    EXPECT_EQ(registered.body, "User Registered Successfully.");

    const auto after = get(relay.port(), check);
    EXPECT_EQ(after.status, 200);
    EXPECT_EQ(after.body, "Exists: true");

    EXPECT_EQ(get(relay.port(), "/webcams/CheckFolderExists?id=other&path=webcams").body,
              "Exists: false")
        << "only the registered camera exists";
    EXPECT_EQ(registerCamera(relay.port(), "Zx9Qw3Er5Ty7Ui1O", false).body,
              "User Registered Successfully.")
        << "registering again is accepted";
}

TEST_F(StartExchanges, RefusesBadIdentifiersWithoutTheSuccessPhrase) {
    const std::string tooLong(51, 'a');
    for (const std::string& id :
         {std::string(), tooLong, std::string("a.b"), std::string("..%2F..%2Fetc"),
          std::string("x%27)%3BDROP%20TABLE%20cameras%3B--"), std::string("x'%20OR%20'1'='1"),
          std::string("caf%C3%A9")}) {
        const auto answer = registerCamera(relay.port(), id);
        EXPECT_EQ(answer.status, 400) << id;
        EXPECT_EQ(answer.body.find("User Registered Successfully."), std::string::npos) << id;
        EXPECT_FALSE(answer.body.empty()) << id;

        const auto check =
            get(relay.port(), "/webcams/CheckFolderExists?id=" + id + "&path=webcams");
        EXPECT_EQ(check.status, 400) << id;
        EXPECT_NE(check.body.find("Exists: false"), std::string::npos)
            << "the station then tries to register and reports the refusal: " << id;
    }
    // Nothing above reached the database, and it still works.
    EXPECT_EQ(registerCamera(relay.port(), "after").body, "User Registered Successfully.");
    EXPECT_EQ(get(relay.port(), "/webcams/CheckFolderExists?id=after&path=webcams").body,
              "Exists: true");
}

TEST(Registration, RefusesNewCamerasOnceTheRelayIsFull) {
    TempDir dir;
    RelayConfig config;
    config.dataDir = dir.path();
    config.maxCameras = 2;
    RunningRelay relay(config);
    ASSERT_EQ(registerCamera(relay.port(), "one").body, "User Registered Successfully.");
    ASSERT_EQ(registerCamera(relay.port(), "two").body, "User Registered Successfully.");

    const auto full = registerCamera(relay.port(), "three");
    EXPECT_EQ(full.status, 503);
    EXPECT_EQ(full.body, "Registration refused: this relay already serves as many cameras as "
                         "it takes (2).");
    EXPECT_EQ(get(relay.port(), "/webcams/CheckFolderExists?id=three&path=webcams").body,
              "Exists: false");
    EXPECT_EQ(upload(relay.port(), "three", fakeJpeg(1000, 5)).status, 404);

    EXPECT_EQ(registerCamera(relay.port(), "one", true).body, "User Registered Successfully.")
        << "a registered camera may register again";
}

TEST_F(StartExchanges, RefusesOtherFoldersAndMotorValues) {
    const auto folder = get(relay.port(), "/webcams/Register?id=cam&path=other&ptz=false");
    EXPECT_EQ(folder.status, 400);
    EXPECT_EQ(folder.body.find("User Registered Successfully."), std::string::npos);

    for (const char* uri : {"/webcams/Register?id=cam&path=webcams&ptz=yes",
                            "/webcams/Register?id=cam&path=webcams"}) {
        const auto answer = get(relay.port(), uri);
        EXPECT_EQ(answer.status, 400) << uri;
        EXPECT_EQ(answer.body.find("User Registered Successfully."), std::string::npos) << uri;
    }
    EXPECT_EQ(get(relay.port(), "/webcams/CheckFolderExists?id=cam&path=webcams").body,
              "Exists: false");
    EXPECT_NE(get(relay.port(), "/webcams/CheckFolderExists?id=cam").body.find("Exists: false"),
              std::string::npos);
}

TEST_F(StartExchanges, UnknownAddressesAnswerNotFound) {
    const auto answer = get(relay.port(), "/webcams/NoSuchThing/deeper");
    EXPECT_EQ(answer.status, 404);
    EXPECT_FALSE(answer.body.empty());
}

} // namespace
} // namespace reflector

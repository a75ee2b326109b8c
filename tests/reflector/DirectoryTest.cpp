// Several relays behind one directory: the stable assignment of cameras, and viewers sent to
// the relay that has the camera.

#include "Directory.h"
#include "RelaySupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>

namespace reflector {
namespace {

using namespace test;

std::vector<RelayAddress> relaysOn(const std::vector<int>& ports) {
    std::string list;
    for (int port : ports) {
        list += (list.empty() ? "" : ",") + std::string("127.0.0.1:") + std::to_string(port);
    }
    std::string error;
    auto relays = parseRelayList(list, error);
    EXPECT_TRUE(relays) << error;
    return relays.value_or(std::vector<RelayAddress>{});
}

std::string cameraName(int i) {
    return "cam" + std::to_string(i);
}

TEST(Rendezvous, ACameraKeepsItsRelayAndANewRelayTakesOverAFairShareOnly) {
    const auto three = relaysOn({8001, 8002, 8003});
    const auto four = relaysOn({8001, 8002, 8003, 8004});
    std::map<std::size_t, int> perRelay;
    int moved = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::size_t before = relayPreference(cameraName(i), three).front();
        EXPECT_EQ(relayPreference(cameraName(i), three).front(), before) << "stable";
        const std::size_t after = relayPreference(cameraName(i), four).front();
        ++perRelay[before];
        if (after != before) {
            ++moved;
            EXPECT_EQ(after, 3u) << cameraName(i) << " moved, but not to the new relay";
        }
    }
    for (const auto& [relay, cameras] : perRelay) {
        EXPECT_GT(cameras, 2000 / 3 - 150) << "relay " << relay;
    }
    EXPECT_GT(moved, 2000 / 4 - 150);
    EXPECT_LT(moved, 2000 / 4 + 150) << "about a quarter moves to the fourth relay";
}

// A directory and three relays on loopback ports, as separate servers.
class RelayDirectory : public ::testing::Test {
  protected:
    RelayDirectory() {
        for (auto& dir : relayDirs) {
            relays.push_back(std::make_unique<RunningRelay>(dir.path()));
            ports.push_back(relays.back()->port());
        }
    }
    std::unique_ptr<RunningRelay> startDirectory(const std::vector<int>& relayPorts) {
        RelayConfig config;
        config.dataDir = directoryDir.path();
        config.relays = relaysOn(relayPorts);
        return std::make_unique<RunningRelay>(config);
    }
    // The relay port the directory names for a camera (0: none).
    static int portFor(int directoryPort, const std::string& query) {
        const WireAnswer answer = get(directoryPort, "/getReflector.php" + query);
        EXPECT_EQ(answer.status, 200);
        const auto firstEnd = answer.body.find("\r\n");
        EXPECT_EQ(answer.body.substr(0, firstEnd), "127.0.0.1");
        EXPECT_EQ(answer.body.substr(answer.body.size() - 11), "\r\nwebcams\r\n");
        return std::atoi(answer.body.c_str() + firstEnd + 2);
    }

    TempDir relayDirs[3];
    TempDir directoryDir;
    std::vector<std::unique_ptr<RunningRelay>> relays;
    std::vector<int> ports;
};

TEST_F(RelayDirectory, HandsOutStableRelaysAndMovesFewWhenARelayIsAdded) {
    auto directory = startDirectory(ports);
    std::map<std::string, int> assigned;
    std::map<int, int> perRelay;
    for (int i = 0; i < 60; ++i) {
        const int port = portFor(directory->port(), "?id=" + cameraName(i));
        assigned[cameraName(i)] = port;
        ++perRelay[port];
        EXPECT_EQ(portFor(directory->port(), "?id=" + cameraName(i)), port) << "the same again";
    }
    EXPECT_EQ(perRelay.size(), 3u) << "every relay has cameras";
    // The station asks without its camera: it gets the relay of its address, always the same.
    const int byAddress = portFor(directory->port(), "");
    EXPECT_EQ(portFor(directory->port(), ""), byAddress);
    EXPECT_NE(std::find(ports.begin(), ports.end(), byAddress), ports.end());

    TempDir fourthDir;
    RunningRelay fourth(fourthDir.path());
    directory = startDirectory({ports[0], ports[1], ports[2], fourth.port()});
    int moved = 0;
    for (const auto& [camera, port] : assigned) {
        const int now = portFor(directory->port(), "?id=" + camera);
        if (now != port) {
            ++moved;
            EXPECT_EQ(now, fourth.port()) << camera << " moved between the old relays";
        }
    }
    EXPECT_GT(moved, 0);
    EXPECT_LT(moved, 30) << "a new relay takes a share, not half of the cameras";
}

TEST_F(RelayDirectory, ViewerPagesOfACameraPointAtItsRelay) {
    auto directory = startDirectory(ports);
    // One camera where the directory sent it, one on another relay (its station was assigned
    // by its address).
    const int home = portFor(directory->port(), "?id=camA");
    const int other = home == ports[0] ? ports[1] : ports[0];
    ASSERT_EQ(registerCamera(home, "camA").status, 200);
    ASSERT_EQ(registerCamera(other, "camB").status, 200);

    const struct {
        std::string target;
        int relay;
    } cases[] = {
        {"/webcams/view?id=camA", home},
        {"/webcams/camA", home},
        {"/webcams/index.jsp?id=camA&lang=en", home},
        {"/webcams/live?id=camA&t=5", home},
        {"/webcams/stream?id=camA", home},
        {"/webcams/view?id=camB", other},
    };
    for (int round = 0; round < 2; ++round) { // asked, then remembered
        for (const auto& c : cases) {
            const WireAnswer answer = get(directory->port(), c.target);
            EXPECT_EQ(answer.status, 302) << c.target;
            EXPECT_EQ(answer.header("Location"),
                      "http://127.0.0.1:" + std::to_string(c.relay) + c.target);
        }
    }
    const WireAnswer unknown = get(directory->port(), "/webcams/view?id=nobody");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_NE(unknown.body.find("Unknown camera"), std::string::npos);
    EXPECT_EQ(get(home, "/webcams/view?id=camA").status, 200) << "the relay serves it itself";
}

} // namespace
} // namespace reflector

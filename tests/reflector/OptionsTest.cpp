#include "app/Options.h"
#include "core/Text.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

const std::filesystem::path kDefaultData = "/home/someone/.local/share/Kestrova/reflector";

TEST(Options, DefaultsListenLocallyOnPort8080) {
    const auto parsed = parseOptions({}, kDefaultData);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.config.host, "127.0.0.1");
    EXPECT_EQ(parsed.config.port, 8080);
    EXPECT_EQ(parsed.config.dataDir, kDefaultData);
    EXPECT_EQ(parsed.config.publicHost, "");
    EXPECT_EQ(parsed.config.maxCameras, 1000u);
    EXPECT_EQ(parsed.config.transport.maxConnectionsPerAddress, 8u);
    EXPECT_EQ(parsed.config.maxLongPolls, 1000u);
    EXPECT_EQ(parsed.config.transport.maxConnections, 10000u);
    EXPECT_EQ(parsed.config.maxStreams, 1000u);
    EXPECT_EQ(parsed.config.frameCacheBytes, 128u * 1024 * 1024);
    EXPECT_EQ(parsed.config.transport.keepAliveSeconds, 15);
    EXPECT_EQ(parsed.config.commandTimeToLive, std::chrono::seconds(5));
    EXPECT_EQ(parsed.config.visitorWindow, std::chrono::seconds(30));
    EXPECT_EQ(parsed.config.listingTimeToLive, std::chrono::seconds(120));
    EXPECT_EQ(parsed.config.archiveMaxFrames, 2000u);
    EXPECT_EQ(parsed.config.archiveMaxDays, 30);
    EXPECT_FALSE(parsed.help);
}

TEST(Options, ReadsEveryOptionInBothSpellings) {
    const auto spaced = parseOptions({"--host",
                                      "0.0.0.0",
                                      "--port",
                                      "9000",
                                      "--data",
                                      "/srv/relay",
                                      "--public-host",
                                      "cam.example.org",
                                      "--max-cameras",
                                      "25",
                                      "--max-per-address",
                                      "0",
                                      "--max-long-polls",
                                      "4",
                                      "--command-ttl",
                                      "7",
                                      "--visitor-window",
                                      "60",
                                      "--listing-ttl",
                                      "300",
                                      "--archive-max-frames",
                                      "50",
                                      "--archive-max-days",
                                      "3",
                                      "--max-connections",
                                      "500",
                                      "--max-streams",
                                      "20",
                                      "--frame-cache-mb",
                                      "16",
                                      "--keep-alive",
                                      "5",
                                      "--admin-password-file",
                                      "/etc/kestrova/admin",
                                      "--trusted-proxy",
                                      "127.0.0.1,::1"},
                                     kDefaultData);
    ASSERT_EQ(spaced.error, "");
    EXPECT_EQ(spaced.config.host, "0.0.0.0");
    EXPECT_EQ(spaced.config.port, 9000);
    EXPECT_EQ(spaced.config.dataDir, "/srv/relay");
    EXPECT_EQ(spaced.config.publicHost, "cam.example.org");
    EXPECT_EQ(spaced.config.maxCameras, 25u);
    EXPECT_EQ(spaced.config.transport.maxConnectionsPerAddress, 0u) << "no limit";
    EXPECT_EQ(spaced.config.maxLongPolls, 4u);
    EXPECT_EQ(spaced.config.commandTimeToLive, std::chrono::seconds(7));
    EXPECT_EQ(spaced.config.visitorWindow, std::chrono::seconds(60));
    EXPECT_EQ(spaced.config.listingTimeToLive, std::chrono::seconds(300));
    EXPECT_EQ(spaced.config.archiveMaxFrames, 50u);
    EXPECT_EQ(spaced.config.archiveMaxDays, 3);
    EXPECT_EQ(spaced.config.transport.maxConnections, 500u);
    EXPECT_EQ(spaced.config.maxStreams, 20u);
    EXPECT_EQ(spaced.config.frameCacheBytes, 16u * 1024 * 1024);
    EXPECT_EQ(spaced.config.transport.keepAliveSeconds, 5);
    EXPECT_EQ(spaced.config.adminPasswordFile, "/etc/kestrova/admin");
    EXPECT_EQ(spaced.config.trustedProxies, (std::vector<std::string>{"127.0.0.1", "::1"}));

    const auto joined = parseOptions({"--port=0", "--data=/tmp/r", "--public-host=[::1]",
                                      "--max-cameras=1000000", "--max-per-address=1000"},
                                     {});
    ASSERT_EQ(joined.error, "");
    EXPECT_EQ(joined.config.maxCameras, 1000000u);
    EXPECT_EQ(joined.config.transport.maxConnectionsPerAddress, 1000u);
    EXPECT_EQ(joined.config.port, 0);
    EXPECT_EQ(joined.config.dataDir, "/tmp/r");
    EXPECT_EQ(joined.config.publicHost, "[::1]");
}

TEST(Options, HelpStopsReading) {
    EXPECT_TRUE(parseOptions({"--help", "--bogus"}, kDefaultData).help);
    EXPECT_TRUE(parseOptions({"-h"}, kDefaultData).help);
    EXPECT_NE(usageText("reflector").find("--public-host"), std::string::npos);
    EXPECT_NE(usageText("reflector").find("--max-cameras"), std::string::npos);
    for (const char* option :
         {"--max-per-address", "--max-long-polls", "--command-ttl", "--visitor-window",
          "--listing-ttl", "--archive-max-frames", "--archive-max-days", "--max-connections",
          "--max-streams", "--frame-cache-mb", "--keep-alive"}) {
        EXPECT_NE(usageText("reflector").find(option), std::string::npos) << option;
    }
}

TEST(Options, RefusesBadArgumentsWithAReason) {
    const struct {
        std::vector<std::string> args;
        const char* mentions;
    } cases[] = {
        {{"--port"}, "--port"},
        {{"--port", "80a"}, "80a"},
        {{"--port", "65536"}, "65536"},
        {{"--port", "-1"}, "-1"},
        {{"--port="}, "--port"},
        {{"--host", ""}, "--host"},
        {{"--data="}, "--data"},
        {{"--public-host", "bad host\r\n"}, "--public-host"},
        {{"--verbose"}, "--verbose"},
        {{"extra"}, "extra"},
        {{"--max-cameras", "0"}, "--max-cameras"},
        {{"--max-cameras", "1000001"}, "1000001"},
        {{"--max-cameras", "ten"}, "ten"},
        {{"--max-per-address", "1001"}, "--max-per-address"},
        {{"--max-per-address", "-1"}, "-1"},
        {{"--max-long-polls", "100001"}, "--max-long-polls"},
        {{"--max-connections", "0"}, "--max-connections"},
        {{"--relays", "a.example.org:8081"}, "unknown argument '--relays'"},
        {{"--command-ttl", "0"}, "--command-ttl"},
        {{"--visitor-window", "3601"}, "--visitor-window"},
        {{"--listing-ttl", "0"}, "--listing-ttl"},
        {{"--archive-max-frames", "0"}, "--archive-max-frames"},
        {{"--archive-max-days", "3651"}, "--archive-max-days"},
        {{"--admin-password-file", ""}, "--admin-password-file"},
        {{"--trusted-proxy", "proxy.example.org"}, "proxy.example.org"},
        {{"--trusted-proxy", "127.0.0.1,"}, "--trusted-proxy"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseOptions(c.args, kDefaultData);
        EXPECT_NE(parsed.error.find(c.mentions), std::string::npos)
            << "error '" << parsed.error << "' for " << c.args.front();
    }
}

TEST(Options, DataFolderFollowsXdgThenHome) {
    EXPECT_EQ(defaultDataDir("/xdg", "/home/u"), "/xdg/Kestrova/reflector");
    EXPECT_EQ(defaultDataDir("relative", "/home/u"), "/home/u/.local/share/Kestrova/reflector");
    EXPECT_EQ(defaultDataDir(nullptr, "/home/u"), "/home/u/.local/share/Kestrova/reflector");
    EXPECT_EQ(defaultDataDir(nullptr, nullptr), "");
    EXPECT_NE(parseOptions({}, {}).error, "");
    EXPECT_EQ(parseOptions({"--data", "/d"}, {}).error, "");
}

TEST(Options, HostNamesForTheDirectory) {
    for (const char* ok : {"localhost", "relay.example.org", "192.0.2.7", "::1", "[2001:db8::1]"}) {
        EXPECT_TRUE(isValidHostName(ok)) << ok;
    }
    for (const char* bad : {"", "two words", "a\r\nb", "host/path", "h\"x"}) {
        EXPECT_FALSE(isValidHostName(bad)) << bad;
    }
}

} // namespace
} // namespace reflector

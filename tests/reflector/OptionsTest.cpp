#include "Options.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

const std::filesystem::path kDefaultData = "/home/someone/.local/share/Kestrova/reflector";

TEST(Options, DefaultsListenLocallyOnPort8080) {
    const auto parsed = parseOptions({}, kDefaultData);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.host, "127.0.0.1");
    EXPECT_EQ(parsed.options.port, 8080);
    EXPECT_EQ(parsed.options.dataDir, kDefaultData);
    EXPECT_EQ(parsed.options.publicHost, "");
    EXPECT_EQ(parsed.options.maxCameras, 1000u);
    EXPECT_EQ(parsed.options.maxPerAddress, 8u);
    EXPECT_EQ(parsed.options.maxLongPolls, 1000u);
    EXPECT_EQ(parsed.options.maxConnections, 10000u);
    EXPECT_EQ(parsed.options.maxStreams, 1000u);
    EXPECT_EQ(parsed.options.frameCacheMiB, 128u);
    EXPECT_EQ(parsed.options.keepAlive, 15);
    EXPECT_TRUE(parsed.options.relays.empty());
    EXPECT_EQ(parsed.options.commandTtl, 5);
    EXPECT_EQ(parsed.options.visitorWindow, 30);
    EXPECT_EQ(parsed.options.listingTtl, 120);
    EXPECT_EQ(parsed.options.archiveMaxFrames, 2000u);
    EXPECT_EQ(parsed.options.archiveMaxDays, 30);
    EXPECT_FALSE(parsed.options.help);
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
                                      "--relays",
                                      "a.example.org:8080,192.0.2.9:9000=https://cams.example.org",
                                      "--admin-password-file",
                                      "/etc/kestrova/admin",
                                      "--trusted-proxy",
                                      "127.0.0.1,::1"},
                                     kDefaultData);
    ASSERT_EQ(spaced.error, "");
    EXPECT_EQ(spaced.options.host, "0.0.0.0");
    EXPECT_EQ(spaced.options.port, 9000);
    EXPECT_EQ(spaced.options.dataDir, "/srv/relay");
    EXPECT_EQ(spaced.options.publicHost, "cam.example.org");
    EXPECT_EQ(spaced.options.maxCameras, 25u);
    EXPECT_EQ(spaced.options.maxPerAddress, 0u) << "no limit";
    EXPECT_EQ(spaced.options.maxLongPolls, 4u);
    EXPECT_EQ(spaced.options.commandTtl, 7);
    EXPECT_EQ(spaced.options.visitorWindow, 60);
    EXPECT_EQ(spaced.options.listingTtl, 300);
    EXPECT_EQ(spaced.options.archiveMaxFrames, 50u);
    EXPECT_EQ(spaced.options.archiveMaxDays, 3);
    EXPECT_EQ(spaced.options.maxConnections, 500u);
    EXPECT_EQ(spaced.options.maxStreams, 20u);
    EXPECT_EQ(spaced.options.frameCacheMiB, 16u);
    EXPECT_EQ(spaced.options.keepAlive, 5);
    ASSERT_EQ(spaced.options.relays.size(), 2u);
    EXPECT_EQ(spaced.options.relays[0].name(), "a.example.org:8080");
    EXPECT_EQ(spaced.options.relays[0].viewerBase, "http://a.example.org:8080");
    EXPECT_EQ(spaced.options.relays[1].name(), "192.0.2.9:9000");
    EXPECT_EQ(spaced.options.relays[1].viewerBase, "https://cams.example.org");
    EXPECT_EQ(spaced.options.adminPasswordFile, "/etc/kestrova/admin");
    EXPECT_EQ(spaced.options.trustedProxies, (std::vector<std::string>{"127.0.0.1", "::1"}));

    const auto joined = parseOptions({"--port=0", "--data=/tmp/r", "--public-host=[::1]",
                                      "--max-cameras=1000000", "--max-per-address=1000"},
                                     {});
    ASSERT_EQ(joined.error, "");
    EXPECT_EQ(joined.options.maxCameras, 1000000u);
    EXPECT_EQ(joined.options.maxPerAddress, 1000u);
    EXPECT_EQ(joined.options.port, 0);
    EXPECT_EQ(joined.options.dataDir, "/tmp/r");
    EXPECT_EQ(joined.options.publicHost, "[::1]");
}

TEST(Options, HelpStopsReading) {
    EXPECT_TRUE(parseOptions({"--help", "--bogus"}, kDefaultData).options.help);
    EXPECT_TRUE(parseOptions({"-h"}, kDefaultData).options.help);
    EXPECT_NE(usageText("reflector").find("--public-host"), std::string::npos);
    EXPECT_NE(usageText("reflector").find("--max-cameras"), std::string::npos);
    for (const char* option :
         {"--max-per-address", "--max-long-polls", "--command-ttl", "--visitor-window",
          "--listing-ttl", "--archive-max-frames", "--archive-max-days", "--max-connections",
          "--max-streams", "--frame-cache-mb", "--keep-alive", "--relays"}) {
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
        {{"--relays", ""}, "empty"},
        {{"--relays", "a.example.org"}, "a.example.org"},
        {{"--relays", "a:70000"}, "a:70000"},
        {{"--relays", "a:1,a:1"}, "twice"},
        {{"--relays", "a:1=ftp://a"}, "ftp://a"},
        {{"--relays", "a:1=https://a/path"}, "https://a/path"},
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

// The helper's lifetime: the shutdown request, a taken port, the end without a station, and its
// log.

#include "BeaconSupport.h"
#include "BeaconTestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sstream>

namespace beacon::test {
namespace {

// A listing host that lists everything and removes on request.
FakeHttpHost::Handler Listing() {
    return [](const HttpRequest& r) {
        if (r.path() == "/live/post") {
            return HttpReply{200, "Listing: true token=00112233445566778899aabbccddeeff"};
        }
        return HttpReply{200, r.path() == "/live/check" ? "Listed: true" : "Listing: true"};
    };
}

// "2025-03-14 09:26:53.512 text": a local date and time, then the text.
bool Stamped(const std::string& line) {
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd ";
    if (line.size() <= shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i]))
                            : line[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

TEST(Lifetime, ShutdownAndSignalsRemoveTheEntryAndEndTheHelper) {
    for (const bool bySignal : {false, true}) {
        FakeHttpHost listing(Listing());
        Helper helper;
        ASSERT_EQ(
            Ask(helper.port(), "begin_posting",
                ListingDataString("127.0.0.1:" + std::to_string(listing.port()), 8080, "cam1"))
                .text,
            "Posting; Start OK\r\n");
        ASSERT_TRUE(listing.waitForRequests("/live/post", 1, 5000));
        int code = -2;
        if (bySignal) {
            helper.process().kill(SIGTERM);
            ASSERT_TRUE(helper.process().waitEnd(10000, &code));
            EXPECT_TRUE(helper.waitForLog("Terminated; removing the listing entry and stopping"));
        } else {
            const Reply reply = Ask(helper.port(), "shutdown");
            EXPECT_EQ(reply.text, "Shutdown;\r\n");
            EXPECT_TRUE(reply.closed);
            ASSERT_TRUE(helper.process().waitEnd(10000, &code));
            EXPECT_EQ(code, 0);
            EXPECT_TRUE(helper.waitForLog("Shutdown requested by the station"));
        }
        EXPECT_EQ(listing.requests("/live/remove").size(), 1u) << "signal " << bySignal;
        EXPECT_TRUE(helper.waitForLog("BeaconServer stopped"));
        // The port is free for the next helper.
        Helper::Options next;
        next.port = helper.port();
        EXPECT_NO_THROW(Helper{next});
    }
}

TEST(Lifetime, ASecondHelperOnATakenPortEndsWithCodeOne) {
    Helper first;
    TempDir dir;
    Process second({BEACON_JAVA, "-jar", BEACON_JAR, std::to_string(first.port()), "false"},
                   dir.path(), {}, dir.path() / "console.txt");
    int code = -2;
    ASSERT_TRUE(second.waitEnd(20000, &code));
    EXPECT_EQ(code, 1);
    EXPECT_NE(ReadFile(dir.path() / "BeaconServer.log")
                  .find("Cannot listen on 127.0.0.1 port " + std::to_string(first.port())),
              std::string::npos);
    EXPECT_EQ(Ask(first.port(), "stop_polling").text, "Polling; Stop OK\r\n");
}

TEST(Lifetime, EndsWhenIdleWithoutItsStation) {
    Process finished({"/bin/true"}, "/", {}, "/dev/null");
    ASSERT_TRUE(finished.waitEnd(5000));
    const struct {
        std::optional<std::string> pid;
        std::string reason;
    } cases[] = {
        {std::nullopt, "no station process id was given"},
        {"not-a-pid", "no station process id was given"},
        {std::to_string(finished.pid()),
         "the station (pid " + std::to_string(finished.pid()) + ") has ended"},
    };
    for (const auto& c : cases) {
        FakeHttpHost listing(Listing());
        Helper::Options options;
        options.env["KESTROVA_STATION_PID"] = c.pid;
        options.env["KESTROVA_BEACON_EXIT_IDLE_MS"] = "300";
        Helper helper(options);
        // A station's request resets the idle time.
        ASSERT_EQ(
            Ask(helper.port(), "begin_posting",
                ListingDataString("127.0.0.1:" + std::to_string(listing.port()), 8080, "cam1"))
                .text,
            "Posting; Start OK\r\n");
        int code = -2;
        ASSERT_TRUE(helper.process().waitEnd(15000, &code)) << c.reason;
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(helper.waitForLog(c.reason + "; exiting", 0)) << helper.log();
        EXPECT_EQ(listing.requests("/live/remove").size(), 1u) << c.reason;
    }
}

TEST(Lifetime, StaysWhileItsStationRuns) {
    TempDir dir;
    Process station({"/bin/sleep", "600"}, dir.path(), {}, "/dev/null");
    Helper::Options options;
    options.env["KESTROVA_STATION_PID"] = std::to_string(station.pid());
    options.env["KESTROVA_BEACON_EXIT_IDLE_MS"] = "200";
    Helper helper(options);
    ASSERT_TRUE(helper.waitForLog("still runs"));
    EXPECT_FALSE(helper.process().ended());

    station.kill(SIGKILL);
    ASSERT_TRUE(station.waitEnd(5000));
    int code = -2;
    ASSERT_TRUE(helper.process().waitEnd(10000, &code));
    EXPECT_EQ(code, 0);
}

TEST(Lifetime, TheLogIsStampedAndCapped) {
    Helper::Options options;
    options.env["KESTROVA_BEACON_LOG_MAX"] = "2048";
    Helper helper(options);
    const auto rotated = helper.dir() / "BeaconServer.log.1";
    for (int i = 0; i < 200 && !std::filesystem::exists(rotated); ++i) {
        Ask(helper.port(), "no_such_request_" + std::to_string(i));
    }
    ASSERT_TRUE(std::filesystem::exists(rotated));
    for (const auto& file : {rotated, helper.dir() / "BeaconServer.log"}) {
        const std::string text = ReadFile(file);
        EXPECT_LE(text.size(), 2048u) << file;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(Stamped(line)) << line;
        }
    }
}

} // namespace
} // namespace beacon::test

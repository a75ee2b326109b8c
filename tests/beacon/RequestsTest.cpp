// The helper's request channel: every request answered with the phrases the station looks for,
// then closed; bad lines, over-long lines and silent clients.

#include "BeaconSupport.h"
#include "BeaconTestSupport.h"

#include <gtest/gtest.h>

namespace beacon::test {
namespace {

TEST(Requests, EachIsAnsweredWithItsPhrasesAndClosed) {
    Helper helper;
    RefusingPort down;
    FakePtzListener listener;
    const std::string data =
        ListingDataString("127.0.0.1:" + std::to_string(down.port()), down.port(), "cam1");
    const struct {
        std::string request;
        std::optional<std::string> parameter;
        std::vector<std::string> phrases;
    } cases[] = {
        {"check_posting", std::nullopt, {"Posting;", "Check FAIL"}},
        {"begin_posting", data, {"Posting;", "Start OK"}},
        {"edit_posting", data, {"Posting;"}},
        {"stop_posting", std::nullopt, {"Posting;", "Stop OK"}},
        {"start_polling",
         RelayParameterLine(down.port(), "MoveRouterProxy", "cam1", listener.port()),
         {"Polling;", "Start OK"}},
        {"stop_polling", std::nullopt, {"Polling;", "Stop OK"}},
        {"start_reflector",
         RelayParameterLine(down.port(), "CheckVisitorStatus", "cam1", listener.port()),
         {"Reflector;", "Start OK"}},
        {"stop_reflector", std::nullopt, {"Reflector;", "Stop OK"}},
        {"thread_dump", std::nullopt, {"Dump OK"}},
        {"begin_posting_now", std::nullopt, {}},
        {"", std::nullopt, {}},
    };
    for (const auto& c : cases) {
        const Reply reply = Ask(helper.port(), c.request, c.parameter);
        EXPECT_TRUE(reply.closed) << c.request;
        ExpectOnlyPhrases(reply.text, c.phrases, c.request);
        if (c.phrases.empty()) {
            EXPECT_EQ(reply.text, "Error: unknown request\r\n") << c.request;
        }
    }
    EXPECT_TRUE(helper.waitForLog("Thread dump: "));
    EXPECT_NE(helper.log().find("    at "), std::string::npos) << "stack frames in the dump";
}

TEST(Requests, BadParameterLinesAreRefusedWithoutEchoingThem) {
    Helper helper;
    const std::string good = ListingDataString("127.0.0.1:9", 8080, "cam1");
    const auto withField = [&good](int index, const std::string& value) {
        return ReplaceField(good, index, value);
    };
    const std::string relay = "http://127.0.0.1:8080/webcams/";
    const struct {
        std::string request;
        std::string parameter;
        std::vector<std::string> phrases;
    } cases[] = {
        {"begin_posting", good + "&1", {"Posting;", "Start FAIL"}},
        {"begin_posting", good.substr(0, good.rfind('&')), {"Posting;", "Start FAIL"}},
        {"begin_posting", withField(1, "host name:80"), {"Posting;", "Start FAIL"}},
        {"begin_posting", withField(3, "70000"), {"Posting;", "Start FAIL"}},
        {"begin_posting", withField(6, "My Cam"), {"Posting;", "Start FAIL"}},
        {"begin_posting", withField(7, "a%2"), {"Posting;", "Start FAIL"}},
        {"begin_posting", withField(9, "2"), {"Posting;", "Start FAIL"}},
        {"begin_posting", withField(11, "Start OK;Polling;Stop OK"), {"Posting;", "Start FAIL"}},
        {"begin_posting", "", {"Posting;", "Start FAIL"}},
        {"begin_posting", std::string(5000, 'x'), {"Posting;", "Start FAIL"}},
        {"edit_posting", withField(12, "yes"), {"Posting;", "Edit FAIL"}},
        {"start_polling", relay + "MoveRouterProxy?id=cam1;0", {"Polling;", "Start FAIL"}},
        {"start_polling", relay + "CheckVisitorStatus?id=cam1;4321", {"Polling;", "Start FAIL"}},
        {"start_polling", relay + "MoveRouterProxy?id=Start OK;4321", {"Polling;", "Start FAIL"}},
        {"start_polling",
         "ftp://127.0.0.1/MoveRouterProxy?id=cam1;4321",
         {"Polling;", "Start FAIL"}},
        {"start_reflector", relay + "CheckVisitorStatus?id=cam1", {"Reflector;", "Start FAIL"}},
        {"start_reflector",
         relay + "CheckVisitorStatus?id=cam/1;4321",
         {"Reflector;", "Start FAIL"}},
    };
    for (const auto& c : cases) {
        const Reply reply = Ask(helper.port(), c.request, c.parameter);
        const std::string label = c.request + " " + c.parameter.substr(0, 80);
        EXPECT_TRUE(reply.closed) << label;
        ExpectOnlyPhrases(reply.text, c.phrases, label);
    }
    // Nothing was started by the refused lines.
    ExpectOnlyPhrases(Ask(helper.port(), "check_posting").text, {"Posting;", "Check FAIL"},
                      "check after refusals");
    EXPECT_EQ(helper.log().find("Polling: started"), std::string::npos);
}

TEST(Requests, ARequestLineOverTheLimitClosesTheConnection) {
    Helper helper;
    const struct {
        std::string line;
        bool answered;
    } cases[] = {
        {std::string(256, 'a') + "\r\n", true},
        {std::string(256, 'a') + "\n", true},
        {std::string(257, 'a') + "\r\n", false},
        {std::string(20000, 'a'), false},
    };
    for (const auto& c : cases) {
        const Reply reply = SendRaw(helper.port(), c.line);
        EXPECT_TRUE(reply.closed) << c.line.size();
        EXPECT_EQ(reply.text, c.answered ? "Error: unknown request\r\n" : "") << c.line.size();
    }
    EXPECT_TRUE(helper.waitForLog("A client sent a line longer than 256 bytes", 5000, 2));
    ExpectOnlyPhrases(Ask(helper.port(), "stop_polling").text, {"Polling;", "Stop OK"},
                      "still answering");
}

TEST(Requests, ASilentClientIsDropped) {
    Helper::Options options;
    options.env["KESTROVA_BEACON_IDLE_MS"] = "300";
    Helper helper(options);
    for (const std::string sent : {"", "begin_posting\r\n", "check_pos"}) {
        const Reply reply = SendRaw(helper.port(), sent, 5000);
        EXPECT_TRUE(reply.closed) << sent;
        EXPECT_EQ(reply.text, "") << sent;
        EXPECT_GE(reply.ms, 250) << sent;
    }
    EXPECT_TRUE(helper.waitForLog("A client sent nothing for 300 ms; connection dropped", 5000, 3));
}

TEST(Requests, OneClientDoesNotHoldUpAnother) {
    Helper helper;
    FakeHttpHost hanging([](const HttpRequest&) { return HttpReply{200, "", 0, true}; });
    ASSERT_EQ(Ask(helper.port(), "begin_posting",
                  ListingDataString("127.0.0.1:" + std::to_string(hanging.port()), 8080, "cam1"))
                  .text,
              "Posting; Start OK\r\n");
    OpenConnection silent(helper.port());
    std::optional<Reply> check;
    std::thread checker([&] { check = Ask(helper.port(), "check_posting"); });
    ASSERT_TRUE(hanging.waitForRequests("/live/check", 1, 5000));
    // Meanwhile another request is answered at once.
    const Reply other = Ask(helper.port(), "stop_reflector");
    EXPECT_EQ(other.text, "Reflector; Stop OK\r\n");
    EXPECT_LT(other.ms, 1000);
    checker.join();
    ASSERT_TRUE(check);
    // The station waits about 10 s for an answer; a hanging listing host must not take that.
    EXPECT_EQ(check->text, "Posting; Check FAIL\r\n");
    EXPECT_LT(check->ms, 6000);
    EXPECT_GE(check->ms, 3500);
}

} // namespace
} // namespace beacon::test

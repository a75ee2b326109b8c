// The chat rooms beside the camera pages.

#include "RelaySupport.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

HttpAnswer say(Handlers& relay, const std::string& body, const std::string& client = "127.0.0.1") {
    return relay(formPost("/fchat/send", body, client));
}

TEST(Chat, MessagesReachTheRoomsPageAndItsScriptInOrder) {
    Handlers relay;
    ASSERT_EQ(say(relay, "room=Kestrova%20Chat%3A0&name=Ann&text=Hello").status, 204);
    ASSERT_EQ(say(relay, "room=Kestrova%20Chat%3A0&name=Bob&text=%20Hi%0Athere%20").status, 204);
    ASSERT_EQ(say(relay, "room=Other%3A1&name=Cy&text=Elsewhere").status, 204);
    const HttpAnswer page =
        relay(getRequest("/fchat/chat2.php?path=1&name=Dee&room=Kestrova%20Chat:0"));
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(contains(page.body, "<h1>Kestrova Chat</h1>"));
    EXPECT_TRUE(contains(page.body, "<b>Ann</b> Hello"));
    EXPECT_TRUE(contains(page.body, "<b>Bob</b> Hi there"));
    EXPECT_FALSE(contains(page.body, "Elsewhere")) << "one room per name";
    EXPECT_TRUE(contains(page.body, "name=\"name\" value=\"Dee\""));
    EXPECT_TRUE(contains(page.body, "data-last=\"2\""));

    const HttpAnswer all = relay(getRequest("/fchat/messages?room=Kestrova%20Chat%3A0"));
    EXPECT_EQ(all.body.find("\"name\":\"Ann\"") < all.body.find("\"name\":\"Bob\""), true);
    const HttpAnswer newer = relay(getRequest("/fchat/messages?room=Kestrova%20Chat%3A0&after=1"));
    EXPECT_TRUE(contains(newer.body, "{\"messages\":[{\"id\":2,\"name\":\"Bob\","
                                     "\"text\":\"Hi there\",\"at\":\"2026-12-07T00:00:00Z\"}]}"))
        << newer.body;

    // Without the page's script the form comes back to the room.
    relay.clock.advance(std::chrono::seconds(2));
    const HttpAnswer form = say(relay, "room=Kestrova%20Chat%3A0&name=Ann&text=Again&return=page");
    EXPECT_EQ(form.status, 303);
}

TEST(Chat, RefusesWhatIsNotAMessageAndSlowsDownTalkers) {
    Handlers relay;
    const struct {
        std::string body;
        int status;
    } cases[] = {
        {"room=R%3A0&name=&text=x", 400},
        {"room=R%3A0&name=Ann&text=%20", 400},
        {"room=R%3A0&name=Ann&text=" + std::string(501, 't'), 400},
        {"room=R%3A0&name=" + std::string(41, 'n') + "&text=x", 400},
        {"room=R%3A0&name=A%00n&text=x", 400},
        {"room=R%3A0&name=Ann&text=%FF%FE", 400},
        {"room=&name=Ann&text=x", 400},
        {"room=" + std::string(301, 'r') + "&name=Ann&text=x", 400},
        {"room=R%3A0&name=Ann&text=one", 204},
        {"room=R%3A0&name=Ann&text=two", 204},
        {"room=R%3A0&name=Ann&text=three", 204},
        {"room=R%3A0&name=Ann&text=four", 429},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(say(relay, c.body).status, c.status) << c.body.substr(0, 60);
    }
    EXPECT_EQ(say(relay, "room=R%3A0&name=Bo&text=hi", "192.0.2.4").status, 204);
    relay.clock.advance(std::chrono::seconds(2));
    EXPECT_EQ(say(relay, "room=R%3A0&name=Ann&text=four").status, 204);
    HttpRequest forged = formPost("/fchat/send", "room=R%3A0&name=Ann&text=spam");
    forged.headers.emplace_back("Origin", "http://evil.example");
    forged.headers.emplace_back("Host", "relay");
    EXPECT_EQ(relay(forged).status, 403);
}

TEST(Chat, KeepsMessagesForADayAndTheNewestOfARoom) {
    Handlers relay;
    ChatStore& chat = relay.storage->chat();
    chat.post("R:0", "Ann", "old");
    relay.clock.advance(std::chrono::hours(23));
    chat.post("R:0", "Ann", "recent");
    EXPECT_EQ(chat.messages("R:0", 0).size(), 2u);
    relay.clock.advance(std::chrono::hours(2));
    const auto kept = chat.messages("R:0", 0);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].text, "recent");
    for (std::size_t i = 0; i < kMaxRoomMessages + 10; ++i) {
        chat.post("R:0", "Ann", "m" + std::to_string(i));
    }
    const auto newest = chat.messages("R:0", 0, 1000);
    ASSERT_EQ(newest.size(), kMaxRoomMessages);
    EXPECT_EQ(newest.back().text, "m" + std::to_string(kMaxRoomMessages + 9));
}

} // namespace
} // namespace reflector

#include "routes/ChatRoutes.h"

#include "core/Text.h"
#include "pages/Pages.h"
#include "routes/Answers.h"
#include "routes/Forms.h"

#include <algorithm>
#include <optional>

namespace reflector {

namespace {

// A chat room: "name:number" as the station names it, or any short text; empty when refused.
std::string checkRoom(const std::string& room) {
    if (room.empty() || room.size() > kMaxRoomBytes || hasControlCharacters(room) ||
        validUtf8(room) != room) {
        return {};
    }
    return room;
}

} // namespace

void ChatRoutes::addRoutes(Router& r) {
    r.add("GET", "/fchat/chat2.php", [this](const HttpRequest& req) { return chatPage(req); });
    r.add("GET", "/fchat/messages", [this](const HttpRequest& req) { return chatMessages(req); });
    r.add("POST", "/fchat/send", [this](const HttpRequest& req) { return chatSend(req); });
}

HttpAnswer ChatRoutes::chatPage(const HttpRequest& req) {
    const std::string room =
        checkRoom(req.hasParam("room") ? req.param("room") : std::string("Kestrova Chat:0"));
    if (room.empty()) {
        return pageMessage(400, "Not a chat room",
                           "A room name has at most 300 characters, without control characters.");
    }
    const std::string user = cleanName(req.param("name"), kMaxChatNameBytes);
    return htmlAnswer(200, reflector::chatPage(room, user, chat_.messages(room, 0)));
}

HttpAnswer ChatRoutes::chatMessages(const HttpRequest& req) {
    const std::string room = checkRoom(req.param("room"));
    if (room.empty()) {
        return textAnswer(400, "Not a chat room");
    }
    const auto after =
        req.hasParam("after") ? readId(req.param("after")) : std::optional<std::int64_t>(0);
    if (!after) {
        return textAnswer(400, "after must be a message number");
    }
    HttpAnswer answer = textAnswer(200, chatJson(chat_.messages(room, *after)));
    answer.contentType = "application/json";
    return answer;
}

HttpAnswer ChatRoutes::chatSend(const HttpRequest& req) {
    if (!sameOrigin(req)) {
        return otherSite();
    }
    if (!isForm(req)) {
        return textAnswer(400, "Chat: expected a form");
    }
    const Fields fields = parseForm(req.body);
    const std::string room = checkRoom(formField(fields, "room"));
    if (room.empty()) {
        return textAnswer(400, "Chat: not a chat room");
    }
    const std::string name = trimmed(formField(fields, "name"));
    std::string text = formField(fields, "text");
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    text = trimmed(text);
    if (name.empty() || !checkOwnerText(name, kMaxChatNameBytes, false, "name").empty()) {
        return textAnswer(400, "Chat: a name has 1 to 40 characters");
    }
    if (text.empty() || !checkOwnerText(text, kMaxChatTextBytes, false, "text").empty()) {
        return textAnswer(400, "Chat: a message has 1 to 500 characters");
    }
    if (!chatRate_.allow(clients_.of(req))) {
        HttpAnswer slow = textAnswer(429, "Chat: too many messages, wait a moment");
        slow.headers.emplace_back("Retry-After", "2");
        return slow;
    }
    chat_.post(room, name, text);
    if (formField(fields, "return") == "page") {
        return redirect("/fchat/chat2.php?path=1&name=" + urlEncode(name) +
                        "&room=" + urlEncode(room));
    }
    HttpAnswer sent;
    sent.status = 204;
    return sent;
}

} // namespace reflector

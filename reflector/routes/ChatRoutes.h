#pragma once

// The chat rooms beside the camera pages: the room's page, its messages for the page's script,
// and sending a message.

#include "core/Http.h"
#include "routes/Shared.h"
#include "stores/Chat.h"
#include "stores/ViewerGuard.h"

namespace reflector {

class ChatRoutes {
  public:
    ChatRoutes(ChatStore& chat, RateLimiter& chatRate, const Clients& clients)
        : chat_(chat), chatRate_(chatRate), clients_(clients) {}
    ChatRoutes(const ChatRoutes&) = delete;
    ChatRoutes& operator=(const ChatRoutes&) = delete;

    void addRoutes(Router& router);

  private:
    HttpAnswer chatPage(const HttpRequest& req);
    HttpAnswer chatMessages(const HttpRequest& req);
    HttpAnswer chatSend(const HttpRequest& req);

    ChatStore& chat_;
    RateLimiter& chatRate_;
    const Clients& clients_;
};

} // namespace reflector

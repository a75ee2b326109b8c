#pragma once

#include "core/Time.h"
#include "stores/Chat.h"
#include "stores/embedded/Database.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace reflector {

// The chat rooms' messages in the relay's database (table `chat_messages`).
class SqliteChatStore : public ChatStore {
  public:
    SqliteChatStore(Database& db, TimeSource now,
                    std::chrono::milliseconds keep = std::chrono::hours(24));

    ChatMessage post(const std::string& room, const std::string& name,
                     const std::string& text) override;
    std::vector<ChatMessage> messages(const std::string& room, std::int64_t after,
                                      std::size_t limit = 100) override;

  private:
    void removeOld(); // with the lock held

    Database& db_;
    TimeSource now_;
    std::chrono::milliseconds keep_;
};

} // namespace reflector

#pragma once

// The chat rooms beside the camera pages: one room per room name (the station names its room
// "Kestrova Chat:0": the name, ':' and a number), messages kept for a day, at most
// kMaxRoomMessages per room, in the relay's database. Safe to use from several threads.

#include "Database.h"
#include "Time.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace reflector {

struct ChatMessage {
    std::int64_t id = 0; // increasing over all rooms
    std::string name;    // who wrote it
    std::string text;
    std::string at; // UTC, ISO 8601
};

constexpr std::size_t kMaxRoomBytes = 300;
constexpr std::size_t kMaxChatNameBytes = 40;
constexpr std::size_t kMaxChatTextBytes = 500;
constexpr std::size_t kMaxRoomMessages = 200;

class ChatStore {
  public:
    ChatStore(Database& db, TimeSource now,
              std::chrono::milliseconds keep = std::chrono::hours(24));

    // Keeps a message (the caller checked room, name and text); returns it with its id.
    ChatMessage post(const std::string& room, const std::string& name, const std::string& text);
    // The room's messages after the one numbered `after`, oldest first, at most `limit` (the
    // newest of them).
    std::vector<ChatMessage> messages(const std::string& room, std::int64_t after,
                                      std::size_t limit = 100);

  private:
    void removeOld(); // with the lock held

    Database& db_;
    TimeSource now_;
    std::chrono::milliseconds keep_;
};

} // namespace reflector

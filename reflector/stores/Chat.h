#pragma once

// The chat rooms beside the camera pages: one room per room name (the station names its room
// "Kestrova Chat:0": the name, ':' and a number), messages kept for a day, at most
// kMaxRoomMessages per room.

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

// Failures throw StorageError.
class ChatStore {
  public:
    virtual ~ChatStore() = default;

    // Keeps a message (the caller checked room, name and text); returns it with its id.
    virtual ChatMessage post(const std::string& room, const std::string& name,
                             const std::string& text) = 0;
    // The room's messages after the one numbered `after`, oldest first, at most `limit` (the
    // newest of them).
    virtual std::vector<ChatMessage> messages(const std::string& room, std::int64_t after,
                                              std::size_t limit = 100) = 0;
};

} // namespace reflector

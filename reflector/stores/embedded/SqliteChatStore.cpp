#include "stores/embedded/SqliteChatStore.h"

namespace reflector {

SqliteChatStore::SqliteChatStore(Database& db, TimeSource now, std::chrono::milliseconds keep)
    : db_(db), now_(std::move(now)), keep_(keep) {
    auto lock = db_.lock();
    db_.execute("CREATE TABLE IF NOT EXISTS chat_messages ("
                " id INTEGER PRIMARY KEY AUTOINCREMENT, room TEXT NOT NULL,"
                " name TEXT NOT NULL, text TEXT NOT NULL, at INTEGER NOT NULL)");
    db_.execute("CREATE INDEX IF NOT EXISTS chat_messages_room ON chat_messages (room, id)");
}

void SqliteChatStore::removeOld() {
    Statement s(db_, "DELETE FROM chat_messages WHERE at < ?1");
    s.bind(1, unixMillis(now_()) - keep_.count());
    s.run();
}

ChatMessage SqliteChatStore::post(const std::string& room, const std::string& name,
                                  const std::string& text) {
    const std::int64_t now = unixMillis(now_());
    auto lock = db_.lock();
    Transaction transaction(db_);
    removeOld();
    Statement insert(db_, "INSERT INTO chat_messages (room, name, text, at)"
                          " VALUES (?1, ?2, ?3, ?4)");
    insert.bind(1, room);
    insert.bind(2, name);
    insert.bind(3, text);
    insert.bind(4, now);
    insert.run();
    const std::int64_t id = db_.lastInsertId();
    Statement trim(db_, "DELETE FROM chat_messages WHERE room = ?1 AND id NOT IN"
                        " (SELECT id FROM chat_messages WHERE room = ?1 ORDER BY id DESC"
                        " LIMIT ?2)");
    trim.bind(1, room);
    trim.bind(2, static_cast<std::int64_t>(kMaxRoomMessages));
    trim.run();
    transaction.commit();
    return ChatMessage{id, name, text, isoTime(now)};
}

std::vector<ChatMessage> SqliteChatStore::messages(const std::string& room, std::int64_t after,
                                                   std::size_t limit) {
    auto lock = db_.lock();
    Statement s(db_, "SELECT id, name, text, at FROM chat_messages"
                     " WHERE room = ?1 AND id > ?2 AND at >= ?3 ORDER BY id DESC LIMIT ?4");
    s.bind(1, room);
    s.bind(2, after);
    s.bind(3, unixMillis(now_()) - keep_.count());
    s.bind(4, static_cast<std::int64_t>(limit));
    std::vector<ChatMessage> out;
    while (s.step()) {
        out.push_back({s.integer(0), s.text(1), s.text(2), isoTime(s.integer(3))});
    }
    return {out.rbegin(), out.rend()};
}

} // namespace reflector

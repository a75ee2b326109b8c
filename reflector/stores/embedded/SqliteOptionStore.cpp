#include "stores/embedded/SqliteOptionStore.h"

namespace reflector {

SqliteOptionStore::SqliteOptionStore(Database& db) : db_(db) {
    auto lock = db_.lock();
    db_.execute("CREATE TABLE IF NOT EXISTS camera_options ("
                " camera TEXT PRIMARY KEY NOT NULL,"
                " zoom INTEGER NOT NULL, snapshot INTEGER NOT NULL, chat INTEGER NOT NULL,"
                " secure INTEGER NOT NULL, ptz INTEGER NOT NULL, presets INTEGER NOT NULL,"
                " archive INTEGER NOT NULL, chat_room TEXT NOT NULL,"
                " chat_number INTEGER NOT NULL, password_hash TEXT NOT NULL,"
                " synced_at TEXT NOT NULL)");
    Statement s(db_, "SELECT camera, zoom, snapshot, chat, secure, ptz, presets, archive,"
                     " chat_room, chat_number, synced_at, password_hash FROM camera_options");
    while (s.step()) {
        CameraOptions o;
        o.camera = s.text(0);
        o.zoom = s.integer(1) != 0;
        o.snapshot = s.integer(2) != 0;
        o.chat = s.integer(3) != 0;
        o.secure = s.integer(4) != 0;
        o.ptz = s.integer(5) != 0;
        o.presets = s.integer(6) != 0;
        o.archive = s.integer(7) != 0;
        o.chatRoom = s.text(8);
        o.chatNumber = s.integer(9);
        o.syncedAt = s.text(10);
        kept_[o.camera] = Kept{o, s.text(11)};
    }
}

void SqliteOptionStore::store(const CameraOptions& o, const std::string& passwordHash,
                              std::int64_t unixMillis) {
    auto lock = db_.lock();
    Statement s(db_, "INSERT OR REPLACE INTO camera_options (camera, zoom, snapshot, chat, secure,"
                     " ptz, presets, archive, chat_room, chat_number, password_hash, synced_at)"
                     " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    s.bind(1, o.camera);
    s.bind(2, o.zoom);
    s.bind(3, o.snapshot);
    s.bind(4, o.chat);
    s.bind(5, o.secure);
    s.bind(6, o.ptz);
    s.bind(7, o.presets);
    s.bind(8, o.archive);
    s.bind(9, o.chatRoom);
    s.bind(10, o.chatNumber);
    s.bind(11, passwordHash);
    s.bind(12, isoTime(unixMillis));
    s.run();
    std::lock_guard memory(mutex_);
    Kept& kept = kept_[o.camera];
    kept.options = o;
    kept.options.syncedAt = isoTime(unixMillis);
    kept.hash = passwordHash;
}

std::optional<CameraOptions> SqliteOptionStore::find(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = kept_.find(camera);
    if (it == kept_.end()) {
        return std::nullopt;
    }
    return it->second.options;
}

std::string SqliteOptionStore::passwordHash(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = kept_.find(camera);
    return it == kept_.end() ? std::string() : it->second.hash;
}

void SqliteOptionStore::forget(const std::string& camera) {
    auto lock = db_.lock();
    Statement s(db_, "DELETE FROM camera_options WHERE camera = ?1");
    s.bind(1, camera);
    s.run();
    std::lock_guard keptLock(mutex_);
    kept_.erase(camera);
}

} // namespace reflector

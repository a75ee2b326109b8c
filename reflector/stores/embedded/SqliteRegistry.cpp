#include "stores/embedded/SqliteRegistry.h"

#include "core/StationKey.h"
#include "core/Time.h"

#include <mutex>

namespace reflector {

namespace {

Camera readCamera(const Statement& s) {
    Camera c;
    c.id = s.text(0);
    c.ptz = s.integer(1) != 0;
    c.registeredAt = s.text(2);
    c.lastFrameAt = s.text(3);
    return c;
}

constexpr const char* kNow = "strftime('%Y-%m-%dT%H:%M:%SZ', 'now')";

bool hasColumn(Database& db, const char* table, const std::string& column) {
    Statement s(db, (std::string("SELECT name FROM pragma_table_info('") + table + "')").c_str());
    while (s.step()) {
        if (s.text(0) == column) {
            return true;
        }
    }
    return false;
}

void createTable(Database& db) {
    auto lock = db.lock();
    db.execute("CREATE TABLE IF NOT EXISTS cameras ("
               " id TEXT PRIMARY KEY NOT NULL,"
               " ptz INTEGER NOT NULL DEFAULT 0,"
               " registered_at TEXT NOT NULL,"
               " last_frame_at TEXT,"
               " key_hash TEXT,"
               " heard_at INTEGER)");
    // Cameras registered before stations had keys: bound to none, heard from now, so that they
    // get the whole time before they expire.
    if (!hasColumn(db, "cameras", "key_hash")) {
        Transaction t(db);
        db.execute("ALTER TABLE cameras ADD COLUMN key_hash TEXT");
        db.execute("ALTER TABLE cameras ADD COLUMN heard_at INTEGER");
        db.execute("UPDATE cameras SET heard_at = CAST(unixepoch('now') AS INTEGER) * 1000");
        t.commit();
    }
}

} // namespace

SqliteRegistry::SqliteRegistry(const std::filesystem::path& file)
    : own_(std::make_unique<Database>(file)), db_(*own_) {
    createTable(db_);
    loadKnown();
}

SqliteRegistry::SqliteRegistry(Database& db) : db_(db) {
    createTable(db_);
    loadKnown();
}

void SqliteRegistry::loadKnown() {
    auto lock = db_.lock();
    Statement s(db_, "SELECT id, key_hash, heard_at FROM cameras");
    std::unique_lock knownLock(knownMutex_);
    while (s.step()) {
        known_[s.text(0)] = Known{s.text(1), s.integer(2)};
    }
}

Enrolment SqliteRegistry::enrol(const std::string& id, bool ptz, const std::string& keyHash,
                                std::int64_t nowMillis, std::size_t maxCameras) {
    auto lock = db_.lock();
    Statement known(db_, "SELECT key_hash FROM cameras WHERE id = ?1");
    known.bind(1, id);
    const bool isNew = !known.step();
    const std::string bound = isNew ? std::string() : known.text(0);
    if (isNew && countLocked() >= maxCameras) {
        return Enrolment::Full;
    }
    if (!bound.empty() && !sameKeyHash(bound, keyHash)) {
        return Enrolment::Wrong;
    }
    const std::string kept = bound.empty() ? keyHash : bound;
    Statement s(db_, (std::string("INSERT INTO cameras (id, ptz, registered_at, key_hash, "
                                  "heard_at) VALUES (?1, ?2, ") +
                      kNow +
                      ", NULLIF(?3, ''), ?4) ON CONFLICT(id) DO UPDATE SET ptz = excluded.ptz,"
                      " key_hash = excluded.key_hash, heard_at = excluded.heard_at")
                         .c_str());
    s.bind(1, id);
    s.bind(2, ptz);
    s.bind(3, kept);
    s.bind(4, nowMillis);
    s.run();
    std::unique_lock knownLock(knownMutex_);
    known_[id] = Known{kept, nowMillis};
    if (isNew) {
        return Enrolment::Added;
    }
    return bound.empty() && !keyHash.empty() ? Enrolment::Claimed : Enrolment::Updated;
}

std::size_t SqliteRegistry::count() {
    auto lock = db_.lock();
    return countLocked();
}

std::size_t SqliteRegistry::countLocked() {
    Statement s(db_, "SELECT COUNT(*) FROM cameras");
    s.step();
    return static_cast<std::size_t>(s.integer(0));
}

bool SqliteRegistry::isRegistered(const std::string& id) {
    std::shared_lock knownLock(knownMutex_);
    return known_.count(id) != 0;
}

std::optional<std::string> SqliteRegistry::keyHash(const std::string& id) {
    std::shared_lock knownLock(knownMutex_);
    const auto it = known_.find(id);
    if (it == known_.end()) {
        return std::nullopt;
    }
    return it->second.keyHash;
}

bool SqliteRegistry::release(const std::string& id) {
    auto lock = db_.lock();
    Statement s(db_, "UPDATE cameras SET key_hash = NULL WHERE id = ?1");
    s.bind(1, id);
    s.run();
    if (db_.changes() == 0) {
        return false;
    }
    std::unique_lock knownLock(knownMutex_);
    known_[id].keyHash.clear();
    return true;
}

std::optional<Camera> SqliteRegistry::find(const std::string& id) {
    auto lock = db_.lock();
    Statement s(db_, "SELECT id, ptz, registered_at, last_frame_at FROM cameras WHERE id = ?1");
    s.bind(1, id);
    if (!s.step()) {
        return std::nullopt;
    }
    return readCamera(s);
}

std::vector<Camera> SqliteRegistry::list() {
    auto lock = db_.lock();
    Statement s(db_, "SELECT id, ptz, registered_at, last_frame_at FROM cameras ORDER BY id");
    std::vector<Camera> cameras;
    while (s.step()) {
        cameras.push_back(readCamera(s));
    }
    return cameras;
}

void SqliteRegistry::noteFrame(const std::string& id) {
    auto lock = db_.lock();
    Statement s(
        db_,
        (std::string("UPDATE cameras SET last_frame_at = ") + kNow + " WHERE id = ?1").c_str());
    s.bind(1, id);
    s.run();
}

void SqliteRegistry::heard(const std::string& id, std::int64_t nowMillis) {
    std::unique_lock knownLock(knownMutex_);
    if (const auto it = known_.find(id); it != known_.end() && it->second.heardAt < nowMillis) {
        it->second.heardAt = nowMillis;
        it->second.heardSaved = false;
    }
}

void SqliteRegistry::saveHeard() {
    std::vector<std::pair<std::string, std::int64_t>> unsaved;
    {
        std::unique_lock knownLock(knownMutex_);
        for (auto& [id, known] : known_) {
            if (!known.heardSaved) {
                unsaved.emplace_back(id, known.heardAt);
                known.heardSaved = true;
            }
        }
    }
    if (unsaved.empty()) {
        return;
    }
    try {
        auto lock = db_.lock();
        Transaction t(db_);
        for (const auto& [id, at] : unsaved) {
            Statement s(db_, "UPDATE cameras SET heard_at = MAX(COALESCE(heard_at, 0), ?2)"
                             " WHERE id = ?1");
            s.bind(1, id);
            s.bind(2, at);
            s.run();
        }
        t.commit();
    } catch (...) {
        // Written next time.
        std::unique_lock knownLock(knownMutex_);
        for (const auto& [id, at] : unsaved) {
            if (const auto it = known_.find(id); it != known_.end()) {
                it->second.heardSaved = false;
            }
        }
        throw;
    }
}

std::vector<std::string> SqliteRegistry::silentSince(std::int64_t beforeMillis) {
    std::shared_lock knownLock(knownMutex_);
    std::vector<std::string> silent;
    for (const auto& [id, known] : known_) {
        if (known.heardAt < beforeMillis) {
            silent.push_back(id);
        }
    }
    return silent;
}

void SqliteRegistry::forget(const std::string& id) {
    auto lock = db_.lock();
    Statement s(db_, "DELETE FROM cameras WHERE id = ?1");
    s.bind(1, id);
    s.run();
    std::unique_lock knownLock(knownMutex_);
    known_.erase(id);
}

} // namespace reflector

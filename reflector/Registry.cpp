#include "Registry.h"

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

void createTable(Database& db) {
    auto lock = db.lock();
    db.execute("CREATE TABLE IF NOT EXISTS cameras ("
               " id TEXT PRIMARY KEY NOT NULL,"
               " ptz INTEGER NOT NULL DEFAULT 0,"
               " registered_at TEXT NOT NULL,"
               " last_frame_at TEXT)");
}

} // namespace

Registry::Registry(const std::filesystem::path& file)
    : own_(std::make_unique<Database>(file)), db_(*own_) {
    createTable(db_);
    loadKnown();
}

Registry::Registry(Database& db) : db_(db) {
    createTable(db_);
    loadKnown();
}

void Registry::loadKnown() {
    auto lock = db_.lock();
    Statement s(db_, "SELECT id FROM cameras");
    std::unique_lock knownLock(knownMutex_);
    while (s.step()) {
        known_.insert(s.text(0));
    }
}

bool Registry::registerCamera(const std::string& id, bool ptz, std::size_t maxCameras) {
    auto lock = db_.lock();
    // Counted and inserted under the one lock, so concurrent registrations cannot pass the
    // limit together.
    Statement known(db_, "SELECT 1 FROM cameras WHERE id = ?1");
    known.bind(1, id);
    if (!known.step() && countLocked() >= maxCameras) {
        return false;
    }
    Statement s(db_, (std::string("INSERT INTO cameras (id, ptz, registered_at) VALUES (?1, ?2, ") +
                      kNow + ") ON CONFLICT(id) DO UPDATE SET ptz = excluded.ptz")
                         .c_str());
    s.bind(1, id);
    s.bind(2, ptz);
    s.run();
    std::unique_lock knownLock(knownMutex_);
    known_.insert(id);
    return true;
}

std::size_t Registry::count() {
    auto lock = db_.lock();
    return countLocked();
}

std::size_t Registry::countLocked() {
    Statement s(db_, "SELECT COUNT(*) FROM cameras");
    s.step();
    return static_cast<std::size_t>(s.integer(0));
}

bool Registry::isRegistered(const std::string& id) {
    std::shared_lock knownLock(knownMutex_);
    return known_.count(id) != 0;
}

std::optional<Camera> Registry::find(const std::string& id) {
    auto lock = db_.lock();
    Statement s(db_, "SELECT id, ptz, registered_at, last_frame_at FROM cameras WHERE id = ?1");
    s.bind(1, id);
    if (!s.step()) {
        return std::nullopt;
    }
    return readCamera(s);
}

std::vector<Camera> Registry::list() {
    auto lock = db_.lock();
    Statement s(db_, "SELECT id, ptz, registered_at, last_frame_at FROM cameras ORDER BY id");
    std::vector<Camera> cameras;
    while (s.step()) {
        cameras.push_back(readCamera(s));
    }
    return cameras;
}

void Registry::noteFrame(const std::string& id) {
    auto lock = db_.lock();
    Statement s(
        db_,
        (std::string("UPDATE cameras SET last_frame_at = ") + kNow + " WHERE id = ?1").c_str());
    s.bind(1, id);
    s.run();
}

} // namespace reflector

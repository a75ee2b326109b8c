#include "Registry.h"

#include <sqlite3.h>

namespace reflector {

namespace {

// One prepared statement, finalised when it goes out of scope.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            throw RegistryError(std::string("cannot prepare statement: ") + sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const std::string& text) {
        check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
    }
    void bind(int index, int value) { check(sqlite3_bind_int(stmt_, index, value)); }

    // Advances to the next row; false when the statement is done.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc == SQLITE_DONE) {
            return false;
        }
        throw RegistryError(std::string("database error: ") + sqlite3_errmsg(db_));
    }

    std::string text(int column) const {
        const auto* p = sqlite3_column_text(stmt_, column);
        return p == nullptr
                   ? std::string()
                   : std::string(reinterpret_cast<const char*>(p),
                                 static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
    }
    sqlite3_int64 integer(int column) const { return sqlite3_column_int64(stmt_, column); }

  private:
    void check(int rc) {
        if (rc != SQLITE_OK) {
            throw RegistryError(std::string("cannot bind value: ") + sqlite3_errmsg(db_));
        }
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

void execute(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message != nullptr ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        throw RegistryError("database error: " + text);
    }
}

Camera readCamera(const Statement& s) {
    Camera c;
    c.id = s.text(0);
    c.ptz = s.integer(1) != 0;
    c.registeredAt = s.text(2);
    c.lastFrameAt = s.text(3);
    return c;
}

constexpr const char* kNow = "strftime('%Y-%m-%dT%H:%M:%SZ', 'now')";

} // namespace

Registry::Registry(const std::filesystem::path& file) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw RegistryError("cannot open database " + file.string() + ": " + message);
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        // Write-ahead logging keeps a frame's time stamp update cheap; NORMAL
        // synchronisation is durable across a crash of the process.
        execute(db_, "PRAGMA journal_mode=WAL");
        execute(db_, "PRAGMA synchronous=NORMAL");
        execute(db_, "CREATE TABLE IF NOT EXISTS cameras ("
                     " id TEXT PRIMARY KEY NOT NULL,"
                     " ptz INTEGER NOT NULL DEFAULT 0,"
                     " registered_at TEXT NOT NULL,"
                     " last_frame_at TEXT)");
        execute(db_, "PRAGMA user_version=1");
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

Registry::~Registry() {
    sqlite3_close(db_);
}

bool Registry::registerCamera(const std::string& id, bool ptz, std::size_t maxCameras) {
    std::lock_guard lock(mutex_);
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
    s.bind(2, ptz ? 1 : 0);
    s.step();
    return true;
}

std::size_t Registry::count() {
    std::lock_guard lock(mutex_);
    return countLocked();
}

std::size_t Registry::countLocked() {
    Statement s(db_, "SELECT COUNT(*) FROM cameras");
    s.step();
    return static_cast<std::size_t>(s.integer(0));
}

bool Registry::isRegistered(const std::string& id) {
    return find(id).has_value();
}

std::optional<Camera> Registry::find(const std::string& id) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT id, ptz, registered_at, last_frame_at FROM cameras WHERE id = ?1");
    s.bind(1, id);
    if (!s.step()) {
        return std::nullopt;
    }
    return readCamera(s);
}

std::vector<Camera> Registry::list() {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT id, ptz, registered_at, last_frame_at FROM cameras ORDER BY id");
    std::vector<Camera> cameras;
    while (s.step()) {
        cameras.push_back(readCamera(s));
    }
    return cameras;
}

void Registry::noteFrame(const std::string& id) {
    std::lock_guard lock(mutex_);
    Statement s(
        db_,
        (std::string("UPDATE cameras SET last_frame_at = ") + kNow + " WHERE id = ?1").c_str());
    s.bind(1, id);
    s.step();
}

} // namespace reflector

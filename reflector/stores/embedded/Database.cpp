#include "stores/embedded/Database.h"

#include <ctime>
#include <sqlite3.h>

namespace reflector {

Database::Database(const std::filesystem::path& file) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw DatabaseError("cannot open database " + file.string() + ": " + message);
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        // Write-ahead logging keeps a frame's time stamp update cheap; NORMAL
        // synchronisation is durable across a crash of the process.
        execute("PRAGMA journal_mode=WAL");
        execute("PRAGMA synchronous=NORMAL");
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

std::unique_ptr<Database> Database::snapshotOf(const std::filesystem::path& file) {
    std::unique_ptr<Database> copy(new Database());
    if (sqlite3_open_v2(":memory:", &copy->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        throw DatabaseError("cannot make a database in memory");
    }
    // Read-only, then, when even that needs a file it cannot make (the write-ahead log's
    // index on a read-only disk), as a file nobody changes.
    for (const char* how : {"?mode=ro", "?immutable=1"}) {
        sqlite3* source = nullptr;
        const std::string uri = "file:" + file.string() + how;
        const int opened =
            sqlite3_open_v2(uri.c_str(), &source, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        bool copied = false;
        if (opened == SQLITE_OK) {
            sqlite3_backup* backup = sqlite3_backup_init(copy->db_, "main", source, "main");
            if (backup != nullptr) {
                copied = sqlite3_backup_step(backup, -1) == SQLITE_DONE;
                sqlite3_backup_finish(backup);
            }
        }
        sqlite3_close(source);
        if (copied) {
            break;
        }
    }
    return copy;
}

Database::~Database() {
    sqlite3_close(db_);
}

void Database::execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message != nullptr ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw DatabaseError("database error: " + text);
    }
}

std::int64_t Database::lastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

int Database::changes() const {
    return sqlite3_changes(db_);
}

Statement::Statement(Database& db, const char* sql) : db_(db.handle()) {
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        throw DatabaseError(std::string("cannot prepare statement: ") + sqlite3_errmsg(db_));
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

void Statement::bind(int index, const std::string& text) {
    check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
}

void Statement::bind(int index, std::int64_t value) {
    check(sqlite3_bind_int64(stmt_, index, value));
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    throw DatabaseError(std::string("database error: ") + sqlite3_errmsg(db_));
}

std::string Statement::text(int column) const {
    const auto* p = sqlite3_column_text(stmt_, column);
    return p == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(p),
                             static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

void Statement::check(int rc) {
    if (rc != SQLITE_OK) {
        throw DatabaseError(std::string("cannot bind value: ") + sqlite3_errmsg(db_));
    }
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_) {
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::commit() {
    db_.execute("COMMIT");
    open_ = false;
}

std::string isoTime(std::int64_t unixMillis) {
    const std::time_t seconds = static_cast<std::time_t>(unixMillis / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

} // namespace reflector

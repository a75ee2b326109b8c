#pragma once

#include "stores/Storage.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace reflector {

// A failure of the relay's database (cannot open, disk full, corrupt file ...).
class DatabaseError : public StorageError {
  public:
    using StorageError::StorageError;
};

// The relay's SQLite database file, one connection shared by every store. Each use holds the
// lock; every statement binds its values as parameters.
class Database {
  public:
    // Opens or creates the file (write-ahead logging, 5 s busy wait); throws DatabaseError.
    explicit Database(const std::filesystem::path& file);
    // A copy in memory of what the file holds (an empty database when there is none or it
    // cannot be read), for a relay that cannot write its data folder: it serves what it has.
    // Stores may set up their tables in the copy; then `PRAGMA query_only` stops all writes.
    static std::unique_ptr<Database> snapshotOf(const std::filesystem::path& file);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    using Lock = std::unique_lock<std::mutex>;
    Lock lock() { return Lock(mutex_); }

    // Runs SQL without parameters or results (schema, pragmas); with the lock held.
    void execute(const char* sql);
    sqlite3* handle() const { return db_; }
    // The row identifier given by the last INSERT; with the lock held.
    std::int64_t lastInsertId() const;
    // The rows changed by the last INSERT, UPDATE or DELETE; with the lock held.
    int changes() const;

  private:
    Database() = default;

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

// One prepared statement, finalised when it goes out of scope. With the database's lock held.
class Statement {
  public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const std::string& text);
    void bind(int index, std::int64_t value);
    void bind(int index, int value) { bind(index, static_cast<std::int64_t>(value)); }
    void bind(int index, bool value) { bind(index, static_cast<std::int64_t>(value ? 1 : 0)); }

    // Advances to the next row; false when the statement is done.
    bool step();
    // Runs a statement that returns no rows.
    void run() { step(); }

    std::string text(int column) const;
    std::int64_t integer(int column) const;
    bool isNull(int column) const;

  private:
    void check(int rc);

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// A write transaction, rolled back unless committed. With the database's lock held.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Database& db_;
    bool open_ = true;
};

// A time as the relay shows it: UTC, ISO 8601 ("2026-12-07T10:40:55Z").
std::string isoTime(std::int64_t unixMillis);

} // namespace reflector

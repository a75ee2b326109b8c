#include "stores/embedded/SqliteListingStore.h"

#include <sodium.h>

namespace reflector {

SqliteListingStore::SqliteListingStore(Database& db, TimeSource now,
                                       std::chrono::milliseconds timeToLive, std::size_t maxEntries)
    : db_(db), now_(std::move(now)), timeToLive_(timeToLive), maxEntries_(maxEntries) {
    if (sodium_init() < 0) {
        throw DatabaseError("the cryptography library cannot be initialised");
    }
    auto lock = db_.lock();
    db_.execute("CREATE TABLE IF NOT EXISTS listings ("
                " camera TEXT PRIMARY KEY NOT NULL, token TEXT NOT NULL,"
                " name TEXT NOT NULL, email TEXT NOT NULL, relay TEXT NOT NULL,"
                " folder TEXT NOT NULL, type INTEGER NOT NULL, ptz INTEGER NOT NULL,"
                " password INTEGER NOT NULL, listed INTEGER NOT NULL,"
                " hidethumb INTEGER NOT NULL, archive INTEGER NOT NULL,"
                " refreshed_at INTEGER NOT NULL)");
}

std::int64_t SqliteListingStore::liveSince() {
    return unixMillis(now_()) - timeToLive_.count();
}

ListingStore::Result SqliteListingStore::post(const ListingEntry& e, const std::string& token) {
    const std::int64_t now = unixMillis(now_());
    const std::int64_t since = now - timeToLive_.count();
    auto lock = db_.lock();
    Transaction transaction(db_);
    Statement held(db_, "SELECT token FROM listings WHERE camera = ?1 AND refreshed_at > ?2");
    held.bind(1, e.camera);
    held.bind(2, since);
    Result result{Outcome::Created, {}};
    if (held.step()) {
        if (!sameListingToken(token, held.text(0))) {
            return {Outcome::HeldByOther, {}};
        }
        result = {Outcome::Replaced, held.text(0)};
    } else {
        Statement expired(db_, "DELETE FROM listings WHERE refreshed_at <= ?1");
        expired.bind(1, since);
        expired.run();
        Statement count(db_, "SELECT COUNT(*) FROM listings");
        count.step();
        if (static_cast<std::size_t>(count.integer(0)) >= maxEntries_) {
            return {Outcome::Full, {}};
        }
        result.token = newListingToken();
    }
    Statement s(db_, "INSERT OR REPLACE INTO listings (camera, token, name, email, relay, folder,"
                     " type, ptz, password, listed, hidethumb, archive, refreshed_at)"
                     " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
    s.bind(1, e.camera);
    s.bind(2, result.token);
    s.bind(3, e.name);
    s.bind(4, e.email);
    s.bind(5, e.relay);
    s.bind(6, e.folder);
    s.bind(7, e.type);
    s.bind(8, e.ptz);
    s.bind(9, e.password);
    s.bind(10, e.listed);
    s.bind(11, e.hideThumbnail);
    s.bind(12, e.archive);
    s.bind(13, now);
    s.run();
    transaction.commit();
    return result;
}

ListingStore::Result SqliteListingStore::refresh(const std::string& camera,
                                                 const std::string& token) {
    const std::int64_t now = unixMillis(now_());
    auto lock = db_.lock();
    Statement held(db_, "SELECT token FROM listings WHERE camera = ?1 AND refreshed_at > ?2");
    held.bind(1, camera);
    held.bind(2, now - timeToLive_.count());
    if (!held.step()) {
        return {Outcome::NotListed, {}};
    }
    if (!sameListingToken(token, held.text(0))) {
        return {Outcome::HeldByOther, {}};
    }
    Statement s(db_, "UPDATE listings SET refreshed_at = ?2 WHERE camera = ?1");
    s.bind(1, camera);
    s.bind(2, now);
    s.run();
    return {Outcome::Refreshed, {}};
}

ListingStore::Result SqliteListingStore::remove(const std::string& camera,
                                                const std::string& token) {
    const std::int64_t since = liveSince();
    auto lock = db_.lock();
    Statement held(db_, "SELECT token FROM listings WHERE camera = ?1 AND refreshed_at > ?2");
    held.bind(1, camera);
    held.bind(2, since);
    if (held.step() && !sameListingToken(token, held.text(0))) {
        return {Outcome::HeldByOther, {}};
    }
    Statement s(db_, "DELETE FROM listings WHERE camera = ?1");
    s.bind(1, camera);
    s.run();
    return {Outcome::Removed, {}};
}

bool SqliteListingStore::isListed(const std::string& camera) {
    const std::int64_t since = liveSince();
    auto lock = db_.lock();
    Statement s(db_, "SELECT 1 FROM listings WHERE camera = ?1 AND refreshed_at > ?2");
    s.bind(1, camera);
    s.bind(2, since);
    return s.step();
}

std::vector<ListingEntry> SqliteListingStore::current() {
    const std::int64_t since = liveSince();
    auto lock = db_.lock();
    Statement s(db_, "SELECT camera, name, relay, folder, type, ptz, password, listed,"
                     " hidethumb, archive, refreshed_at FROM listings WHERE refreshed_at > ?1"
                     " ORDER BY camera");
    s.bind(1, since);
    std::vector<ListingEntry> entries;
    while (s.step()) {
        ListingEntry e;
        e.camera = s.text(0);
        e.name = s.text(1);
        e.relay = s.text(2);
        e.folder = s.text(3);
        e.type = static_cast<int>(s.integer(4));
        e.ptz = s.integer(5) != 0;
        e.password = s.integer(6) != 0;
        e.listed = s.integer(7) != 0;
        e.hideThumbnail = s.integer(8) != 0;
        e.archive = s.integer(9) != 0;
        e.refreshedAt = isoTime(s.integer(10));
        entries.push_back(std::move(e));
    }
    return entries;
}

void SqliteListingStore::forget(const std::string& camera) {
    auto lock = db_.lock();
    Statement s(db_, "DELETE FROM listings WHERE camera = ?1");
    s.bind(1, camera);
    s.run();
}

} // namespace reflector

#include "Listing.h"

#include "CameraId.h"
#include "Options.h"
#include "Text.h"

#include <sodium.h>

namespace reflector {

namespace {

constexpr std::size_t kMaxTextBytes = 256;

// "host:port" with a host fit for a link and a port from 1 to 65535.
bool isRelayAddress(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() ||
        text.size() - colon - 1 > 5) {
        return false;
    }
    long port = 0;
    for (char c : text.substr(colon + 1)) {
        if (c < '0' || c > '9') {
            return false;
        }
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535 && isValidHostName(text.substr(0, colon));
}

// The same token, compared in time that does not depend on where they differ.
bool sameToken(const std::string& given, const std::string& kept) {
    return given.size() == kept.size() && given.size() == 32 &&
           sodium_memcmp(given.data(), kept.data(), 32) == 0;
}

std::string newToken() {
    unsigned char bytes[16];
    randombytes_buf(bytes, sizeof bytes);
    char hex[33];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

} // namespace

bool isListingToken(const std::string& token) {
    if (token.size() != 32) {
        return false;
    }
    for (char c : token) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

ParsedListing parseListingPost(const std::vector<std::pair<std::string, std::string>>& fields) {
    ParsedListing result;
    const auto field = [&fields](const char* name) -> const std::string* {
        for (const auto& [key, value] : fields) {
            if (key == name) {
                return &value;
            }
        }
        return nullptr;
    };
    for (const char* name : {"id", "name", "email", "relay", "folder", "type", "ptz", "password",
                             "listed", "hidethumb", "archive"}) {
        if (field(name) == nullptr) {
            result.error = std::string("missing field '") + name + "'";
            return result;
        }
    }
    ListingEntry& e = result.entry;
    e.camera = *field("id");
    if (!isValidCameraId(e.camera)) {
        result.error = "not a valid camera id";
        return result;
    }
    e.name = *field("name");
    e.email = *field("email");
    if (e.email == " ") {
        e.email.clear();
    }
    for (const auto& [name, text] : {std::pair<const char*, std::string*>{"name", &e.name},
                                     std::pair<const char*, std::string*>{"email", &e.email}}) {
        if (text->size() > kMaxTextBytes) {
            result.error =
                std::string(name) + " longer than " + std::to_string(kMaxTextBytes) + " bytes";
            return result;
        }
        if (hasControlCharacters(*text)) {
            result.error = std::string(name) + " holds control characters";
            return result;
        }
        *text = validUtf8(*text);
    }
    e.relay = *field("relay");
    if (!isRelayAddress(e.relay)) {
        result.error = "relay must be host:port";
        return result;
    }
    e.folder = *field("folder");
    if (e.folder != kCameraFolder) {
        result.error = "unknown folder";
        return result;
    }
    const std::string& type = *field("type");
    const bool negative = !type.empty() && type.front() == '-';
    const std::string digits = negative ? type.substr(1) : type;
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos ||
        std::stol(digits) > 32767 + (negative ? 1 : 0)) {
        result.error = "type must be a number";
        return result;
    }
    e.type = static_cast<int>(negative ? -std::stol(digits) : std::stol(digits));
    const std::pair<const char*, bool*> switches[] = {{"ptz", &e.ptz},
                                                      {"password", &e.password},
                                                      {"listed", &e.listed},
                                                      {"hidethumb", &e.hideThumbnail},
                                                      {"archive", &e.archive}};
    for (const auto& [name, target] : switches) {
        const std::string& value = *field(name);
        if (value != "0" && value != "1") {
            result.error = std::string(name) + " must be 0 or 1";
            return result;
        }
        *target = value == "1";
    }
    if (const std::string* token = field("token"); token != nullptr && !token->empty()) {
        if (!isListingToken(*token)) {
            result.error = "not a valid token";
            return result;
        }
        result.token = *token;
    }
    return result;
}

ListingStore::ListingStore(Database& db, TimeSource now, std::chrono::milliseconds timeToLive,
                           std::size_t maxEntries)
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

std::int64_t ListingStore::liveSince() {
    return unixMillis(now_()) - timeToLive_.count();
}

ListingStore::Result ListingStore::post(const ListingEntry& e, const std::string& token) {
    const std::int64_t now = unixMillis(now_());
    const std::int64_t since = now - timeToLive_.count();
    auto lock = db_.lock();
    Transaction transaction(db_);
    Statement held(db_, "SELECT token FROM listings WHERE camera = ?1 AND refreshed_at > ?2");
    held.bind(1, e.camera);
    held.bind(2, since);
    Result result{Outcome::Created, {}};
    if (held.step()) {
        if (!sameToken(token, held.text(0))) {
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
        result.token = newToken();
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

ListingStore::Result ListingStore::refresh(const std::string& camera, const std::string& token) {
    const std::int64_t now = unixMillis(now_());
    auto lock = db_.lock();
    Statement held(db_, "SELECT token FROM listings WHERE camera = ?1 AND refreshed_at > ?2");
    held.bind(1, camera);
    held.bind(2, now - timeToLive_.count());
    if (!held.step()) {
        return {Outcome::NotListed, {}};
    }
    if (!sameToken(token, held.text(0))) {
        return {Outcome::HeldByOther, {}};
    }
    Statement s(db_, "UPDATE listings SET refreshed_at = ?2 WHERE camera = ?1");
    s.bind(1, camera);
    s.bind(2, now);
    s.run();
    return {Outcome::Refreshed, {}};
}

ListingStore::Result ListingStore::remove(const std::string& camera, const std::string& token) {
    const std::int64_t since = liveSince();
    auto lock = db_.lock();
    Statement held(db_, "SELECT token FROM listings WHERE camera = ?1 AND refreshed_at > ?2");
    held.bind(1, camera);
    held.bind(2, since);
    if (held.step() && !sameToken(token, held.text(0))) {
        return {Outcome::HeldByOther, {}};
    }
    Statement s(db_, "DELETE FROM listings WHERE camera = ?1");
    s.bind(1, camera);
    s.run();
    return {Outcome::Removed, {}};
}

bool ListingStore::isListed(const std::string& camera) {
    const std::int64_t since = liveSince();
    auto lock = db_.lock();
    Statement s(db_, "SELECT 1 FROM listings WHERE camera = ?1 AND refreshed_at > ?2");
    s.bind(1, camera);
    s.bind(2, since);
    return s.step();
}

std::vector<ListingEntry> ListingStore::current() {
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

void ListingStore::forget(const std::string& camera) {
    auto lock = db_.lock();
    Statement s(db_, "DELETE FROM listings WHERE camera = ?1");
    s.bind(1, camera);
    s.run();
}

} // namespace reflector

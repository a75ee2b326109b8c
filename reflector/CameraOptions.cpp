#include "CameraOptions.h"

#include "CameraId.h"
#include "Http.h"
#include "PasswordHash.h"

#include <array>
#include <map>

namespace reflector {

namespace {

constexpr std::size_t kMaxPasswordBytes = 256;
constexpr std::size_t kMaxRoomBytes = 256;

constexpr std::array<const char*, 11> kFields = {"id",      "path",    "zoom",     "snapshot",
                                                 "chat",    "secure",  "password", "ptz",
                                                 "presets", "archive", "chatID"};

// A decimal number of at most 10 digits with an optional '-', within 32 bits.
std::optional<std::int64_t> readInt32(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) {
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    value = negative ? -value : value;
    if (value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return value;
}

} // namespace

ParsedSync parseSyncForm(std::string_view body) {
    ParsedSync result;
    std::map<std::string, std::string> values;
    for (auto& [name, value] : parseForm(body)) {
        bool known = false;
        for (const char* field : kFields) {
            known = known || name == field;
        }
        if (!known) {
            result.error = "Unknown field '" + name.substr(0, 40) + "'.";
            return result;
        }
        if (!values.emplace(name, std::move(value)).second) {
            result.error = "Field '" + name + "' given twice.";
            return result;
        }
    }
    for (const char* field : kFields) {
        if (values.count(field) == 0) {
            result.error = std::string("Missing field '") + field + "'.";
            return result;
        }
    }

    CameraOptions& o = result.form.options;
    o.camera = values["id"];
    if (!isValidCameraId(o.camera)) {
        result.error = "Not a valid camera id.";
        return result;
    }
    if (values["path"] != kCameraFolder) {
        result.error = "Unknown folder.";
        return result;
    }
    const std::pair<const char*, bool*> switches[] = {
        {"zoom", &o.zoom}, {"snapshot", &o.snapshot}, {"chat", &o.chat},      {"secure", &o.secure},
        {"ptz", &o.ptz},   {"presets", &o.presets},   {"archive", &o.archive}};
    for (const auto& [field, target] : switches) {
        const std::string& value = values[field];
        if (value != "true" && value != "false") {
            result.error = std::string("Field '") + field + "' must be true or false.";
            return result;
        }
        *target = value == "true";
    }

    result.form.password = values["password"];
    if (result.form.password.empty()) {
        result.error = "The password is empty.";
        return result;
    }
    if (result.form.password.size() > kMaxPasswordBytes) {
        result.error =
            "The password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes.";
        return result;
    }

    // The room name may hold ':' itself; the number follows the last one.
    const std::string& chatId = values["chatID"];
    const std::size_t colon = chatId.rfind(':');
    const auto number = colon == std::string::npos
                            ? std::nullopt
                            : readInt32(std::string_view(chatId).substr(colon + 1));
    if (!number) {
        result.error = "Field 'chatID' must be a room name, ':' and a number.";
        return result;
    }
    // A room never named is sent as NUL characters.
    for (char c : chatId.substr(0, colon)) {
        if (c != '\0') {
            o.chatRoom += c;
        }
    }
    o.chatNumber = *number;
    if (o.chatRoom.size() > kMaxRoomBytes) {
        result.error =
            "The chat room name is longer than " + std::to_string(kMaxRoomBytes) + " bytes.";
        return result;
    }
    return result;
}

OptionStore::OptionStore(Database& db) : db_(db) {
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

void OptionStore::store(const CameraOptions& o, const std::string& passwordHash,
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

std::optional<CameraOptions> OptionStore::find(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = kept_.find(camera);
    if (it == kept_.end()) {
        return std::nullopt;
    }
    return it->second.options;
}

std::string OptionStore::passwordHash(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = kept_.find(camera);
    return it == kept_.end() ? std::string() : it->second.hash;
}

bool OptionStore::verifyViewerPassword(const std::string& camera, std::string_view password) {
    const std::string hash = passwordHash(camera);
    if (hash.empty()) {
        // Spend the time of a real check, so that the answer does not tell which cameras have
        // a password.
        static const std::string standIn = hashPassword("no password is kept for this camera");
        verifyPassword(standIn, password);
        return false;
    }
    return verifyPassword(hash, password);
}

void OptionStore::forget(const std::string& camera) {
    auto lock = db_.lock();
    Statement s(db_, "DELETE FROM camera_options WHERE camera = ?1");
    s.bind(1, camera);
    s.run();
    std::lock_guard keptLock(mutex_);
    kept_.erase(camera);
}

} // namespace reflector

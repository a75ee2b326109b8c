#include "routes/Forms.h"

#include "core/CameraId.h"
#include "core/Text.h"
#include "routes/Answers.h"

#include <array>
#include <map>

namespace reflector {

namespace {

constexpr std::size_t kMaxPasswordBytes = 256;
// The chat room a station names in its options (the room pages take longer names).
constexpr std::size_t kMaxSyncRoomBytes = 256;

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

// Longest name and e-mail address of a listing entry.
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

// The port of an origin or Host header's "host[:port]" part; `fallback` when it names none.
std::string splitHostPort(std::string_view text, int fallback, int& port) {
    port = fallback;
    std::size_t colon = std::string_view::npos;
    if (!text.empty() && text.front() == '[') {
        const std::size_t end = text.find(']');
        if (end == std::string_view::npos) {
            return {};
        }
        colon = end + 1 < text.size() && text[end + 1] == ':' ? end + 1 : std::string_view::npos;
    } else if (text.find(':') == text.rfind(':')) {
        colon = text.find(':');
    }
    std::string host(text.substr(0, colon));
    if (colon != std::string_view::npos) {
        const std::string_view digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos) {
            return {};
        }
        port = std::stoi(std::string(digits));
    }
    for (char& c : host) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return host;
}

} // namespace

std::string formField(const Fields& fields, const char* name) {
    for (const auto& [key, value] : fields) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

bool isForm(const HttpRequest& req) {
    return hasMediaType(req.header("Content-Type"), "application/x-www-form-urlencoded");
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::string cleanName(std::string_view text, std::size_t maxBytes) {
    std::string kept;
    for (char c : validUtf8(text)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            kept += c;
        }
    }
    return cutUtf8(trimmed(kept), maxBytes);
}

bool isLocalTarget(std::string_view target) {
    if (target.empty() || target.size() > 2000 || target.front() != '/') {
        return false;
    }
    if (target.size() > 1 && (target[1] == '/' || target[1] == '\\')) {
        return false;
    }
    for (unsigned char c : target) {
        if (c <= 0x20 || c >= 0x7F || c == '\\') {
            return false;
        }
    }
    return true;
}

std::optional<std::int64_t> readId(const std::string& text) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoll(text);
}

bool sameOrigin(const HttpRequest& req) {
    if (!req.hasHeader("Origin")) {
        return true;
    }
    const std::string origin = req.header("Origin");
    int defaultPort = 0;
    std::string_view rest;
    if (origin.rfind("http://", 0) == 0) {
        defaultPort = 80;
        rest = std::string_view(origin).substr(7);
    } else if (origin.rfind("https://", 0) == 0) {
        defaultPort = 443;
        rest = std::string_view(origin).substr(8);
    } else {
        return false; // "null", or a scheme no page of this relay has
    }
    int originPort = 0;
    int hostPort = 0;
    const std::string originHost = splitHostPort(rest, defaultPort, originPort);
    const std::string host = splitHostPort(req.header("Host"), defaultPort, hostPort);
    return !originHost.empty() && originHost == host && originPort == hostPort;
}

std::optional<HttpAnswer> readCameraForm(const HttpRequest& req, Registry& registry,
                                         const char* formText, Fields& fields, std::string& id,
                                         bool anyCamera) {
    if (!sameOrigin(req)) {
        return otherSite();
    }
    if (!isForm(req)) {
        return pageMessage(400, "Not a form", formText);
    }
    fields = parseForm(req.body);
    id = formField(fields, "id");
    if (!isValidCameraId(id)) {
        return invalidCamera();
    }
    if (!anyCamera && !registry.isRegistered(id)) {
        return unknownCamera(id);
    }
    return std::nullopt;
}

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
    if (o.chatRoom.size() > kMaxSyncRoomBytes) {
        result.error =
            "The chat room name is longer than " + std::to_string(kMaxSyncRoomBytes) + " bytes.";
        return result;
    }
    return result;
}

ParsedListing parseListingPost(const Fields& fields) {
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

} // namespace reflector

#include "stores/shared/StoredValues.h"

#include "core/CameraId.h"
#include "core/Jpeg.h"
#include "core/PasswordHash.h"
#include "stores/MoveQueue.h"

#include <algorithm>
#include <charconv>
#include <ctime>

namespace reflector {

// ---- packed fields ----

std::string packFields(const std::vector<std::string_view>& fields) {
    std::string packed;
    for (std::string_view field : fields) {
        packed += std::to_string(field.size());
        packed += ':';
        packed.append(field);
    }
    return packed;
}

std::optional<std::vector<std::string_view>> unpackFields(std::string_view packed) {
    std::vector<std::string_view> fields;
    while (!packed.empty()) {
        const std::size_t colon = packed.find(':');
        // A length as packFields writes it: digits without a leading zero ("03:" is no length).
        if (colon == std::string_view::npos || colon == 0 || colon > 10 ||
            (colon > 1 && packed[0] == '0')) {
            return std::nullopt;
        }
        std::size_t size = 0;
        for (char c : packed.substr(0, colon)) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            size = size * 10 + static_cast<std::size_t>(c - '0');
        }
        packed.remove_prefix(colon + 1);
        if (size > packed.size()) {
            return std::nullopt;
        }
        fields.push_back(packed.substr(0, size));
        packed.remove_prefix(size);
    }
    return fields;
}

// ---- numbers and times ----

std::optional<std::int64_t> readStoredNumber(std::string_view text) {
    const std::string_view digits = !text.empty() && text[0] == '-' ? text.substr(1) : text;
    if (digits.empty() || (digits[0] == '0' && text.size() > 1)) {
        return std::nullopt; // no digits, a leading zero, or "-0"
    }
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::int64_t> readStoredMillis(std::string_view text) {
    const auto millis = readStoredNumber(text);
    if (!millis || *millis < 0 || *millis > kLatestMillis) {
        return std::nullopt;
    }
    return millis;
}

std::optional<std::string> storedTimeText(std::int64_t unixMillis) {
    if (unixMillis < 0 || unixMillis > kLatestMillis) {
        return std::nullopt;
    }
    const std::time_t seconds = static_cast<std::time_t>(unixMillis / 1000);
    std::tm parts{};
    if (gmtime_r(&seconds, &parts) == nullptr) {
        return std::nullopt;
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(text);
}

// ---- values in Redis ----

namespace {

bool isKeyHash(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::optional<Frame> readFrame(std::string_view tag, std::string_view jpeg) {
    if (!looksLikeJpeg(jpeg)) {
        return std::nullopt;
    }
    Frame frame;
    frame.jpeg = std::string(jpeg);
    frame.etag = frameTag(frame.jpeg);
    if (frame.etag != tag) {
        return std::nullopt;
    }
    return frame;
}

} // namespace

std::optional<Frame> readFrameValue(std::string_view value) {
    const auto fields = unpackFields(value);
    if (!fields || fields->size() != 2) {
        return std::nullopt;
    }
    return readFrame((*fields)[0], (*fields)[1]);
}

std::optional<QueuedCommand> readMoveEntry(std::string_view entry) {
    const std::size_t colon = entry.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto queuedAt = readStoredMillis(entry.substr(0, colon));
    const std::string_view command = entry.substr(colon + 1);
    if (!queuedAt || !isStationCommand(command)) {
        return std::nullopt;
    }
    return QueuedCommand{*queuedAt, std::string(command)};
}

std::optional<std::int64_t> visitLeftMillis(std::string_view value, std::int64_t nowMillis,
                                            std::int64_t windowMillis) {
    const auto at = readStoredMillis(value);
    if (!at) {
        return std::nullopt;
    }
    // A visit stamped ahead of this relay's clock counts for one window, no longer.
    return std::min(*at + windowMillis - nowMillis, windowMillis);
}

bool isTokenHash(std::string_view text) {
    return isKeyHash(text);
}

std::optional<StoredSession> readSessionValue(std::string_view value) {
    const std::size_t space = value.find(' ');
    if (space == std::string_view::npos) {
        return std::nullopt;
    }
    const auto until = readStoredMillis(value.substr(0, space));
    const auto fields = unpackFields(value.substr(space + 1));
    if (!until || !fields || fields->size() != 2 || !isValidCameraId((*fields)[0])) {
        return std::nullopt;
    }
    return StoredSession{std::string((*fields)[0]), std::string((*fields)[1]), *until};
}

std::optional<WrongPasswords> readWrongPasswords(std::string_view failures, std::string_view last) {
    const auto count = readStoredNumber(failures);
    const auto lastMillis = readStoredMillis(last);
    if (!count || *count < 0 || !lastMillis) {
        return std::nullopt;
    }
    return WrongPasswords{*count, *lastMillis};
}

std::optional<std::chrono::seconds> loginWait(const WrongPasswords& record, std::int64_t nowMillis,
                                              int freeTries, std::chrono::seconds longestWait,
                                              std::int64_t forgetAfterMillis) {
    if (nowMillis - record.lastMillis >= forgetAfterMillis) {
        return std::nullopt;
    }
    const std::int64_t over = record.failures - freeTries;
    if (over < 0) {
        return std::nullopt;
    }
    const std::int64_t wait =
        std::min<std::int64_t>(longestWait.count(),
                               std::int64_t{1} << std::min<std::int64_t>(over, 20)) *
        1000;
    // A last failure ahead of this relay's clock (another relay's clock runs ahead, or the
    // value is damaged) counts as now: the wait never passes the longest wait.
    const std::int64_t left = std::min(record.lastMillis, nowMillis) + wait - nowMillis;
    if (left <= 0) {
        return std::nullopt;
    }
    return std::chrono::seconds((left + 999) / 1000);
}

// ---- notices ----

std::optional<NoticeFields> readNotice(std::string_view prefix, std::string_view channel,
                                       std::string_view payload) {
    if (channel.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    auto fields = unpackFields(payload);
    if (!fields || fields->empty()) {
        return std::nullopt;
    }
    NoticeFields notice{channel.substr(prefix.size()), fields->front(), {}};
    notice.fields.assign(fields->begin() + 1, fields->end());
    return notice;
}

std::optional<FrameNotice> readFrameNotice(const std::vector<std::string_view>& fields) {
    if ((fields.size() != 1 && fields.size() != 3) || !isValidCameraId(fields[0])) {
        return std::nullopt;
    }
    FrameNotice notice{std::string(fields[0]), nullptr};
    if (fields.size() == 3) {
        auto frame = readFrame(fields[1], fields[2]);
        if (!frame) {
            return std::nullopt;
        }
        notice.frame = std::make_shared<const Frame>(std::move(*frame));
    }
    return notice;
}

std::optional<std::string> readCameraNotice(const std::vector<std::string_view>& fields) {
    if (fields.size() != 1 || !isValidCameraId(fields[0])) {
        return std::nullopt;
    }
    return std::string(fields[0]);
}

std::optional<RegistryNotice> readRegistryNotice(const std::vector<std::string_view>& fields) {
    if (fields.size() == 2 && fields[0] == "gone" && isValidCameraId(fields[1])) {
        return RegistryNotice{true, std::string(fields[1]), {}, 0};
    }
    if (fields.size() != 4 || fields[0] != "set" || !isValidCameraId(fields[1]) ||
        (!fields[2].empty() && !isKeyHash(fields[2]))) {
        return std::nullopt;
    }
    const auto heardAt = readStoredMillis(fields[3]);
    if (!heardAt) {
        return std::nullopt;
    }
    return RegistryNotice{false, std::string(fields[1]), std::string(fields[2]), *heardAt};
}

namespace {

constexpr std::string_view kOptionLetters = "zscpmra";

} // namespace

std::string optionFlags(const CameraOptions& o) {
    const bool on[] = {o.zoom, o.snapshot, o.chat, o.secure, o.ptz, o.presets, o.archive};
    std::string flags;
    for (std::size_t i = 0; i < kOptionLetters.size(); ++i) {
        if (on[i]) {
            flags += kOptionLetters[i];
        }
    }
    return flags;
}

std::optional<OptionsNotice> readOptionsNotice(const std::vector<std::string_view>& fields) {
    OptionsNotice notice;
    if (fields.size() == 2 && fields[0] == "gone" && isValidCameraId(fields[1])) {
        notice.gone = true;
        notice.options.camera = std::string(fields[1]);
        return notice;
    }
    if (fields.size() != 7 || fields[0] != "set" || !isValidCameraId(fields[1])) {
        return std::nullopt;
    }
    // Each letter at most once, in their order.
    std::size_t from = 0;
    for (char c : fields[2]) {
        const std::size_t at = kOptionLetters.find(c, from);
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        from = at + 1;
    }
    const auto number = readStoredNumber(fields[4]);
    const auto syncedAt = readStoredMillis(fields[5]);
    if (!number || !syncedAt) {
        return std::nullopt;
    }
    const auto has = [&](char c) { return fields[2].find(c) != std::string_view::npos; };
    CameraOptions& o = notice.options;
    o.camera = std::string(fields[1]);
    o.zoom = has('z');
    o.snapshot = has('s');
    o.chat = has('c');
    o.secure = has('p');
    o.ptz = has('m');
    o.presets = has('r');
    o.archive = has('a');
    o.chatRoom = std::string(fields[3]);
    o.chatNumber = *number;
    o.syncedAt = *storedTimeText(*syncedAt);
    notice.syncedAt = *syncedAt;
    notice.passwordHash = std::string(fields[6]);
    return notice;
}

std::optional<SessionNotice> readSessionNotice(const std::vector<std::string_view>& fields) {
    if (fields.size() != 4 || !isTokenHash(fields[0]) || !isValidCameraId(fields[2])) {
        return std::nullopt;
    }
    const auto until = readStoredMillis(fields[1]);
    if (!until) {
        return std::nullopt;
    }
    return SessionNotice{std::string(fields[0]),
                         StoredSession{std::string(fields[2]), std::string(fields[3]), *until}};
}

bool isUsablePasswordHash(const std::string& hash) {
    return hash.empty() || isOwnPasswordHash(hash);
}

} // namespace reflector

#pragma once

// What the shared stores read back from Redis and from the notices of the other relays, each
// read by a small function of its own that only reads. Another relay, a value left by an older
// release or a damaged server can hand any bytes there: a value that cannot be read is refused
// whole (nullopt), never taken in part, and the store says so in one log line.

#include "stores/CameraOptions.h"
#include "stores/Frames.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace reflector {

// Length-prefixed fields ("5:hello3:abc"), binary-safe: the payload of notices and of values
// that hold several fields.
std::string packFields(const std::vector<std::string_view>& fields);
// The fields of `packed`; nullopt when it is not in that form.
std::optional<std::vector<std::string_view>> unpackFields(std::string_view packed);

// The latest time a stored value may carry (2200-01-01T00:00:00Z, in milliseconds): any sum of
// two such times and a time span still fits in the clock's nanoseconds.
constexpr std::int64_t kLatestMillis = 7258118400000;

// A number as the stores write it (std::to_string): an optional '-', then decimal digits
// without a leading zero; nullopt for anything else, or beyond 64 bits.
std::optional<std::int64_t> readStoredNumber(std::string_view text);
// The same for a time in milliseconds since 1970: from 0 to kLatestMillis.
std::optional<std::int64_t> readStoredMillis(std::string_view text);

// The value of `frame:ID`: the frame's tag and its JPEG (packFields). Taken only when the bytes
// look like a JPEG and the tag is the one frameTag() gives them, so that a damaged value is
// never served, nor a tag that is not its frame's.
std::optional<Frame> readFrameValue(std::string_view value);

// An entry of `moves:ID`: "MILLIS:COMMAND", the time it was queued and a command the station
// carries out (isStationCommand).
struct QueuedCommand {
    std::int64_t queuedAt = 0;
    std::string command;
};
std::optional<QueuedCommand> readMoveEntry(std::string_view entry);

// The value of `visit:ID` (the last visit's time): how long the camera still counts as
// visited at `nowMillis`, at most the window (zero or less: no longer). nullopt when the value
// is no time.
std::optional<std::int64_t> visitLeftMillis(std::string_view value, std::int64_t nowMillis,
                                            std::int64_t windowMillis);

// A field of the hash `sessions`: the hash of a viewer's token, 64 lower-case hexadecimal
// digits.
bool isTokenHash(std::string_view text);
// Its value: "UNTIL CAMERA-AND-STAMP", the session's end first (for the pruning script), then
// the camera and the stamp of its password (packFields).
struct StoredSession {
    std::string camera;
    std::string stamp;
    std::int64_t until = 0;
};
std::optional<StoredSession> readSessionValue(std::string_view value);

// The fields `f` and `last` of a `login:NAME:KEY` hash: the wrong passwords counted and the
// time of the last one.
struct WrongPasswords {
    std::int64_t failures = 0;
    std::int64_t lastMillis = 0;
};
std::optional<WrongPasswords> readWrongPasswords(std::string_view failures, std::string_view last);
// How long the client must wait before its next try: none when it has tries left, when the
// last failure is `forgetAfterMillis` old, or once the wait is over; otherwise 2^(failures -
// freeTries) seconds from the last failure, at most `longestWait`.
std::optional<std::chrono::seconds> loginWait(const WrongPasswords& record, std::int64_t nowMillis,
                                              int freeTries, std::chrono::seconds longestWait,
                                              std::int64_t forgetAfterMillis);

// A message on a channel of the shared storage: the channel's name without the prefix, the
// relay that published it, and its fields (views into the payload).
struct NoticeFields {
    std::string_view channel;
    std::string_view origin;
    std::vector<std::string_view> fields;
};
// nullopt when the channel does not start with `prefix` or the payload is not packed fields
// with an origin first.
std::optional<NoticeFields> readNotice(std::string_view prefix, std::string_view channel,
                                       std::string_view payload);

// On `frames`: ID, TAG, JPEG (a new frame, read as readFrameValue reads it), or ID alone (the
// camera's frame was removed: `frame` is null).
struct FrameNotice {
    std::string camera;
    std::shared_ptr<const Frame> frame;
};
std::optional<FrameNotice> readFrameNotice(const std::vector<std::string_view>& fields);

// On `moves` and `visits`: the camera's identifier alone.
std::optional<std::string> readCameraNotice(const std::vector<std::string_view>& fields);

// On `cameras`: "set" ID KEY-HASH HEARD-AT (a registration or a release: an empty hash), or
// "gone" ID.
struct RegistryNotice {
    bool gone = false;
    std::string camera;
    std::string keyHash;
    std::int64_t heardAt = 0;
};
std::optional<RegistryNotice> readRegistryNotice(const std::vector<std::string_view>& fields);

// On `options`: "set" ID FLAGS ROOM NUMBER SYNCED-AT PASSWORD-HASH (FLAGS: one letter of
// "zscpmra" for each option that is on, in that order), or "gone" ID. The password hash is
// taken as it comes: isUsablePasswordHash tells whether it may be used.
struct OptionsNotice {
    bool gone = false;
    CameraOptions options;
    std::int64_t syncedAt = 0;
    std::string passwordHash;
};
std::optional<OptionsNotice> readOptionsNotice(const std::vector<std::string_view>& fields);
// FLAGS as the notice carries them.
std::string optionFlags(const CameraOptions& options);

// On `sessions`: TOKEN-HASH UNTIL CAMERA STAMP.
struct SessionNotice {
    std::string tokenHash;
    StoredSession session;
};
std::optional<SessionNotice> readSessionNotice(const std::vector<std::string_view>& fields);

// A camera's viewer password hash as the stores keep it: empty (no password can match), or an
// Argon2id hash made with this relay's own cost. A hash of another cost, which a damaged value
// could make as dear as the attacker likes, is not to be verified.
bool isUsablePasswordHash(const std::string& hash);

// "2026-12-07T10:40:55Z" of a stored time; nullopt when it is not from 0 to kLatestMillis.
std::optional<std::string> storedTimeText(std::int64_t unixMillis);

} // namespace reflector

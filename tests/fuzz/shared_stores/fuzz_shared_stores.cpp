// libFuzzer entry for what the relay's shared stores read back from PostgreSQL and Redis: the
// first byte picks the reader, the rest is what the server handed over. Redis: the frame and
// its tag (`frame:ID`), an entry of the move queue, a visit time, a viewer session (its field
// and value, separated by a zero byte), the wrong-password counter (its two fields, likewise),
// a message on a channel (channel name, zero byte, payload) read as the relay reads notices, and
// a viewer password hash as a notice or a row carries it. PostgreSQL: an integer in text or
// binary format, a boolean, a bytea value in text format, a stored time (eight bytes, big
// endian). The same entry runs in the ordinary test suite over the seed corpus and generated
// inputs (../replay_test.cpp).
//
// Besides staying inside its input, each reader must keep these properties; a violation traps.
//  - A frame taken (from a value or a notice) is a JPEG carrying the tag of its own bytes.
//  - A value taken is the value the stores write for what was read: writing it again gives
//    the same bytes (frame values, queue entries, sessions, numbers, notices).
//  - A queued command taken is one the station carries out; a camera taken is a valid
//    identifier; a time taken lies between 1970 and kLatestMillis.
//  - A visit counts for at most its window; a login wait is at most the longest wait.
#include "core/CameraId.h"
#include "core/Jpeg.h"
#include "stores/MoveQueue.h"
#include "stores/shared/PgPool.h"
#include "stores/shared/StoredValues.h"

#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using namespace reflector;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

constexpr std::int64_t kNow = 1796601600000; // 2026-12-07T00:00:00Z
constexpr std::int64_t kWindow = 30000;

// `text` before and after its first zero byte.
std::pair<std::string_view, std::string_view> Split(std::string_view text) {
    const std::size_t zero = text.find('\0');
    if (zero == std::string_view::npos)
        return {text, {}};
    return {text.substr(0, zero), text.substr(zero + 1)};
}

void FrameValue(std::string_view input) {
    const auto frame = readFrameValue(input);
    if (frame) {
        Check(looksLikeJpeg(frame->jpeg) && frame->etag == frameTag(frame->jpeg));
        Check(packFields({frame->etag, frame->jpeg}) == input);
    }
}

void MoveEntry(std::string_view input) {
    const auto entry = readMoveEntry(input);
    if (entry) {
        Check(isStationCommand(entry->command));
        Check(entry->queuedAt >= 0 && entry->queuedAt <= kLatestMillis);
        Check(std::to_string(entry->queuedAt) + ":" + entry->command == input);
    }
}

void Visit(std::string_view input) {
    const auto left = visitLeftMillis(input, kNow, kWindow);
    Check(left.has_value() == readStoredMillis(input).has_value());
    if (left) {
        Check(*left <= kWindow);
        Check(std::to_string(*readStoredMillis(input)) == input);
    }
}

void Session(std::string_view input) {
    const auto [field, value] = Split(input);
    if (isTokenHash(field))
        Check(field.size() == 64);
    const auto session = readSessionValue(value);
    if (session) {
        Check(isValidCameraId(session->camera));
        Check(std::to_string(session->until) + " " +
                  packFields({session->camera, session->stamp}) ==
              value);
    }
}

void WrongPasswordCount(std::string_view input) {
    const auto [failures, last] = Split(input);
    const auto record = readWrongPasswords(failures, last);
    if (!record)
        return;
    Check(record->failures >= 0 && std::to_string(record->failures) == failures);
    Check(std::to_string(record->lastMillis) == last);
    for (const int freeTries : {0, 5}) {
        const auto wait = loginWait(*record, kNow, freeTries, std::chrono::seconds(300), 3600000);
        Check(!wait || (wait->count() >= 1 && wait->count() <= 300));
    }
}

// The fields of a notice read as one of the stores reads them.
void NoticeOfChannel(std::string_view channel, const std::vector<std::string_view>& fields) {
    if (channel == "frames") {
        const auto notice = readFrameNotice(fields);
        if (notice) {
            Check(isValidCameraId(notice->camera));
            Check(!notice->frame || (looksLikeJpeg(notice->frame->jpeg) &&
                                     notice->frame->etag == frameTag(notice->frame->jpeg)));
        }
    } else if (channel == "moves" || channel == "visits") {
        const auto camera = readCameraNotice(fields);
        Check(!camera || (isValidCameraId(*camera) && fields.size() == 1));
    } else if (channel == "cameras") {
        const auto notice = readRegistryNotice(fields);
        if (notice && !notice->gone) {
            Check(fields[2] == notice->keyHash &&
                  (notice->keyHash.empty() || notice->keyHash.size() == 64));
            Check(std::to_string(notice->heardAt) == fields[3]);
        }
        Check(!notice || isValidCameraId(notice->camera));
    } else if (channel == "options") {
        const auto notice = readOptionsNotice(fields);
        if (notice && !notice->gone) {
            Check(optionFlags(notice->options) == fields[2]);
            Check(notice->options.chatRoom == fields[3]);
            Check(std::to_string(notice->options.chatNumber) == fields[4]);
            Check(std::to_string(notice->syncedAt) == fields[5]);
            Check(notice->options.syncedAt == *storedTimeText(notice->syncedAt));
            (void)isUsablePasswordHash(notice->passwordHash);
        }
        Check(!notice || isValidCameraId(notice->options.camera));
    } else if (channel == "sessions") {
        const auto notice = readSessionNotice(fields);
        if (notice) {
            Check(isTokenHash(notice->tokenHash) && isValidCameraId(notice->session.camera));
            Check(std::to_string(notice->session.until) == fields[1]);
        }
    }
}

void Notice(std::string_view input) {
    const auto [channel, payload] = Split(input);
    const auto notice = readNotice("kestrova:", channel, payload);
    if (!notice)
        return;
    Check("kestrova:" + std::string(notice->channel) == channel);
    std::vector<std::string_view> all{notice->origin};
    all.insert(all.end(), notice->fields.begin(), notice->fields.end());
    Check(packFields(all) == payload);
    NoticeOfChannel(notice->channel, notice->fields);
}

void PasswordHash(std::string_view input) {
    const std::string hash(input);
    if (isUsablePasswordHash(hash) && !hash.empty())
        Check(hash.rfind("$argon2id$", 0) == 0);
}

void PgInteger(std::string_view input, bool binary) {
    const auto number = pgIntegerValue(input, binary);
    if (!number)
        return;
    if (binary) {
        // Written again big-endian in as many bytes.
        std::string again(input.size(), '\0');
        for (std::size_t i = 0; i < again.size(); ++i)
            again[again.size() - 1 - i] =
                static_cast<char>(static_cast<std::uint64_t>(*number) >> (8 * i) & 0xFF);
        Check(again == input);
    } else {
        Check(std::stoll(std::string(input)) == *number);
    }
}

void PgBoolean(std::string_view input, bool binary) {
    const auto value = pgBooleanValue(input, binary);
    Check(!value || input.size() == 1);
}

void PgBytea(std::string_view input) {
    const auto bytes = pgByteaValue(input, false);
    if (!bytes || input.substr(0, 2) != "\\x")
        return;
    Check(bytes->size() * 2 + 2 == input.size());
    static const char* const kDigits = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes->size(); ++i) {
        const auto byte = static_cast<unsigned char>((*bytes)[i]);
        Check(std::tolower(static_cast<unsigned char>(input[2 + 2 * i])) == kDigits[byte >> 4]);
        Check(std::tolower(static_cast<unsigned char>(input[3 + 2 * i])) == kDigits[byte & 15]);
    }
}

void StoredTime(std::string_view input) {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < 8; ++i)
        bits = bits << 8 | (i < input.size() ? static_cast<unsigned char>(input[i]) : 0);
    const auto millis = static_cast<std::int64_t>(bits);
    const auto text = storedTimeText(millis);
    Check(text.has_value() == (millis >= 0 && millis <= kLatestMillis));
    if (text) {
        Check(text->size() == 20 && (*text)[10] == 'T' && text->back() == 'Z');
        const int year = std::stoi(text->substr(0, 4));
        Check(year >= 1970 && year <= 2200);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 13) {
    case 0:
        FrameValue(input);
        break;
    case 1:
        MoveEntry(input);
        break;
    case 2:
        Visit(input);
        break;
    case 3:
        Session(input);
        break;
    case 4:
        WrongPasswordCount(input);
        break;
    case 5:
        Notice(input);
        break;
    case 6:
        PasswordHash(input);
        break;
    case 7:
        PgInteger(input, false);
        break;
    case 8:
        PgInteger(input, true);
        break;
    case 9:
        PgBoolean(input, false);
        break;
    case 10:
        PgBoolean(input, true);
        break;
    case 11:
        PgBytea(input);
        break;
    default:
        StoredTime(input);
        break;
    }
    return 0;
}

#pragma once

#include "Database.h"
#include "Time.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reflector {

// One station's entry in the live listing, as its posting helper posts it. `name` is the
// decoded camera name (UTF-8); `email` is kept but never shown.
struct ListingEntry {
    std::string camera;
    std::string name;
    std::string email;     // empty: none given
    std::string relay;     // host:port of the camera's relay
    std::string folder;    // "webcams"
    int type = 0;          // installation type number
    bool ptz = false;      // motorised camera
    bool password = false; // viewers must give a password
    bool listed = false;   // shown in the public live list
    bool hideThumbnail = false;
    bool archive = false;    // the archive is shown
    std::string refreshedAt; // UTC, ISO 8601; set by the store
};

// The result of reading a posted entry: `error` (a few words) is empty on success.
struct ParsedListing {
    ListingEntry entry;
    std::string token; // empty: none given
    std::string error;
};

// Reads the fields of "POST /live/post" (already form-decoded).
ParsedListing parseListingPost(const std::vector<std::pair<std::string, std::string>>& fields);

// True for a listing token: 32 lower-case hexadecimal digits.
bool isListingToken(const std::string& token);

// The live listing: entries held under a token chosen here, alive while their station
// refreshes them, kept in the relay's database so that a restart keeps them until they expire.
// Tokens are compared in constant time. Safe to use from several threads.
class ListingStore {
  public:
    // An entry not refreshed for `timeToLive` is gone. At most `maxEntries` entries live at once.
    ListingStore(Database& db, TimeSource now, std::chrono::milliseconds timeToLive,
                 std::size_t maxEntries);

    enum class Outcome {
        Created,     // a new entry (or one replacing an expired one), under a new token
        Replaced,    // the entry's values replaced, under its token
        Refreshed,   // the entry's time renewed
        Removed,     // the entry is gone (or was not there)
        NotListed,   // no live entry
        HeldByOther, // a live entry under another token
        Full,        // as many entries as allowed live already
    };
    struct Result {
        Outcome outcome;
        std::string token; // for Created and Replaced
    };

    Result post(const ListingEntry& entry, const std::string& token);
    Result refresh(const std::string& camera, const std::string& token);
    Result remove(const std::string& camera, const std::string& token);
    bool isListed(const std::string& camera);
    // Removes the camera's entry, whatever its token.
    void forget(const std::string& camera);
    // The live entries, by camera identifier, each without its e-mail address.
    std::vector<ListingEntry> current();

  private:
    // The oldest refresh time of a live entry, in milliseconds.
    std::int64_t liveSince();

    Database& db_;
    TimeSource now_;
    std::chrono::milliseconds timeToLive_;
    std::size_t maxEntries_;
};

} // namespace reflector

#pragma once

#include <chrono>
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

// True for a listing token: 32 lower-case hexadecimal digits.
bool isListingToken(const std::string& token);
// A new listing token, random.
std::string newListingToken();
// True when a token given is the one kept (a listing token), compared in time that does not
// depend on where they differ.
bool sameListingToken(const std::string& given, const std::string& kept);

// The live listing: entries held under a token chosen by the store, alive while their station
// refreshes them within the listing's time to live, kept so that a restart keeps them until
// they expire. Tokens are compared in constant time. At most a number of entries live at once.
// Failures throw StorageError.
class ListingStore {
  public:
    virtual ~ListingStore() = default;

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

    // Posts an entry under `token` (empty: none yet).
    virtual Result post(const ListingEntry& entry, const std::string& token) = 0;
    virtual Result refresh(const std::string& camera, const std::string& token) = 0;
    virtual Result remove(const std::string& camera, const std::string& token) = 0;
    virtual bool isListed(const std::string& camera) = 0;
    // Removes the camera's entry, whatever its token.
    virtual void forget(const std::string& camera) = 0;
    // The live entries, by camera identifier, each without its e-mail address.
    virtual std::vector<ListingEntry> current() = 0;
};

} // namespace reflector

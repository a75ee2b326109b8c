#pragma once

// Station keys. A station makes a random 256-bit key at its first start and sends it with every
// request about its camera as "Authorization: Bearer KEY" (43 characters of base64url). The
// relay binds a camera to the first key it is registered with and keeps only the key's hash:
// a random key of that size needs no slow hash, only a comparison that takes the same time
// wherever the hashes differ.

#include "core/Http.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace reflector {

constexpr std::size_t kStationKeyLength = 43;

// The key a request carries ("Authorization: Bearer KEY", the scheme's name in any case);
// nullopt when it carries none. Whatever follows the scheme comes back: isStationKey tells
// whether it can be a key at all.
std::optional<std::string> bearerKey(const HttpRequest& req);

// True for 43 characters of base64url (A-Z, a-z, 0-9, '-', '_').
bool isStationKey(std::string_view key);

// The hash the relay keeps of a key: 64 lower-case hexadecimal digits (BLAKE2b-256).
std::string stationKeyHash(std::string_view key);

// True when two kept hashes are equal; the time it takes does not depend on where they differ.
bool sameKeyHash(const std::string& a, const std::string& b);

// How a request stands with the key of the camera it names.
enum class KeyStanding {
    Holder,  // it carries the key the camera is bound to
    Open,    // the camera is bound to no key, and the request may use it
    Missing, // it carries no key, and the camera (or the relay) needs one
    Invalid, // what it carries cannot be a key
    Wrong,   // it carries another key than the one the camera is bound to
};

// The standing of a request carrying `key` (nullopt: none) towards a camera bound to
// `boundHash` (empty: bound to no key). Without a key, an unbound camera is open only when the
// relay takes keyless clients.
KeyStanding keyStanding(const std::optional<std::string>& key, const std::string& boundHash,
                        bool allowKeyless);

// Why a request of that standing is refused, in words that follow a route's own refusal
// ("Reflector: false - " ...); empty for Holder and Open. A station finds the words
// "key does not match" in the refusal of a key that is not its camera's.
std::string keyRefusal(KeyStanding standing, const std::string& camera);

} // namespace reflector

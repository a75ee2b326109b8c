#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace reflector {

// Viewer passwords are kept as Argon2id hashes made by libsodium (crypto_pwhash_str): the text
// holds the algorithm, its cost, a random salt and the hash, never the password. Hashing costs
// about 19 MiB of memory and a few tens of milliseconds; one hash is computed at a time, so
// that a burst of requests cannot take the memory of many at once.

class PasswordHashError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A fresh salted hash of `password`; throws PasswordHashError when it cannot be made (out of
// memory).
std::string hashPassword(std::string_view password);

// True when `password` matches `hash` (made by hashPassword). The comparison takes the same
// time wherever the first difference lies. A text that is not such a hash never matches.
bool verifyPassword(const std::string& hash, std::string_view password);

// True when `hash` is a hash hashPassword makes: Argon2id at its cost. A hash of another cost
// would make its check as dear as that cost says.
bool isOwnPasswordHash(const std::string& hash);

} // namespace reflector

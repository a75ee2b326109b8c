#include "core/PasswordHash.h"

#include <mutex>
#include <sodium.h>

namespace reflector {

namespace {

// The second of the settings recommended for Argon2id by OWASP: 19 MiB, two passes.
constexpr unsigned long long kPasses = 2;
constexpr std::size_t kMemoryBytes = 19 * 1024 * 1024;

std::mutex hashing;

void initialise() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        throw PasswordHashError("the cryptography library cannot be initialised");
    }
}

} // namespace

std::string hashPassword(std::string_view password) {
    initialise();
    char out[crypto_pwhash_STRBYTES];
    std::lock_guard lock(hashing);
    if (crypto_pwhash_str(out, password.data(), password.size(), kPasses, kMemoryBytes) != 0) {
        throw PasswordHashError("cannot hash the password (out of memory)");
    }
    return out;
}

bool verifyPassword(const std::string& hash, std::string_view password) {
    initialise();
    if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) {
        return false;
    }
    std::lock_guard lock(hashing);
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

bool isOwnPasswordHash(const std::string& hash) {
    initialise();
    // libsodium would also take an Argon2i hash of the same cost.
    return hash.rfind(crypto_pwhash_argon2id_STRPREFIX, 0) == 0 &&
           hash.size() < crypto_pwhash_STRBYTES &&
           hash.find('\0') == std::string::npos &&
           crypto_pwhash_str_needs_rehash(hash.c_str(), kPasses, kMemoryBytes) == 0;
}

} // namespace reflector

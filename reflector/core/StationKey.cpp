#include "core/StationKey.h"

#include <sodium.h>
#include <stdexcept>

namespace reflector {

std::optional<std::string> bearerKey(const HttpRequest& req) {
    if (!req.hasHeader("Authorization")) {
        return std::nullopt;
    }
    const std::string value = req.header("Authorization");
    constexpr std::string_view scheme = "bearer ";
    if (value.size() < scheme.size()) {
        return value;
    }
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        const char c = value[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != scheme[i]) {
            return value;
        }
    }
    std::string key = value.substr(scheme.size());
    key.erase(0, key.find_first_not_of(' '));
    return key;
}

bool isStationKey(std::string_view key) {
    if (key.size() != kStationKeyLength) {
        return false;
    }
    for (const char c : key) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string stationKeyHash(std::string_view key) {
    if (sodium_init() < 0) {
        throw std::runtime_error("the cryptography library cannot be initialised");
    }
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(key.data()),
                       key.size(), nullptr, 0);
    char hex[sizeof digest * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

bool sameKeyHash(const std::string& a, const std::string& b) {
    return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

KeyStanding keyStanding(const std::optional<std::string>& key, const std::string& boundHash,
                        bool allowKeyless) {
    if (!key) {
        return boundHash.empty() && allowKeyless ? KeyStanding::Open : KeyStanding::Missing;
    }
    if (!isStationKey(*key)) {
        return KeyStanding::Invalid;
    }
    if (boundHash.empty()) {
        return KeyStanding::Open;
    }
    return sameKeyHash(stationKeyHash(*key), boundHash) ? KeyStanding::Holder : KeyStanding::Wrong;
}

std::string keyRefusal(KeyStanding standing, const std::string& camera) {
    switch (standing) {
    case KeyStanding::Missing:
        return "a station key is required for camera " + camera;
    case KeyStanding::Invalid:
        return "the station key is not valid";
    case KeyStanding::Wrong:
        return "the station key does not match the key camera " + camera + " is registered with";
    case KeyStanding::Holder:
    case KeyStanding::Open:
        break;
    }
    return {};
}

} // namespace reflector

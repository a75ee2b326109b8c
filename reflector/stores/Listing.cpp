#include "stores/Listing.h"

#include "core/Random.h"
#include "core/StationKey.h"

namespace reflector {

bool isListingToken(const std::string& token) {
    if (token.size() != 32) {
        return false;
    }
    for (char c : token) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

std::string newListingToken() {
    return randomHex(16);
}

bool sameListingToken(const std::string& given, const std::string& kept) {
    // Both compared whole, in constant time, as station key hashes are.
    return given.size() == 32 && sameKeyHash(given, kept);
}

} // namespace reflector

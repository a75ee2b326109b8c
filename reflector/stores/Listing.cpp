#include "stores/Listing.h"

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

} // namespace reflector

#include "core/Random.h"

#include <sodium.h>

#include <stdexcept>
#include <vector>

namespace reflector {

std::string randomHex(std::size_t bytes) {
    if (sodium_init() < 0) {
        throw std::runtime_error("the cryptography library cannot be initialised");
    }
    std::vector<unsigned char> random(bytes);
    randombytes_buf(random.data(), random.size());
    std::string hex(2 * bytes + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), random.data(), random.size());
    hex.pop_back(); // the terminating zero
    return hex;
}

} // namespace reflector

#pragma once

#include <cstddef>
#include <string>

namespace reflector {

// `bytes` random bytes from the system's generator (libsodium), as lower-case hexadecimal: the
// relay's tokens (sessions, listing entries) and names. Throws std::runtime_error when the
// library cannot be initialised.
std::string randomHex(std::size_t bytes);

} // namespace reflector

#include "core/Jpeg.h"

namespace reflector {

bool looksLikeJpeg(std::string_view bytes) {
    if (bytes.size() < 4) {
        return false;
    }
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const std::size_t n = bytes.size();
    return at(0) == 0xFF && at(1) == 0xD8 && at(n - 2) == 0xFF && at(n - 1) == 0xD9;
}

} // namespace reflector

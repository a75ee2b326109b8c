#include "core/CameraId.h"

namespace reflector {

bool isValidCameraId(std::string_view id) {
    if (id.empty() || id.size() > kMaxCameraIdLength) {
        return false;
    }
    for (char c : id) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '-' && c != '_') {
            return false;
        }
    }
    return true;
}

} // namespace reflector

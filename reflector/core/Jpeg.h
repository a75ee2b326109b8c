#pragma once

#include <string_view>

namespace reflector {

// A cheap plausibility check of an uploaded frame: a JPEG stream starts with the start-of-image
// marker FF D8 and ends with the end-of-image marker FF D9. The picture itself is not decoded.
bool looksLikeJpeg(std::string_view bytes);

} // namespace reflector

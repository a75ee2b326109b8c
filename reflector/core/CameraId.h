#pragma once

#include <cstddef>
#include <string_view>

namespace reflector {

// Longest camera identifier the relay accepts; the station keeps its identifier in a
// 50-character field.
constexpr std::size_t kMaxCameraIdLength = 50;

// The folder under which every camera lives; the station sends it as `path`.
constexpr std::string_view kCameraFolder = "webcams";

// True when `id` is 1 to 50 characters, each an ASCII letter, a digit, '-' or '_'. Only such
// identifiers reach the database, file names or pages.
bool isValidCameraId(std::string_view id);

} // namespace reflector

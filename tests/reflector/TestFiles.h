#pragma once

#include "common/TempDir.h"

#include <cstddef>
#include <filesystem>
#include <string>

namespace reflector::test {

using kestrova::test::TempDir;

// Bytes shaped like a JPEG stream (start and end markers) with pseudo-random content between,
// including CR LF and "--" sequences that a careless multipart reader would trip over.
std::string fakeJpeg(std::size_t size, unsigned seed);

} // namespace reflector::test

#pragma once

namespace kestrova {
constexpr int kVersionMajor = 3;
constexpr int kVersionMinor = 0;
constexpr int kVersionRevision = 33;
} // namespace kestrova

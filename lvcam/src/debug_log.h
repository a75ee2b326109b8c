// Failure explanations on standard error, written only when LVCAM_DEBUG=1. The library never
// writes to standard output: the station's own output must stay its own.
#pragma once

namespace lvcam {

bool DebugEnabled();

// One line "lvcam: <text>" on standard error when debugging is on.
void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace lvcam

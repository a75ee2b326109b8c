#include "debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lvcam {

bool DebugEnabled() {
    const char* value = std::getenv("LVCAM_DEBUG");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

void DebugLog(const char* format, ...) {
    if (!DebugEnabled()) {
        return;
    }
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "lvcam: %s\n", line);
}

} // namespace lvcam

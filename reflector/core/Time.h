#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace reflector {

// Wall-clock time, as the relay stamps commands, visits, listing entries and archive frames.
// The relay reads it through a TimeSource so that tests can move it by hand.
using WallClock = std::chrono::system_clock;
using TimeSource = std::function<WallClock::time_point()>;

// `source`, or the system clock when it is empty.
inline TimeSource clockOrSystem(TimeSource source) {
    if (source) {
        return source;
    }
    return [] { return WallClock::now(); };
}

inline std::int64_t unixMillis(WallClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

} // namespace reflector

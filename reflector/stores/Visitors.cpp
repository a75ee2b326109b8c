#include "stores/Visitors.h"

namespace reflector {

void VisitorTracker::statusAsync(const std::string& camera, Status done) {
    WallClock::duration endsIn{};
    const bool visited = status(camera, &endsIn);
    done(visited, endsIn);
}

} // namespace reflector

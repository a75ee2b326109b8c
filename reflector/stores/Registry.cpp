#include "stores/Registry.h"

#include "core/Time.h"

namespace reflector {

bool Registry::registerCamera(const std::string& id, bool ptz, std::size_t maxCameras) {
    return enrol(id, ptz, {}, unixMillis(WallClock::now()), maxCameras) != Enrolment::Full;
}

} // namespace reflector

#include "stores/embedded/MemoryVisitors.h"

namespace reflector {

MemoryVisitors::MemoryVisitors(TimeSource now, std::chrono::milliseconds window)
    : now_(std::move(now)), window_(window) {}

void MemoryVisitors::noteVisit(const std::string& camera) {
    bool arrived = false;
    {
        std::lock_guard lock(mutex_);
        arrived = !statusLocked(camera, nullptr);
        lastVisit_[camera] = now_();
    }
    // Only a camera that had no visitors changes its status; a further visit only moves the
    // end of the window, which the waiters find when they look again.
    if (arrived) {
        arrived_.notify(camera);
    }
}

void MemoryVisitors::startWatching(const std::string& camera) {
    bool arrived = false;
    {
        std::lock_guard lock(mutex_);
        arrived = !statusLocked(camera, nullptr);
        ++watching_[camera];
    }
    if (arrived) {
        arrived_.notify(camera);
    }
}

void MemoryVisitors::stopWatching(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = watching_.find(camera);
    if (it != watching_.end() && --it->second == 0) {
        watching_.erase(it);
    }
    // The window runs on from the moment the viewer left.
    lastVisit_[camera] = now_();
}

bool MemoryVisitors::status(const std::string& camera, WallClock::duration* endsIn) {
    std::lock_guard lock(mutex_);
    return statusLocked(camera, endsIn);
}

bool MemoryVisitors::statusLocked(const std::string& camera, WallClock::duration* endsIn) {
    if (watching_.count(camera) != 0) {
        // It stays so at least a window after the viewer leaves.
        if (endsIn != nullptr) {
            *endsIn = window_;
        }
        return true;
    }
    const auto it = lastVisit_.find(camera);
    if (it == lastVisit_.end()) {
        return false;
    }
    const WallClock::duration left = it->second + window_ - now_();
    if (left <= WallClock::duration::zero()) {
        lastVisit_.erase(it);
        return false;
    }
    if (endsIn != nullptr) {
        *endsIn = left;
    }
    return true;
}

} // namespace reflector

#include "Visitors.h"

#include <algorithm>

namespace reflector {

VisitorTracker::VisitorTracker(TimeSource now, std::chrono::milliseconds window)
    : now_(std::move(now)), window_(window) {}

void VisitorTracker::noteVisit(const std::string& camera) {
    bool arrived = false;
    {
        std::lock_guard lock(mutex_);
        arrived = !statusLocked(camera, nullptr);
        lastVisit_[camera] = now_();
    }
    // Only a camera that had no visitors changes its status; a further visit only moves the
    // end of the window, which the waiters find when they wake for it.
    if (arrived) {
        arrived_.notify_all();
    }
}

bool VisitorTracker::hasVisitors(const std::string& camera) {
    std::lock_guard lock(mutex_);
    return statusLocked(camera, nullptr);
}

bool VisitorTracker::waitForChange(const std::string& camera, bool known,
                                   std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(mutex_);
    for (;;) {
        WallClock::duration endsIn{};
        const bool status = statusLocked(camera, &endsIn);
        const auto now = std::chrono::steady_clock::now();
        if (status != known || closing_ || now >= until) {
            return status;
        }
        // With visitors, the status turns false by itself when the window ends.
        auto wakeAt = until;
        if (status) {
            wakeAt = std::min(
                until,
                now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(endsIn));
        }
        arrived_.wait_until(lock, wakeAt);
    }
}

void VisitorTracker::shutdown() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    arrived_.notify_all();
}

bool VisitorTracker::statusLocked(const std::string& camera, WallClock::duration* endsIn) {
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

#pragma once

#include "Notifier.h"
#include "Time.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace reflector {

// Which cameras have visitors: a camera has them while a viewer watches its live stream, and
// for `window` after a viewer asked for its picture or page or left its stream. Kept in memory
// only: after a restart every camera starts without. Safe to use from several threads.
class VisitorTracker {
  public:
    VisitorTracker(TimeSource now, std::chrono::milliseconds window);

    // A viewer asked for the camera's picture or page just now.
    void noteVisit(const std::string& camera);
    // A viewer started or stopped watching the camera's live stream.
    void startWatching(const std::string& camera);
    void stopWatching(const std::string& camera);

    bool hasVisitors(const std::string& camera) { return status(camera, nullptr); }
    // The status, and while it is true, in `endsIn` at least how long it stays so (left
    // untouched otherwise).
    bool status(const std::string& camera, WallClock::duration* endsIn);

    // `function` is called when the camera gets visitors after having none (see Notifier).
    Notifier::Subscription subscribe(const std::string& camera, std::function<void()> function) {
        return arrived_.subscribe(camera, std::move(function));
    }
    // Calls every subscribed function (the relay is stopping).
    void wakeAll() { arrived_.notifyAll(); }

  private:
    // With mutex_ held.
    bool statusLocked(const std::string& camera, WallClock::duration* endsIn);

    TimeSource now_;
    std::chrono::milliseconds window_;
    std::mutex mutex_;
    std::map<std::string, WallClock::time_point> lastVisit_;
    std::map<std::string, std::size_t> watching_;
    Notifier arrived_;
};

} // namespace reflector

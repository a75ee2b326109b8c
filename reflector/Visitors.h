#pragma once

#include "Time.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

namespace reflector {

// Which cameras have visitors: a camera has them while a viewer asked for its picture or page
// within the last `window`. Kept in memory only: after a restart every camera starts without.
// Safe to use from several threads.
class VisitorTracker {
  public:
    VisitorTracker(TimeSource now, std::chrono::milliseconds window);

    // A viewer asked for the camera's picture or page just now.
    void noteVisit(const std::string& camera);
    bool hasVisitors(const std::string& camera);
    // The camera's status once it differs from `known`, or at `until` (or shutdown()), whatever
    // it is then.
    bool waitForChange(const std::string& camera, bool known,
                       std::chrono::steady_clock::time_point until);
    // Ends every wait, now and later.
    void shutdown();

  private:
    // With mutex_ held: the status now and, while it is true, when it turns false by itself.
    bool statusLocked(const std::string& camera, WallClock::duration* endsIn);

    TimeSource now_;
    std::chrono::milliseconds window_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<std::string, WallClock::time_point> lastVisit_;
    bool closing_ = false;
};

} // namespace reflector

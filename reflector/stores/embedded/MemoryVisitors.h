#pragma once

#include "core/Notifier.h"
#include "core/Time.h"
#include "stores/Visitors.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace reflector {

// The visitor status in this process's memory: after a restart every camera starts without
// visitors.
class MemoryVisitors : public VisitorTracker {
  public:
    MemoryVisitors(TimeSource now, std::chrono::milliseconds window);

    bool inMemory() const override { return true; }
    void noteVisit(const std::string& camera) override;
    void startWatching(const std::string& camera) override;
    void stopWatching(const std::string& camera) override;
    bool status(const std::string& camera, WallClock::duration* endsIn) override;
    Subscription subscribe(const std::string& camera, std::function<void()> function) override {
        return arrived_.subscribe(camera, std::move(function));
    }

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

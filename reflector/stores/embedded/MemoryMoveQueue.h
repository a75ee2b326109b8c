#pragma once

#include "core/Notifier.h"
#include "core/Time.h"
#include "stores/MoveQueue.h"

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace reflector {

// The move queue in this process's memory: a restart forgets the commands not yet fetched.
class MemoryMoveQueue : public MoveQueue {
  public:
    MemoryMoveQueue(TimeSource now, std::chrono::milliseconds timeToLive);

    bool inMemory() const override { return true; }
    void push(const std::string& camera, std::string command) override;
    std::vector<std::string> take(const std::string& camera) override;
    void giveBack(const std::string& camera, std::vector<std::string> commands) override;
    Subscription subscribe(const std::string& camera, std::function<void()> function) override {
        return pushed_.subscribe(camera, std::move(function));
    }

  private:
    struct Pending {
        std::string command;
        WallClock::time_point queuedAt;
    };

    TimeSource now_;
    std::chrono::milliseconds timeToLive_;
    std::mutex mutex_;
    std::map<std::string, std::deque<Pending>> queues_;
    Notifier pushed_;
};

} // namespace reflector

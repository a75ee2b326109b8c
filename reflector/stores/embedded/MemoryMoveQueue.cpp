#include "stores/embedded/MemoryMoveQueue.h"

namespace reflector {

MemoryMoveQueue::MemoryMoveQueue(TimeSource now, std::chrono::milliseconds timeToLive)
    : now_(std::move(now)), timeToLive_(timeToLive) {}

void MemoryMoveQueue::push(const std::string& camera, std::string command) {
    {
        std::lock_guard lock(mutex_);
        auto& queue = queues_[camera];
        queue.push_back({std::move(command), now_()});
        while (queue.size() > kMaxPending) {
            queue.pop_front();
        }
    }
    pushed_.notify(camera);
}

std::vector<std::string> MemoryMoveQueue::take(const std::string& camera) {
    std::lock_guard lock(mutex_);
    const auto it = queues_.find(camera);
    if (it == queues_.end()) {
        return {};
    }
    const WallClock::time_point now = now_();
    std::vector<std::string> commands;
    for (Pending& p : it->second) {
        if (now - p.queuedAt < timeToLive_) {
            commands.push_back(std::move(p.command));
        }
    }
    queues_.erase(it);
    return commands;
}

void MemoryMoveQueue::giveBack(const std::string& camera, std::vector<std::string> commands) {
    if (commands.empty()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        auto& queue = queues_[camera];
        const WallClock::time_point now = now_();
        for (auto it = commands.rbegin(); it != commands.rend(); ++it) {
            queue.push_front({std::move(*it), now});
        }
        while (queue.size() > kMaxPending) {
            queue.pop_front();
        }
    }
    pushed_.notify(camera);
}

} // namespace reflector

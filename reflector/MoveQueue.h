#pragma once

#include "Notifier.h"
#include "Time.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace reflector {

// True for a command the station carries out: one of its command words, or
// "Preset_<pan>:<tilt>:<zoom>" with three decimal integers, each an optional sign and 1 to 7
// digits. Nothing else is queued, so that nothing else reaches the station's motors.
bool isStationCommand(std::string_view command);

// The viewers' camera commands waiting for the station's posting helper to fetch them: per
// camera in arrival order, at most kMaxPending (the oldest dropped beyond), each forgotten once
// it is older than the time to live. Safe to use from several threads.
class MoveQueue {
  public:
    static constexpr std::size_t kMaxPending = 32;

    MoveQueue(TimeSource now, std::chrono::milliseconds timeToLive);

    void push(const std::string& camera, std::string command);
    // The camera's pending commands, oldest first; they are handed out only once.
    std::vector<std::string> take(const std::string& camera);
    // `function` is called after each command pushed for the camera (see Notifier).
    Notifier::Subscription subscribe(const std::string& camera, std::function<void()> function) {
        return pushed_.subscribe(camera, std::move(function));
    }
    // Calls every subscribed function (the relay is stopping).
    void wakeAll() { pushed_.notifyAll(); }

  private:
    struct Pending {
        std::string command;
        WallClock::time_point queuedAt;
    };
    // Takes the camera's live commands; with mutex_ held.
    std::vector<std::string> takeLocked(const std::string& camera);

    TimeSource now_;
    std::chrono::milliseconds timeToLive_;
    std::mutex mutex_;
    std::map<std::string, std::deque<Pending>> queues_;
    Notifier pushed_;
};

} // namespace reflector

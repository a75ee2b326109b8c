#pragma once

#include "core/Notifier.h"

#include <functional>
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
// it is older than the commands' time to live.
class MoveQueue {
  public:
    static constexpr std::size_t kMaxPending = 32;
    using Taken = std::function<void(std::vector<std::string> commands)>;

    virtual ~MoveQueue() = default;

    // True when push() and take() answer from memory, never waiting on a disk or the network.
    virtual bool inMemory() const = 0;

    virtual void push(const std::string& camera, std::string command) = 0;
    // The camera's pending commands, oldest first; they are handed out only once.
    virtual std::vector<std::string> take(const std::string& camera) = 0;
    // The same for a held poll, which runs on a network thread and must not wait: `done` gets
    // the commands, at once or later on a thread of the store's. This one calls take() at
    // once; a store that is not in memory takes them on a thread of its own.
    virtual void takeAsync(const std::string& camera, Taken done) { done(take(camera)); }
    // Puts commands that a poll took but could no longer answer with (its time ran out while
    // they were on their way) back in front of the camera's queue, in their order.
    virtual void giveBack(const std::string& camera, std::vector<std::string> commands) = 0;
    // `function` is called after each command pushed for the camera, on whatever relay it was
    // pushed (see Notifier).
    virtual Subscription subscribe(const std::string& camera, std::function<void()> function) = 0;
};

} // namespace reflector

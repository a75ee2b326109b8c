#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace reflector {

// A standing request to be told about an event (a new frame, a queued command, a visit),
// ended on destruction or reset(). Whoever hands it out decides what ending it does: a
// Notifier forgets the function; a store fed by another process may also stop listening there.
class Subscription {
  public:
    Subscription() = default;
    explicit Subscription(std::function<void()> end) : end_(std::move(end)) {}
    ~Subscription() { reset(); }
    Subscription(Subscription&& other) noexcept : end_(std::move(other.end_)) {
        other.end_ = nullptr;
    }
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    void reset();

  private:
    std::function<void()> end_;
};

// Calls the functions subscribed to a key each time that key is signalled: how a held request
// or a live stream learns that its camera has a new command, visitor or frame. The functions
// run on the signalling thread, outside any lock, and must be quick (a transport's wake). A
// function may still be called once after its subscription ended. A store that learns of
// events from another process signals them here from the thread that hears them. Safe to use
// from several threads; every subscription must end before the notifier goes.
class Notifier {
  public:
    Notifier() = default;
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    Subscription subscribe(const std::string& key, std::function<void()> function);
    void notify(const std::string& key);
    // Calls every subscribed function.
    void notifyAll();

  private:
    using Function = std::shared_ptr<const std::function<void()>>;
    void unsubscribe(const std::string& key, std::uint64_t id);

    mutable std::mutex mutex_;
    std::uint64_t next_ = 0;
    std::unordered_map<std::string, std::map<std::uint64_t, Function>> byKey_;
};

} // namespace reflector

#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace reflector {

// Calls the functions subscribed to a key each time that key is signalled: how a held request
// or a live stream learns that its camera has a new command, visitor or frame. The functions
// run on the signalling thread, outside any lock, and must be quick (a transport's wake). A
// function may still be called once after its subscription ended. Safe to use from several
// threads; every subscription must end before the notifier goes.
class Notifier {
  public:
    Notifier() = default;
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // Ends on destruction or reset().
    class Subscription {
      public:
        Subscription() = default;
        Subscription(Notifier* owner, std::string key, std::uint64_t id)
            : owner_(owner), key_(std::move(key)), id_(id) {}
        ~Subscription() { reset(); }
        Subscription(Subscription&& other) noexcept
            : owner_(other.owner_), key_(std::move(other.key_)), id_(other.id_) {
            other.owner_ = nullptr;
        }
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        void reset();

      private:
        Notifier* owner_ = nullptr;
        std::string key_;
        std::uint64_t id_ = 0;
    };

    Subscription subscribe(const std::string& key, std::function<void()> function);
    void notify(const std::string& key);
    // Calls every subscribed function.
    void notifyAll();
    // Functions subscribed now.
    std::size_t subscriptions() const;

  private:
    using Function = std::shared_ptr<const std::function<void()>>;
    void unsubscribe(const std::string& key, std::uint64_t id);

    mutable std::mutex mutex_;
    std::uint64_t next_ = 0;
    std::unordered_map<std::string, std::map<std::uint64_t, Function>> byKey_;
};

} // namespace reflector

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace reflector {

// At most `size` connections, made on demand and kept for reuse; safe to use from several
// threads. take() hands out an idle connection (after `healthy` has passed it), makes a new one
// while fewer than `size` are open, and otherwise waits at most `wait` for one to come back,
// then throws Error. A connection that is not given back as usable is closed, so the next
// take() makes a fresh one in its place.
template <typename Connection, typename Error> class BoundedPool {
  public:
    using Factory = std::function<std::unique_ptr<Connection>()>;
    using Check = std::function<bool(Connection&)>;

    BoundedPool(std::string what, std::size_t size, std::chrono::milliseconds wait, Factory make,
                Check healthy)
        : what_(std::move(what)), size_(size == 0 ? 1 : size), wait_(wait), make_(std::move(make)),
          healthy_(std::move(healthy)) {}
    BoundedPool(const BoundedPool&) = delete;
    BoundedPool& operator=(const BoundedPool&) = delete;

    std::unique_ptr<Connection> take() {
        const auto deadline = std::chrono::steady_clock::now() + wait_;
        std::unique_lock lock(mutex_);
        for (;;) {
            while (!idle_.empty()) {
                std::unique_ptr<Connection> connection = std::move(idle_.back());
                idle_.pop_back();
                lock.unlock();
                if (healthy_(*connection)) {
                    return connection;
                }
                connection.reset();
                lock.lock();
                --open_;
            }
            if (open_ < size_) {
                ++open_;
                lock.unlock();
                try {
                    return make_();
                } catch (...) {
                    lock.lock();
                    --open_;
                    changed_.notify_one();
                    throw;
                }
            }
            const bool free = changed_.wait_until(
                lock, deadline, [this] { return !idle_.empty() || open_ < size_; });
            if (!free) {
                throw Error("no " + what_ + " connection came free within " +
                            std::to_string(wait_.count()) + " ms (all " + std::to_string(size_) +
                            " in use)");
            }
        }
    }

    // Takes a connection back: kept for the next take() when `usable`, closed otherwise.
    void give(std::unique_ptr<Connection> connection, bool usable) {
        if (!usable) {
            connection.reset();
        }
        std::lock_guard lock(mutex_);
        if (connection) {
            idle_.push_back(std::move(connection));
        } else {
            --open_;
        }
        changed_.notify_one();
    }

    std::size_t size() const { return size_; }

  private:
    const std::string what_;
    const std::size_t size_;
    const std::chrono::milliseconds wait_;
    const Factory make_;
    const Check healthy_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Connection>> idle_;
    std::size_t open_ = 0;
};

} // namespace reflector

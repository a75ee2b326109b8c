#pragma once

#include "stores/shared/ConnectionUrl.h"
#include "stores/shared/RedisPool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace reflector {

// A message of a subscription; `pattern` is empty for one of a channel.
struct RedisMessage {
    std::string pattern;
    std::string channel;
    std::string payload;
};

struct RedisSubscriberOptions {
    // redis://[[user]:password@]host[:port][/db]
    std::string url;
    std::vector<std::string> channels;
    std::vector<std::string> patterns;
    std::chrono::milliseconds connectTimeout{1000};
    // The wait for the answers to AUTH, SUBSCRIBE and PING.
    std::chrono::milliseconds answerTimeout{2000};
    // After so long without a word from the server, a PING checks that it is still there: a
    // server that vanished without closing the connection is noticed within this and
    // answerTimeout.
    std::chrono::milliseconds pingEvery{2000};
    // The wait before a new connection, doubled after each failure up to lastRetry.
    std::chrono::milliseconds firstRetry{100};
    std::chrono::milliseconds lastRetry{5000};
    // Where the losses and returns of the connection are told; standard error when empty.
    std::function<void(const std::string&)> log;
};

// One thread with a connection of its own, subscribed to channels and patterns. Each message
// goes to `onMessage`. When the connection drops (or the server stops answering) it connects
// again after a growing wait, subscribes again, and then calls `onBack`: messages may have been
// missed meanwhile, so what they would have told should be read again. A first connection
// that failed counts as a loss too. The callbacks run on the subscriber's thread, one at a
// time; they must not destroy the subscriber. The destructor returns promptly whatever the
// connection is doing.
class RedisSubscriber {
  public:
    using OnMessage = std::function<void(const RedisMessage&)>;
    using OnBack = std::function<void()>;

    // Throws RedisError when the URL is not a Redis URL; connects in the background.
    RedisSubscriber(RedisSubscriberOptions options, OnMessage onMessage, OnBack onBack = {});
    ~RedisSubscriber();
    RedisSubscriber(const RedisSubscriber&) = delete;
    RedisSubscriber& operator=(const RedisSubscriber&) = delete;

    // True once every subscription is confirmed, false while the connection is down.
    bool subscribed() const { return subscribed_; }
    // Waits at most `limit` for subscribed().
    bool waitUntilSubscribed(std::chrono::milliseconds limit);

  private:
    class Session;
    void run();
    void setSubscribed(bool subscribed);
    void log(const std::string& line) const;
    // Sleeps for `span` unless stopped first; false when stopped.
    bool pause(std::chrono::milliseconds span) const;

    const RedisSubscriberOptions options_;
    const OnMessage onMessage_;
    const OnBack onBack_;
    RedisAddress address_;
    int wake_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> subscribed_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

} // namespace reflector

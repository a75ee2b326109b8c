#pragma once

// The counters of clients' rates and wrong passwords, and the viewers' sessions, in this
// process's memory: a restart forgets them (viewers log in again). Each bounded in size.

#include "core/Time.h"
#include "stores/ViewerGuard.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace reflector {

// `burst` requests at once, then `perSecond`. At most `maxKeys` keys are kept; beyond them the
// keys whose buckets have filled up again go first, then the oldest.
class MemoryRateLimiter : public RateLimiter {
  public:
    MemoryRateLimiter(TimeSource now, double perSecond, double burst, std::size_t maxKeys = 100000);
    bool inMemory() const override { return true; }
    bool allow(const std::string& key) override;

  private:
    struct Bucket {
        double tokens;
        WallClock::time_point at;
    };
    void prune(WallClock::time_point now); // with mutex_ held

    TimeSource now_;
    double perSecond_;
    double burst_;
    std::size_t maxKeys_;
    std::mutex mutex_;
    std::map<std::string, Bucket> buckets_;
};

// The first `freeTries` wrong passwords of a key within an hour cost nothing, each further one
// doubles the wait before the next try, from one second up to `longestWait`. At most
// `maxAddresses` keys are kept.
class MemoryLoginThrottle : public LoginThrottle {
  public:
    MemoryLoginThrottle(TimeSource now, int freeTries = 5,
                        std::chrono::seconds longestWait = std::chrono::minutes(5),
                        std::size_t maxAddresses = 100000);
    std::optional<std::chrono::seconds> waitFor(const std::string& key) override;
    void failed(const std::string& key) override;
    void succeeded(const std::string& key) override;

  private:
    struct Record {
        int failures = 0;
        WallClock::time_point last;
    };
    TimeSource now_;
    int freeTries_;
    std::chrono::seconds longestWait_;
    std::size_t maxAddresses_;
    std::mutex mutex_;
    std::map<std::string, Record> records_;
};

// Sessions of `lifetime`; at most `maxSessions` live, the oldest go first.
class MemorySessions : public ViewerSessions {
  public:
    MemorySessions(TimeSource now, std::chrono::milliseconds lifetime,
                   std::size_t maxSessions = 100000);
    bool inMemory() const override { return true; }
    std::string open(const std::string& camera, const std::string& stamp) override;
    bool valid(std::string_view token, const std::string& camera,
               const std::string& stamp) override;
    std::chrono::milliseconds lifetime() const override { return lifetime_; }

  private:
    struct Session {
        std::string camera;
        std::string stamp;
        WallClock::time_point until;
    };
    static std::string key(std::string_view token);

    TimeSource now_;
    std::chrono::milliseconds lifetime_;
    std::size_t maxSessions_;
    std::mutex mutex_;
    std::map<std::string, Session> sessions_;
};

} // namespace reflector

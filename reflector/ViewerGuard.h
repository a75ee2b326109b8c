#pragma once

// What keeps viewers within bounds: the sessions of viewers who gave a camera's password, the
// rate of their requests, and the delay after wrong passwords. All kept in memory only (a
// restart asks viewers to log in again) and bounded in size. Safe to use from several threads.

#include "Time.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace reflector {

// A token bucket per key (a client address): `burst` requests at once, then `perSecond`. At
// most `maxKeys` keys are kept; beyond them the keys whose buckets have filled up again go
// first, then the oldest.
class RateLimiter {
  public:
    RateLimiter(TimeSource now, double perSecond, double burst, std::size_t maxKeys = 100000);
    // True when the key may make a request now (and counts it).
    bool allow(const std::string& key);

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

// Wrong passwords per client address: the first `freeTries` within an hour cost nothing, each
// further one doubles the wait before the next try, from one second up to `longestWait`. A
// right password clears the address's count.
class LoginThrottle {
  public:
    LoginThrottle(TimeSource now, int freeTries = 5,
                  std::chrono::seconds longestWait = std::chrono::minutes(5),
                  std::size_t maxAddresses = 100000);
    // How long the address must still wait before its next try; nullopt when it may try now.
    std::optional<std::chrono::seconds> waitFor(const std::string& address);
    void failed(const std::string& address);
    void succeeded(const std::string& address);

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

// Sessions of viewers who gave a camera's password. A session is a random token (the cookie's
// value) that opens one camera for `lifetime`, and only while the camera keeps the password it
// was opened with (`stamp`, any text that changes with the password). Tokens are kept as
// hashes, so a lookup's timing tells nothing about the tokens. At most `maxSessions` live; the
// oldest go first.
class ViewerSessions {
  public:
    ViewerSessions(TimeSource now, std::chrono::milliseconds lifetime,
                   std::size_t maxSessions = 100000);
    // A new session's token: 64 lower-case hexadecimal digits.
    std::string open(const std::string& camera, const std::string& stamp);
    bool valid(std::string_view token, const std::string& camera, const std::string& stamp);
    std::chrono::milliseconds lifetime() const { return lifetime_; }

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

// The name of the cookie that holds a viewer's session for a camera.
std::string sessionCookieName(const std::string& camera);

// The value of a cookie in a Cookie header ("a=1; b=2"); empty when absent.
std::string cookieValue(std::string_view cookieHeader, std::string_view name);

} // namespace reflector

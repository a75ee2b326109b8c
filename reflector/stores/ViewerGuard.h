#pragma once

// What keeps clients within bounds: the counters of their request rates and wrong passwords,
// and the sessions of viewers who gave a camera's password. Each is a counter or a record per
// key that lapses by itself after a while; bounded in number, so that no client can fill the
// relay's memory.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace reflector {

// A token bucket per key (a client address): a burst of requests at once, then so many per
// second.
class RateLimiter {
  public:
    virtual ~RateLimiter() = default;
    // True when allow() answers from memory, never waiting on a disk or the network.
    virtual bool inMemory() const = 0;
    // True when the key may make a request now (and counts it).
    virtual bool allow(const std::string& key) = 0;
};

// Wrong passwords per key (a client address, a camera): the first few within an hour cost
// nothing, each further one doubles the wait before the next try, from one second up to a
// longest wait. A right password may clear the key's count.
class LoginThrottle {
  public:
    virtual ~LoginThrottle() = default;
    // How long the key must still wait before its next try; nullopt when it may try now.
    virtual std::optional<std::chrono::seconds> waitFor(const std::string& key) = 0;
    virtual void failed(const std::string& key) = 0;
    virtual void succeeded(const std::string& key) = 0;
};

// Sessions of viewers who gave a camera's password. A session is a random token (the cookie's
// value) that opens one camera for the sessions' lifetime, and only while the camera keeps the
// password it was opened with (`stamp`, any text that changes with the password). Only hashes
// of tokens are kept, so a lookup's timing tells nothing about the tokens.
class ViewerSessions {
  public:
    virtual ~ViewerSessions() = default;
    // True when valid() answers from memory, never waiting on a disk or the network.
    virtual bool inMemory() const = 0;
    // A new session's token: 64 lower-case hexadecimal digits.
    virtual std::string open(const std::string& camera, const std::string& stamp) = 0;
    virtual bool valid(std::string_view token, const std::string& camera,
                       const std::string& stamp) = 0;
    virtual std::chrono::milliseconds lifetime() const = 0;
};

} // namespace reflector

#include "stores/embedded/MemoryViewerGuard.h"

#include "core/Random.h"

#include <algorithm>
#include <sodium.h>
#include <stdexcept>

namespace reflector {

MemoryRateLimiter::MemoryRateLimiter(TimeSource now, double perSecond, double burst,
                                     std::size_t maxKeys)
    : now_(std::move(now)), perSecond_(perSecond), burst_(burst), maxKeys_(maxKeys) {}

bool MemoryRateLimiter::allow(const std::string& key) {
    const WallClock::time_point now = now_();
    std::lock_guard lock(mutex_);
    auto it = buckets_.find(key);
    if (it == buckets_.end()) {
        if (buckets_.size() >= maxKeys_) {
            prune(now);
        }
        it = buckets_.emplace(key, Bucket{burst_, now}).first;
    }
    Bucket& b = it->second;
    const double seconds = std::chrono::duration<double>(now - b.at).count();
    b.tokens = std::min(burst_, b.tokens + std::max(0.0, seconds) * perSecond_);
    b.at = now;
    if (b.tokens < 1.0) {
        return false;
    }
    b.tokens -= 1.0;
    return true;
}

void MemoryRateLimiter::prune(WallClock::time_point now) {
    const auto full = std::chrono::duration<double>(burst_ / perSecond_);
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        it = now - it->second.at >= full ? buckets_.erase(it) : std::next(it);
    }
    while (buckets_.size() >= maxKeys_) {
        const auto oldest =
            std::min_element(buckets_.begin(), buckets_.end(), [](const auto& a, const auto& b) {
                return a.second.at < b.second.at;
            });
        buckets_.erase(oldest);
    }
}

MemoryLoginThrottle::MemoryLoginThrottle(TimeSource now, int freeTries,
                                         std::chrono::seconds longestWait, std::size_t maxAddresses)
    : now_(std::move(now)), freeTries_(freeTries), longestWait_(longestWait),
      maxAddresses_(maxAddresses) {}

namespace {

constexpr auto kForgetAfter = std::chrono::hours(1);

} // namespace

std::optional<std::chrono::seconds> MemoryLoginThrottle::waitFor(const std::string& address) {
    const WallClock::time_point now = now_();
    std::lock_guard lock(mutex_);
    const auto it = records_.find(address);
    if (it == records_.end()) {
        return std::nullopt;
    }
    if (now - it->second.last >= kForgetAfter) {
        records_.erase(it);
        return std::nullopt;
    }
    const int over = it->second.failures - freeTries_;
    if (over < 0) {
        return std::nullopt;
    }
    const std::chrono::seconds wait = std::min<std::chrono::seconds>(
        longestWait_, std::chrono::seconds(1LL << std::min(over, 20)));
    const auto left = it->second.last + wait - now;
    if (left <= WallClock::duration::zero()) {
        return std::nullopt;
    }
    return std::chrono::ceil<std::chrono::seconds>(left);
}

void MemoryLoginThrottle::failed(const std::string& address) {
    const WallClock::time_point now = now_();
    std::lock_guard lock(mutex_);
    auto it = records_.find(address);
    if (it == records_.end()) {
        if (records_.size() >= maxAddresses_) {
            for (auto r = records_.begin(); r != records_.end();) {
                r = now - r->second.last >= kForgetAfter ? records_.erase(r) : std::next(r);
            }
            if (records_.size() >= maxAddresses_) {
                // Forgetting an address that tries little costs less than forgetting one that
                // tries much.
                records_.erase(std::min_element(records_.begin(), records_.end(),
                                                [](const auto& a, const auto& b) {
                                                    return a.second.failures < b.second.failures;
                                                }));
            }
        }
        it = records_.emplace(address, Record{}).first;
    } else if (now - it->second.last >= kForgetAfter) {
        it->second.failures = 0;
    }
    ++it->second.failures;
    it->second.last = now;
}

void MemoryLoginThrottle::succeeded(const std::string& address) {
    std::lock_guard lock(mutex_);
    records_.erase(address);
}

MemorySessions::MemorySessions(TimeSource now, std::chrono::milliseconds lifetime,
                               std::size_t maxSessions)
    : now_(std::move(now)), lifetime_(lifetime), maxSessions_(maxSessions) {
    if (sodium_init() < 0) {
        throw std::runtime_error("the cryptography library cannot be initialised");
    }
}

std::string MemorySessions::key(std::string_view token) {
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()),
                       token.size(), nullptr, 0);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string MemorySessions::open(const std::string& camera, const std::string& stamp) {
    const std::string token = randomHex(32);
    const WallClock::time_point now = now_();
    std::lock_guard lock(mutex_);
    if (sessions_.size() >= maxSessions_) {
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            it = it->second.until <= now ? sessions_.erase(it) : std::next(it);
        }
        while (sessions_.size() >= maxSessions_) {
            sessions_.erase(std::min_element(
                sessions_.begin(), sessions_.end(),
                [](const auto& a, const auto& b) { return a.second.until < b.second.until; }));
        }
    }
    sessions_[key(token)] = Session{camera, stamp, now + lifetime_};
    return token;
}

bool MemorySessions::valid(std::string_view token, const std::string& camera,
                           const std::string& stamp) {
    if (token.size() != 64) {
        return false;
    }
    const std::string k = key(token);
    const WallClock::time_point now = now_();
    std::lock_guard lock(mutex_);
    const auto it = sessions_.find(k);
    if (it == sessions_.end()) {
        return false;
    }
    if (it->second.until <= now) {
        sessions_.erase(it);
        return false;
    }
    return it->second.camera == camera && it->second.stamp == stamp;
}

} // namespace reflector

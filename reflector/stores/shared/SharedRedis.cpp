// The shared stores that keep the hot state in Redis.

#include "core/CameraId.h"
#include "core/Random.h"
#include "stores/shared/SharedStores.h"

#include <algorithm>
#include <sodium.h>

namespace reflector {

namespace {

std::int64_t asMillis(std::chrono::milliseconds span) {
    return span.count();
}

std::string number(std::int64_t n) {
    return std::to_string(n);
}

void checkCamera(const std::string& id) {
    if (!isValidCameraId(id)) {
        throw std::invalid_argument("not a camera identifier");
    }
}

// Stores a frame and tells every relay: the value, then the notice.
const RedisScript kPutFrame(R"(
redis.call('SET', KEYS[1], ARGV[1], 'PX', ARGV[2])
redis.call('PUBLISH', ARGV[3], ARGV[4])
return 1)");

// A command at the end of the camera's queue, the oldest beyond the bound dropped.
const RedisScript kPushMove(R"(
redis.call('RPUSH', KEYS[1], ARGV[1])
redis.call('LTRIM', KEYS[1], -tonumber(ARGV[2]), -1)
redis.call('PEXPIRE', KEYS[1], ARGV[3])
redis.call('PUBLISH', ARGV[4], ARGV[5])
return 1)");

// The whole queue, handed out once.
const RedisScript kTakeMoves(R"(
local commands = redis.call('LRANGE', KEYS[1], 0, -1)
redis.call('DEL', KEYS[1])
return commands)");

// Commands back in front of the queue, in their order.
const RedisScript kGiveBack(R"(
for i = #ARGV - 4, 1, -1 do redis.call('LPUSH', KEYS[1], ARGV[i]) end
redis.call('LTRIM', KEYS[1], -tonumber(ARGV[#ARGV - 3]), -1)
redis.call('PEXPIRE', KEYS[1], ARGV[#ARGV - 2])
redis.call('PUBLISH', ARGV[#ARGV - 1], ARGV[#ARGV])
return 1)");

// Visits: each key keeps the latest visit's time for the window; a camera's first visitor is
// told on the channel once its visit is stored. ARGV: time, window, channel, then per key
// "1" to tell and the notice.
const RedisScript kVisits(R"(
local n = #KEYS
for i = 1, n do
  local last = tonumber(redis.call('GET', KEYS[i]) or '0')
  if tonumber(ARGV[1]) > last then redis.call('SET', KEYS[i], ARGV[1], 'PX', ARGV[2]) end
  if ARGV[3 + i] == '1' then redis.call('PUBLISH', ARGV[3], ARGV[3 + n + i]) end
end
return n)");

// A token bucket: ARGV time, per second, burst, keep (ms). 1 when the request may go.
const RedisScript kBucket(R"(
local b = redis.call('HMGET', KEYS[1], 't', 'at')
local now = tonumber(ARGV[1])
local burst = tonumber(ARGV[3])
local tokens = tonumber(b[1]) or burst
local at = tonumber(b[2]) or now
tokens = math.min(burst, tokens + math.max(0, now - at) / 1000 * tonumber(ARGV[2]))
local ok = 0
if tokens >= 1 then tokens = tokens - 1; ok = 1 end
redis.call('HSET', KEYS[1], 't', tostring(tokens), 'at', tostring(math.max(now, at)))
redis.call('PEXPIRE', KEYS[1], ARGV[4])
return ok)");

// A wrong password: ARGV time, forget after (ms).
const RedisScript kFailed(R"(
local b = redis.call('HMGET', KEYS[1], 'f', 'last')
local now = tonumber(ARGV[1])
local f = tonumber(b[1]) or 0
local last = tonumber(b[2]) or now
if now - last >= tonumber(ARGV[2]) then f = 0 end
redis.call('HSET', KEYS[1], 'f', f + 1, 'last', math.max(now, last))
redis.call('PEXPIRE', KEYS[1], ARGV[2])
return f + 1)");

// The sessions ended before ARGV[1].
const RedisScript kPruneSessions(R"(
local all = redis.call('HGETALL', KEYS[1])
local gone = 0
for i = 1, #all, 2 do
  local until_ = tonumber(string.match(all[i + 1], '^(%d+) ')) or 0
  if until_ <= tonumber(ARGV[1]) then redis.call('HDEL', KEYS[1], all[i]); gone = gone + 1 end
end
return gone)");

} // namespace

// ---- frames ----

SharedFrameStore::SharedFrameStore(SharedContext& context, std::size_t cacheBytes)
    : c_(context), capacity_(cacheBytes) {}

void SharedFrameStore::put(const std::string& id, std::string jpeg) {
    checkCamera(id);
    auto frame = std::make_shared<Frame>();
    frame->etag = frameTag(jpeg);
    frame->jpeg = std::move(jpeg);
    const std::string value = packFields({frame->etag, frame->jpeg});
    const std::string notice = packFields({c_.origin, id, frame->etag, frame->jpeg});
    storeCall("the frame could not be stored", [&] {
        c_.redis.eval(kPutFrame, {c_.key("frame:" + id)},
                      {value, number(asMillis(kKeep)), c_.key("frames"), notice});
    });
    {
        std::lock_guard lock(mutex_);
        ++puts_;
        remember(id, std::move(frame));
    }
    stored_.notify(id);
}

bool SharedFrameStore::onNotice(const std::vector<std::string_view>& fields) {
    auto notice = readFrameNotice(fields);
    if (!notice) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (!notice->frame) {
            // The camera's frame was removed.
            forget(notice->camera);
            return true;
        }
        ++puts_;
        remember(notice->camera, std::move(notice->frame));
    }
    stored_.notify(notice->camera);
    return true;
}

std::shared_ptr<const Frame> SharedFrameStore::recent(const std::string& id) {
    std::lock_guard lock(mutex_);
    if (const auto it = byId_.find(id); it != byId_.end()) {
        recent_.splice(recent_.begin(), recent_, it->second);
        return it->second->second;
    }
    return nullptr;
}

void SharedFrameStore::frameAsync(const std::string& id, Fetched done) {
    checkCamera(id);
    if (auto kept = recent(id)) {
        done(std::move(kept));
        return;
    }
    c_.async.post([this, id, done = std::move(done)] {
        std::shared_ptr<const Frame> read;
        try {
            read = frame(id);
        } catch (const std::exception& e) {
            // The stream waits for the next frame.
            c_.unreadable.write(e.what());
        }
        done(std::move(read));
    });
}

std::shared_ptr<const Frame> SharedFrameStore::frame(const std::string& id) {
    checkCamera(id);
    std::uint64_t putsBefore = 0;
    {
        std::lock_guard lock(mutex_);
        if (const auto it = byId_.find(id); it != byId_.end()) {
            recent_.splice(recent_.begin(), recent_, it->second);
            return it->second->second;
        }
        putsBefore = puts_;
    }
    const RedisValue value = storeCall("the frame could not be read", [&] {
        return c_.redis.command({"GET", c_.key("frame:" + id)});
    });
    if (value.type != RedisValue::Type::String) {
        return nullptr;
    }
    auto read = readFrameValue(value.string);
    if (!read) {
        c_.unreadable.write("the frame of camera " + id +
                            " in Redis cannot be read (not a JPEG with its tag); none is served"
                            " until the next upload");
        return nullptr;
    }
    auto frame = std::make_shared<const Frame>(std::move(*read));
    std::lock_guard lock(mutex_);
    if (const auto it = byId_.find(id); it != byId_.end()) {
        return it->second->second;
    }
    if (puts_ == putsBefore) {
        remember(id, frame);
    }
    return frame;
}

bool SharedFrameStore::inMemory(const std::string& id) {
    std::lock_guard lock(mutex_);
    return byId_.count(id) != 0;
}

void SharedFrameStore::remove(const std::string& id) {
    checkCamera(id);
    storeCall("the frame could not be removed", [&] {
        c_.redis.command({"DEL", c_.key("frame:" + id)});
        c_.publish("frames", {id});
    });
    std::lock_guard lock(mutex_);
    forget(id);
}

void SharedFrameStore::refresh() {
    std::vector<std::string> ids;
    {
        std::lock_guard lock(mutex_);
        for (const Entry& entry : recent_) {
            ids.push_back(entry.first);
        }
    }
    for (const std::string& id : ids) {
        std::shared_ptr<const Frame> before;
        {
            std::lock_guard lock(mutex_);
            if (const auto it = byId_.find(id); it != byId_.end()) {
                before = it->second->second;
                forget(id);
            }
        }
        std::shared_ptr<const Frame> now;
        try {
            now = frame(id);
        } catch (const std::exception&) {
            // Read when next asked for.
        }
        if (now && (!before || before->etag != now->etag)) {
            stored_.notify(id);
        }
    }
}

void SharedFrameStore::forget(const std::string& id) {
    const auto it = byId_.find(id);
    if (it != byId_.end()) {
        bytes_ -= it->second->second->jpeg.size();
        recent_.erase(it->second);
        byId_.erase(it);
    }
}

void SharedFrameStore::remember(const std::string& id, std::shared_ptr<const Frame> frame) {
    forget(id);
    const std::size_t size = frame->jpeg.size();
    if (size > capacity_) {
        return;
    }
    recent_.emplace_front(id, std::move(frame));
    byId_.emplace(id, recent_.begin());
    bytes_ += size;
    while (bytes_ > capacity_) {
        const std::string oldest = recent_.back().first;
        forget(oldest);
    }
}

// ---- move queue ----

SharedMoveQueue::SharedMoveQueue(SharedContext& context, std::chrono::milliseconds timeToLive)
    : c_(context), timeToLive_(timeToLive) {}

void SharedMoveQueue::push(const std::string& camera, std::string command) {
    const std::string item = number(c_.nowMillis()) + ":" + command;
    storeCall("the command could not be queued", [&] {
        c_.redis.eval(kPushMove, {c_.key("moves:" + camera)},
                      {item, number(kMaxPending), number(asMillis(timeToLive_)), c_.key("moves"),
                       packFields({c_.origin, camera})});
    });
    pushed_.notify(camera);
}

std::vector<std::string> SharedMoveQueue::take(const std::string& camera) {
    const RedisValue taken = storeCall("the commands could not be taken", [&] {
        return c_.redis.eval(kTakeMoves, {c_.key("moves:" + camera)});
    });
    const std::int64_t now = c_.nowMillis();
    std::vector<std::string> commands;
    std::size_t unreadable = 0;
    for (const RedisValue& item : taken.array) {
        auto entry = readMoveEntry(item.string);
        if (!entry) {
            ++unreadable;
        } else if (now - entry->queuedAt < timeToLive_.count()) {
            commands.push_back(std::move(entry->command));
        }
    }
    if (unreadable > 0) {
        c_.unreadable.write(std::to_string(unreadable) + " queued command(s) of camera " + camera +
                            " in Redis cannot be read; they are dropped");
    }
    return commands;
}

void SharedMoveQueue::takeAsync(const std::string& camera, Taken done) {
    c_.async.post([this, camera, done = std::move(done)] {
        std::vector<std::string> commands;
        try {
            commands = take(camera);
        } catch (const std::exception&) {
            // Nothing taken: the poll goes on waiting.
        }
        done(std::move(commands));
    });
}

void SharedMoveQueue::giveBack(const std::string& camera, std::vector<std::string> commands) {
    if (commands.empty()) {
        return;
    }
    const std::string now = number(c_.nowMillis());
    std::vector<std::string> args;
    for (const std::string& command : commands) {
        args.push_back(now + ":" + command);
    }
    args.push_back(number(kMaxPending));
    args.push_back(number(asMillis(timeToLive_)));
    args.push_back(c_.key("moves"));
    args.push_back(packFields({c_.origin, camera}));
    const std::vector<std::string_view> views(args.begin(), args.end());
    storeCall("the commands could not be given back",
              [&] { c_.redis.eval(kGiveBack, {c_.key("moves:" + camera)}, views); });
    pushed_.notify(camera);
}

bool SharedMoveQueue::onNotice(const std::vector<std::string_view>& fields) {
    const auto camera = readCameraNotice(fields);
    if (camera) {
        pushed_.notify(*camera);
    }
    return camera.has_value();
}

// ---- visitors ----

SharedVisitors::SharedVisitors(SharedContext& context, std::chrono::milliseconds window)
    : c_(context), window_(window) {}

bool SharedVisitors::localStatus(const std::string& camera, WallClock::time_point now,
                                 WallClock::duration* endsIn) {
    if (watching_.count(camera) != 0) {
        if (endsIn != nullptr) {
            *endsIn = window_;
        }
        return true;
    }
    const auto it = lastVisit_.find(camera);
    if (it == lastVisit_.end()) {
        return false;
    }
    const WallClock::duration left = it->second + window_ - now;
    if (left <= WallClock::duration::zero()) {
        lastVisit_.erase(it);
        return false;
    }
    if (endsIn != nullptr) {
        *endsIn = left;
    }
    return true;
}

bool SharedVisitors::note(const std::string& camera, WallClock::time_point now, bool watching) {
    bool arrived = false;
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        arrived = !localStatus(camera, now, nullptr);
        if (watching) {
            ++watching_[camera];
        } else {
            lastVisit_[camera] = now;
        }
        if (pending_.size() < kMaxPending || pending_.count(camera) != 0) {
            bool& urgent = pending_[camera];
            urgent = urgent || arrived;
        }
        if (arrived) {
            wake = wake_;
        }
    }
    if (wake) {
        wake();
    }
    return arrived;
}

void SharedVisitors::noteVisit(const std::string& camera) {
    if (note(camera, c_.clock(), false)) {
        arrived_.notify(camera);
    }
}

void SharedVisitors::startWatching(const std::string& camera) {
    if (note(camera, c_.clock(), true)) {
        arrived_.notify(camera);
    }
}

void SharedVisitors::stopWatching(const std::string& camera) {
    const WallClock::time_point now = c_.clock();
    std::lock_guard lock(mutex_);
    if (const auto it = watching_.find(camera); it != watching_.end() && --it->second == 0) {
        watching_.erase(it);
    }
    lastVisit_[camera] = now;
    if (pending_.size() < kMaxPending) {
        pending_.emplace(camera, false);
    }
}

bool SharedVisitors::urgent() const {
    std::lock_guard lock(mutex_);
    return std::any_of(pending_.begin(), pending_.end(), [](const auto& p) { return p.second; });
}

void SharedVisitors::flush(bool urgentOnly) {
    std::map<std::string, bool> batch;
    const std::int64_t now = c_.nowMillis();
    {
        std::lock_guard lock(mutex_);
        if (urgentOnly) {
            for (auto it = pending_.begin(); it != pending_.end();) {
                if (it->second) {
                    batch.insert(*it);
                    it = pending_.erase(it);
                } else {
                    ++it;
                }
            }
        } else {
            batch.swap(pending_);
            // A stream watched here is a visit at every batch.
            for (const auto& [camera, count] : watching_) {
                batch.emplace(camera, false);
            }
        }
    }
    if (batch.empty()) {
        return;
    }
    std::vector<std::string> keys;
    std::vector<std::string> args = {number(now), number(asMillis(window_)), c_.key("visits")};
    std::vector<std::string> notices;
    for (const auto& [camera, urgent] : batch) {
        keys.push_back(c_.key("visit:" + camera));
        args.push_back(urgent ? "1" : "0");
        notices.push_back(urgent ? packFields({c_.origin, camera}) : std::string());
    }
    args.insert(args.end(), notices.begin(), notices.end());
    const std::vector<std::string_view> keyViews(keys.begin(), keys.end());
    const std::vector<std::string_view> argViews(args.begin(), args.end());
    try {
        storeCall("the visits could not be stored",
                  [&] { c_.redis.eval(kVisits, keyViews, argViews); });
    } catch (...) {
        // Written with the next batch.
        std::lock_guard lock(mutex_);
        for (const auto& [camera, urgent] : batch) {
            if (pending_.size() < kMaxPending || pending_.count(camera) != 0) {
                bool& kept = pending_[camera];
                kept = kept || urgent;
            }
        }
        throw;
    }
}

bool SharedVisitors::status(const std::string& camera, WallClock::duration* endsIn) {
    const WallClock::time_point now = c_.clock();
    WallClock::duration here{};
    bool visited = false;
    {
        std::lock_guard lock(mutex_);
        visited = localStatus(camera, now, &here);
    }
    const RedisValue last = storeCall("the visitor status could not be read", [&] {
        return c_.redis.command({"GET", c_.key("visit:" + camera)});
    });
    WallClock::duration elsewhere{};
    if (last.type == RedisValue::Type::String) {
        if (const auto left = visitLeftMillis(last.string, unixMillis(now), window_.count())) {
            elsewhere = std::chrono::milliseconds(*left);
        } else {
            c_.unreadable.write("the last visit of camera " + camera +
                                " in Redis cannot be read; the visitors of this relay count alone");
        }
    }
    if (elsewhere > WallClock::duration::zero()) {
        visited = true;
        here = std::max(here, elsewhere);
    }
    if (visited && endsIn != nullptr) {
        *endsIn = here;
    }
    return visited;
}

void SharedVisitors::statusAsync(const std::string& camera, Status done) {
    c_.async.post([this, camera, done = std::move(done)] {
        WallClock::duration endsIn{};
        bool visited = false;
        try {
            visited = status(camera, &endsIn);
        } catch (const std::exception&) {
            // What this relay saw alone.
            std::lock_guard lock(mutex_);
            visited = localStatus(camera, c_.clock(), &endsIn);
        }
        done(visited, visited ? endsIn : WallClock::duration::zero());
    });
}

bool SharedVisitors::onNotice(const std::vector<std::string_view>& fields) {
    const auto camera = readCameraNotice(fields);
    if (camera) {
        arrived_.notify(*camera);
    }
    return camera.has_value();
}

// ---- sessions ----

namespace {

std::string tokenHash(std::string_view token) {
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()),
                       token.size(), nullptr, 0);
    char hex[65];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

} // namespace

SharedSessions::SharedSessions(SharedContext& context, std::chrono::milliseconds lifetime)
    : c_(context), lifetime_(lifetime) {
    if (sodium_init() < 0) {
        throw StorageError("the cryptography library cannot be initialised");
    }
    reload();
}

void SharedSessions::keep(std::string hash, Session session) {
    if (sessions_.size() >= kMaxSessions && sessions_.count(hash) == 0) {
        const std::int64_t now = c_.nowMillis();
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            it = it->second.until <= now ? sessions_.erase(it) : std::next(it);
        }
        while (sessions_.size() >= kMaxSessions) {
            sessions_.erase(std::min_element(
                sessions_.begin(), sessions_.end(),
                [](const auto& a, const auto& b) { return a.second.until < b.second.until; }));
        }
    }
    sessions_[std::move(hash)] = std::move(session);
}

std::string SharedSessions::open(const std::string& camera, const std::string& stamp) {
    const std::string token = randomHex(32);
    const std::string hash = tokenHash(token);
    const std::int64_t until = c_.nowMillis() + lifetime_.count();
    // "END CAMERA STAMP": the end first, for the pruning script.
    const std::string value = number(until) + " " + packFields({camera, stamp});
    storeCall("the session could not be stored", [&] {
        c_.redis.command({"HSET", c_.key("sessions"), hash, value});
        c_.redis.command({"PEXPIRE", c_.key("sessions"), number(lifetime_.count())});
        c_.publish("sessions", {hash, number(until), camera, stamp});
    });
    std::lock_guard lock(mutex_);
    keep(hash, Session{camera, stamp, until});
    return token;
}

bool SharedSessions::valid(std::string_view token, const std::string& camera,
                           const std::string& stamp) {
    if (token.size() != 64) {
        return false;
    }
    const std::string hash = tokenHash(token);
    const std::int64_t now = c_.nowMillis();
    std::lock_guard lock(mutex_);
    const auto it = sessions_.find(hash);
    if (it == sessions_.end()) {
        return false;
    }
    if (it->second.until <= now) {
        sessions_.erase(it);
        return false;
    }
    return it->second.camera == camera && it->second.stamp == stamp;
}

void SharedSessions::reload() {
    const RedisValue all = storeCall("the sessions could not be read", [&] {
        return c_.redis.command({"HGETALL", c_.key("sessions")});
    });
    const std::int64_t now = c_.nowMillis();
    std::unordered_map<std::string, Session> fresh;
    std::size_t unreadable = 0;
    for (std::size_t i = 0; i + 1 < all.array.size() && fresh.size() < kMaxSessions; i += 2) {
        const std::string& hash = all.array[i].string;
        auto session = readSessionValue(all.array[i + 1].string);
        if (!session || !isTokenHash(hash)) {
            ++unreadable;
        } else if (session->until > now) {
            fresh[hash] =
                Session{std::move(session->camera), std::move(session->stamp), session->until};
        }
    }
    if (unreadable > 0) {
        c_.unreadable.write(std::to_string(unreadable) +
                            " viewer session(s) in Redis cannot be read; they are left out");
    }
    std::lock_guard lock(mutex_);
    sessions_ = std::move(fresh);
}

void SharedSessions::prune() {
    storeCall("the ended sessions could not be removed", [&] {
        c_.redis.eval(kPruneSessions, {c_.key("sessions")}, {number(c_.nowMillis())});
    });
}

bool SharedSessions::onNotice(const std::vector<std::string_view>& fields) {
    auto notice = readSessionNotice(fields);
    if (!notice) {
        return false;
    }
    std::lock_guard lock(mutex_);
    keep(std::move(notice->tokenHash),
         Session{std::move(notice->session.camera), std::move(notice->session.stamp),
                 notice->session.until});
    return true;
}

// ---- rates and wrong passwords ----

SharedRateLimiter::SharedRateLimiter(SharedContext& context, std::string name, double perSecond,
                                     double burst)
    : c_(context), name_(std::move(name)), perSecond_(perSecond), burst_(burst) {}

bool SharedRateLimiter::allow(const std::string& key) {
    // Gone once the bucket would be full again: then it starts full.
    const auto keep = static_cast<std::int64_t>(burst_ / perSecond_ * 1000.0) + 1000;
    return storeCall("the rate could not be counted", [&] {
        return c_.redis
                   .eval(kBucket, {c_.key("rate:" + name_ + ":" + key)},
                         {number(c_.nowMillis()), std::to_string(perSecond_),
                          std::to_string(burst_), number(keep)})
                   .integer == 1;
    });
}

namespace {

constexpr std::int64_t kForgetFailuresAfter = 3600 * 1000;

} // namespace

SharedLoginThrottle::SharedLoginThrottle(SharedContext& context, std::string name, int freeTries,
                                         std::chrono::seconds longestWait)
    : c_(context), name_(std::move(name)), freeTries_(freeTries), longestWait_(longestWait) {}

std::optional<std::chrono::seconds> SharedLoginThrottle::waitFor(const std::string& key) {
    const RedisValue record = storeCall("the wrong passwords could not be read", [&] {
        return c_.redis.command({"HMGET", c_.key("login:" + name_ + ":" + key), "f", "last"});
    });
    if (record.array.size() != 2 || record.array[0].isNil() || record.array[1].isNil()) {
        return std::nullopt;
    }
    const auto failures = readWrongPasswords(record.array[0].string, record.array[1].string);
    if (!failures) {
        c_.unreadable.write("the count of wrong passwords by " + name_ +
                            " in Redis cannot be read; it counts as none");
        return std::nullopt;
    }
    return loginWait(*failures, c_.nowMillis(), freeTries_, longestWait_, kForgetFailuresAfter);
}

void SharedLoginThrottle::failed(const std::string& key) {
    storeCall("the wrong password could not be counted", [&] {
        c_.redis.eval(kFailed, {c_.key("login:" + name_ + ":" + key)},
                      {number(c_.nowMillis()), number(kForgetFailuresAfter)});
    });
}

void SharedLoginThrottle::succeeded(const std::string& key) {
    storeCall("the wrong passwords could not be cleared", [&] {
        c_.redis.command({"DEL", c_.key("login:" + name_ + ":" + key)});
    });
}

} // namespace reflector

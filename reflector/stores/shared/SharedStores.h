#pragma once

// The stores of the shared storage (SharedStorage.h), each on PostgreSQL (lasting records) or
// Redis (the hot state), with what each keeps in this relay's memory so that the requests that
// ask on every request never wait on the network. What is kept in memory is kept current by the
// notices other relays publish (SharedContext::publish) and read again whenever the subscriber
// of those notices was away.

#include "core/Notifier.h"
#include "core/ThrottledLog.h"
#include "core/Time.h"
#include "stores/Storage.h"
#include "stores/shared/PgPool.h"
#include "stores/shared/RedisPool.h"
#include "stores/shared/StoredValues.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace reflector {

// "2026-12-07T10:40:55Z" of a Unix time in milliseconds.
std::string isoTimeOfMillis(std::int64_t unixMillis);

// A few threads that run the store calls asked for without waiting (MoveQueue::takeAsync,
// VisitorTracker::statusAsync): at most one per held poll is queued.
class StoreThreads {
  public:
    explicit StoreThreads(std::size_t threads);
    ~StoreThreads();
    StoreThreads(const StoreThreads&) = delete;
    StoreThreads& operator=(const StoreThreads&) = delete;
    void post(std::function<void()> job);
    // Ends the threads after the jobs under way; the jobs still queued are dropped.
    void stop();

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// What every shared store reaches: the pools, the names of keys and channels, this relay's
// name in notices, the clock, the store threads, the log of values that cannot be read.
struct SharedContext {
    PgPool& pg;
    RedisPool& redis;
    std::string prefix; // of every Redis key and channel
    std::string origin; // this relay, in the notices it publishes
    TimeSource clock;
    StoreThreads& async;
    // A value read back that cannot be read is refused with a line here (at most one a
    // minute: the same damaged value may be read on every request).
    ThrottledLog& unreadable;

    std::string key(std::string_view name) const { return prefix + std::string(name); }
    std::int64_t nowMillis() const { return unixMillis(clock()); }
    // Publishes `fields` on the channel `name`, after this relay's origin.
    void publish(std::string_view name, std::vector<std::string_view> fields) const;
};

// Runs `work`; a failure of PostgreSQL or Redis comes out as a StorageError naming `what`.
template <typename Work> auto storeCall(const char* what, Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const PgError& e) {
        throw StorageError(std::string(what) + ": " + e.what());
    } catch (const RedisError& e) {
        throw StorageError(std::string(what) + ": " + e.what());
    }
}

// Cameras in the table `cameras`; identifiers, key hashes and the times heard from in memory,
// kept current by the notices of enrolments, releases and forgotten cameras.
class SharedRegistry : public Registry {
  public:
    explicit SharedRegistry(SharedContext& context);

    bool inMemory() const override { return true; }
    Enrolment enrol(const std::string& id, bool ptz, const std::string& keyHash,
                    std::int64_t nowMillis, std::size_t maxCameras) override;
    bool isRegistered(const std::string& id) override;
    std::optional<std::string> keyHash(const std::string& id) override;
    bool release(const std::string& id) override;
    std::size_t count() override;
    std::optional<Camera> find(const std::string& id) override;
    std::vector<Camera> list() override;
    void noteFrame(const std::string& id) override;
    void heard(const std::string& id, std::int64_t nowMillis) override;
    void saveHeard() override;
    std::vector<std::string> silentSince(std::int64_t beforeMillis) override;
    void forget(const std::string& id) override;

    // Reads every camera's key hash again (the notices may have been missed).
    void reload();
    // A notice of another relay: "set" ID HASH HEARD-AT, or "gone" ID. Each onNotice() is
    // false when the notice cannot be read (readRegistryNotice and the like).
    bool onNotice(const std::vector<std::string_view>& fields);

  private:
    struct Known {
        std::string keyHash;
        std::int64_t heardAt = 0;
        bool heardSaved = true;
    };
    void setKnown(const std::string& id, const std::string& keyHash, std::int64_t heardAt);

    SharedContext& c_;
    mutable std::shared_mutex mutex_;
    std::unordered_map<std::string, Known> known_;
};

// Options in the table `camera_options`, all of them in memory too (they are asked on every
// viewer's request), kept current by notices.
class SharedOptionStore : public OptionStore {
  public:
    explicit SharedOptionStore(SharedContext& context);
    bool inMemory() const override { return true; }
    void store(const CameraOptions& options, const std::string& passwordHash,
               std::int64_t unixMillis) override;
    std::optional<CameraOptions> find(const std::string& camera) override;
    std::string passwordHash(const std::string& camera) override;
    void forget(const std::string& camera) override;

    void reload();
    // A notice of another relay: "set" followed by the options, or "gone" CAMERA.
    bool onNotice(const std::vector<std::string_view>& fields);

  private:
    struct Kept {
        CameraOptions options;
        std::string hash;
    };
    // `hash` when it is one to verify passwords with, else none (and a log line).
    std::string usableHash(std::string hash, const std::string& camera);
    SharedContext& c_;
    std::mutex mutex_;
    std::unordered_map<std::string, Kept> kept_;
};

// Archive frames and their index in one table, `archive` (the frames as bytea: relays share no
// disk).
class SharedArchiveStore : public ArchiveStore {
  public:
    SharedArchiveStore(SharedContext& context, std::size_t maxFrames, int maxDays);
    ArchivedFrame add(const std::string& camera, const std::string& jpeg) override;
    std::vector<ArchiveDay> days(const std::string& camera) override;
    std::vector<ArchivedFrame> frames(const std::string& camera, const std::string& day) override;
    std::optional<std::string> frame(const std::string& camera, std::int64_t id) override;
    std::size_t removeOld() override;
    void forget(const std::string& camera) override;

  private:
    std::int64_t oldestKept() const;
    SharedContext& c_;
    std::size_t maxFrames_;
    int maxDays_;
};

// The live listing in the table `listings`.
class SharedListingStore : public ListingStore {
  public:
    SharedListingStore(SharedContext& context, std::chrono::milliseconds timeToLive,
                       std::size_t maxEntries);
    Result post(const ListingEntry& entry, const std::string& token) override;
    Result refresh(const std::string& camera, const std::string& token) override;
    Result remove(const std::string& camera, const std::string& token) override;
    bool isListed(const std::string& camera) override;
    void forget(const std::string& camera) override;
    std::vector<ListingEntry> current() override;

  private:
    SharedContext& c_;
    std::chrono::milliseconds timeToLive_;
    std::size_t maxEntries_;
};

// Presets, skins, profiles and station addresses in `presets`, `camera_pages` and
// `station_addresses`.
class SharedPageStore : public PageStore {
  public:
    explicit SharedPageStore(SharedContext& context) : c_(context) {}
    std::vector<Preset> presets(const std::string& camera) override;
    bool savePreset(const std::string& camera, const Preset& preset) override;
    bool deletePreset(const std::string& camera, const std::string& name) override;
    std::string skin(const std::string& camera) override;
    void setSkin(const std::string& camera, const std::string& skin) override;
    std::optional<Profile> profile(const std::string& camera) override;
    void setProfile(const std::string& camera, const Profile& profile) override;
    void noteStation(const std::string& camera, const std::string& address) override;
    std::string stationAddress(const std::string& camera) override;
    void forget(const std::string& camera) override;

  private:
    struct Noted {
        std::string address;
        std::int64_t at = 0;
    };
    SharedContext& c_;
    std::mutex mutex_;
    // What this relay wrote lately, so that every upload does not write the same address.
    std::unordered_map<std::string, Noted> noted_;
};

// The chat rooms in `chat_messages`.
class SharedChatStore : public ChatStore {
  public:
    SharedChatStore(SharedContext& context, std::chrono::milliseconds keep)
        : c_(context), keep_(keep) {}
    ChatMessage post(const std::string& room, const std::string& name,
                     const std::string& text) override;
    std::vector<ChatMessage> messages(const std::string& room, std::int64_t after,
                                      std::size_t limit) override;

  private:
    SharedContext& c_;
    std::chrono::milliseconds keep_;
};

// The latest frame of each camera in Redis (`frame:ID`, its tag with it, kept a day after its
// upload), with the frames used most recently in this relay's memory, up to a number of bytes.
// Each upload publishes its frame on the channel `frames`: every relay keeps it in memory and
// wakes its viewers without asking Redis.
class SharedFrameStore : public FrameStore {
  public:
    static constexpr std::chrono::hours kKeep{24};

    SharedFrameStore(SharedContext& context, std::size_t cacheBytes);
    void put(const std::string& id, std::string jpeg) override;
    std::shared_ptr<const Frame> frame(const std::string& id) override;
    // From memory at once, else read from Redis on a store thread.
    void frameAsync(const std::string& id, Fetched done) override;
    bool inMemory(const std::string& id) override;
    void remove(const std::string& id) override;
    Subscription subscribe(const std::string& id, std::function<void()> function) override {
        return stored_.subscribe(id, std::move(function));
    }

    // A notice of another relay: ID, TAG, JPEG (a new frame), or ID alone (removed).
    bool onNotice(const std::vector<std::string_view>& fields);
    // The subscriber was away: the frames in memory are read again, and the viewers of those
    // that changed are woken.
    void refresh();

  private:
    using Entry = std::pair<std::string, std::shared_ptr<const Frame>>;
    // The frame in memory, or null; mutex_ not held.
    std::shared_ptr<const Frame> recent(const std::string& id);
    void remember(const std::string& id, std::shared_ptr<const Frame> frame); // mutex_ held
    void forget(const std::string& id);                                       // mutex_ held

    SharedContext& c_;
    std::size_t capacity_;
    mutable std::mutex mutex_;
    std::list<Entry> recent_;
    std::unordered_map<std::string, std::list<Entry>::iterator> byId_;
    std::size_t bytes_ = 0;
    std::uint64_t puts_ = 0;
    Notifier stored_;
};

// Each camera's commands as a Redis list (`moves:ID`: "millis:command", at most kMaxPending,
// gone a time to live after the last push); a push publishes the camera on `moves`.
class SharedMoveQueue : public MoveQueue {
  public:
    SharedMoveQueue(SharedContext& context, std::chrono::milliseconds timeToLive);
    bool inMemory() const override { return false; }
    void push(const std::string& camera, std::string command) override;
    std::vector<std::string> take(const std::string& camera) override;
    void takeAsync(const std::string& camera, Taken done) override;
    void giveBack(const std::string& camera, std::vector<std::string> commands) override;
    Subscription subscribe(const std::string& camera, std::function<void()> function) override {
        return pushed_.subscribe(camera, std::move(function));
    }

    bool onNotice(const std::vector<std::string_view>& fields);
    // The subscriber was away: every held poll looks again.
    void wakeAll() { pushed_.notifyAll(); }

  private:
    SharedContext& c_;
    std::chrono::milliseconds timeToLive_;
    Notifier pushed_;
};

// The visitor status: the last visit of each camera in Redis (`visit:ID`, in milliseconds,
// gone after the window). Visits are noted in memory on the network threads and written
// behind by flush(), at once (with a notice on `visits`) for a camera that had no visitors
// here, else with the next batch; a camera watched here counts as visited at every batch.
class SharedVisitors : public VisitorTracker {
  public:
    SharedVisitors(SharedContext& context, std::chrono::milliseconds window);
    bool inMemory() const override { return false; }
    void noteVisit(const std::string& camera) override;
    void startWatching(const std::string& camera) override;
    void stopWatching(const std::string& camera) override;
    bool status(const std::string& camera, WallClock::duration* endsIn) override;
    void statusAsync(const std::string& camera, Status done) override;
    Subscription subscribe(const std::string& camera, std::function<void()> function) override {
        return arrived_.subscribe(camera, std::move(function));
    }

    // Writes the visits noted since the last flush; `urgentOnly`: only those that bring a
    // camera its first visitor. Called by the write-behind thread.
    void flush(bool urgentOnly);
    // True when a visit waits to be written at once.
    bool urgent() const;
    // Tells the write-behind thread that an urgent visit waits.
    void setWake(std::function<void()> wake) { wake_ = std::move(wake); }

    bool onNotice(const std::vector<std::string_view>& fields);
    void wakeAll() { arrived_.notifyAll(); }

  private:
    static constexpr std::size_t kMaxPending = 100000;
    // Whether this relay saw visitors within the window. With mutex_ held.
    bool localStatus(const std::string& camera, WallClock::time_point now,
                     WallClock::duration* endsIn);
    // Notes a visit to be written; true when the camera had no visitors here.
    bool note(const std::string& camera, WallClock::time_point now, bool watching);

    SharedContext& c_;
    std::chrono::milliseconds window_;
    mutable std::mutex mutex_;
    std::map<std::string, WallClock::time_point> lastVisit_; // here
    std::map<std::string, std::size_t> watching_;            // here
    std::map<std::string, bool> pending_;                    // camera: urgent
    std::function<void()> wake_;
    Notifier arrived_;
};

// Viewers' sessions in the Redis hash `sessions` (token hash: camera, stamp, end), and in
// memory on every relay: each opening is published on `sessions`.
class SharedSessions : public ViewerSessions {
  public:
    static constexpr std::size_t kMaxSessions = 100000;
    SharedSessions(SharedContext& context, std::chrono::milliseconds lifetime);
    bool inMemory() const override { return true; }
    std::string open(const std::string& camera, const std::string& stamp) override;
    bool valid(std::string_view token, const std::string& camera,
               const std::string& stamp) override;
    std::chrono::milliseconds lifetime() const override { return lifetime_; }

    void reload();
    // Removes the ended sessions from Redis.
    void prune();
    bool onNotice(const std::vector<std::string_view>& fields);

  private:
    struct Session {
        std::string camera;
        std::string stamp;
        std::int64_t until = 0;
    };
    void keep(std::string hash, Session session); // mutex_ held

    SharedContext& c_;
    std::chrono::milliseconds lifetime_;
    std::mutex mutex_;
    std::unordered_map<std::string, Session> sessions_; // by the token's hash (hex)
};

// A token bucket per key in Redis (`rate:NAME:KEY`), gone once it would be full again.
class SharedRateLimiter : public RateLimiter {
  public:
    SharedRateLimiter(SharedContext& context, std::string name, double perSecond, double burst);
    bool inMemory() const override { return false; }
    bool allow(const std::string& key) override;

  private:
    SharedContext& c_;
    std::string name_;
    double perSecond_;
    double burst_;
};

// Wrong passwords per key in Redis (`login:NAME:KEY`: failures and the last one's time), gone an
// hour after the last failure.
class SharedLoginThrottle : public LoginThrottle {
  public:
    SharedLoginThrottle(SharedContext& context, std::string name, int freeTries,
                        std::chrono::seconds longestWait);
    std::optional<std::chrono::seconds> waitFor(const std::string& key) override;
    void failed(const std::string& key) override;
    void succeeded(const std::string& key) override;

  private:
    SharedContext& c_;
    std::string name_;
    int freeTries_;
    std::chrono::seconds longestWait_;
};

} // namespace reflector

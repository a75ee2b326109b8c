#pragma once

// The shared storage: what several relays behind one load balancer share, so that every relay
// serves every camera. PostgreSQL keeps every lasting record (cameras with their key hashes,
// options and password hashes, the listing, presets, pages, station addresses, the chat, the
// archive with its frames); Redis keeps the hot state (each camera's latest frame, the move
// queue, the visitor status, viewers' sessions, the counters of every limit on clients) and
// carries the notices between the relays: a new frame (with its bytes), a queued command, a
// camera's first visitor, a registration, release or forgotten camera, a change of options, a
// new session.
//
// Threads, besides the callers':
// - the subscriber's, which takes the notices of the other relays and keeps what this relay
//   holds in memory current (frames, cameras, options, sessions), and reads it all again when
//   it was away;
// - two store threads, for the calls held polls make without waiting (takeAsync, statusAsync);
// - the write-behind thread, which writes the visits noted on the network threads (a camera's
//   first visitor at once, the others once a second) and reads the cameras and options again
//   every minute, so that a notice lost on its way is mended soon.

#include "core/Config.h"
#include "core/ThrottledLog.h"
#include "stores/Storage.h"
#include "stores/shared/PgMigrations.h"
#include "stores/shared/RedisSubscriber.h"
#include "stores/shared/SharedStores.h"

#include <atomic>
#include <future>
#include <memory>
#include <string>

namespace reflector {

struct SharedStorageOptions {
    // Of every Redis key and channel; relays that share stores use the same.
    std::string prefix = "kestrova:";
    // Connections to each server (the workers, the store threads and the write-behind thread
    // use them).
    std::size_t connections = 20;
    // The bound of the health check.
    std::chrono::milliseconds healthWait{400};
    // Visits that are not a camera's first are written this often.
    std::chrono::milliseconds writeEvery{1000};
    // Where the losses of the connections are told; standard error when empty.
    std::function<void(const std::string&)> log;
};

// The versions of the shared schema in PostgreSQL, applied at start by migrate().
const std::vector<PgMigration>& sharedSchema();

class SharedStorage : public Storage {
  public:
    // Connects to config.database and config.redis, brings the schema up to date (once, when
    // several relays start together) and reads what is kept in memory. Throws StorageError
    // when a server cannot be used; the message never holds a password.
    explicit SharedStorage(const RelayConfig& config, SharedStorageOptions options = {});
    ~SharedStorage() override;

    Registry& registry() override { return *registry_; }
    FrameStore& frames() override { return *frames_; }
    OptionStore& options() override { return *options_; }
    ArchiveStore& archive() override { return *archive_; }
    ListingStore& listing() override { return *listing_; }
    PageStore& pages() override { return *pages_; }
    ChatStore& chat() override { return *chat_; }
    MoveQueue& moves() override { return *moves_; }
    VisitorTracker& visitors() override { return *visitors_; }
    ViewerSessions& sessions() override { return *sessions_; }
    RateLimiter& commandRate() override { return *commandRate_; }
    RateLimiter& chatRate() override { return *chatRate_; }
    RateLimiter& registrationRate() override { return *registrationRate_; }
    LoginThrottle& loginsByAddress() override { return *loginsByAddress_; }
    LoginThrottle& loginsByCamera() override { return *loginsByCamera_; }

    bool readOnly() const override { return false; }
    // Healthy while PostgreSQL and Redis answer and the notices of the other relays arrive;
    // answers within the options' healthWait.
    Health health() override;
    void forgetCamera(const std::string& id) override;
    // One relay at a time: a Redis lock held for most of an hour.
    bool upkeepTurn() override;

    // True once the notices of the other relays arrive (for tests).
    bool waitUntilSubscribed(std::chrono::milliseconds limit);

  private:
    Health check();
    void onMessage(const RedisMessage& message);
    void onBack();
    void writeBehind();
    void log(const std::string& line) const;

    SharedStorageOptions settings_;
    PgPool pg_;
    RedisPool redis_;
    PgPool healthPg_;
    RedisPool healthRedis_;
    StoreThreads async_;
    ThrottledLog unreadableLog_;
    SharedContext context_;
    std::unique_ptr<SharedRegistry> registry_;
    std::unique_ptr<SharedFrameStore> frames_;
    std::unique_ptr<SharedOptionStore> options_;
    std::unique_ptr<SharedArchiveStore> archive_;
    std::unique_ptr<SharedListingStore> listing_;
    std::unique_ptr<SharedPageStore> pages_;
    std::unique_ptr<SharedChatStore> chat_;
    std::unique_ptr<SharedMoveQueue> moves_;
    std::unique_ptr<SharedVisitors> visitors_;
    std::unique_ptr<SharedSessions> sessions_;
    std::unique_ptr<SharedRateLimiter> commandRate_;
    std::unique_ptr<SharedRateLimiter> chatRate_;
    std::unique_ptr<SharedRateLimiter> registrationRate_;
    std::unique_ptr<SharedLoginThrottle> loginsByAddress_;
    std::unique_ptr<SharedLoginThrottle> loginsByCamera_;

    // The health check under way, shared by the requests that ask meanwhile.
    std::mutex healthMutex_;
    std::shared_future<Health> healthCheck_;

    ThrottledLog writeLog_;
    std::mutex writerMutex_;
    std::condition_variable writerWake_;
    bool stopping_ = false;
    std::thread writer_;
    // Last: its thread calls into everything above, so it goes first.
    std::unique_ptr<RedisSubscriber> subscriber_;
};

} // namespace reflector

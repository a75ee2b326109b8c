#include "stores/shared/SharedStorage.h"

#include "core/Http.h"
#include "core/Random.h"
#include "stores/shared/ConnectionUrl.h"

#include <iostream>

namespace reflector {

// ---- notices ----

void SharedContext::publish(std::string_view name, std::vector<std::string_view> fields) const {
    fields.insert(fields.begin(), origin);
    redis.command({"PUBLISH", key(name), packFields(fields)});
}

// ---- store threads ----

StoreThreads::StoreThreads(std::size_t threads) {
    for (std::size_t i = 0; i < threads; ++i) {
        threads_.emplace_back([this] {
            std::unique_lock lock(mutex_);
            for (;;) {
                ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (stopping_) {
                    return;
                }
                std::function<void()> job = std::move(jobs_.front());
                jobs_.pop_front();
                lock.unlock();
                job();
                lock.lock();
            }
        });
    }
}

StoreThreads::~StoreThreads() {
    stop();
}

void StoreThreads::post(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
}

void StoreThreads::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    ready_.notify_all();
    for (std::thread& thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

// ---- the schema ----

const std::vector<PgMigration>& sharedSchema() {
    static const std::vector<PgMigration> schema = {
        {1, "CREATE TABLE cameras (id text PRIMARY KEY, ptz boolean NOT NULL,"
            " registered_at bigint NOT NULL, last_frame_at bigint,"
            " key_hash text NOT NULL DEFAULT '', heard_at bigint NOT NULL);"
            "CREATE INDEX cameras_heard ON cameras (heard_at);"
            "CREATE TABLE camera_options (camera text PRIMARY KEY, zoom boolean NOT NULL,"
            " snapshot boolean NOT NULL, chat boolean NOT NULL, secure boolean NOT NULL,"
            " ptz boolean NOT NULL, presets boolean NOT NULL, archive boolean NOT NULL,"
            " chat_room text NOT NULL, chat_number bigint NOT NULL,"
            " synced_at bigint NOT NULL, password_hash text NOT NULL);"
            "CREATE TABLE listings (camera text PRIMARY KEY, token text NOT NULL,"
            " name text NOT NULL, email text NOT NULL, relay text NOT NULL,"
            " folder text NOT NULL, type integer NOT NULL, ptz boolean NOT NULL,"
            " password boolean NOT NULL, listed boolean NOT NULL, hidethumb boolean NOT NULL,"
            " archive boolean NOT NULL, refreshed_at bigint NOT NULL);"
            "CREATE TABLE presets (camera text NOT NULL, name text NOT NULL,"
            " command text NOT NULL, position integer NOT NULL, PRIMARY KEY (camera, name));"
            "CREATE TABLE camera_pages (camera text PRIMARY KEY, skin text, profile_name text,"
            " description text, profile_set boolean NOT NULL DEFAULT false);"
            "CREATE TABLE station_addresses (camera text PRIMARY KEY, address text NOT NULL,"
            " seen_at bigint NOT NULL);"
            "CREATE TABLE chat_messages (id bigserial PRIMARY KEY, room text NOT NULL,"
            " name text NOT NULL, text text NOT NULL, at bigint NOT NULL);"
            "CREATE INDEX chat_messages_room ON chat_messages (room, id);"
            "CREATE INDEX chat_messages_at ON chat_messages (at);"
            // JPEG bytes do not compress: kept as they are, out of line.
            "CREATE TABLE archive (frame bigserial PRIMARY KEY, camera text NOT NULL,"
            " taken_at bigint NOT NULL, day text NOT NULL, bytes integer NOT NULL,"
            " jpeg bytea NOT NULL);"
            "ALTER TABLE archive ALTER COLUMN jpeg SET STORAGE EXTERNAL;"
            "CREATE INDEX archive_by_camera ON archive (camera, taken_at);"
            "CREATE INDEX archive_by_time ON archive (taken_at)"},
    };
    return schema;
}

// ---- the storage ----

namespace {

PgPoolOptions pgOptions(const std::string& url, std::size_t size) {
    PgPoolOptions options;
    options.url = url;
    options.size = size;
    return options;
}

RedisPoolOptions redisOptions(const std::string& url, std::size_t size) {
    RedisPoolOptions options;
    options.url = url;
    options.size = size;
    return options;
}

PgPoolOptions healthPgOptions(const std::string& url, std::chrono::milliseconds wait) {
    PgPoolOptions options = pgOptions(url, 1);
    options.checkoutWait = wait;
    options.statementTimeout = wait;
    options.answerMargin = std::chrono::milliseconds(50);
    return options;
}

RedisPoolOptions healthRedisOptions(const std::string& url, std::chrono::milliseconds wait) {
    RedisPoolOptions options = redisOptions(url, 1);
    options.checkoutWait = wait;
    options.connectTimeout = wait;
    options.commandTimeout = wait;
    return options;
}

std::string relayName() {
    return randomHex(8);
}

template <typename Make> auto opened(const char* what, Make make) {
    try {
        return make();
    } catch (const PgError& e) {
        throw StorageError(std::string(what) + ": " + e.what());
    } catch (const RedisError& e) {
        throw StorageError(std::string(what) + ": " + e.what());
    }
}

} // namespace

SharedStorage::SharedStorage(const RelayConfig& config, SharedStorageOptions options)
    : settings_(std::move(options)), pg_(pgOptions(config.database, settings_.connections)),
      redis_(redisOptions(config.redis, settings_.connections)),
      healthPg_(healthPgOptions(config.database, settings_.healthWait)),
      healthRedis_(healthRedisOptions(config.redis, settings_.healthWait)), async_(2),
      context_{pg_,    redis_,        settings_.prefix, relayName(), clockOrSystem(config.clock),
               async_, unreadableLog_} {
    opened("the database's schema could not be brought up to date",
           [&] { return migrate(pg_, sharedSchema()); });
    registry_ = std::make_unique<SharedRegistry>(context_);
    frames_ = std::make_unique<SharedFrameStore>(context_, config.frameCacheBytes);
    options_ = std::make_unique<SharedOptionStore>(context_);
    archive_ = std::make_unique<SharedArchiveStore>(context_, config.archiveMaxFrames,
                                                    config.archiveMaxDays);
    listing_ =
        std::make_unique<SharedListingStore>(context_, config.listingTimeToLive, config.maxCameras);
    pages_ = std::make_unique<SharedPageStore>(context_);
    chat_ = std::make_unique<SharedChatStore>(context_, std::chrono::hours(24));
    moves_ = std::make_unique<SharedMoveQueue>(context_, config.commandTimeToLive);
    visitors_ = std::make_unique<SharedVisitors>(context_, config.visitorWindow);
    sessions_ = std::make_unique<SharedSessions>(context_, config.sessionLifetime);
    commandRate_ = std::make_unique<SharedRateLimiter>(
        context_, "commands", config.commandsPerSecond, config.commandBurst);
    chatRate_ = std::make_unique<SharedRateLimiter>(context_, "chat", config.chatMessagesPerSecond,
                                                    config.chatBurst);
    registrationRate_ = std::make_unique<SharedRateLimiter>(
        context_, "registrations", static_cast<double>(config.registrationsPerHour) / 3600.0,
        static_cast<double>(config.registrationsPerHour));
    loginsByAddress_ = std::make_unique<SharedLoginThrottle>(
        context_, "address", config.freeLoginTries, std::chrono::minutes(5));
    loginsByCamera_ = std::make_unique<SharedLoginThrottle>(
        context_, "camera", config.freeLoginTriesPerCamera, std::chrono::minutes(1));

    visitors_->setWake([this] {
        { std::lock_guard lock(writerMutex_); }
        writerWake_.notify_one();
    });
    writer_ = std::thread([this] { writeBehind(); });

    RedisSubscriberOptions subscription;
    subscription.url = config.redis;
    for (const char* channel : {"frames", "moves", "visits", "cameras", "options", "sessions"}) {
        subscription.channels.push_back(context_.key(channel));
    }
    subscription.log = [this](const std::string& line) { log(line); };
    subscriber_ = std::make_unique<RedisSubscriber>(
        subscription, [this](const RedisMessage& message) { onMessage(message); },
        [this] { onBack(); });
    // Normally at once; a relay that is not subscribed yet says so on /healthz.
    subscriber_->waitUntilSubscribed(std::chrono::seconds(2));
}

SharedStorage::~SharedStorage() {
    {
        // A health check under way asks the subscriber.
        std::lock_guard lock(healthMutex_);
        if (healthCheck_.valid()) {
            healthCheck_.wait();
        }
    }
    subscriber_.reset();
    {
        std::lock_guard lock(writerMutex_);
        stopping_ = true;
    }
    writerWake_.notify_all();
    if (writer_.joinable()) {
        writer_.join();
    }
    async_.stop();
}

void SharedStorage::log(const std::string& line) const {
    if (settings_.log) {
        settings_.log(line);
    } else {
        std::cerr << "reflector: " << line << std::endl;
    }
}

bool SharedStorage::waitUntilSubscribed(std::chrono::milliseconds limit) {
    return subscriber_->waitUntilSubscribed(limit);
}

void SharedStorage::onMessage(const RedisMessage& message) {
    const auto notice = readNotice(settings_.prefix, message.channel, message.payload);
    if (notice && notice->origin == context_.origin) {
        return; // this relay's own notice: what it tells is known here already
    }
    const std::string_view name = notice ? notice->channel : std::string_view();
    bool read = false;
    if (name == "frames") {
        read = frames_->onNotice(notice->fields);
    } else if (name == "moves") {
        read = moves_->onNotice(notice->fields);
    } else if (name == "visits") {
        read = visitors_->onNotice(notice->fields);
    } else if (name == "cameras") {
        read = registry_->onNotice(notice->fields);
    } else if (name == "options") {
        read = options_->onNotice(notice->fields);
    } else if (name == "sessions") {
        read = sessions_->onNotice(notice->fields);
    }
    if (!read) {
        unreadableLog_.write("a notice on the Redis channel " + loggable(message.channel) +
                             " cannot be read (" + std::to_string(message.payload.size()) +
                             " bytes); it is ignored");
    }
}

void SharedStorage::onBack() {
    // What the notices missed meanwhile is read again.
    try {
        registry_->reload();
        options_->reload();
        sessions_->reload();
        frames_->refresh();
    } catch (const std::exception& e) {
        log(std::string("after the notices were missed, the stores could not be read again: ") +
            e.what());
    }
    moves_->wakeAll();
    visitors_->wakeAll();
}

void SharedStorage::writeBehind() {
    using Clock = std::chrono::steady_clock;
    auto nextBatch = Clock::now() + settings_.writeEvery;
    auto nextReload = Clock::now() + std::chrono::minutes(1);
    auto nextPrune = Clock::now() + std::chrono::minutes(10);
    std::unique_lock lock(writerMutex_);
    while (!stopping_) {
        writerWake_.wait_until(lock, nextBatch,
                               [this] { return stopping_ || visitors_->urgent(); });
        const bool batch = Clock::now() >= nextBatch || stopping_;
        lock.unlock();
        try {
            visitors_->flush(!batch);
        } catch (const std::exception& e) {
            writeLog_.write(e.what());
        }
        if (batch) {
            nextBatch = Clock::now() + settings_.writeEvery;
        }
        try {
            if (Clock::now() >= nextReload) {
                nextReload = Clock::now() + std::chrono::minutes(1);
                registry_->reload();
                options_->reload();
            }
            if (Clock::now() >= nextPrune) {
                nextPrune = Clock::now() + std::chrono::minutes(10);
                sessions_->prune();
            }
        } catch (const std::exception& e) {
            writeLog_.write(e.what());
        }
        lock.lock();
    }
}

Health SharedStorage::check() {
    try {
        healthPg_.exec("SELECT 1");
    } catch (const PgError& e) {
        return {false, std::string("PostgreSQL does not answer: ") + e.what()};
    }
    try {
        healthRedis_.command({"PING"});
    } catch (const RedisError& e) {
        return {false, std::string("Redis does not answer: ") + e.what()};
    }
    if (!subscriber_->subscribed()) {
        return {false, "the notices of the other relays do not arrive (Redis subscription down)"};
    }
    return {};
}

Health SharedStorage::health() {
    std::shared_future<Health> pending;
    {
        std::lock_guard lock(healthMutex_);
        if (!healthCheck_.valid() ||
            healthCheck_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            healthCheck_ = std::async(std::launch::async, [this] { return check(); }).share();
        }
        pending = healthCheck_;
    }
    if (pending.wait_for(settings_.healthWait) != std::future_status::ready) {
        return {false, "PostgreSQL or Redis did not answer within " +
                           std::to_string(settings_.healthWait.count()) + " ms"};
    }
    return pending.get();
}

void SharedStorage::forgetCamera(const std::string& id) {
    registry_->forget(id);
    listing_->forget(id);
    options_->forget(id);
    pages_->forget(id);
    archive_->forget(id);
    frames_->remove(id);
}

bool SharedStorage::upkeepTurn() {
    // Held for most of an hour, so that the relays' hourly upkeeps do not all forget cameras;
    // a relay that dies with it leaves it to the others once it lapses.
    return storeCall("the upkeep's turn could not be taken", [&] {
        return !redis_
                    .command({"SET", context_.key("upkeep"), context_.origin, "NX", "PX",
                              std::to_string(50 * 60 * 1000)})
                    .isNil();
    });
}

} // namespace reflector

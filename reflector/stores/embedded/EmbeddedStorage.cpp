#include "stores/embedded/EmbeddedStorage.h"

#include <iostream>
#include <unistd.h>

namespace reflector {

namespace {

// The data folder, created when missing; `readOnly`: as it is.
std::filesystem::path prepared(const RelayConfig& config, bool readOnly) {
    std::error_code ec;
    std::filesystem::create_directories(config.dataDir, ec);
    if (ec && !readOnly) {
        throw FrameStoreError("cannot create " + config.dataDir.string() + ": " + ec.message());
    }
    return config.dataDir;
}

std::unique_ptr<Database> openDatabase(const std::filesystem::path& file, bool readOnly) {
    return readOnly ? Database::snapshotOf(file) : std::make_unique<Database>(file);
}

} // namespace

EmbeddedStorage::EmbeddedStorage(const RelayConfig& config, std::string readOnlyReason)
    : dataDir_(prepared(config, !readOnlyReason.empty())),
      readOnlyReason_(std::move(readOnlyReason)),
      db_(openDatabase(dataDir_ / "reflector.db", readOnly())), registry_(*db_),
      frames_(dataDir_ / "frames", config.frameCacheBytes, readOnly()), options_(*db_),
      archive_(*db_, dataDir_ / "archive", clockOrSystem(config.clock), config.archiveMaxFrames,
               config.archiveMaxDays, readOnly()),
      listing_(*db_, clockOrSystem(config.clock), config.listingTimeToLive, config.maxCameras),
      pages_(*db_, clockOrSystem(config.clock)), chat_(*db_, clockOrSystem(config.clock)),
      moves_(clockOrSystem(config.clock), config.commandTimeToLive),
      visitors_(clockOrSystem(config.clock), config.visitorWindow),
      sessions_(clockOrSystem(config.clock), config.sessionLifetime),
      commandRate_(clockOrSystem(config.clock), config.commandsPerSecond, config.commandBurst),
      chatRate_(clockOrSystem(config.clock), config.chatMessagesPerSecond, config.chatBurst),
      registrationRate_(clockOrSystem(config.clock),
                        static_cast<double>(config.registrationsPerHour) / 3600.0,
                        static_cast<double>(config.registrationsPerHour)),
      loginsByAddress_(clockOrSystem(config.clock), config.freeLoginTries),
      loginsByCamera_(clockOrSystem(config.clock), config.freeLoginTriesPerCamera,
                      std::chrono::minutes(1)) {
    if (readOnly()) {
        // Everything above read what the folder holds; from now on nothing is written.
        auto lock = db_->lock();
        db_->execute("PRAGMA query_only=ON");
    }
}

Health EmbeddedStorage::health() {
    if (readOnly()) {
        return {false, readOnlyReason_};
    }
    try {
        auto lock = db_->lock();
        Statement query(*db_, "SELECT 1");
        query.step();
    } catch (const DatabaseError& e) {
        return {false, std::string("the database does not answer: ") + e.what()};
    }
    // A file of its own in the frames' folder, where one left by a crash is cleared at start.
    try {
        const std::filesystem::path probe =
            writeTemporaryFile(dataDir_ / "frames", "health", "writable");
        ::unlink(probe.c_str());
    } catch (const FrameStoreError& e) {
        return {false, "cannot write to the data folder " + dataDir_.string() + ": " + e.what()};
    }
    return {};
}

void EmbeddedStorage::forgetCamera(const std::string& id) {
    registry_.forget(id);
    listing_.forget(id);
    options_.forget(id);
    pages_.forget(id);
    archive_.forget(id);
    frames_.remove(id);
}

std::unique_ptr<Storage> openEmbeddedStorage(const RelayConfig& config) {
    try {
        return std::make_unique<EmbeddedStorage>(config);
    } catch (const std::exception& e) {
        const std::string reason = "cannot write to the data folder " + config.dataDir.string() +
                                   ": " + e.what() +
                                   "; serving what it holds and refusing every change";
        std::cerr << "reflector: " << reason << std::endl;
        return std::make_unique<EmbeddedStorage>(config, reason);
    }
}

} // namespace reflector

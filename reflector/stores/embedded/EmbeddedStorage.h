#pragma once

// The embedded storage: everything in one data folder and this process, needing nothing else
// running. The lasting records are in the SQLite database reflector.db, the latest frames in
// frames/ (the most recent also in memory), the archive frames in archive/; the move queue, the
// visitor status, viewers' sessions and the counters of the limits are kept in memory only.

#include "core/Config.h"
#include "stores/Storage.h"
#include "stores/embedded/Database.h"
#include "stores/embedded/FileArchiveStore.h"
#include "stores/embedded/FileFrameStore.h"
#include "stores/embedded/MemoryMoveQueue.h"
#include "stores/embedded/MemoryViewerGuard.h"
#include "stores/embedded/MemoryVisitors.h"
#include "stores/embedded/SqliteChatStore.h"
#include "stores/embedded/SqliteListingStore.h"
#include "stores/embedded/SqliteOptionStore.h"
#include "stores/embedded/SqlitePageStore.h"
#include "stores/embedded/SqliteRegistry.h"

#include <filesystem>
#include <memory>
#include <string>

namespace reflector {

class EmbeddedStorage : public Storage {
  public:
    // Opens the data folder of `config` (created when missing) and everything in it; throws
    // StorageError (or another std::exception) when it cannot be used. With a `readOnlyReason`
    // it only reads what the folder holds, into memory, and refuses every change; health()
    // then reports the reason.
    explicit EmbeddedStorage(const RelayConfig& config, std::string readOnlyReason = {});

    Registry& registry() override { return registry_; }
    FrameStore& frames() override { return frames_; }
    OptionStore& options() override { return options_; }
    ArchiveStore& archive() override { return archive_; }
    ListingStore& listing() override { return listing_; }
    PageStore& pages() override { return pages_; }
    ChatStore& chat() override { return chat_; }
    MoveQueue& moves() override { return moves_; }
    VisitorTracker& visitors() override { return visitors_; }
    ViewerSessions& sessions() override { return sessions_; }
    RateLimiter& commandRate() override { return commandRate_; }
    RateLimiter& chatRate() override { return chatRate_; }
    RateLimiter& registrationRate() override { return registrationRate_; }
    LoginThrottle& loginsByAddress() override { return loginsByAddress_; }
    LoginThrottle& loginsByCamera() override { return loginsByCamera_; }

    bool readOnly() const override { return !readOnlyReason_.empty(); }
    // Healthy while the database answers a query and the data folder takes a file.
    Health health() override;
    void forgetCamera(const std::string& id) override;

  private:
    std::filesystem::path dataDir_;
    std::string readOnlyReason_;
    std::unique_ptr<Database> db_;
    SqliteRegistry registry_;
    FileFrameStore frames_;
    SqliteOptionStore options_;
    FileArchiveStore archive_;
    SqliteListingStore listing_;
    SqlitePageStore pages_;
    SqliteChatStore chat_;
    MemoryMoveQueue moves_;
    MemoryVisitors visitors_;
    MemorySessions sessions_;
    MemoryRateLimiter commandRate_;
    MemoryRateLimiter chatRate_;
    MemoryRateLimiter registrationRate_;
    MemoryLoginThrottle loginsByAddress_;
    MemoryLoginThrottle loginsByCamera_;
};

// The embedded storage of `config`. A data folder that cannot be written (a read-only or full
// disk) still serves what it holds: then this says so on standard error and opens it
// read-only. Throws when even that fails.
std::unique_ptr<Storage> openEmbeddedStorage(const RelayConfig& config);

} // namespace reflector

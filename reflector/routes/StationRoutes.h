#pragma once

// The station's own exchanges: the directory look-up, the folder check, the registration, the
// live and archive frames and the option sync. Their answers end the connection, which is how
// the station knows that an exchange has ended.

#include "core/Config.h"
#include "core/Http.h"
#include "core/PasswordPool.h"
#include "routes/Shared.h"
#include "stores/Archive.h"
#include "stores/CameraOptions.h"
#include "stores/Frames.h"
#include "stores/Registry.h"
#include "stores/ViewerGuard.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace reflector {

class StationRoutes {
  public:
    StationRoutes(const RelayConfig& config, Registry& registry, FrameStore& frames,
                  ArchiveStore& archive, OptionStore& options, RateLimiter& registrations,
                  StationKeys& keys, const ThisRelay& relay, const Clients& clients,
                  PasswordPool& passwords, StorageLog& log);
    StationRoutes(const StationRoutes&) = delete;
    StationRoutes& operator=(const StationRoutes&) = delete;

    void addRoutes(Router& router);
    // Forgets what is kept in memory of a camera that is forgotten.
    void forget(const std::string& id);

  private:
    HttpAnswer directory(const HttpRequest& req);
    HttpAnswer checkFolder(const HttpRequest& req);
    HttpAnswer registerCamera(const HttpRequest& req);
    HttpAnswer upload(const HttpRequest& req);
    HttpAnswer archiveUpload(const HttpRequest& req);
    HttpAnswer syncOptions(const HttpRequest& req);

    // A keyed digest of a password as last synchronised for a camera, so that a sync that does
    // not change it needs no Argon2id hash. Kept in memory only, under a key of this process.
    std::string syncedPasswordDigest(std::string_view password) const;

    std::size_t maxCameras_;
    std::size_t maxFrameBytes_;
    TimeSource clock_;
    Registry& registry_;
    FrameStore& frames_;
    ArchiveStore& archive_;
    OptionStore& options_;
    RateLimiter& registrations_;
    StationKeys& keys_;
    const ThisRelay& relay_;
    const Clients& clients_;
    PasswordPool& passwords_;
    StorageLog& log_;
    unsigned char digestKey_[32];
    std::mutex syncedMutex_;
    std::map<std::string, std::string> syncedPasswords_; // camera: syncedPasswordDigest
};

} // namespace reflector

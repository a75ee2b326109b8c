#pragma once

#include "stores/CameraOptions.h"
#include "stores/embedded/Database.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace reflector {

// The options of each camera and the hash of its viewer password in the relay's database
// (table `camera_options`) and, for the viewers' requests, in memory.
class SqliteOptionStore : public OptionStore {
  public:
    // Reads every camera's options.
    explicit SqliteOptionStore(Database& db);

    bool inMemory() const override { return true; }
    void store(const CameraOptions& options, const std::string& passwordHash,
               std::int64_t unixMillis) override;
    std::optional<CameraOptions> find(const std::string& camera) override;
    std::string passwordHash(const std::string& camera) override;
    void forget(const std::string& camera) override;

  private:
    struct Kept {
        CameraOptions options;
        std::string hash;
    };
    Database& db_;
    std::mutex mutex_;
    std::map<std::string, Kept> kept_;
};

} // namespace reflector

#pragma once

#include "core/Time.h"
#include "stores/CameraPages.h"
#include "stores/embedded/Database.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace reflector {

// The owners' settings in the relay's database (tables `presets`, `camera_pages` and
// `station_addresses`); the station addresses also in memory.
class SqlitePageStore : public PageStore {
  public:
    SqlitePageStore(Database& db, TimeSource now);

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
    Database& db_;
    TimeSource now_;
    std::mutex mutex_;
    std::map<std::string, std::string> stations_; // the table's content, kept in memory
};

} // namespace reflector

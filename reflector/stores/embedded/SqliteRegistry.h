#pragma once

#include "stores/Registry.h"
#include "stores/embedded/Database.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace reflector {

// A failure of the camera database.
using RegistryError = DatabaseError;

// The registered cameras in the relay's database (table `cameras`); identifiers and key hashes
// also in memory, so that the checks of every request cost no query, and the times heard() is
// told are kept in memory until saveHeard() writes them. Nothing else may add or remove cameras
// in the database while it is open.
class SqliteRegistry : public Registry {
  public:
    // Opens or creates a database file of its own; throws RegistryError on failure.
    explicit SqliteRegistry(const std::filesystem::path& file);
    // Keeps its table in a database shared with other stores.
    explicit SqliteRegistry(Database& db);

    bool inMemory() const override { return true; }
    Enrolment enrol(const std::string& id, bool ptz, const std::string& keyHash,
                    std::int64_t nowMillis,
                    std::size_t maxCameras = std::numeric_limits<std::size_t>::max()) override;
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

  private:
    struct Known {
        std::string keyHash;
        std::int64_t heardAt = 0;
        bool heardSaved = true;
    };
    std::size_t countLocked(); // with the database's lock held
    void loadKnown();

    std::unique_ptr<Database> own_;
    Database& db_;
    mutable std::shared_mutex knownMutex_;
    std::unordered_map<std::string, Known> known_; // the registered cameras
};

} // namespace reflector

#pragma once

#include "Database.h"

#include <cstddef>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace reflector {

// A failure of the camera database.
using RegistryError = DatabaseError;

// One registered camera. Times are UTC in ISO 8601 ("2026-12-07T10:40:55Z"); `lastFrameAt`
// is empty until the first accepted frame.
struct Camera {
    std::string id;
    bool ptz = false;
    std::string registeredAt;
    std::string lastFrameAt;
};

// The registered cameras, kept in the relay's database, their identifiers also in memory so
// that asking whether a camera is registered costs no query. Nothing else may add or remove
// cameras in the database while it is open. Callers validate identifiers before, but the
// database never depends on it. Safe to use from several threads.
class Registry {
  public:
    // Opens or creates a database file of its own; throws RegistryError on failure.
    explicit Registry(const std::filesystem::path& file);
    // Keeps its table in a database shared with other stores.
    explicit Registry(Database& db);
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Registers a camera or updates the motor flag of a registered one; the first
    // registration time is kept. A new camera is refused (false) when `maxCameras` cameras are
    // registered already; a registered one is always updated.
    bool registerCamera(const std::string& id, bool ptz,
                        std::size_t maxCameras = std::numeric_limits<std::size_t>::max());
    bool isRegistered(const std::string& id);
    // How many cameras are registered.
    std::size_t count();
    std::optional<Camera> find(const std::string& id);
    // All cameras, ordered by identifier.
    std::vector<Camera> list();
    // Records that a frame of the camera has just been accepted.
    void noteFrame(const std::string& id);

  private:
    std::size_t countLocked(); // with the database's lock held
    void loadKnown();

    std::unique_ptr<Database> own_;
    Database& db_;
    mutable std::shared_mutex knownMutex_;
    std::unordered_set<std::string> known_; // the registered identifiers
};

} // namespace reflector

#pragma once

#include "Database.h"

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

// One registered camera. Times are UTC in ISO 8601 ("2026-12-07T10:40:55Z"); `lastFrameAt`
// is empty until the first accepted frame.
struct Camera {
    std::string id;
    bool ptz = false;
    std::string registeredAt;
    std::string lastFrameAt;
};

// How a registration went.
enum class Enrolment {
    Added,   // a new camera, bound to the registration's key (if it brought one)
    Updated, // a known camera: its motor flag replaced
    Claimed, // a known camera bound to no key, now bound to the registration's key
    Full,    // a new camera, refused: as many cameras are registered as the relay takes
    Wrong,   // a camera bound to another key: nothing changed
};

// The registered cameras, kept in the relay's database, with the hash of the station key each
// is bound to (StationKey.h) and when its station was last heard from; identifiers and key
// hashes also in memory, so that the checks of every request cost no query. Nothing else may
// add or remove cameras in the database while it is open. Callers validate identifiers before,
// but the database never depends on it. Safe to use from several threads.
class Registry {
  public:
    // Opens or creates a database file of its own; throws RegistryError on failure.
    explicit Registry(const std::filesystem::path& file);
    // Keeps its table in a database shared with other stores.
    explicit Registry(Database& db);
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Registers a camera for the station whose key hashes to `keyHash` (empty: a registration
    // without a key), at `nowMillis`. A new camera is bound to that key; a known camera bound
    // to no key is claimed by it; a known camera bound to another key is left as it is (Wrong).
    // The first registration time is kept. A new camera is refused (Full) when `maxCameras`
    // cameras are registered already. Checked and written under one lock, so two stations
    // cannot claim one camera together.
    Enrolment enrol(const std::string& id, bool ptz, const std::string& keyHash,
                    std::int64_t nowMillis,
                    std::size_t maxCameras = std::numeric_limits<std::size_t>::max());
    // A registration without a key: true unless refused for the limit.
    bool registerCamera(const std::string& id, bool ptz,
                        std::size_t maxCameras = std::numeric_limits<std::size_t>::max());
    bool isRegistered(const std::string& id);
    // The hash of the key the camera is bound to: empty when it is bound to none; nullopt when
    // it is not registered.
    std::optional<std::string> keyHash(const std::string& id);
    // Unbinds the camera from its key, so that the next registration with a key claims it.
    // False when it is not registered.
    bool release(const std::string& id);
    // How many cameras are registered.
    std::size_t count();
    std::optional<Camera> find(const std::string& id);
    // All cameras, ordered by identifier.
    std::vector<Camera> list();
    // Records that a frame of the camera has just been accepted.
    void noteFrame(const std::string& id);
    // Records that the camera's station or helper was heard from at `nowMillis`: in memory
    // only, so that it costs the requests that serve the station nothing; saveHeard() writes it.
    void heard(const std::string& id, std::int64_t nowMillis);
    // Writes the times heard() recorded since the last call to the database.
    void saveHeard();
    // The cameras whose station was last heard from before `beforeMillis`.
    std::vector<std::string> silentSince(std::int64_t beforeMillis);
    // Removes the camera.
    void forget(const std::string& id);

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

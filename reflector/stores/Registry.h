#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace reflector {

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

// The registered cameras, with the hash of the station key each is bound to
// (core/StationKey.h) and when its station was last heard from. Callers validate identifiers
// before; a store never depends on it. Failures throw StorageError.
class Registry {
  public:
    virtual ~Registry() = default;

    // True when the checks every request about a camera makes (isRegistered, keyHash, heard)
    // answer from memory, never waiting on a disk, a database or the network.
    virtual bool inMemory() const = 0;

    // Registers a camera for the station whose key hashes to `keyHash` (empty: a registration
    // without a key), at `nowMillis`. A new camera is bound to that key; a known camera bound
    // to no key is claimed by it; a known camera bound to another key is left as it is (Wrong).
    // The first registration time is kept. A new camera is refused (Full) when `maxCameras`
    // cameras are registered already. Checked and written at once, so two stations cannot
    // claim one camera together.
    virtual Enrolment enrol(const std::string& id, bool ptz, const std::string& keyHash,
                            std::int64_t nowMillis,
                            std::size_t maxCameras = std::numeric_limits<std::size_t>::max()) = 0;
    // A registration without a key, now: true unless refused for the limit.
    bool registerCamera(const std::string& id, bool ptz,
                        std::size_t maxCameras = std::numeric_limits<std::size_t>::max());
    virtual bool isRegistered(const std::string& id) = 0;
    // The hash of the key the camera is bound to: empty when it is bound to none; nullopt when
    // it is not registered.
    virtual std::optional<std::string> keyHash(const std::string& id) = 0;
    // Unbinds the camera from its key, so that the next registration with a key claims it.
    // False when it is not registered.
    virtual bool release(const std::string& id) = 0;
    // How many cameras are registered.
    virtual std::size_t count() = 0;
    virtual std::optional<Camera> find(const std::string& id) = 0;
    // All cameras, ordered by identifier.
    virtual std::vector<Camera> list() = 0;
    // Records that a frame of the camera has just been accepted.
    virtual void noteFrame(const std::string& id) = 0;
    // Records that the camera's station or helper was heard from at `nowMillis`. Costs the
    // requests that serve the station nothing: it may be kept in memory until saveHeard().
    virtual void heard(const std::string& id, std::int64_t nowMillis) = 0;
    // Makes what heard() recorded lasting.
    virtual void saveHeard() = 0;
    // The cameras whose station was last heard from before `beforeMillis`.
    virtual std::vector<std::string> silentSince(std::int64_t beforeMillis) = 0;
    // Removes the camera.
    virtual void forget(const std::string& id) = 0;
};

} // namespace reflector

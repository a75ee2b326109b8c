#pragma once

#include <cstddef>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace reflector {

// A failure of the camera database (cannot open, disk full, corrupt file ...).
class RegistryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One registered camera. Times are UTC in ISO 8601 ("2026-12-07T10:40:55Z"); `lastFrameAt`
// is empty until the first accepted frame.
struct Camera {
    std::string id;
    bool ptz = false;
    std::string registeredAt;
    std::string lastFrameAt;
};

// The registered cameras, kept in an SQLite database file. Every statement binds its values as
// parameters; callers validate identifiers before, but the database never depends on it.
// Safe to use from several threads.
class Registry {
  public:
    // Opens or creates the database file; throws RegistryError on failure.
    explicit Registry(const std::filesystem::path& file);
    ~Registry();
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
    std::size_t countLocked(); // with mutex_ held

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

} // namespace reflector

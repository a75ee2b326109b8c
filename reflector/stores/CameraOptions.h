#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace reflector {

// The viewer-facing options a station synchronises for its camera.
struct CameraOptions {
    std::string camera;
    bool zoom = false;     // viewers may zoom
    bool snapshot = false; // viewers may take snapshots
    bool chat = false;     // the chat room is offered
    bool secure = false;   // viewers must give the viewer password
    bool ptz = false;      // the camera has motors
    bool presets = false;  // viewers may use the presets (never without motors)
    bool archive = false;  // viewers may see the archive
    std::string chatRoom;  // the chat room's name, decoded ("Kestrova Chat")
    std::int64_t chatNumber = 0;
    std::string syncedAt; // UTC, ISO 8601; set by the store
};

// The options of each camera and a hash of its viewer password (core/PasswordHash.h). Failures
// throw StorageError.
class OptionStore {
  public:
    virtual ~OptionStore() = default;

    // True when find() and passwordHash() answer from memory, never waiting on a disk, a
    // database or the network.
    virtual bool inMemory() const = 0;

    // Replaces the camera's options and password hash; stamps the time of the sync.
    virtual void store(const CameraOptions& options, const std::string& passwordHash,
                       std::int64_t unixMillis) = 0;
    // The camera's options; nullopt when it never synchronised them.
    virtual std::optional<CameraOptions> find(const std::string& camera) = 0;
    // The hash of the camera's viewer password; empty when it never synchronised its options.
    // It changes only when the password does (see the station's option sync).
    virtual std::string passwordHash(const std::string& camera) = 0;
    // True when `password` is the camera's viewer password. A camera without options takes as
    // long to say no as a wrong password does. Takes an Argon2id check: call it on the
    // password pool.
    bool verifyViewerPassword(const std::string& camera, std::string_view password);
    // Forgets the camera's options.
    virtual void forget(const std::string& camera) = 0;
};

} // namespace reflector

#pragma once

#include "Database.h"

#include <cstdint>
#include <map>
#include <mutex>
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

// What the station's option form says: the options and the viewer password in plain text.
struct SyncForm {
    CameraOptions options;
    std::string password;
};

// The result of reading the form: `error` (a sentence) is empty on success.
struct ParsedSync {
    SyncForm form;
    std::string error;
};

// Reads the station's form body: the fields id, path, zoom, snapshot, chat, secure, password,
// ptz, presets, archive and chatID, each once, form-encoded (the password percent-encoded; the
// room name in chatID arrives percent-encoded too, so one decoding gives the name).
ParsedSync parseSyncForm(std::string_view body);

// The options of each camera and a hash of its viewer password (PasswordHash.h), kept in the
// relay's database and, for the viewers' requests, in memory. Safe to use from several threads.
class OptionStore {
  public:
    // Reads every camera's options.
    explicit OptionStore(Database& db);

    // Replaces the camera's options and password hash; stamps the time of the sync.
    void store(const CameraOptions& options, const std::string& passwordHash,
               std::int64_t unixMillis);
    // The camera's options; nullopt when it never synchronised them. Costs no query.
    std::optional<CameraOptions> find(const std::string& camera);
    // The hash of the camera's viewer password; empty when it never synchronised its options.
    // It changes only when the password does (see RelayService::syncOptions).
    std::string passwordHash(const std::string& camera);
    // True when `password` is the camera's viewer password. A camera without options takes as
    // long to say no as a wrong password does.
    bool verifyViewerPassword(const std::string& camera, std::string_view password);
    // Forgets the camera's options.
    void forget(const std::string& camera);

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

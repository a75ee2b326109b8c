#include "routes/StationRoutes.h"

#include "core/CameraId.h"
#include "core/Jpeg.h"
#include "core/PasswordHash.h"
#include "core/Text.h"
#include "routes/Answers.h"
#include "routes/Forms.h"
#include "stores/Storage.h"

#include <iostream>
#include <optional>
#include <sodium.h>

namespace reflector {

namespace {

// Answers to the station. It searches them for fixed phrases, so their wording is part of the
// protocol (docs/protocol.md).
constexpr const char* kRegistered = "User Registered Successfully.";
constexpr const char* kFrameAccepted = "Reflector: true";
constexpr const char* kFrameRefused = "Reflector: false - ";
constexpr const char* kArchiveAccepted = "Archive: true";
constexpr const char* kArchiveRefused = "Archive: false - ";
constexpr const char* kSettingsWritten = "Settings written successfully.";
constexpr const char* kSettingsFailed = "Failed to synchronise settings. ";

// What one kind of camera request answers to an identifier or a folder it cannot take.
struct CameraRefusals {
    const char* invalidId;
    const char* unknownFolder;
};

constexpr CameraRefusals kCheckRefusals{"Exists: false - not a valid camera id",
                                        "Exists: false - unknown folder"};
constexpr CameraRefusals kRegisterRefusals{
    "Registration refused: a camera id has 1 to 50 letters, digits, '-' or '_'.",
    "Registration refused: unknown folder."};

// A refusal when `id` is not a valid camera identifier or `folder` not the camera folder.
std::optional<HttpAnswer> refuseCamera(const std::string& id, const std::string& folder,
                                       const CameraRefusals& refusals) {
    if (!isValidCameraId(id)) {
        return textAnswer(400, refusals.invalidId);
    }
    if (folder != kCameraFolder) {
        return textAnswer(400, refusals.unknownFolder);
    }
    return std::nullopt;
}

// The fields of a frame upload (live or archive).
struct FrameUpload {
    std::string id;
    std::string frame;
};

// Reads a multipart frame upload: the parts id, path and frame, a registered camera, a JPEG no
// larger than `maxBytes`. On failure the refusal, its text after `refused`.
std::optional<HttpAnswer> readFrameUpload(const HttpRequest& req, Registry& registry,
                                          std::size_t maxBytes, const std::string& refused,
                                          FrameUpload& upload) {
    const auto refuse = [&refused](int status, const std::string& reason) {
        return textAnswer(status, refused + reason);
    };
    const std::string contentType = req.header("Content-Type");
    if (!hasMediaType(contentType, "multipart/form-data")) {
        return refuse(400, "expected a multipart/form-data upload");
    }
    auto parts = parseMultipart(contentType, req.body);
    if (!parts) {
        return refuse(400, "malformed multipart/form-data body");
    }
    const auto part = [&parts](const char* name) -> FormPart* {
        for (FormPart& p : *parts) {
            if (p.name == name) {
                return &p;
            }
        }
        return nullptr;
    };
    for (const char* field : {"id", "path", "frame"}) {
        if (part(field) == nullptr) {
            return refuse(400, std::string("missing field '") + field + "'");
        }
    }
    upload.id = part("id")->content;
    if (!isValidCameraId(upload.id)) {
        return refuse(400, "not a valid camera id");
    }
    if (part("path")->content != kCameraFolder) {
        return refuse(400, "unknown folder");
    }
    if (!registry.isRegistered(upload.id)) {
        return refuse(404, "camera " + upload.id + " is not registered");
    }
    std::string& frame = part("frame")->content;
    if (frame.size() > maxBytes) {
        return refuse(413, "frame of " + std::to_string(frame.size()) + " bytes is larger than " +
                               std::to_string(maxBytes));
    }
    if (!looksLikeJpeg(frame)) {
        return refuse(415, "frame is not a JPEG image");
    }
    upload.frame = std::move(frame);
    return std::nullopt;
}

} // namespace

StationRoutes::StationRoutes(const RelayConfig& config, Registry& registry, FrameStore& frames,
                             ArchiveStore& archive, OptionStore& options,
                             RateLimiter& registrations, StationKeys& keys, const ThisRelay& relay,
                             const Clients& clients, PasswordPool& passwords, StorageLog& log)
    : maxCameras_(config.maxCameras), maxFrameBytes_(config.maxFrameBytes),
      clock_(clockOrSystem(config.clock)), registry_(registry), frames_(frames), archive_(archive),
      options_(options), registrations_(registrations), keys_(keys), relay_(relay),
      clients_(clients), passwords_(passwords), log_(log) {
    if (sodium_init() < 0) {
        throw std::runtime_error("the cryptography library cannot be initialised");
    }
    randombytes_buf(digestKey_, sizeof digestKey_);
}

void StationRoutes::addRoutes(Router& r) {
    // The station's exchanges end with the close of their connection. The folder check only
    // reads the registry.
    RouteOptions station;
    station.closes = true;
    RouteOptions check = station;
    check.quick = registry_.inMemory();
    r.add(
        "GET", "/getReflector.php", [this](const HttpRequest& req) { return directory(req); },
        station);
    r.add(
        "GET", "/webcams/CheckFolderExists",
        [this](const HttpRequest& req) { return checkFolder(req); }, check);
    r.add(
        "GET", "/webcams/Register", [this](const HttpRequest& req) { return registerCamera(req); },
        station);
    r.add(
        "POST", "/webcams/Reflector", [this](const HttpRequest& req) { return upload(req); },
        station);
    r.add(
        "POST", "/webcams/Archive", [this](const HttpRequest& req) { return archiveUpload(req); },
        station);
    r.add(
        "POST", "/webcams/SyncWebcams", [this](const HttpRequest& req) { return syncOptions(req); },
        station);
}

void StationRoutes::forget(const std::string& id) {
    std::lock_guard lock(syncedMutex_);
    syncedPasswords_.erase(id);
}

HttpAnswer StationRoutes::directory(const HttpRequest& req) {
    return textAnswer(200, relay_.host(req) + "\r\n" + std::to_string(relay_.port()) + "\r\n" +
                               std::string(kCameraFolder) + "\r\n");
}

HttpAnswer StationRoutes::checkFolder(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (auto refused = refuseCamera(id, req.param("path"), kCheckRefusals)) {
        return *refused;
    }
    // A station whose key is not the camera's (or a keyed station at a camera bound to no key)
    // goes on to register: that claims the camera, or tells it why not.
    const auto bound = registry_.keyHash(id);
    const bool exists =
        bound && (bearerKey(req) ? keys_.standingOf(req, id) == KeyStanding::Holder : true);
    return textAnswer(200, exists ? "Exists: true" : "Exists: false");
}

HttpAnswer StationRoutes::registerCamera(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (auto refused = refuseCamera(id, req.param("path"), kRegisterRefusals)) {
        return *refused;
    }
    const std::string ptz = req.param("ptz");
    if (ptz != "true" && ptz != "false") {
        return textAnswer(400, "Registration refused: ptz must be true or false.");
    }
    const auto refuse = [](int status, const std::string& reason) {
        return textAnswer(status, "Registration refused: " + reason + ".");
    };
    const auto key = bearerKey(req);
    const auto bound = registry_.keyHash(id);
    const KeyStanding standing = keyStanding(key, bound.value_or(""), keys_.allowKeyless());
    if (standing != KeyStanding::Holder && standing != KeyStanding::Open) {
        return refuse(403, keyRefusal(standing, id));
    }
    // New cameras are limited per client address, so that nobody fills the relay.
    if (!bound && !registrations_.allow(clients_.of(req))) {
        HttpAnswer slow = refuse(429, "too many new cameras from your address; try again in an "
                                      "hour");
        slow.headers.emplace_back("Retry-After", "3600");
        return slow;
    }
    const std::string hash = key ? stationKeyHash(*key) : std::string();
    Enrolment enrolment = Enrolment::Full;
    try {
        enrolment = registry_.enrol(id, ptz == "true", hash, unixMillis(clock_()), maxCameras_);
    } catch (const StorageError& e) {
        log_.failed("registration of camera " + id + " not stored", e);
        return refuse(500, "the relay could not store the registration");
    }
    switch (enrolment) {
    case Enrolment::Full:
        return textAnswer(
            503, "Registration refused: this relay already serves as many cameras as it takes (" +
                     std::to_string(maxCameras_) + ").");
    case Enrolment::Wrong:
        // Another station claimed the camera between the check and now.
        return refuse(403, keyRefusal(KeyStanding::Wrong, id));
    case Enrolment::Claimed:
        std::cerr << "reflector: camera " << id << " is now bound to the key of the station at "
                  << loggable(clients_.of(req)) << std::endl;
        break;
    case Enrolment::Added:
    case Enrolment::Updated:
        break;
    }
    keys_.noteStation(req, id, hash.empty() ? KeyStanding::Open : KeyStanding::Holder);
    return textAnswer(200, kRegistered);
}

HttpAnswer StationRoutes::upload(const HttpRequest& req) {
    FrameUpload upload;
    if (auto refused = readFrameUpload(req, registry_, maxFrameBytes_, kFrameRefused, upload)) {
        return *refused;
    }
    const KeyStanding standing = keys_.standingOf(req, upload.id);
    if (const std::string why = keyRefusal(standing, upload.id); !why.empty()) {
        return textAnswer(403, kFrameRefused + why);
    }
    try {
        frames_.put(upload.id, std::move(upload.frame));
    } catch (const StorageError& e) {
        log_.failed("frame of camera " + upload.id + " not stored", e);
        return textAnswer(500, std::string(kFrameRefused) + "could not store the frame");
    }
    // The frame is stored and served from now on: a time stamp that cannot be written (the
    // database busy or its disk full) is only logged, so the station does not report a refusal.
    try {
        registry_.noteFrame(upload.id);
    } catch (const StorageError& e) {
        log_.failed("frame of camera " + upload.id + " accepted, its time not recorded", e);
    }
    keys_.noteStation(req, upload.id, standing);
    return textAnswer(200, kFrameAccepted);
}

HttpAnswer StationRoutes::archiveUpload(const HttpRequest& req) {
    FrameUpload upload;
    if (auto refused = readFrameUpload(req, registry_, maxFrameBytes_, kArchiveRefused, upload)) {
        return *refused;
    }
    const KeyStanding standing = keys_.standingOf(req, upload.id);
    if (const std::string why = keyRefusal(standing, upload.id); !why.empty()) {
        return textAnswer(403, kArchiveRefused + why);
    }
    try {
        archive_.add(upload.id, upload.frame);
    } catch (const std::runtime_error& e) {
        log_.failed("archive frame of camera " + upload.id + " not kept", e);
        return textAnswer(500, std::string(kArchiveRefused) + "could not store the frame");
    }
    keys_.noteStation(req, upload.id, standing);
    return textAnswer(200, kArchiveAccepted);
}

HttpAnswer StationRoutes::syncOptions(const HttpRequest& req) {
    const auto refuse = [](int status, const std::string& reason) {
        return textAnswer(status, kSettingsFailed + reason);
    };
    // The station never sends these; a browser does, on behalf of whatever page it shows.
    const std::string fetchSite = req.header("Sec-Fetch-Site");
    if (!sameOrigin(req) ||
        (!fetchSite.empty() && fetchSite != "same-origin" && fetchSite != "none")) {
        return refuse(403, "Refused: sent from a page of another site.");
    }
    if (!hasMediaType(req.header("Content-Type"), "application/x-www-form-urlencoded")) {
        return refuse(415, "Expected a form (application/x-www-form-urlencoded).");
    }
    ParsedSync parsed = parseSyncForm(req.body);
    if (!parsed.error.empty()) {
        return refuse(400, parsed.error);
    }
    const std::string id = parsed.form.options.camera;
    if (!registry_.isRegistered(id)) {
        return refuse(404, "Unknown camera.");
    }
    const KeyStanding standing = keys_.standingOf(req, id);
    if (const std::string why = keyRefusal(standing, id); !why.empty()) {
        return refuse(403, sentence(why));
    }
    keys_.noteStation(req, id, standing);
    // Stores the options with `hash` as the password's; on the password pool when it hashed.
    const auto store = [this, refuse, id](const CameraOptions& options, const std::string& hash,
                                          const std::string& digest) {
        try {
            options_.store(options, hash, unixMillis(clock_()));
        } catch (const std::runtime_error& e) {
            log_.failed("options of camera " + id + " not stored", e);
            return refuse(500, "The options could not be stored.");
        }
        std::lock_guard lock(syncedMutex_);
        syncedPasswords_[id] = digest;
        return textAnswer(200, kSettingsWritten);
    };
    // The hash is kept while the password stays the same: it is what viewers' sessions were
    // opened with, so they end only when the password changes. A password synchronised as it
    // was before needs no hash at all.
    const std::string digest = syncedPasswordDigest(parsed.form.password);
    const std::string kept = options_.passwordHash(id);
    bool unchanged = false;
    {
        std::lock_guard lock(syncedMutex_);
        const auto it = syncedPasswords_.find(id);
        unchanged = !kept.empty() && it != syncedPasswords_.end() &&
                    it->second.size() == digest.size() &&
                    sodium_memcmp(it->second.data(), digest.data(), digest.size()) == 0;
    }
    if (unchanged) {
        return store(parsed.form.options, kept, digest);
    }
    return passwords_.answer(
        [store, kept, digest, parsed = std::move(parsed)] {
            const std::string& password = parsed.form.password;
            const std::string hash =
                !kept.empty() && verifyPassword(kept, password) ? kept : hashPassword(password);
            return store(parsed.form.options, hash, digest);
        },
        refuse(503, "The relay is busy, try again shortly."), std::chrono::seconds(30), true);
}

std::string StationRoutes::syncedPasswordDigest(std::string_view password) const {
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest,
                       reinterpret_cast<const unsigned char*>(password.data()), password.size(),
                       digestKey_, sizeof digestKey_);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

} // namespace reflector

#include "Routes.h"

#include "CameraId.h"
#include "Jpeg.h"
#include "LiveStream.h"
#include "Options.h"
#include "Pages.h"
#include "PasswordHash.h"
#include "Text.h"

#include <sodium.h>

#include <algorithm>
#include <exception>
#include <iostream>
#include <optional>

namespace reflector {

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPagePolicy =
    "default-src 'self'; img-src 'self' blob:; object-src 'none'; base-uri 'none'; "
    "form-action 'self'; frame-ancestors 'none'";

// Answers to the station. It searches them for fixed phrases, so their wording is part of the
// protocol (docs/protocol.md).
constexpr const char* kRegistered = "User Registered Successfully.";
constexpr const char* kFrameAccepted = "Reflector: true";
constexpr const char* kFrameRefused = "Reflector: false - ";
constexpr const char* kArchiveAccepted = "Archive: true";
constexpr const char* kArchiveRefused = "Archive: false - ";
constexpr const char* kSettingsWritten = "Settings written successfully.";
constexpr const char* kSettingsFailed = "Failed to synchronise settings. ";

bool isWildcard(const std::string& host) {
    return host.empty() || host == "0.0.0.0" || host == "::" || host == "[::]";
}

// The host part of a Host header ("name", "name:port", "[v6]:port").
std::string hostOfHeader(const std::string& header) {
    if (!header.empty() && header.front() == '[') {
        const auto end = header.find(']');
        return end == std::string::npos ? std::string() : header.substr(0, end + 1);
    }
    const auto colon = header.find(':');
    if (colon != std::string::npos && header.find(':', colon + 1) == std::string::npos) {
        return header.substr(0, colon);
    }
    return header;
}

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

// The configuration with its defaults filled in and its data folder in place.
RelayConfig prepared(RelayConfig config) {
    if (!config.clock) {
        config.clock = [] { return WallClock::now(); };
    }
    std::error_code ec;
    std::filesystem::create_directories(config.dataDir, ec);
    if (ec && !config.readOnly) {
        throw FrameStoreError("cannot create " + config.dataDir.string() + ": " + ec.message());
    }
    return config;
}

// The port of an origin or Host header's "host[:port]" part; `fallback` when it names none.
std::string splitHostPort(std::string_view text, int fallback, int& port) {
    port = fallback;
    std::size_t colon = std::string_view::npos;
    if (!text.empty() && text.front() == '[') {
        const std::size_t end = text.find(']');
        if (end == std::string_view::npos) {
            return {};
        }
        colon = end + 1 < text.size() && text[end + 1] == ':' ? end + 1 : std::string_view::npos;
    } else if (text.find(':') == text.rfind(':')) {
        colon = text.find(':');
    }
    std::string host(text.substr(0, colon));
    if (colon != std::string_view::npos) {
        const std::string_view digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos) {
            return {};
        }
        port = std::stoi(std::string(digits));
    }
    for (char& c : host) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return host;
}

} // namespace

HttpAnswer htmlAnswer(int status, std::string html) {
    HttpAnswer answer;
    answer.status = status;
    answer.contentType = kHtml;
    answer.body = std::move(html);
    answer.headers.emplace_back("Content-Security-Policy", kPagePolicy);
    answer.headers.emplace_back("Referrer-Policy", "same-origin");
    return answer;
}

bool sameOrigin(const HttpRequest& req) {
    if (!req.hasHeader("Origin")) {
        return true;
    }
    const std::string origin = req.header("Origin");
    int defaultPort = 0;
    std::string_view rest;
    if (origin.rfind("http://", 0) == 0) {
        defaultPort = 80;
        rest = std::string_view(origin).substr(7);
    } else if (origin.rfind("https://", 0) == 0) {
        defaultPort = 443;
        rest = std::string_view(origin).substr(8);
    } else {
        return false; // "null", or a scheme no page of this relay has
    }
    int originPort = 0;
    int hostPort = 0;
    const std::string originHost = splitHostPort(rest, defaultPort, originPort);
    const std::string host = splitHostPort(req.header("Host"), defaultPort, hostPort);
    return !originHost.empty() && originHost == host && originPort == hostPort;
}

HttpAnswer refusalFor(const std::string& path, int status, const std::string& reason) {
    if (path == "/webcams/Reflector") {
        return textAnswer(status, kFrameRefused + reason);
    }
    if (path == "/webcams/Archive") {
        return textAnswer(status, kArchiveRefused + reason);
    }
    if (path == "/webcams/SyncWebcams") {
        return textAnswer(status, kSettingsFailed + sentence(reason));
    }
    if (path == "/live/post" || path == "/live/refresh" || path == "/live/remove") {
        return textAnswer(status, "Listing: false - " + reason);
    }
    if (path == "/live/check") {
        return textAnswer(status, "Listed: false - " + reason);
    }
    if (path == "/webcams/command") {
        return textAnswer(status, "Command refused: " + reason);
    }
    return textAnswer(status, reason);
}

HttpAnswer busyAnswer() {
    return textAnswer(503, "Reflector: false - Exists: false - Listing: false - too many "
                           "connections from your address at once, try again shortly. "
                           "Failed to synchronise settings.");
}

HttpAnswer fullAnswer() {
    return textAnswer(503, "Reflector: false - Exists: false - Listing: false - the relay has "
                           "as many connections as it takes, try again shortly. "
                           "Failed to synchronise settings.");
}

std::string directoryHost(const std::string& publicHost, const std::string& listenHost,
                          const std::string& hostHeader) {
    if (!publicHost.empty()) {
        return publicHost;
    }
    if (!isWildcard(listenHost)) {
        return listenHost;
    }
    // Listening on every address: name the relay as the client named this server.
    const std::string host = hostOfHeader(hostHeader);
    return isValidHostName(host) ? host : "127.0.0.1";
}

RelayService::RelayService(RelayConfig config)
    : config_(prepared(std::move(config))),
      db_(config_.readOnly ? Database::snapshotOf(config_.dataDir / "reflector.db")
                           : std::make_unique<Database>(config_.dataDir / "reflector.db")),
      registry_(*db_),
      frames_(config_.dataDir / "frames", config_.frameCacheBytes, config_.readOnly),
      options_(*db_), archive_(*db_, config_.dataDir / "archive", config_.clock,
                               config_.archiveMaxFrames, config_.archiveMaxDays, config_.readOnly),
      archiveAnswers_(config_.archiveAnswerBytes),
      listing_(*db_, config_.clock, config_.listingTimeToLive, config_.maxCameras),
      moves_(config_.clock, config_.commandTimeToLive),
      visitors_(config_.clock, config_.visitorWindow), pages_(*db_, config_.clock),
      chat_(*db_, config_.clock), sessions_(config_.clock, config_.sessionLifetime),
      logins_(config_.clock, config_.freeLoginTries),
      cameraLogins_(config_.clock, config_.freeLoginTriesPerCamera, std::chrono::minutes(1)),
      commandRate_(config_.clock, config_.commandsPerSecond, config_.commandBurst),
      chatRate_(config_.clock, config_.chatMessagesPerSecond, config_.chatBurst),
      registrations_(config_.clock, static_cast<double>(config_.registrationsPerHour) / 3600.0,
                     static_cast<double>(config_.registrationsPerHour)),
      holds_(config_.maxLongPolls,
             config_.maxConnectionsPerAddress == 0 ? 0 : config_.maxLongPollsPerAddress),
      streams_(config_.maxStreams, 0), passwords_(config_.passwordThreads, config_.passwordQueue) {
    randombytes_buf(digestKey_, sizeof digestKey_);
    if (config_.readOnly) {
        // Everything above read what the folder holds; from now on nothing is written.
        auto lock = db_->lock();
        db_->execute("PRAGMA query_only=ON");
    } else {
        upkeep();
    }
    if (!config_.relays.empty()) {
        locator_ = std::make_unique<CameraLocator>(
            config_.relays, [this](const std::string& host, int port, const std::string& target,
                                   std::chrono::milliseconds limit, FetchDone done) {
                if (fetcher_) {
                    fetcher_(host, port, target, limit, std::move(done));
                } else {
                    done(0, {});
                }
            });
    }
    addRoutes();
}

void RelayService::setListenAddress(const std::string& host, int port) {
    listenHost_ = host;
    port_ = port;
}

void RelayService::addRoutes() {
    const auto bind = [this](HttpAnswer (RelayService::*handler)(const HttpRequest&)) {
        return [this, handler](const HttpRequest& req) { return (this->*handler)(req); };
    };
    // Quick: the handler never waits on the disk (beyond reading a frame that left memory),
    // the database or a long computation. Station: the station's own exchanges, each ended by
    // the close of its connection.
    constexpr RouteOptions quick{true, false};
    constexpr RouteOptions station{false, true};
    constexpr RouteOptions quickStation{true, true};
    Router& r = router_;
    r.add("GET", "/", [this](const HttpRequest&) { return cameraList(); });
    r.add("GET", "/getReflector.php", bind(&RelayService::directory), station);
    r.add("GET", "/webcams/CheckFolderExists", bind(&RelayService::checkFolder), quickStation);
    r.add("GET", "/webcams/Register", bind(&RelayService::registerCamera), station);
    r.add("POST", "/webcams/Reflector", bind(&RelayService::upload), station);
    r.add("POST", "/webcams/Archive", bind(&RelayService::archiveUpload), station);
    r.add("POST", "/webcams/SyncWebcams", bind(&RelayService::syncOptions), station);
    r.add("GET", "/webcams/live", bind(&RelayService::live), quick);
    r.add("GET", "/webcams/stream", bind(&RelayService::stream), quick);
    r.add("GET", "/webcams/snapshot", bind(&RelayService::snapshot), quick);
    r.add("GET", "/webcams/thumb", bind(&RelayService::thumbnail), quick);
    const auto cameraById = [this](const HttpRequest& req) {
        return cameraPage(req, req.param("id"));
    };
    // The camera page; index.jsp is the address the station's "View Camera Webpage" opens.
    r.add("GET", "/webcams/index.jsp", cameraById);
    r.add("GET", "/webcams/view", cameraById);
    r.add("POST", "/webcams/command", bind(&RelayService::command), quick);
    // Password hashing: on a worker.
    r.add("POST", "/webcams/login", bind(&RelayService::login));
    r.add("GET", "/webcams/PassRequiredArchive", bind(&RelayService::archivePage));
    r.add("GET", "/webcams/archive/frame", bind(&RelayService::archiveFrame));
    r.add("GET", "/webcams/admin/index.jsp", bind(&RelayService::adminPage));
    r.add("POST", "/webcams/admin/index.jsp", bind(&RelayService::adminChange));
    r.add("GET", "/webcams/MoveRouterProxy", bind(&RelayService::moveRouterProxy), quick);
    r.add("GET", "/webcams/CheckVisitorStatus", bind(&RelayService::visitorStatus), quick);
    r.add("POST", "/live/post", bind(&RelayService::listingPost));
    r.add("POST", "/live/refresh", bind(&RelayService::listingRefresh));
    r.add("POST", "/live/remove", bind(&RelayService::listingRemove));
    r.add("GET", "/live/check", bind(&RelayService::listingCheck));
    // The pages of the listing host (in a local setup, this relay).
    r.add("GET", "/livelist.php", bind(&RelayService::liveList));
    r.add("GET", "/livelist.asp", bind(&RelayService::liveList));
    r.add("GET", "/description.php", bind(&RelayService::profilePage));
    r.add("POST", "/description.php", bind(&RelayService::profileChange));
    r.add("GET", "/fchat/chat2.php", bind(&RelayService::chatPage));
    r.add("GET", "/fchat/messages", bind(&RelayService::chatMessages));
    r.add("POST", "/fchat/send", bind(&RelayService::chatSend));
    const auto help = [](const HttpRequest&) {
        return htmlAnswer(200, std::string(webFile("help.html")));
    };
    r.add("GET", "/help/webcams/index.htm", help, quick);
    r.add("GET", "/help/webcams/", help, quick);
    // The pages' scripts and style sheet, by name; nothing else of the web folder.
    r.addPrefix(
        "GET", "/static/",
        [](const HttpRequest& req) {
            const std::string name = req.path.substr(std::string("/static/").size());
            const char* type = nullptr;
            if (name == "camera.js" || name == "chat.js") {
                type = "text/javascript; charset=utf-8";
            } else if (name == "style.css") {
                type = "text/css; charset=utf-8";
            }
            if (type == nullptr) {
                return textAnswer(404, statusText(404));
            }
            HttpAnswer answer = textAnswer(200, std::string(webFile(name)));
            answer.contentType = type;
            return answer;
        },
        quick);
    // Only for paths without a handler of their own: /webcams/<camera id> is the camera's
    // page.
    r.addPrefix("GET", "/webcams/", [this](const HttpRequest& req) {
        const std::string id = req.path.substr(std::string("/webcams/").size());
        if (!isValidCameraId(id)) {
            return textAnswer(404, statusText(404));
        }
        return cameraPage(req, id);
    });
}

HttpAnswer RelayService::handle(const HttpRequest& request) {
    try {
        return router_.route(request);
    } catch (const std::exception& e) {
        std::cerr << "reflector: " << loggable(request.method) << ' ' << loggable(request.path)
                  << " failed: " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "reflector: " << loggable(request.method) << ' ' << loggable(request.path)
                  << " failed" << std::endl;
    }
    return refusalFor(request.path, 500, "internal error");
}

void RelayService::shutdown() {
    closing_ = true;
    moves_.wakeAll();
    visitors_.wakeAll();
}

HttpAnswer RelayService::directory(const HttpRequest& req) {
    if (!config_.relays.empty()) {
        // A station that names its camera gets the camera's relay; one that does not (the
        // station asks without) gets the relay of its address, which is as stable.
        const std::string id = req.param("id");
        const std::string key = isValidCameraId(id) ? id : req.clientAddress;
        const RelayAddress& relay = config_.relays[relayPreference(key, config_.relays).front()];
        return textAnswer(200, relay.host + "\r\n" + std::to_string(relay.port) + "\r\n" +
                                   std::string(kCameraFolder) + "\r\n");
    }
    return textAnswer(200, directoryHost(config_.publicHost, listenHost_, req.header("Host")) +
                               "\r\n" + std::to_string(port_) + "\r\n" +
                               std::string(kCameraFolder) + "\r\n");
}

HttpAnswer RelayService::checkFolder(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (auto refused = refuseCamera(id, req.param("path"), kCheckRefusals)) {
        return *refused;
    }
    // A station whose key is not the camera's (or a keyed station at a camera bound to no key)
    // goes on to register: that claims the camera, or tells it why not.
    const auto bound = registry_.keyHash(id);
    const bool exists =
        bound && (bearerKey(req) ? keyStandingOf(req, id) == KeyStanding::Holder : true);
    return textAnswer(200, exists ? "Exists: true" : "Exists: false");
}

HttpAnswer RelayService::registerCamera(const HttpRequest& req) {
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
    const KeyStanding standing = keyStanding(key, bound.value_or(""), config_.allowKeyless);
    if (standing != KeyStanding::Holder && standing != KeyStanding::Open) {
        return refuse(403, keyRefusal(standing, id));
    }
    // New cameras are limited per client address, so that nobody fills the relay.
    if (!bound && !registrations_.allow(clientOf(req))) {
        HttpAnswer slow = refuse(429, "too many new cameras from your address; try again in an "
                                      "hour");
        slow.headers.emplace_back("Retry-After", "3600");
        return slow;
    }
    const std::string hash = key ? stationKeyHash(*key) : std::string();
    Enrolment enrolment = Enrolment::Full;
    try {
        enrolment = registry_.enrol(id, ptz == "true", hash, unixMillis(config_.clock()),
                                    config_.maxCameras);
    } catch (const DatabaseError& e) {
        storageFailed("registration of camera " + id + " not stored", e);
        return refuse(500, "the relay could not store the registration");
    }
    switch (enrolment) {
    case Enrolment::Full:
        return textAnswer(
            503, "Registration refused: this relay already serves as many cameras as it takes (" +
                     std::to_string(config_.maxCameras) + ").");
    case Enrolment::Wrong:
        // Another station claimed the camera between the check and now.
        return refuse(403, keyRefusal(KeyStanding::Wrong, id));
    case Enrolment::Claimed:
        std::cerr << "reflector: camera " << id << " is now bound to the key of the station at "
                  << loggable(clientOf(req)) << std::endl;
        break;
    case Enrolment::Added:
    case Enrolment::Updated:
        break;
    }
    noteStation(req, id, hash.empty() ? KeyStanding::Open : KeyStanding::Holder);
    return textAnswer(200, kRegistered);
}

HttpAnswer RelayService::upload(const HttpRequest& req) {
    FrameUpload upload;
    if (auto refused =
            readFrameUpload(req, registry_, config_.maxFrameBytes, kFrameRefused, upload)) {
        return *refused;
    }
    const KeyStanding standing = keyStandingOf(req, upload.id);
    if (const std::string why = keyRefusal(standing, upload.id); !why.empty()) {
        return textAnswer(403, kFrameRefused + why);
    }
    try {
        frames_.put(upload.id, std::move(upload.frame));
    } catch (const FrameStoreError& e) {
        storageFailed("frame of camera " + upload.id + " not stored", e);
        return textAnswer(500, std::string(kFrameRefused) + "could not store the frame");
    }
    // The frame is stored and served from now on: a time stamp that cannot be written (the
    // database busy or its disk full) is only logged, so the station does not report a refusal.
    try {
        registry_.noteFrame(upload.id);
    } catch (const DatabaseError& e) {
        storageFailed("frame of camera " + upload.id + " accepted, its time not recorded", e);
    }
    noteStation(req, upload.id, standing);
    return textAnswer(200, kFrameAccepted);
}

HttpAnswer RelayService::archiveUpload(const HttpRequest& req) {
    FrameUpload upload;
    if (auto refused =
            readFrameUpload(req, registry_, config_.maxFrameBytes, kArchiveRefused, upload)) {
        return *refused;
    }
    const KeyStanding standing = keyStandingOf(req, upload.id);
    if (const std::string why = keyRefusal(standing, upload.id); !why.empty()) {
        return textAnswer(403, kArchiveRefused + why);
    }
    try {
        archive_.add(upload.id, upload.frame);
    } catch (const std::runtime_error& e) {
        storageFailed("archive frame of camera " + upload.id + " not kept", e);
        return textAnswer(500, std::string(kArchiveRefused) + "could not store the frame");
    }
    noteStation(req, upload.id, standing);
    return textAnswer(200, kArchiveAccepted);
}

HttpAnswer RelayService::syncOptions(const HttpRequest& req) {
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
    const KeyStanding standing = keyStandingOf(req, id);
    if (const std::string why = keyRefusal(standing, id); !why.empty()) {
        return refuse(403, sentence(why));
    }
    noteStation(req, id, standing);
    // Stores the options with `hash` as the password's; on the password pool when it hashed.
    const auto store = [this, refuse, id](const CameraOptions& options, const std::string& hash,
                                          const std::string& digest) {
        try {
            options_.store(options, hash, unixMillis(config_.clock()));
        } catch (const std::runtime_error& e) {
            storageFailed("options of camera " + id + " not stored", e);
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

std::string RelayService::thisRelay(const HttpRequest& req) const {
    return directoryHost(config_.publicHost, listenHost_, req.header("Host")) + ":" +
           std::to_string(port_);
}

KeyStanding RelayService::keyStandingOf(const HttpRequest& req, const std::string& id) {
    return keyStanding(bearerKey(req), registry_.keyHash(id).value_or(""), config_.allowKeyless);
}

bool RelayService::fromKeyHolder(const HttpRequest& req, const std::string& id) {
    const auto bound = registry_.keyHash(id);
    if (!bound || bound->empty()) {
        return false;
    }
    const std::string station = pages_.stationAddress(id);
    return !station.empty() && station == clientOf(req);
}

std::string RelayService::syncedPasswordDigest(std::string_view password) const {
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest,
                       reinterpret_cast<const unsigned char*>(password.data()), password.size(),
                       digestKey_, sizeof digestKey_);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

void RelayService::storageFailed(const std::string& what, const std::exception& e) {
    storageLog_.write(what + ": " + e.what());
}

void RelayService::upkeep() {
    if (config_.readOnly) {
        return;
    }
    try {
        registry_.saveHeard();
        expireCameras();
    } catch (const std::runtime_error& e) {
        storageFailed("the cameras' last contact not kept up", e);
    }
}

std::size_t RelayService::expireCameras() {
    const auto before =
        config_.clock() - std::chrono::hours(24) * std::max(config_.cameraExpiryDays, 1);
    const std::vector<std::string> silent = registry_.silentSince(unixMillis(before));
    for (const std::string& id : silent) {
        forgetCamera(id);
        std::cerr << "reflector: camera " << id << " forgotten: its station was not heard from for "
                  << config_.cameraExpiryDays << " days" << std::endl;
    }
    return silent.size();
}

void RelayService::forgetCamera(const std::string& id) {
    // The camera goes first, so that nothing is stored for it again meanwhile.
    registry_.forget(id);
    listing_.forget(id);
    options_.forget(id);
    pages_.forget(id);
    archive_.forget(id);
    frames_.remove(id);
    {
        std::lock_guard lock(syncedMutex_);
        syncedPasswords_.erase(id);
    }
}

ViewerAccess RelayService::viewerAccess(const HttpRequest& req, const std::string& camera) {
    ViewerAccess access;
    const auto options = options_.find(camera);
    if (!options || !options->secure) {
        return access;
    }
    access.sharedCaching = false;
    const std::string token = cookieValue(req.header("Cookie"), sessionCookieName(camera));
    if (token.empty() || !sessions_.valid(token, camera, options_.passwordHash(camera))) {
        access.allowed = false;
        access.refusal = textAnswer(401, "Password required");
    }
    return access;
}

HttpAnswer RelayService::elsewhere(const HttpRequest& req, const std::string& id,
                                   HttpAnswer notHere) {
    if (!locator_) {
        return notHere;
    }
    const std::string& target =
        !req.target.empty() && req.target.front() == '/' ? req.target : req.path;
    if (const auto known = locator_->known(id)) {
        return *known >= 0 ? redirectTo(config_.relays[static_cast<std::size_t>(*known)], target)
                           : notHere;
    }
    HttpAnswer answer;
    answer.pending = std::make_shared<RelaySearch>(*locator_, id, target, std::move(notHere));
    return answer;
}

HttpAnswer RelayService::live(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    const bool registered = registry_.isRegistered(id);
    if (!registered && locator_) {
        return elsewhere(req, id, textAnswer(404, "Unknown camera"));
    }
    ViewerAccess access = viewerAccess(req, id);
    if (!access.allowed) {
        return access.refusal;
    }
    const auto frame = frames_.frame(id);
    if (registered) {
        noteVisit(id);
    }
    if (!frame) {
        return textAnswer(404, registered ? "No picture yet" : "Unknown camera");
    }
    // A caching proxy or CDN may keep the frame for a second and then ask again with its tag;
    // an unchanged frame is answered 304 without its bytes.
    HttpAnswer answer;
    answer.headers.emplace_back("Cache-Control",
                                access.sharedCaching ? "public, max-age=1" : "private, max-age=1");
    answer.headers.emplace_back("ETag", frame->etag);
    if (matchesTag(req.header("If-None-Match"), frame->etag)) {
        answer.status = 304;
        return answer;
    }
    answer.contentType = "image/jpeg";
    answer.sharedBody = std::shared_ptr<const std::string>(frame, &frame->jpeg);
    return answer;
}

HttpAnswer RelayService::stream(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    if (!registry_.isRegistered(id)) {
        return elsewhere(req, id, textAnswer(404, "Unknown camera"));
    }
    ViewerAccess access = viewerAccess(req, id);
    if (!access.allowed) {
        return access.refusal;
    }
    HoldLimit::Permit permit = streams_.tryHold(req.clientAddress);
    if (!permit) {
        HttpAnswer busy = textAnswer(503, "Too many live streams at once, try again later");
        busy.headers.emplace_back("Retry-After", "10");
        return busy;
    }
    HttpAnswer answer;
    answer.contentType = std::string("multipart/x-mixed-replace; boundary=") + kStreamBoundary;
    answer.stream = std::make_shared<CameraStream>(frames_, visitors_, id, std::move(permit));
    answer.closeConnection = true;
    return answer;
}

HttpAnswer RelayService::cameraList() {
    return htmlAnswer(200, cameraListPage(registry_.list()));
}

void RelayService::noteVisit(const std::string& id) {
    visitors_.noteVisit(id);
}

std::string RelayService::clientOf(const HttpRequest& req) const {
    const auto& proxies = config_.trustedProxies;
    if (std::find(proxies.begin(), proxies.end(), req.clientAddress) == proxies.end()) {
        return req.clientAddress;
    }
    const std::string forwarded = req.header("X-Forwarded-For");
    const std::size_t comma = forwarded.rfind(',');
    std::string last = comma == std::string::npos ? forwarded : forwarded.substr(comma + 1);
    last.erase(0, last.find_first_not_of(" \t"));
    last.erase(last.find_last_not_of(" \t") + 1);
    return isValidHostName(last) ? last : req.clientAddress;
}

void RelayService::noteStation(const HttpRequest& req, const std::string& id,
                               KeyStanding standing) {
    try {
        registry_.heard(id, unixMillis(config_.clock()));
        if (standing == KeyStanding::Holder) {
            pages_.noteStation(id, clientOf(req));
        }
    } catch (const DatabaseError& e) {
        storageFailed("the station of camera " + id + " not recorded", e);
    }
}

} // namespace reflector

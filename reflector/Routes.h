#pragma once

// The relay's routes: every address the relay serves, each a handler that takes an HttpRequest
// and gives an HttpAnswer, over the relay's stores. Nothing here depends on the HTTP library;
// tests call handle() directly.

#include "Archive.h"
#include "CameraOptions.h"
#include "CameraPages.h"
#include "Chat.h"
#include "Database.h"
#include "Directory.h"
#include "FrameStore.h"
#include "HoldLimit.h"
#include "Http.h"
#include "Listing.h"
#include "MoveQueue.h"
#include "PasswordPool.h"
#include "Registry.h"
#include "RelayConfig.h"
#include "StationKey.h"
#include "ThrottledLog.h"
#include "ViewerGuard.h"
#include "Visitors.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace reflector {

// The answer to a request refused before its handler ran, or by it: texts in the style of the
// address, so that the station and the helper recognise them ("Reflector: false - ...",
// "Archive: false - ...", "Failed to synchronise settings. ...", "Listing: false - ..."); other
// addresses get `reason` as it is.
HttpAnswer refusalFor(const std::string& path, int status, const std::string& reason);

// The answer to a connection turned away for its address before its request was read. It holds
// the refusal phrases of every exchange the station and its helper wait on, so none of them
// takes it for success or waits on.
HttpAnswer busyAnswer();
// The same for a connection turned away because the relay has all the connections it takes.
HttpAnswer fullAnswer();

// An HTML page with the relay's Content-Security-Policy: only the relay's own scripts, styles,
// images and forms, never inside another site's frame.
HttpAnswer htmlAnswer(int status, std::string html);

// True unless the request names another site as its origin: a request without an Origin
// header (not sent by a browser's script or form of another site) passes; "null" does not.
// The origin's host and port are compared with the Host header's.
bool sameOrigin(const HttpRequest& request);

// What a viewer may see of a camera: decided by RelayService::viewerAccess.
struct ViewerAccess {
    bool allowed = true;
    // The answer when it is not allowed (a password page ...).
    HttpAnswer refusal;
    // The camera's pictures may be kept by shared caches (proxies, CDNs) for everybody;
    // never for a camera behind a password.
    bool sharedCaching = true;
};

// The boundary between the frames of a live stream.
constexpr const char* kStreamBoundary = "kestrovaframe";

class RelayService {
  public:
    // Opens the data folder (created when missing) and everything in it; throws DatabaseError
    // or FrameStoreError when it cannot be used.
    explicit RelayService(RelayConfig config);
    RelayService(const RelayService&) = delete;
    RelayService& operator=(const RelayService&) = delete;

    // The address the relay listens on, for the directory answer.
    void setListenAddress(const std::string& host, int port);
    // How the directory asks its relays which one has a camera; set before serving.
    void setFetcher(Fetcher fetcher) { fetcher_ = std::move(fetcher); }

    // Answers one request. Never throws: a failure is logged and answered 500. Long polls
    // and the directory's search for a camera's relay give a pending answer, live streams a
    // stream (see Http.h).
    HttpAnswer handle(const HttpRequest& request);
    // How the request's route is served.
    RouteOptions routeOptions(const HttpRequest& request) const {
        return router_.optionsFor(request);
    }

    // Decides whether a request may see a camera's pictures and pages, and use its controls:
    // for a camera whose synchronised options ask for the viewer password, only a viewer with
    // a session of that camera (POST /webcams/login) may; the refusal is 401. Shared caches
    // may keep only the pictures of cameras without a password.
    ViewerAccess viewerAccess(const HttpRequest& request, const std::string& camera);

    // Forgets the cameras whose station has not been heard from for the expiry time, with all
    // their data; returns how many.
    std::size_t expireCameras();
    // The relay's upkeep, at start, every hour and when it stops: writes when each camera was
    // last heard from, then lets the silent ones expire. Failures are logged.
    void upkeep();
    // Forgets a camera with all its data.
    void forgetCamera(const std::string& id);

    // Ends every long poll at once, now and later (the relay is stopping).
    void shutdown();
    std::size_t heldRequests() const { return holds_.held(); }
    std::size_t openStreams() const { return streams_.held(); }

    // The stores, for the pages and for tests.
    Registry& registry() { return registry_; }
    OptionStore& options() { return options_; }
    ArchiveStore& archive() { return archive_; }
    ListingStore& listing() { return listing_; }
    VisitorTracker& visitors() { return visitors_; }
    MoveQueue& moves() { return moves_; }
    FrameStore& frames() { return frames_; }
    PageStore& pages() { return pages_; }
    ChatStore& chat() { return chat_; }

  private:
    void addRoutes();
    // The checks of a change that a page of this relay sends for a camera: from this site, a
    // form (`formText` says what comes as one), naming a valid camera identifier, of a camera
    // registered here unless `anyCamera`. The refusal when one fails; nothing, and `fields` and
    // `id` filled, when all pass.
    std::optional<HttpAnswer> readCameraForm(const HttpRequest& req, const char* formText,
                                             Fields& fields, std::string& id,
                                             bool anyCamera = false);

    // The station's exchanges.
    HttpAnswer directory(const HttpRequest& req);
    HttpAnswer checkFolder(const HttpRequest& req);
    HttpAnswer registerCamera(const HttpRequest& req);
    HttpAnswer upload(const HttpRequest& req);
    HttpAnswer archiveUpload(const HttpRequest& req);
    HttpAnswer syncOptions(const HttpRequest& req);
    // Viewers.
    HttpAnswer live(const HttpRequest& req);
    HttpAnswer stream(const HttpRequest& req);
    HttpAnswer cameraPage(const HttpRequest& req, const std::string& id);
    HttpAnswer cameraList();
    HttpAnswer command(const HttpRequest& req);
    HttpAnswer login(const HttpRequest& req);
    HttpAnswer snapshot(const HttpRequest& req);
    HttpAnswer thumbnail(const HttpRequest& req);
    HttpAnswer archivePage(const HttpRequest& req);
    HttpAnswer archiveFrame(const HttpRequest& req);
    HttpAnswer adminPage(const HttpRequest& req);
    HttpAnswer adminChange(const HttpRequest& req);
    HttpAnswer liveList(const HttpRequest& req);
    HttpAnswer profilePage(const HttpRequest& req);
    HttpAnswer profileChange(const HttpRequest& req);
    HttpAnswer chatPage(const HttpRequest& req);
    HttpAnswer chatMessages(const HttpRequest& req);
    HttpAnswer chatSend(const HttpRequest& req);
    // The station's posting helper.
    HttpAnswer moveRouterProxy(const HttpRequest& req);
    HttpAnswer visitorStatus(const HttpRequest& req);
    HttpAnswer listingPost(const HttpRequest& req);
    HttpAnswer listingRefresh(const HttpRequest& req);
    HttpAnswer listingRemove(const HttpRequest& req);
    HttpAnswer listingCheck(const HttpRequest& req);

    // A viewer asked for the camera's picture or page.
    void noteVisit(const std::string& id);
    // The client's address: the connection's, or behind a trusted proxy the last address of
    // its X-Forwarded-For header (the one the proxy added).
    std::string clientOf(const HttpRequest& req) const;
    // This relay as the directory names it to the client of the request: "host:port".
    std::string thisRelay(const HttpRequest& req) const;
    // How the request stands with the key of the camera `id` (registered).
    KeyStanding keyStandingOf(const HttpRequest& req, const std::string& id);
    // The camera's station (or its helper) was heard from: a request that its key allowed. A
    // key holder's address becomes the camera's station address.
    void noteStation(const HttpRequest& req, const std::string& id, KeyStanding standing);
    // True when the request comes from the address of the station that holds the camera's key.
    bool fromKeyHolder(const HttpRequest& req, const std::string& id);
    // Runs `change` when the request may change the camera's pages: at once when it comes from
    // the key holder's address (unless `adminOnly`); otherwise once the relay administrator's
    // password (`adminPassword`) has been checked on the password pool. `page` makes the
    // refusal; both may run later, on the pool.
    HttpAnswer manage(const HttpRequest& req, const std::string& id,
                      const std::string& adminPassword,
                      std::function<HttpAnswer(int, std::string)> page,
                      std::function<HttpAnswer()> change, bool adminOnly = false);
    // Logs a failure to store something: at most one line a minute (a full or read-only disk
    // fails every request until it is mended).
    void storageFailed(const std::string& what, const std::exception& e);
    // A keyed digest of a password as last synchronised for a camera, so that a sync that does
    // not change it needs no Argon2id hash. Kept in memory only, under a key of this process.
    std::string syncedPasswordDigest(std::string_view password) const;
    // The name to show for a camera: its profile's name, its listing's name, or its identifier.
    std::string shownName(const std::string& id);
    // The answer for a viewer's request about a camera not registered here: as a directory,
    // it points at the relay that has the camera; otherwise (or when none has it) `notHere`.
    HttpAnswer elsewhere(const HttpRequest& req, const std::string& id, HttpAnswer notHere);

    RelayConfig config_;
    std::unique_ptr<Database> db_;
    Registry registry_;
    FrameStore frames_;
    OptionStore options_;
    ArchiveStore archive_;
    AnswerBudget archiveAnswers_;
    ListingStore listing_;
    MoveQueue moves_;
    VisitorTracker visitors_;
    PageStore pages_;
    ChatStore chat_;
    ViewerSessions sessions_;
    LoginThrottle logins_;
    LoginThrottle cameraLogins_;
    RateLimiter commandRate_;
    RateLimiter chatRate_;
    RateLimiter registrations_;
    HoldLimit holds_;
    HoldLimit streams_;
    Fetcher fetcher_;
    std::unique_ptr<CameraLocator> locator_;
    std::atomic<bool> closing_{false};
    Router router_;
    std::string listenHost_;
    int port_ = -1;
    ThrottledLog storageLog_;
    unsigned char digestKey_[32];
    std::mutex syncedMutex_;
    std::map<std::string, std::string> syncedPasswords_; // camera: syncedPasswordDigest
    // Last: its jobs use everything above, so it goes first.
    PasswordPool passwords_;
};

} // namespace reflector

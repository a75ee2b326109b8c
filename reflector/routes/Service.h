#pragma once

// The relay's service: its route groups joined into one Router over a Storage. Each group
// holds only the stores it uses; the service holds the groups and what they share (the
// password pool, the shared decisions of routes/Shared.h). Nothing here depends on the HTTP
// library; tests call handle() directly.

#include "core/Config.h"
#include "core/Http.h"
#include "core/PasswordPool.h"
#include "routes/ChatRoutes.h"
#include "routes/HelperRoutes.h"
#include "routes/OwnerRoutes.h"
#include "routes/PictureRoutes.h"
#include "routes/Shared.h"
#include "routes/SiteRoutes.h"
#include "routes/StationRoutes.h"
#include "routes/ViewerPages.h"
#include "stores/Storage.h"

#include <cstddef>
#include <string>

namespace reflector {

class Service {
  public:
    // Serves `storage`, which must outlive the service. Runs the upkeep once unless the storage
    // is read-only.
    Service(const RelayConfig& config, Storage& storage);
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // The address the relay listens on, for the directory answer; set before serving.
    void setListenAddress(const std::string& host, int port);

    // Answers one request. Never throws: a failure is logged and answered 500. Long polls and
    // password checks give a pending answer, live streams a stream (see core/Http.h).
    HttpAnswer handle(const HttpRequest& request);
    // True when the request's handler may run on a network thread (see Storage.h).
    bool quick(const HttpRequest& request) const { return router_.quick(request); }

    // The relay's upkeep, at start, every hour and when it stops: makes lasting when each camera
    // was last heard from, then, when it is this relay's turn (Storage::upkeepTurn), forgets the
    // cameras silent for the expiry time. Failures are logged.
    void upkeep();
    // Forgets the cameras whose station has not been heard from for the expiry time, with all
    // their data; returns how many.
    std::size_t expireCameras();

    // Ends every long poll at once, now and later (the relay is stopping).
    void shutdown() { helper_.shutdown(); }
    // Requests held waiting in a long poll now, and live streams open now.
    std::size_t heldRequests() const { return helper_.heldRequests(); }
    std::size_t openStreams() const { return pictures_.openStreams(); }

  private:
    int cameraExpiryDays_;
    TimeSource clock_;
    Storage& storage_;
    StorageLog storageLog_;
    Clients clients_;
    ThisRelay relay_;
    StationKeys keys_;
    ViewerGate gate_;
    Router router_;
    StationRoutes station_;
    PictureRoutes pictures_;
    ViewerPages viewers_;
    HelperRoutes helper_;
    OwnerRoutes owners_;
    ChatRoutes chat_;
    SiteRoutes site_;
    // Last: its jobs use everything above, so it goes first.
    PasswordPool passwords_;
};

} // namespace reflector

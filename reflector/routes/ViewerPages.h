#pragma once

// The viewers' pages and controls: the camera page, the password form, the archive pages and
// the camera commands that feed the move queue.

#include "core/Config.h"
#include "core/Http.h"
#include "core/PasswordPool.h"
#include "routes/Shared.h"
#include "stores/Archive.h"
#include "stores/CameraOptions.h"
#include "stores/CameraPages.h"
#include "stores/Listing.h"
#include "stores/MoveQueue.h"
#include "stores/Registry.h"
#include "stores/ViewerGuard.h"
#include "stores/Visitors.h"

#include <string>

namespace reflector {

// The stores the viewers' pages ask.
struct ViewerPageStores {
    Registry& registry;
    OptionStore& options;
    PageStore& pages;
    ListingStore& listing;
    ArchiveStore& archive;
    MoveQueue& moves;
    VisitorTracker& visitors;
    ViewerSessions& sessions;
    RateLimiter& commandRate;
    LoginThrottle& loginsByAddress;
    LoginThrottle& loginsByCamera;
};

class ViewerPages {
  public:
    ViewerPages(ViewerPageStores stores, ViewerGate& gate, const Clients& clients,
                PasswordPool& passwords);
    ViewerPages(const ViewerPages&) = delete;
    ViewerPages& operator=(const ViewerPages&) = delete;

    void addRoutes(Router& router);

  private:
    HttpAnswer cameraPage(const HttpRequest& req, const std::string& id);
    HttpAnswer login(const HttpRequest& req);
    HttpAnswer archivePage(const HttpRequest& req);
    HttpAnswer command(const HttpRequest& req);

    // The name to show for a camera: its profile's name, its listing's name, or its identifier.
    std::string shownName(const std::string& id);

    ViewerPageStores s_;
    ViewerGate& gate_;
    const Clients& clients_;
    PasswordPool& passwords_;
};

} // namespace reflector

#pragma once

// The addresses the station's posting helper uses: the move queue, the visitor status (both
// may be held until something happens) and the live listing.

#include "core/Config.h"
#include "core/HoldLimit.h"
#include "core/Http.h"
#include "core/Notifier.h"
#include "routes/Shared.h"
#include "stores/Listing.h"
#include "stores/MoveQueue.h"
#include "stores/Registry.h"
#include "stores/Visitors.h"

#include <atomic>
#include <string>

namespace reflector {

class HelperRoutes {
  public:
    HelperRoutes(const RelayConfig& config, Registry& registry, MoveQueue& moves,
                 VisitorTracker& visitors, ListingStore& listing, StationKeys& keys,
                 const ThisRelay& relay);
    HelperRoutes(const HelperRoutes&) = delete;
    HelperRoutes& operator=(const HelperRoutes&) = delete;

    void addRoutes(Router& router);
    // Ends every held poll at once, now and later (the relay is stopping).
    void shutdown();
    // Polls held now.
    std::size_t heldRequests() const { return holds_.held(); }

  private:
    HttpAnswer moveRouterProxy(const HttpRequest& req);
    HttpAnswer visitorStatus(const HttpRequest& req);
    HttpAnswer listingPost(const HttpRequest& req);
    HttpAnswer listingRefresh(const HttpRequest& req);
    HttpAnswer listingRemove(const HttpRequest& req);
    HttpAnswer listingCheck(const HttpRequest& req);

    TimeSource clock_;
    Registry& registry_;
    MoveQueue& moves_;
    VisitorTracker& visitors_;
    ListingStore& listing_;
    StationKeys& keys_;
    const ThisRelay& relay_;
    HoldLimit holds_;
    std::atomic<bool> closing_{false};
    // Wakes the held polls when the relay stops.
    Notifier stopping_;
};

} // namespace reflector

#pragma once

// The relay's own pages around the cameras: the list of its cameras, the live list, the help,
// the pages' scripts and style sheet, and the health check a load balancer asks.

#include "core/Http.h"
#include "stores/CameraPages.h"
#include "stores/Listing.h"
#include "stores/Registry.h"
#include "stores/Storage.h"

#include <functional>

namespace reflector {

class SiteRoutes {
  public:
    SiteRoutes(Registry& registry, ListingStore& listing, PageStore& pages,
               std::function<Health()> health)
        : registry_(registry), listing_(listing), pages_(pages), health_(std::move(health)) {}
    SiteRoutes(const SiteRoutes&) = delete;
    SiteRoutes& operator=(const SiteRoutes&) = delete;

    void addRoutes(Router& router);

  private:
    HttpAnswer cameraList();
    HttpAnswer liveList(const HttpRequest& req);
    HttpAnswer healthCheck();

    Registry& registry_;
    ListingStore& listing_;
    PageStore& pages_;
    std::function<Health()> health_;
};

} // namespace reflector

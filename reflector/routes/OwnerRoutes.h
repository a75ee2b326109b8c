#pragma once

// What a camera's owner changes: the management page (presets, skin, and for the relay
// administrator the release of a camera from its station key) and the live profile. Changes
// are taken from the address of the station that holds the camera's key, or with the relay
// administrator's password.

#include "core/Config.h"
#include "core/Http.h"
#include "core/PasswordPool.h"
#include "routes/Shared.h"
#include "stores/CameraPages.h"
#include "stores/Listing.h"
#include "stores/Registry.h"
#include "stores/ViewerGuard.h"

#include <functional>
#include <string>

namespace reflector {

class OwnerRoutes {
  public:
    OwnerRoutes(const RelayConfig& config, Registry& registry, PageStore& pages,
                ListingStore& listing, LoginThrottle& loginsByAddress, StationKeys& keys,
                const Clients& clients, PasswordPool& passwords);
    OwnerRoutes(const OwnerRoutes&) = delete;
    OwnerRoutes& operator=(const OwnerRoutes&) = delete;

    void addRoutes(Router& router);

  private:
    HttpAnswer adminPage(const HttpRequest& req);
    HttpAnswer adminChange(const HttpRequest& req);
    HttpAnswer profilePage(const HttpRequest& req);
    HttpAnswer profileChange(const HttpRequest& req);

    // Runs `change` when the request may change the camera's pages: at once when it comes from
    // the key holder's address (unless `adminOnly`); otherwise once the relay administrator's
    // password (`adminPassword`) has been checked on the password pool. `page` makes the
    // refusal; both may run later, on the pool.
    HttpAnswer manage(const HttpRequest& req, const std::string& id,
                      const std::string& adminPassword,
                      std::function<HttpAnswer(int, std::string)> page,
                      std::function<HttpAnswer()> change, bool adminOnly = false);

    std::string adminPasswordHash_;
    Registry& registry_;
    PageStore& pages_;
    ListingStore& listing_;
    LoginThrottle& logins_;
    StationKeys& keys_;
    const Clients& clients_;
    PasswordPool& passwords_;
};

} // namespace reflector

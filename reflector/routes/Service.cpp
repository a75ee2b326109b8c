#include "routes/Service.h"

#include "core/Text.h"
#include "routes/Answers.h"

#include <algorithm>
#include <exception>
#include <iostream>

namespace reflector {

Service::Service(const RelayConfig& config, Storage& storage)
    : cameraExpiryDays_(config.cameraExpiryDays), clock_(clockOrSystem(config.clock)),
      storage_(storage), clients_(config.trustedProxies),
      relay_(config.publicHost, config.publicPort),
      keys_(storage.registry(), storage.pages(), clients_, storageLog_, clock_,
            config.allowKeyless),
      gate_(storage.options(), storage.sessions()),
      station_(config, storage.registry(), storage.frames(), storage.archive(), storage.options(),
               storage.registrationRate(), keys_, relay_, clients_, passwords_, storageLog_),
      pictures_(config, storage.registry(), storage.frames(), storage.options(), storage.visitors(),
                storage.archive(), gate_),
      viewers_(ViewerPageStores{storage.registry(), storage.options(), storage.pages(),
                                storage.listing(), storage.archive(), storage.moves(),
                                storage.visitors(), storage.sessions(), storage.commandRate(),
                                storage.loginsByAddress(), storage.loginsByCamera()},
               gate_, clients_, passwords_),
      helper_(config, storage.registry(), storage.moves(), storage.visitors(), storage.listing(),
              keys_, relay_),
      owners_(config, storage.registry(), storage.pages(), storage.listing(),
              storage.loginsByAddress(), keys_, clients_, passwords_),
      chat_(storage.chat(), storage.chatRate(), clients_),
      site_(storage.registry(), storage.listing(), storage.pages(),
            [&storage] { return storage.health(); }),
      passwords_(config.passwordThreads, config.passwordQueue) {
    station_.addRoutes(router_);
    pictures_.addRoutes(router_);
    viewers_.addRoutes(router_);
    helper_.addRoutes(router_);
    owners_.addRoutes(router_);
    chat_.addRoutes(router_);
    site_.addRoutes(router_);
    upkeep();
}

void Service::setListenAddress(const std::string& host, int port) {
    relay_.setListenAddress(host, port);
}

HttpAnswer Service::handle(const HttpRequest& request) {
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

void Service::upkeep() {
    if (storage_.readOnly()) {
        return;
    }
    try {
        storage_.registry().saveHeard();
        if (storage_.upkeepTurn()) {
            expireCameras();
        }
    } catch (const std::runtime_error& e) {
        storageLog_.failed("the cameras' last contact not kept up", e);
    }
}

std::size_t Service::expireCameras() {
    const auto before = clock_() - std::chrono::hours(24) * std::max(cameraExpiryDays_, 1);
    const std::vector<std::string> silent = storage_.registry().silentSince(unixMillis(before));
    for (const std::string& id : silent) {
        storage_.forgetCamera(id);
        station_.forget(id);
        std::cerr << "reflector: camera " << id << " forgotten: its station was not heard from for "
                  << cameraExpiryDays_ << " days" << std::endl;
    }
    return silent.size();
}

} // namespace reflector

#include "routes/Shared.h"

#include "core/Text.h"
#include "stores/Storage.h"

#include <algorithm>

namespace reflector {

namespace {

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

} // namespace

std::string relayBase(const ListingEntry& entry, const std::string& host) {
    return entry.relay == host ? std::string() : "http://" + entry.relay;
}

std::string listedCameraPage(const std::string& base, const ListingEntry& entry,
                             const std::string& name) {
    return base + "/webcams/index.jsp?id=" + entry.camera +
           "&path=webcams&ptz=" + (entry.ptz ? "true" : "false") + "&name=" + urlEncode(name);
}

std::string Clients::of(const HttpRequest& req) const {
    if (std::find(proxies_.begin(), proxies_.end(), req.clientAddress) == proxies_.end()) {
        return req.clientAddress;
    }
    const std::string forwarded = req.header("X-Forwarded-For");
    const std::size_t comma = forwarded.rfind(',');
    std::string last = comma == std::string::npos ? forwarded : forwarded.substr(comma + 1);
    last.erase(0, last.find_first_not_of(" \t"));
    last.erase(last.find_last_not_of(" \t") + 1);
    return isValidHostName(last) ? last : req.clientAddress;
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

KeyStanding StationKeys::standingOf(const HttpRequest& req, const std::string& id) {
    return keyStanding(bearerKey(req), registry_.keyHash(id).value_or(""), allowKeyless_);
}

void StationKeys::noteStation(const HttpRequest& req, const std::string& id, KeyStanding standing) {
    try {
        registry_.heard(id, unixMillis(clock_()));
        if (standing == KeyStanding::Holder) {
            pages_.noteStation(id, clients_.of(req));
        }
    } catch (const StorageError& e) {
        log_.failed("the station of camera " + id + " not recorded", e);
    }
}

bool StationKeys::fromKeyHolder(const HttpRequest& req, const std::string& id) {
    const auto bound = registry_.keyHash(id);
    if (!bound || bound->empty()) {
        return false;
    }
    const std::string station = pages_.stationAddress(id);
    return !station.empty() && station == clients_.of(req);
}

std::string sessionCookieName(const std::string& camera) {
    return "kestrova_" + camera;
}

ViewerAccess ViewerGate::access(const HttpRequest& req, const std::string& camera) {
    ViewerAccess access;
    const auto options = options_.find(camera);
    if (!options || !options->secure) {
        return access;
    }
    access.sharedCaching = false;
    const std::string token = cookieValue(req, sessionCookieName(camera));
    if (token.empty() || !sessions_.valid(token, camera, options_.passwordHash(camera))) {
        access.allowed = false;
        access.refusal = textAnswer(401, "Password required");
    }
    return access;
}

} // namespace reflector

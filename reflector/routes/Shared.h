#pragma once

// The decisions several route groups share, each made in one place: who the client is, how
// the directory names this relay, how a request stands with a camera's station key (and the
// station address its holder is noted at), whether a viewer may see a camera behind its
// password, and how a failure to store something is logged.

#include "core/Http.h"
#include "core/StationKey.h"
#include "core/ThrottledLog.h"
#include "core/Time.h"
#include "stores/CameraOptions.h"
#include "stores/CameraPages.h"
#include "stores/Listing.h"
#include "stores/Registry.h"
#include "stores/ViewerGuard.h"

#include <exception>
#include <string>
#include <vector>

namespace reflector {

// Where viewers reach a listed camera's relay: this relay itself (empty: an address on it) when
// the entry names the host the request was sent to (`host`, its Host header), else
// http://host:port.
std::string relayBase(const ListingEntry& entry, const std::string& host);
// A listed camera's page on its relay (`base`, see relayBase), showing `name`.
std::string listedCameraPage(const std::string& base, const ListingEntry& entry,
                             const std::string& name);

// The client's address of a request: the connection's, or behind a trusted proxy the last
// address of its X-Forwarded-For header (the one the proxy added).
class Clients {
  public:
    explicit Clients(std::vector<std::string> trustedProxies)
        : proxies_(std::move(trustedProxies)) {}
    std::string of(const HttpRequest& req) const;

  private:
    std::vector<std::string> proxies_;
};

// The relay host named by the directory answer: `publicHost` when set, else the listen
// address, else (listening on a wildcard address) the host of the request's Host header when
// it is a valid name, else 127.0.0.1.
std::string directoryHost(const std::string& publicHost, const std::string& listenHost,
                          const std::string& hostHeader);

// This relay as the directory names it to a client.
class ThisRelay {
  public:
    // `publicPort` 0: the port the relay listens on.
    explicit ThisRelay(std::string publicHost, int publicPort = 0)
        : publicHost_(std::move(publicHost)), publicPort_(publicPort) {}
    // The address the relay listens on; set before serving.
    void setListenAddress(const std::string& host, int port) {
        listenHost_ = host;
        port_ = publicPort_ > 0 ? publicPort_ : port;
    }
    std::string host(const HttpRequest& req) const {
        return directoryHost(publicHost_, listenHost_, req.header("Host"));
    }
    int port() const { return port_; }
    // "host:port".
    std::string name(const HttpRequest& req) const {
        return host(req) + ":" + std::to_string(port_);
    }

  private:
    std::string publicHost_;
    int publicPort_;
    std::string listenHost_;
    int port_ = -1;
};

// Failures to store something: at most one line a minute (a full or read-only disk fails every
// request until it is mended).
class StorageLog {
  public:
    void failed(const std::string& what, const std::exception& e) {
        log_.write(what + ": " + e.what());
    }

  private:
    ThrottledLog log_;
};

// How requests stand with the keys of the cameras they name, and what a key holder's request
// tells: that the camera's station was heard from, and from which address.
class StationKeys {
  public:
    StationKeys(Registry& registry, PageStore& pages, const Clients& clients, StorageLog& log,
                TimeSource clock, bool allowKeyless)
        : registry_(registry), pages_(pages), clients_(clients), log_(log),
          clock_(std::move(clock)), allowKeyless_(allowKeyless) {}

    bool allowKeyless() const { return allowKeyless_; }
    // How the request stands with the key of the camera `id`.
    KeyStanding standingOf(const HttpRequest& req, const std::string& id);
    // The camera's station (or its helper) was heard from: a request that its key allowed. A
    // key holder's address becomes the camera's station address.
    void noteStation(const HttpRequest& req, const std::string& id, KeyStanding standing);
    // True when the request comes from the address of the station that holds the camera's key.
    bool fromKeyHolder(const HttpRequest& req, const std::string& id);

  private:
    Registry& registry_;
    PageStore& pages_;
    const Clients& clients_;
    StorageLog& log_;
    TimeSource clock_;
    bool allowKeyless_;
};

// What a viewer may see of a camera.
struct ViewerAccess {
    bool allowed = true;
    // The answer when it is not allowed.
    HttpAnswer refusal;
    // The camera's pictures may be kept by shared caches (proxies, CDNs) for everybody;
    // never for a camera behind a password.
    bool sharedCaching = true;
};

// The name of the cookie that holds a viewer's session for a camera.
std::string sessionCookieName(const std::string& camera);

// Decides whether a request may see a camera's pictures and pages, and use its controls: for a
// camera whose synchronised options ask for the viewer password, only a viewer with a session
// of that camera (POST /webcams/login) may; the refusal is 401. Shared caches may keep only the
// pictures of cameras without a password.
class ViewerGate {
  public:
    ViewerGate(OptionStore& options, ViewerSessions& sessions)
        : options_(options), sessions_(sessions) {}
    // True when the decision is made from memory (see Storage.h).
    bool inMemory() const { return options_.inMemory() && sessions_.inMemory(); }
    ViewerAccess access(const HttpRequest& req, const std::string& camera);

  private:
    OptionStore& options_;
    ViewerSessions& sessions_;
};

} // namespace reflector

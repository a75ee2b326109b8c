#pragma once

#include "core/Config.h"

#include <cstddef>
#include <memory>
#include <string>

namespace reflector {

// The relay server: the directory look-up, camera registration, live and archive frames, live
// streams, the option sync, the viewer pages, and for the station's posting helper the move
// queue, the visitor status and the live listing, all on one HTTP port. It joins the storage
// the configuration asks for, the service's routes over it and the HTTP transport, and keeps
// the service's hourly upkeep.
//
// Use: bind(), then run() (blocking) on one thread; stop() from any other thread ends run()
// after the requests in progress are answered.
class Relay {
  public:
    // Opens the storage; throws when it cannot be used (a data folder it can neither write
    // nor read).
    explicit Relay(RelayConfig config);
    // Stops the relay and, when run() was started on another thread, waits until it has
    // returned. That thread still has to be joined, but the relay may go before it.
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Starts listening on host:port (port 0: any free port). Returns the port, or -1 when the
    // address cannot be bound.
    int bind(const std::string& host, int port);
    // Serves until stop(). Returns false when the server failed, true after stop().
    bool run();
    // Blocks until run() accepts connections (or has already returned).
    void waitUntilReady();
    // Ends run(); safe from any thread, at any time, more than once.
    void stop();

    int port() const;
    // Requests held waiting in a long poll now, live streams and connections open now.
    std::size_t heldRequests() const;
    std::size_t openStreams() const;
    std::size_t connections() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace reflector

#pragma once

#include "RelayConfig.h"

#include <cstddef>
#include <memory>
#include <string>

namespace reflector {

// The relay host named by the directory answer: `publicHost` when set, else the listen
// address, else (listening on a wildcard address) the host of the request's Host header when
// it is a valid name, else 127.0.0.1.
std::string directoryHost(const std::string& publicHost, const std::string& listenHost,
                          const std::string& hostHeader);

// The relay server: the directory look-up, camera registration, live and archive frames, live
// streams, the option sync, the viewer pages, and for the station's posting helper the move
// queue, the visitor status and the live listing, all on one HTTP port. The answers to the
// station's exchanges close their connection, which is how the station knows that an exchange
// has ended; viewers' connections are kept for their next request.
//
// Use: bind(), then run() (blocking) on one thread; stop() from any other thread ends run()
// after the requests in progress are answered.
class Relay {
  public:
    // Opens the data folder; throws std::runtime_error (DatabaseError, FrameStoreError) when
    // it cannot be used.
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

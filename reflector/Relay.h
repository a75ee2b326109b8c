#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace reflector {

struct RelayConfig {
    // Holds reflector.db (the registered cameras) and frames/ (each camera's latest frame).
    std::filesystem::path dataDir;
    // Relay host that the directory answer names; empty: the listen address (or, when that is
    // a wildcard address, the host the request was sent to).
    std::string publicHost;
    // Most cameras registered at once; a further registration is refused.
    std::size_t maxCameras = 1000;
    // Frames kept in memory for the cameras used most recently; the others are read from disk.
    std::size_t cachedFrames = 64;
    // Largest frame accepted by an upload.
    std::size_t maxFrameBytes = 2 * 1024 * 1024;
    // Largest request body read at all; larger requests are refused unread.
    std::size_t maxRequestBytes = 4 * 1024 * 1024;
    // A client that stays silent this long while sending a request is dropped.
    int readTimeoutSeconds = 10;
    int writeTimeoutSeconds = 10;
    // A connection is dropped this long after the relay took it up, however steadily its
    // client keeps sending or reading, so that slow clients cannot hold the workers.
    int connectionTimeLimitSeconds = 60;
    // Connections served at the same time; further ones wait in the queue.
    std::size_t workerThreads = 8;
    // Connections from one client address served at the same time; a further one is turned
    // away at once. 0: no limit (behind a reverse proxy every connection has its address).
    std::size_t maxConnectionsPerAddress = 4;
    // Receives one line per answered request (time, client, method, path, status, body bytes);
    // method and path are "-" for a connection turned away unread.
    std::function<void(const std::string&)> requestLog;
};

// The relay host named by the directory answer: `publicHost` when set, else the listen
// address, else (listening on a wildcard address) the host of the request's Host header when
// it is a valid name, else 127.0.0.1.
std::string directoryHost(const std::string& publicHost, const std::string& listenHost,
                          const std::string& hostHeader);

// The relay server: the directory look-up, camera registration, frame upload and the viewer
// pages, all on one HTTP port. Every answer closes its connection, which is how the station
// knows that an exchange has ended.
//
// Use: bind(), then run() (blocking) on one thread; stop() from any other thread ends run()
// after the requests in progress are answered.
class Relay {
  public:
    // Opens the data folder; throws std::runtime_error (RegistryError, FrameStoreError) when
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

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace reflector

#pragma once

// The relay's HTTP transport: accepts connections, reads requests under named limits, hands
// each to the relay's handler and writes the answer back; keeps a connection for the client's
// next request unless the answer or the client says otherwise; holds requests that wait for an
// event and streams live bodies. It knows nothing of the relay's addresses; everything it says
// by itself (refusals, the busy answers) comes from its hooks. BeastTransport.cpp implements it
// on Boost.Beast and Asio; it is the only file that includes them.
//
// Every connection costs a socket and a few kilobytes, never a thread: a few network threads
// serve all connections, each with its own timers, and handlers that may block (the database,
// the disk, password hashing) run on a few worker threads beside them.

#include "Http.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace reflector {

struct TransportConfig {
    // A request's line and header lines must all arrive within this time from its first byte
    // (from the connection's start for its first request).
    int headerTimeoutSeconds = 10;
    // A client that stays silent this long while sending a request body is dropped; the same
    // for an answer the client does not read.
    int readTimeoutSeconds = 10;
    int writeTimeoutSeconds = 10;
    // A request must arrive whole within this time, and its answer must leave within it,
    // however steadily the client keeps sending or reading. Live streams are bounded by the
    // write timeout only.
    int connectionTimeLimitSeconds = 60;
    // A kept connection without a new request for this long is closed.
    int keepAliveSeconds = 15;
    // Requests served on one connection; the answer to the last one closes it.
    std::size_t maxRequestsPerConnection = 1000;
    // Threads that serve the connections; 0: one per processor, at most 4.
    std::size_t networkThreads = 0;
    // Threads for handlers that may block.
    std::size_t workerThreads = 4;
    // Connections open at once; a further one is answered `full` at once.
    std::size_t maxConnections = 10000;
    // Connections from one client address open at once (not counting requests held waiting
    // for an event); a further one is answered `busy` at once. 0: no limit.
    std::size_t maxConnectionsPerAddress = 8;
    // Longest request line (method, target and version), longest header line, most header
    // lines, and the request line with all header lines together. Checked while reading:
    // beyond them a request is refused (414, 431) and no more of it is kept.
    std::size_t maxRequestLineBytes = 8192;
    std::size_t maxHeaderLineBytes = 8192;
    std::size_t maxHeaderLines = 100;
    std::size_t maxHeaderBytes = 16384;
    // Largest request body; a larger one is refused unread (413).
    std::size_t maxRequestBytes = 4 * 1024 * 1024;
    // Bytes of request bodies held at once over all connections; a body that would pass it is
    // refused (503) while the others are being handled.
    std::size_t maxBodyBytesInFlight = 256 * 1024 * 1024;
};

struct TransportHooks {
    // Answers one request.
    std::function<HttpAnswer(const HttpRequest&)> handle;
    // True when the request's handler never blocks: it then runs on the network thread that
    // read the request. Empty: every handler runs on a worker thread.
    std::function<bool(const HttpRequest&)> quick;
    // The answer to a request the transport refuses by itself (malformed, too large, without a
    // length ...): the request's path, the status and the reason in a few words.
    std::function<HttpAnswer(const std::string& path, int status, const std::string& reason)>
        refuse;
    // The answers to a connection turned away before its request is read: for its address
    // (`busy`), or because the relay has all the connections it takes (`full`).
    HttpAnswer busy;
    HttpAnswer full;
    // Told about every answer sent: client address, method, path ("-" for both when the request
    // was not read), status and body bytes.
    std::function<void(const std::string& address, const std::string& method,
                       const std::string& path, int status, std::size_t bodyBytes)>
        answered;
};

// Use: bind(), then run() (blocking) on one thread; stop() from any other thread ends run()
// once the requests being answered are answered. Held requests are answered at once and live
// streams end.
class Transport {
  public:
    Transport(TransportConfig config, TransportHooks hooks);
    // Stops and, when run() was started on another thread, waits until it has returned.
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Starts listening on host:port (port 0: any free port), with the longest queue of
    // connections not yet accepted that the system allows. Returns the port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(). Returns false when the server failed, true after stop().
    bool run();
    // Blocks until run() accepts connections (or has already returned).
    void waitUntilReady();
    // Ends run(); safe from any thread, at any time, more than once.
    void stop();

    // Connections open now.
    std::size_t connections() const;
    // A client for other servers, on this transport's threads (while it runs).
    Fetcher fetcher();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace reflector

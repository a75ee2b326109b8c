#pragma once

// The relay's HTTP transport: accepts connections, reads one request from each, hands it to the
// relay's handler and writes the answer back, then closes the connection. It knows nothing of
// the relay's addresses; everything it says by itself (refusals, the busy answer) comes from
// its hooks. HttplibTransport.cpp implements it on cpp-httplib; it is the only file that
// includes the library.

#include "Http.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace reflector {

struct TransportConfig {
    // A client that stays silent this long while sending a request is dropped; the same for an
    // answer the client does not read.
    int readTimeoutSeconds = 10;
    int writeTimeoutSeconds = 10;
    // A connection is dropped this long after it was taken up, however steadily its client
    // keeps sending or reading.
    int connectionTimeLimitSeconds = 60;
    // Connections served at the same time; further ones wait in turn.
    std::size_t threads = 8;
    // Connections from one client address served at the same time (not counting those a
    // handler holds waiting, see HttpRequest::beforeWaiting); a further one is turned away at
    // once. 0: no limit.
    std::size_t maxConnectionsPerAddress = 4;
    // Largest request body read; larger ones are refused unread.
    std::size_t maxRequestBytes = 4 * 1024 * 1024;
};

struct TransportHooks {
    // Answers one request.
    std::function<HttpAnswer(const HttpRequest&)> handle;
    // The answer to a request the transport refuses by itself (malformed, too large, without a
    // length ...): the request's path, the status and the reason in a few words.
    std::function<HttpAnswer(const std::string& path, int status, const std::string& reason)>
        refuse;
    // The answer to a connection turned away for its address, before its request is read.
    HttpAnswer busy;
    // Told about every answer sent: client address, method, path ("-" for both when the request
    // was not read), status and body bytes.
    std::function<void(const std::string& address, const std::string& method,
                       const std::string& path, int status, std::size_t bodyBytes)>
        answered;
};

// Use: bind(), then run() (blocking) on one thread; stop() from any other thread ends run()
// after the requests in progress are answered.
class Transport {
  public:
    Transport(TransportConfig config, TransportHooks hooks);
    // Stops and, when run() was started on another thread, waits until it has returned.
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Starts listening on host:port (port 0: any free port). Returns the port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(). Returns false when the server failed, true after stop().
    bool run();
    // Blocks until run() accepts connections (or has already returned).
    void waitUntilReady();
    // Ends run(); safe from any thread, at any time, more than once.
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace reflector

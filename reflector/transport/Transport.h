#pragma once

// The relay's HTTP transport: accepts connections, reads requests under named limits, hands
// each to the relay's handler and writes the answer back; keeps a connection for the client's
// next request unless the answer or the client says otherwise; holds requests that wait for an
// event and streams live bodies. It knows nothing of the relay's addresses; everything it says
// by itself (refusals, the busy answers) comes from its hooks. The files of transport/ implement
// it on Boost.Beast and Asio: the server (Server.h), each connection (Session.h), the reading
// of requests (RequestReader.h) and the writing of answers (AnswerWriter.h). They are the only
// files that include Boost.
//
// Every connection costs a socket and a few kilobytes, never a thread: a few network threads
// serve all connections, each with its own timers, and handlers that may block (the database,
// the disk, password hashing) run on a few worker threads beside them.

#include "core/Config.h"
#include "core/Http.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace reflector {

struct TransportHooks {
    // Answers one request. The request is the transport's and holds only until the handler
    // returns (the connection reads its next request into it): what outlives the call is copied.
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

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace reflector

#pragma once

// The transport's server: the acceptor, the limits per address and in all, the list of open
// connections, the network threads' I/O context and the worker threads.

#include "transport/AddressLimit.h"
#include "transport/Beast.h"
#include "transport/RequestReader.h"
#include "transport/Transport.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace reflector::transport {

class Session;

// What the connections share: the configuration, the limits, the I/O context and the workers.
struct Server {
    Server(TransportConfig c, TransportHooks h)
        : config(std::move(c)), hooks(std::move(h)), perAddress(config.maxConnectionsPerAddress),
          budget(config.maxBodyBytesInFlight),
          threadCount(config.networkThreads != 0
                          ? config.networkThreads
                          : std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4)),
          ioc(static_cast<int>(threadCount)), acceptStrand(net::make_strand(ioc)),
          acceptor(acceptStrand), acceptPause(acceptStrand),
          workers(std::max<std::size_t>(config.workerThreads, 1)) {}

    void doAccept();
    void onAccept(const error_code& ec, tcp::socket socket);
    void serve(tcp::socket socket);
    HttpAnswer answer(const HttpRequest& request);
    void log(const std::string& address, const std::string& method, const std::string& path,
             int status, std::size_t bytes) {
        if (hooks.answered) {
            hooks.answered(address, method, path, status, bytes);
        }
    }
    void stopServing();

    TransportConfig config;
    TransportHooks hooks;
    // State the sessions use; declared before the I/O context so that it outlives the
    // sessions the context still holds when it goes.
    AddressLimit perAddress;
    BodyBudget budget;
    std::atomic<std::size_t> connections{0};
    std::atomic<std::size_t> refusing{0};
    std::atomic<bool> stopping{false};
    std::mutex sessionsMutex;
    std::list<std::weak_ptr<Session>> sessions;
    Clock::time_point lastAcceptError{};

    std::size_t threadCount;
    net::io_context ioc;
    // The acceptor's own strand: accepting and closing it never run at the same time.
    net::strand<net::io_context::executor_type> acceptStrand;
    tcp::acceptor acceptor;
    net::steady_timer acceptPause;
    net::thread_pool workers;

    // Life of run(): started, accepting, finished.
    std::mutex stateMutex;
    std::condition_variable stateChanged;
    bool runStarted = false;
    bool accepting = false;
    bool finished = false;
    bool stopRequested = false;
    bool bound = false;
};

} // namespace reflector::transport

#include "transport/Server.h"

#include "transport/Session.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <iostream>
#include <thread>
#include <vector>

namespace reflector {

namespace transport {

namespace {

// Connections being turned away at once; beyond, they are closed unanswered.
constexpr std::size_t kMostRefusing = 1024;

} // namespace

void Server::doAccept() {
    acceptor.async_accept(net::make_strand(ioc), [this](const error_code& ec, tcp::socket socket) {
        onAccept(ec, std::move(socket));
    });
}

void Server::onAccept(const error_code& ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || stopping || !acceptor.is_open()) {
        return;
    }
    if (ec) {
        // Out of file descriptors or memory: the connection stays queued; try again shortly
        // rather than spin.
        const Clock::time_point now = Clock::now();
        if (now - lastAcceptError > std::chrono::seconds(10)) {
            lastAcceptError = now;
            std::cerr << "reflector: cannot accept a connection: " << ec.message() << std::endl;
        }
        acceptPause.expires_after(std::chrono::milliseconds(100));
        acceptPause.async_wait([this](const error_code& waited) {
            if (!waited && !stopping) {
                doAccept();
            }
        });
        return;
    }
    doAccept();
    serve(std::move(socket));
}

void Server::serve(tcp::socket socket) {
    error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) {
        return; // gone already
    }
    net::ip::address peerAddress = peer.address();
    if (peerAddress.is_v6() && peerAddress.to_v6().is_v4_mapped()) {
        peerAddress = net::ip::make_address_v4(net::ip::v4_mapped, peerAddress.to_v6());
    }
    std::string address = peerAddress.to_string();

    const auto refuseWith = [&](const HttpAnswer& answer) {
        if (refusing >= kMostRefusing) {
            log(address, "-", "-", 503, 0);
            return; // the socket closes unanswered
        }
        auto session = std::make_shared<Session>(*this, std::move(socket), std::move(address),
                                                 AddressLimit::Slot(), true);
        // Everything a connection does runs on its strand, from the start.
        session->post([session, answer] { session->refuse(answer); });
    };
    if (connections >= config.maxConnections) {
        refuseWith(hooks.full);
        return;
    }
    AddressLimit::Slot slot = perAddress.enter(address);
    if (!slot) {
        refuseWith(hooks.busy);
        return;
    }
    auto session = std::make_shared<Session>(*this, std::move(socket), std::move(address),
                                             std::move(slot), false);
    {
        std::lock_guard lock(sessionsMutex);
        sessions.push_front(session);
        session->setPlace(sessions.begin());
    }
    session->post([session] { session->start(); });
}

HttpAnswer Server::answer(const HttpRequest& request) {
    try {
        return hooks.handle(request);
    } catch (const std::exception& e) {
        std::cerr << "reflector: request failed: " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "reflector: request failed" << std::endl;
    }
    return hooks.refuse ? hooks.refuse(request.path, 500, "internal error")
                        : textAnswer(500, "internal error");
}

void Server::stopServing() {
    stopping = true;
    net::post(acceptStrand, [this] {
        error_code ec;
        acceptor.close(ec);
        acceptPause.cancel();
    });
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard lock(sessionsMutex);
        for (const auto& weak : sessions) {
            if (auto session = weak.lock()) {
                open.push_back(std::move(session));
            }
        }
    }
    for (const auto& session : open) {
        session->post([session] { session->onStop(); });
    }
}

} // namespace transport

using namespace transport;

struct Transport::Impl : Server {
    using Server::Server;
};

Transport::Transport(TransportConfig config, TransportHooks hooks)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(hooks))) {}

Transport::~Transport() {
    stop();
    // run() on another thread still uses the server and this state until it returns.
    Impl& d = *impl_;
    {
        std::unique_lock lock(d.stateMutex);
        d.stateChanged.wait(lock, [&d] { return !d.runStarted || d.finished; });
    }
    d.workers.join();
}

int Transport::bind(const std::string& host, int port) {
    Impl& d = *impl_;
    error_code ec;
    const net::ip::address address =
        net::ip::make_address(host == "localhost" ? "127.0.0.1" : host, ec);
    tcp::endpoint endpoint;
    if (!ec) {
        endpoint = tcp::endpoint(address, static_cast<unsigned short>(port));
    } else {
        tcp::resolver resolver(d.ioc);
        const auto results = resolver.resolve(host, std::to_string(port), ec);
        if (ec || results.empty()) {
            errno = EADDRNOTAVAIL;
            return -1;
        }
        endpoint = results.begin()->endpoint();
    }
    d.acceptor.open(endpoint.protocol(), ec);
    if (!ec) {
        // SO_REUSEADDR only: SO_REUSEPORT would let a second relay bind the same port and
        // silently share the connections.
        d.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    }
    if (!ec) {
        d.acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        // The system's longest queue: the kernel trims a larger number to its own limit.
        d.acceptor.listen(65535, ec);
    }
    if (ec) {
        errno = ec.value();
        error_code ignored;
        d.acceptor.close(ignored);
        return -1;
    }
    const int bound = d.acceptor.local_endpoint(ec).port();
    std::lock_guard lock(d.stateMutex);
    d.bound = !ec && bound > 0;
    return d.bound ? bound : -1;
}

bool Transport::run() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.stateMutex);
        if (d.runStarted) {
            return false; // already serving on another thread
        }
        if (d.stopRequested || !d.bound) {
            d.finished = true;
            d.stateChanged.notify_all();
            return d.stopRequested;
        }
        d.runStarted = true;
        d.doAccept();
        d.accepting = true;
    }
    d.stateChanged.notify_all();
    bool ok = true;
    const auto serveThread = [&d, &ok] {
        for (;;) {
            try {
                d.ioc.run();
                return;
            } catch (const std::exception& e) {
                // A handler's failure ends that connection only.
                std::cerr << "reflector: network thread: " << e.what() << std::endl;
            }
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < d.threadCount; ++i) {
        threads.emplace_back(serveThread);
    }
    serveThread();
    for (std::thread& t : threads) {
        t.join();
    }
    d.workers.join();
    // Notified with the lock held: the destructor may free `d` as soon as the lock is released,
    // so nothing here may touch it after that.
    std::lock_guard lock(d.stateMutex);
    d.finished = true;
    d.stateChanged.notify_all();
    return ok;
}

void Transport::waitUntilReady() {
    Impl& d = *impl_;
    std::unique_lock lock(d.stateMutex);
    d.stateChanged.wait(lock, [&d] { return d.accepting || d.finished; });
}

void Transport::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.stateMutex);
        if (d.stopRequested) {
            return;
        }
        d.stopRequested = true;
        if (!d.runStarted || d.finished) {
            return;
        }
    }
    d.stopServing();
}

std::size_t Transport::connections() const {
    return impl_->connections;
}

} // namespace reflector

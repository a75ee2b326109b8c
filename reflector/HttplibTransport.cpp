// The relay's transport on cpp-httplib. The library reads requests and writes answers; this
// file serves each connection under the relay's own limits (a time limit for the whole
// connection, a limit of connections per client address, a close that lets the client read an
// answer to a request refused before it was read whole) and turns the library's requests and
// answers into the relay's own types. It is the only file that includes httplib.h.

#include "Connection.h"
#include "Transport.h"

#include <condition_variable>
#include <cstring>
#include <exception>
#include <httplib.h>
#include <iostream>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>

namespace reflector {

namespace {

// One accepted connection as the library reads and writes it. Every wait for the client ends
// after the idle time without progress, and the connection as a whole ends at its deadline,
// however steadily the client trickles its bytes: from then on every read and write fails at
// once.
class ConnectionStream : public httplib::Stream {
  public:
    ConnectionStream(int fd, std::chrono::milliseconds readIdle,
                     std::chrono::milliseconds writeIdle, Clock::time_point deadline)
        : fd_(fd), readIdle_(readIdle), writeIdle_(writeIdle), deadline_(deadline) {}

    bool is_readable() const override {
        return begin_ < end_ || waitForSocket(fd_, POLLIN, readIdle_, deadline_);
    }
    bool is_writable() const override { return waitForSocket(fd_, POLLOUT, writeIdle_, deadline_); }
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = peerAddress(fd_, &port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = localAddress(fd_, &port);
    }
    socket_t socket() const override { return fd_; }

  private:
    int fd_;
    std::chrono::milliseconds readIdle_;
    std::chrono::milliseconds writeIdle_;
    Clock::time_point deadline_;
    // Bytes received but not yet handed out: the library reads a request line byte by byte.
    std::array<char, 4096> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    if (begin_ < end_) {
        const std::size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_.data() + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }
    // Large reads go straight to the caller; small ones fill the buffer first.
    const bool direct = size >= buffer_.size();
    for (;;) {
        if (Clock::now() >= deadline_ || !waitForSocket(fd_, POLLIN, readIdle_, deadline_)) {
            return -1;
        }
        const ssize_t n = ::recv(fd_, direct ? ptr : buffer_.data(), direct ? size : buffer_.size(),
                                 MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            continue;
        }
        if (n <= 0 || direct) {
            return n;
        }
        begin_ = 0;
        end_ = static_cast<std::size_t>(n);
        return read(ptr, size);
    }
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    for (;;) {
        if (Clock::now() >= deadline_ || !waitForSocket(fd_, POLLOUT, writeIdle_, deadline_)) {
            return -1;
        }
        const ssize_t n = ::send(fd_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            continue;
        }
        return n;
    }
}

// What the thread serving a connection knows about it while the library runs its request.
struct ConnectionState {
    // Set when the request was refused before its body was read, so that the connection is
    // drained before it is closed.
    bool bodyLeftUnread = false;
    // The connection's place in the limit per address; released when a handler holds the
    // request waiting.
    AddressLimit::Slot* slot = nullptr;
    // The request's Content-Type headers, taken out of the library's sight so that it reads
    // every body as plain bytes: the relay's handlers parse forms and multipart bodies
    // themselves, the same under any transport.
    std::vector<std::string> contentTypes;
};
thread_local ConnectionState current;

// httplib's server, serving each connection under the relay's own limits.
class Server : public httplib::Server {
  public:
    Server(const TransportConfig& config, const TransportHooks& hooks)
        : config_(config), hooks_(hooks), perAddress_(config.maxConnectionsPerAddress) {}

  private:
    bool process_and_close_socket(socket_t sock) override;
    void refuseBusy(int fd, const std::string& address);

    const TransportConfig& config_;
    const TransportHooks& hooks_;
    AddressLimit perAddress_;
};

bool Server::process_and_close_socket(socket_t sock) {
    // Connections still waiting when the relay stops are closed unanswered.
    if (svr_sock_ == INVALID_SOCKET) {
        closeConnection(sock);
        return false;
    }
    const std::chrono::seconds readIdle(config_.readTimeoutSeconds);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(config_.connectionTimeLimitSeconds);
    const std::string address = peerAddress(sock);
    AddressLimit::Slot slot = perAddress_.enter(address);
    if (!slot) {
        refuseBusy(sock, address);
        return false;
    }

    ConnectionStream stream(sock, readIdle, std::chrono::seconds(config_.writeTimeoutSeconds),
                            deadline);
    current = ConnectionState();
    current.slot = &slot;
    bool closedByClient = false;
    const bool ok = process_request(stream, true, closedByClient, [](httplib::Request& req) {
        const auto range = req.headers.equal_range("Content-Type");
        for (auto it = range.first; it != range.second; ++it) {
            current.contentTypes.push_back(it->second);
        }
        req.headers.erase("Content-Type");
    });
    current.slot = nullptr;
    // Free the place before the client can see the end of the answer, so that its next
    // connection is counted afresh.
    slot.release();
    if (current.bodyLeftUnread || hasUnreadInput(sock)) {
        // A refused body is read and thrown away up to twice the largest request: enough for
        // a client that overshot the limit to finish sending and read the refusal.
        closeAfterDraining(sock, readIdle, deadline, 2 * config_.maxRequestBytes);
    } else {
        closeConnection(sock);
    }
    return ok;
}

void Server::refuseBusy(int fd, const std::string& address) {
    const HttpAnswer& answer = hooks_.busy;
    const std::string bytes = "HTTP/1.1 503 Service Unavailable\r\n"
                              "Cache-Control: no-store\r\n"
                              "Connection: close\r\n"
                              "Content-Length: " +
                              std::to_string(answer.body.size()) +
                              "\r\n"
                              "Content-Type: " +
                              answer.contentType +
                              "\r\n"
                              "Retry-After: 1\r\n"
                              "X-Content-Type-Options: nosniff\r\n\r\n" +
                              answer.body;
    // The socket is fresh, so the short answer fits its send buffer. Nothing here waits for
    // the client: workers held by the connections being turned away are what the limit is for.
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (hooks_.answered) {
        hooks_.answered(address, "-", "-", 503, answer.body.size());
    }
    closeAfterDraining(fd, std::chrono::milliseconds(0), Clock::now(), config_.maxRequestBytes);
}

// The library's answer made from the relay's.
void fill(httplib::Response& res, const HttpAnswer& answer) {
    res.status = answer.status;
    for (const auto& [name, value] : answer.headers) {
        res.set_header(name, value);
    }
    if (!answer.contentType.empty()) {
        res.set_content(answer.body, answer.contentType.c_str());
    } else {
        res.body.clear();
    }
}

// The relay's request made from the library's.
HttpRequest relayRequest(const httplib::Request& req) {
    Fields headers;
    for (const auto& [name, value] : req.headers) {
        // The library adds the connection's addresses as headers of its own.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
            name == "LOCAL_PORT") {
            continue;
        }
        headers.emplace_back(name, value);
    }
    for (const std::string& type : current.contentTypes) {
        headers.emplace_back("Content-Type", type);
    }
    HttpRequest request =
        makeRequest(req.method, req.target, req.body, std::move(headers), req.remote_addr);
    request.beforeWaiting = [] {
        if (current.slot != nullptr) {
            current.slot->release();
        }
    };
    return request;
}

} // namespace

struct Transport::Impl {
    Impl(TransportConfig c, TransportHooks h) : config(c), hooks(std::move(h)) {}

    TransportConfig config;
    TransportHooks hooks;
    Server server{config, hooks};

    // Life of run(): started, accepting (the server's worker pool exists), finished.
    std::mutex stateMutex;
    std::condition_variable stateChanged;
    bool runStarted = false;
    bool accepting = false;
    bool finished = false;
    bool stopRequested = false;
    bool stopIssued = false;
    bool bound = false;

    void setUp();
};

void Transport::Impl::setUp() {
    // SO_REUSEADDR only: the library's default also sets SO_REUSEPORT, which would let a
    // second relay bind the same port and silently share the connections.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_keep_alive_max_count(1);
    server.set_read_timeout(config.readTimeoutSeconds, 0);
    server.set_write_timeout(config.writeTimeoutSeconds, 0);
    server.set_payload_max_length(config.maxRequestBytes);
    server.set_default_headers(
        {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});

    // The server makes its worker pool when its accept loop starts: that is the moment the
    // transport becomes ready and can be stopped.
    server.new_task_queue = [this] {
        {
            std::lock_guard lock(stateMutex);
            accepting = true;
        }
        stateChanged.notify_all();
        return new httplib::ThreadPool(config.threads);
    };

    // Every request goes to the relay's handler, which does its own routing.
    const auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
        fill(res, hooks.handle(relayRequest(req)));
    };
    server.Get(".*", dispatch);
    server.Post(".*", dispatch);
    server.Put(".*", dispatch);
    server.Patch(".*", dispatch);
    server.Delete(".*", dispatch);
    server.Options(".*", dispatch);

    // Refuse a body larger than the limit from its announced length, before any of it is read;
    // otherwise the server would read and discard it all just to answer the refusal. A body
    // without a length (chunked, or sent until the client closes) is refused as well: the
    // server reads such a body whole into memory, whatever its size, and the station always
    // announces the length.
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const auto refuseUnread = [this, &req, &res](int status, const std::string& reason) {
            current.bodyLeftUnread = true;
            fill(res, hooks.refuse(req.path, status, reason));
            return httplib::Server::HandlerResponse::Handled;
        };
        const bool hasBody = req.method == "POST" || req.method == "PUT" || req.method == "PATCH" ||
                             req.method == "DELETE" || req.method == "PRI";
        if (req.has_header("Transfer-Encoding") || (hasBody && !req.has_header("Content-Length"))) {
            return refuseUnread(411, "request body without a Content-Length");
        }
        const std::string length = req.get_header_value("Content-Length");
        if (length.empty() || length.find_first_not_of("0123456789") != std::string::npos ||
            (length.size() < 20 && std::stoull(length) <= config.maxRequestBytes)) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        return refuseUnread(413, "request body larger than " +
                                     std::to_string(config.maxRequestBytes) + " bytes");
    });
    // Errors the library finds by itself (a malformed request, a body cut short ...).
    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            fill(res, hooks.refuse(req.path, res.status, statusText(res.status)));
            return httplib::Server::HandlerResponse::Handled;
        }));
    // The relay's handler catches its own failures; this is the last line of defence.
    server.set_exception_handler(
        [this](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                std::cerr << "reflector: request failed: " << e.what() << std::endl;
            } catch (...) {
                std::cerr << "reflector: request failed" << std::endl;
            }
            fill(res, hooks.refuse(req.path, 500, "internal error"));
        });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        if (hooks.answered) {
            hooks.answered(req.remote_addr, req.method, req.path, res.status, res.body.size());
        }
    });
}

Transport::Transport(TransportConfig config, TransportHooks hooks)
    : impl_(std::make_unique<Impl>(config, std::move(hooks))) {
    impl_->setUp();
}

Transport::~Transport() {
    stop();
    // run() on another thread still uses the server and this state until it returns.
    Impl& d = *impl_;
    std::unique_lock lock(d.stateMutex);
    d.stateChanged.wait(lock, [&d] { return !d.runStarted || d.finished; });
}

int Transport::bind(const std::string& host, int port) {
    int bound = -1;
    if (port == 0) {
        bound = impl_->server.bind_to_any_port(host);
    } else {
        bound = impl_->server.bind_to_port(host, port) ? port : -1;
    }
    std::lock_guard lock(impl_->stateMutex);
    impl_->bound = bound > 0;
    return bound > 0 ? bound : -1;
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
    }
    const bool ok = d.server.listen_after_bind();
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
    std::unique_lock lock(d.stateMutex);
    d.stopRequested = true;
    if (!d.runStarted || d.stopIssued) {
        return;
    }
    // The server ignores a stop before its accept loop runs, so wait for that first.
    d.stateChanged.wait(lock, [&d] { return d.accepting || d.finished; });
    if (d.finished) {
        return;
    }
    d.stopIssued = true;
    lock.unlock();
    d.server.stop();
}

} // namespace reflector

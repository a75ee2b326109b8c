#include "Relay.h"

#include "CameraId.h"
#include "Connection.h"
#include "FrameStore.h"
#include "Jpeg.h"
#include "Options.h"
#include "Pages.h"
#include "Registry.h"

#include <condition_variable>
#include <ctime>
#include <exception>
#include <httplib.h>
#include <iostream>
#include <mutex>
#include <sys/socket.h>

namespace reflector {

namespace {

constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPagePolicy =
    "default-src 'self'; img-src 'self' blob:; object-src 'none'; base-uri 'none'";

// Answers to the station. It searches them for fixed phrases, so their wording is part of the
// protocol (docs/protocol.md).
constexpr const char* kRegistered = "User Registered Successfully.";
constexpr const char* kFrameAccepted = "Reflector: true";
constexpr const char* kFrameRefused = "Reflector: false - ";

void answerText(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text, kText);
}

void answerPage(httplib::Response& res, int status, const std::string& page) {
    res.status = status;
    res.set_header("Content-Security-Policy", kPagePolicy);
    res.set_content(page, kHtml);
}

std::string statusText(int status) {
    switch (status) {
    case 400:
        return "Bad request";
    case 404:
        return "Not found";
    case 413:
        return "Request too large";
    case 411:
        return "Length required";
    case 414:
        return "Address too long";
    case 500:
        return "Internal error";
    default:
        return "Error " + std::to_string(status);
    }
}

bool isWildcard(const std::string& host) {
    return host.empty() || host == "0.0.0.0" || host == "::" || host == "[::]";
}

// The host part of a Host header ("name", "name:port", "[v6]:port").
std::string hostOfHeader(const std::string& header) {
    if (!header.empty() && header.front() == '[') {
        const auto end = header.find(']');
        return end == std::string::npos ? std::string() : header.substr(0, end + 1);
    }
    const auto colon = header.find(':');
    if (colon != std::string::npos && header.find(':', colon + 1) == std::string::npos) {
        return header.substr(0, colon);
    }
    return header;
}

// A request path as it may appear in the log: bytes outside printable ASCII are escaped.
std::string printable(const std::string& text) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text.substr(0, 200)) {
        if (c < 0x21 || c > 0x7E || c == '%') {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// What one kind of camera request answers to an identifier or a folder it cannot take.
struct CameraRefusals {
    const char* invalidId;
    const char* unknownFolder;
};

constexpr CameraRefusals kCheckRefusals{"Exists: false - not a valid camera id",
                                        "Exists: false - unknown folder"};
constexpr CameraRefusals kRegisterRefusals{
    "Registration refused: a camera id has 1 to 50 letters, digits, '-' or '_'.",
    "Registration refused: unknown folder."};
constexpr CameraRefusals kUploadRefusals{"Reflector: false - not a valid camera id",
                                         "Reflector: false - unknown folder"};

// True when `id` is a valid camera identifier and `folder` the camera folder. Otherwise answers
// 400 with the matching refusal and returns false.
bool acceptsCamera(const std::string& id, const std::string& folder, const CameraRefusals& refusals,
                   httplib::Response& res) {
    if (!isValidCameraId(id)) {
        answerText(res, 400, refusals.invalidId);
        return false;
    }
    if (folder != kCameraFolder) {
        answerText(res, 400, refusals.unknownFolder);
        return false;
    }
    return true;
}

// Set on the thread serving a request that was refused before its body was read, so that the
// connection is drained before it is closed.
thread_local bool bodyLeftUnread = false;

// The answer to a connection beyond the limit for its address. The request is not read, so
// the text holds the refusal phrases of both the folder check and the upload: the station then
// neither takes the folder for existing nor an upload for accepted.
constexpr const char* kBusy = "Reflector: false - Exists: false - too many connections from "
                              "your address at once, try again shortly";

// httplib's server, serving each connection under the relay's own limits (Connection.h): a
// time limit for the whole connection, a limit of connections per client address, and a close
// that lets the client read its answer when its request was refused before it was read whole.
class RelayServer : public httplib::Server {
  public:
    explicit RelayServer(const RelayConfig& config)
        : config_(config), perAddress_(config.maxConnectionsPerAddress) {}

    // Told about every connection turned away for its address: the address and the answer.
    std::function<void(const std::string& address, const httplib::Response& answer)> onBusy;

  private:
    bool process_and_close_socket(socket_t sock) override;
    void refuseBusy(int fd, const std::string& address);

    const RelayConfig& config_;
    AddressLimit perAddress_;
};

bool RelayServer::process_and_close_socket(socket_t sock) {
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
    bodyLeftUnread = false;
    bool closedByClient = false;
    const bool ok = process_request(stream, true, closedByClient, nullptr);
    // Free the place before the client can see the end of the answer, so that its next
    // connection is counted afresh.
    slot.release();
    if (bodyLeftUnread || hasUnreadInput(sock)) {
        // A refused body is read and thrown away up to twice the largest request: enough for
        // a client that overshot the limit to finish sending and read the refusal.
        closeAfterDraining(sock, readIdle, deadline, 2 * config_.maxRequestBytes);
    } else {
        closeConnection(sock);
    }
    return ok;
}

void RelayServer::refuseBusy(int fd, const std::string& address) {
    httplib::Response answer;
    answer.status = 503;
    answer.body = kBusy;
    const std::string bytes = "HTTP/1.1 503 Service Unavailable\r\n"
                              "Cache-Control: no-store\r\n"
                              "Connection: close\r\n"
                              "Content-Length: " +
                              std::to_string(answer.body.size()) +
                              "\r\n"
                              "Content-Type: " +
                              std::string(kText) +
                              "\r\n"
                              "Retry-After: 1\r\n"
                              "X-Content-Type-Options: nosniff\r\n\r\n" +
                              answer.body;
    // The socket is fresh, so the short answer fits its send buffer. Nothing here waits for
    // the client: workers held by the connections being turned away are what the limit is for.
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (onBusy) {
        onBusy(address, answer);
    }
    closeAfterDraining(fd, std::chrono::milliseconds(0), Clock::now(), config_.maxRequestBytes);
}

// Makes sure the data folder exists before anything is opened in it.
RelayConfig withDataDir(RelayConfig config) {
    std::error_code ec;
    std::filesystem::create_directories(config.dataDir, ec);
    if (ec) {
        throw FrameStoreError("cannot create " + config.dataDir.string() + ": " + ec.message());
    }
    return config;
}

} // namespace

struct Relay::Impl {
    explicit Impl(RelayConfig c)
        : config(withDataDir(std::move(c))), registry(config.dataDir / "reflector.db"),
          frames(config.dataDir / "frames", config.cachedFrames) {}

    RelayConfig config;
    Registry registry;
    FrameStore frames;
    RelayServer server{config};
    std::string listenHost;
    int port = -1;

    // Life of run(): started, accepting (the server's worker pool exists), finished.
    std::mutex stateMutex;
    std::condition_variable stateChanged;
    bool runStarted = false;
    bool accepting = false;
    bool finished = false;
    bool stopRequested = false;
    bool stopIssued = false;

    void setUp();

    void directory(const httplib::Request& req, httplib::Response& res);
    void checkFolder(const httplib::Request& req, httplib::Response& res);
    void registerCamera(const httplib::Request& req, httplib::Response& res);
    void upload(const httplib::Request& req, httplib::Response& res);
    void live(const std::string& id, httplib::Response& res);
    void viewer(const std::string& id, httplib::Response& res);
    void cameraList(httplib::Response& res);
    void logRequest(const httplib::Request& req, const httplib::Response& res);
};

void Relay::Impl::setUp() {
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
    // relay becomes ready and can be stopped.
    server.new_task_queue = [this] {
        {
            std::lock_guard lock(stateMutex);
            accepting = true;
        }
        stateChanged.notify_all();
        return new httplib::ThreadPool(config.workerThreads);
    };

    server.Get("/", [this](const httplib::Request&, httplib::Response& res) { cameraList(res); });
    server.Get("/getReflector.php", [this](const httplib::Request& req, httplib::Response& res) {
        directory(req, res);
    });
    server.Get(
        "/webcams/CheckFolderExists",
        [this](const httplib::Request& req, httplib::Response& res) { checkFolder(req, res); });
    server.Get("/webcams/Register", [this](const httplib::Request& req, httplib::Response& res) {
        registerCamera(req, res);
    });
    server.Post("/webcams/Reflector",
                [this](const httplib::Request& req, httplib::Response& res) { upload(req, res); });
    // The viewer options are not kept yet. The station waits for one of its known answers
    // after sending them; this one ends the wait and leaves the options unsynchronised.
    server.Post("/webcams/SyncWebcams", [](const httplib::Request&, httplib::Response& res) {
        answerText(res, 501,
                   "Failed to synchronise settings. This relay does not keep viewer options yet.");
    });
    server.Get("/webcams/live", [this](const httplib::Request& req, httplib::Response& res) {
        live(req.get_param_value("id"), res);
    });
    const auto viewerById = [this](const httplib::Request& req, httplib::Response& res) {
        viewer(req.get_param_value("id"), res);
    };
    server.Get("/webcams/view", viewerById);
    // The address the station's "View Camera Webpage" button opens.
    server.Get("/webcams/index\\.jsp", viewerById);
    server.Get("/static/viewer\\.js", [](const httplib::Request&, httplib::Response& res) {
        const auto file = webFile("viewer.js");
        res.set_content(file.data(), file.size(), "text/javascript; charset=utf-8");
    });
    server.Get("/static/style\\.css", [](const httplib::Request&, httplib::Response& res) {
        const auto file = webFile("style.css");
        res.set_content(file.data(), file.size(), "text/css; charset=utf-8");
    });
    // Last, so that the fixed names above win: /webcams/<camera id> is the camera's viewer.
    server.Get("/webcams/([A-Za-z0-9_-]{1,50})",
               [this](const httplib::Request& req, httplib::Response& res) {
                   viewer(req.matches[1].str(), res);
               });

    // Refuse a body larger than the limit from its announced length, before any of it is read;
    // otherwise the server would read and discard it all just to answer the refusal. A body
    // without a length (chunked, or sent until the client closes) is refused as well: the
    // server reads such a body whole into memory, whatever its size, and the station always
    // announces the length.
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const auto refuseUnread = [&req, &res](int status, const std::string& text) {
            bodyLeftUnread = true;
            answerText(res, status, req.path == "/webcams/Reflector" ? kFrameRefused + text : text);
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
    server.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            if (req.path == "/webcams/Reflector") {
                answerText(res, res.status, kFrameRefused + statusText(res.status));
            } else {
                answerText(res, res.status, statusText(res.status));
            }
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                std::cerr << "reflector: " << req.method << ' ' << printable(req.path)
                          << " failed: " << e.what() << std::endl;
            } catch (...) {
                std::cerr << "reflector: " << req.method << ' ' << printable(req.path) << " failed"
                          << std::endl;
            }
            const bool upload = req.path == "/webcams/Reflector";
            answerText(res, 500,
                       upload ? std::string(kFrameRefused) + "internal error" : statusText(500));
        });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        logRequest(req, res);
    });
    server.onBusy = [this](const std::string& address, const httplib::Response& res) {
        httplib::Request unread;
        unread.remote_addr = address;
        unread.method = "-";
        unread.path = "-";
        logRequest(unread, res);
    };
}

std::string directoryHost(const std::string& publicHost, const std::string& listenHost,
                          const std::string& hostHeader) {
    if (!publicHost.empty()) {
        return publicHost;
    }
    if (!isWildcard(listenHost)) {
        return listenHost;
    }
    // Listening on every address: name the relay as the client named this server.
    const std::string host = hostOfHeader(hostHeader);
    return isValidHostName(host) ? host : "127.0.0.1";
}

void Relay::Impl::directory(const httplib::Request& req, httplib::Response& res) {
    answerText(res, 200,
               directoryHost(config.publicHost, listenHost, req.get_header_value("Host")) + "\r\n" +
                   std::to_string(port) + "\r\n" + std::string(kCameraFolder) + "\r\n");
}

void Relay::Impl::checkFolder(const httplib::Request& req, httplib::Response& res) {
    const std::string id = req.get_param_value("id");
    if (!acceptsCamera(id, req.get_param_value("path"), kCheckRefusals, res)) {
        return;
    }
    answerText(res, 200, registry.isRegistered(id) ? "Exists: true" : "Exists: false");
}

void Relay::Impl::registerCamera(const httplib::Request& req, httplib::Response& res) {
    const std::string id = req.get_param_value("id");
    if (!acceptsCamera(id, req.get_param_value("path"), kRegisterRefusals, res)) {
        return;
    }
    const std::string ptz = req.get_param_value("ptz");
    if (ptz != "true" && ptz != "false") {
        answerText(res, 400, "Registration refused: ptz must be true or false.");
        return;
    }
    if (!registry.registerCamera(id, ptz == "true", config.maxCameras)) {
        answerText(res, 503,
                   "Registration refused: this relay already serves as many cameras as it takes (" +
                       std::to_string(config.maxCameras) + ").");
        return;
    }
    answerText(res, 200, kRegistered);
}

void Relay::Impl::upload(const httplib::Request& req, httplib::Response& res) {
    const auto refuse = [&res](int status, const std::string& reason) {
        answerText(res, status, kFrameRefused + reason);
    };
    if (!req.is_multipart_form_data()) {
        refuse(400, "expected a multipart/form-data upload");
        return;
    }
    for (const char* field : {"id", "path", "frame"}) {
        if (!req.has_file(field)) {
            refuse(400, std::string("missing field '") + field + "'");
            return;
        }
    }
    const std::string id = req.get_file_value("id").content;
    if (!acceptsCamera(id, req.get_file_value("path").content, kUploadRefusals, res)) {
        return;
    }
    if (!registry.isRegistered(id)) {
        refuse(404, "camera " + id + " is not registered");
        return;
    }
    const std::string& frame = req.get_file_value("frame").content;
    if (frame.size() > config.maxFrameBytes) {
        refuse(413, "frame of " + std::to_string(frame.size()) + " bytes is larger than " +
                        std::to_string(config.maxFrameBytes));
        return;
    }
    if (!looksLikeJpeg(frame)) {
        refuse(415, "frame is not a JPEG image");
        return;
    }
    try {
        frames.put(id, frame);
    } catch (const FrameStoreError& e) {
        std::cerr << "reflector: " << e.what() << std::endl;
        refuse(500, "could not store the frame");
        return;
    }
    // The frame is stored and served from now on: a time stamp that cannot be written (the
    // database busy or its disk full) is only logged, so the station does not report a refusal.
    try {
        registry.noteFrame(id);
    } catch (const RegistryError& e) {
        std::cerr << "reflector: frame of camera " << id
                  << " accepted, its time not recorded: " << e.what() << std::endl;
    }
    answerText(res, 200, kFrameAccepted);
}

void Relay::Impl::live(const std::string& id, httplib::Response& res) {
    if (!isValidCameraId(id)) {
        answerText(res, 400, "Not a valid camera id");
        return;
    }
    const auto frame = frames.latest(id);
    if (!frame) {
        answerText(res, 404, registry.isRegistered(id) ? "No picture yet" : "Unknown camera");
        return;
    }
    res.status = 200;
    res.set_content(*frame, "image/jpeg");
}

void Relay::Impl::viewer(const std::string& id, httplib::Response& res) {
    if (!isValidCameraId(id)) {
        answerPage(
            res, 400,
            messagePage("Not a camera", "A camera id has 1 to 50 letters, digits, '-' or '_'."));
        return;
    }
    if (!registry.isRegistered(id)) {
        answerPage(res, 404,
                   messagePage("Unknown camera", "No camera " + id + " is registered here."));
        return;
    }
    answerPage(res, 200, viewerPage(id));
}

void Relay::Impl::cameraList(httplib::Response& res) {
    answerPage(res, 200, cameraListPage(registry.list()));
}

void Relay::Impl::logRequest(const httplib::Request& req, const httplib::Response& res) {
    if (!config.requestLog) {
        return;
    }
    config.requestLog(utcNow() + ' ' + printable(req.remote_addr) + ' ' + printable(req.method) +
                      ' ' + printable(req.path) + ' ' + std::to_string(res.status) + ' ' +
                      std::to_string(res.body.size()));
}

Relay::Relay(RelayConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
    impl_->setUp();
}

Relay::~Relay() {
    stop();
    // run() on another thread still uses the server and this state until it returns.
    Impl& d = *impl_;
    std::unique_lock lock(d.stateMutex);
    d.stateChanged.wait(lock, [&d] { return !d.runStarted || d.finished; });
}

int Relay::bind(const std::string& host, int port) {
    impl_->listenHost = host;
    if (port == 0) {
        impl_->port = impl_->server.bind_to_any_port(host);
    } else {
        impl_->port = impl_->server.bind_to_port(host, port) ? port : -1;
    }
    if (impl_->port <= 0) {
        impl_->port = -1;
    }
    return impl_->port;
}

bool Relay::run() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.stateMutex);
        if (d.runStarted) {
            return false; // already serving on another thread
        }
        if (d.stopRequested || d.port < 0) {
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

void Relay::waitUntilReady() {
    Impl& d = *impl_;
    std::unique_lock lock(d.stateMutex);
    d.stateChanged.wait(lock, [&d] { return d.accepting || d.finished; });
}

void Relay::stop() {
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

int Relay::port() const {
    return impl_->port;
}

} // namespace reflector

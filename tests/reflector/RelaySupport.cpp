#include "RelaySupport.h"

#include "core/StationKey.h"

#include <arpa/inet.h>
#include <cctype>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace reflector::test {

RunningRelay::RunningRelay(const std::filesystem::path& dataDir)
    : RunningRelay([&] {
          RelayConfig config;
          config.dataDir = dataDir;
          return config;
      }()) {}

RunningRelay::RunningRelay(RelayConfig config)
    : relay_(std::make_unique<Relay>(std::move(config))) {
    port_ = relay_->bind("127.0.0.1", 0);
    if (port_ <= 0) {
        throw std::runtime_error("cannot bind the relay");
    }
    thread_ = std::thread([this] { result_ = relay_->run(); });
    relay_->waitUntilReady();
}

RunningRelay::~RunningRelay() {
    stop();
}

bool RunningRelay::stop() {
    if (thread_.joinable()) {
        relay_->stop();
        thread_.join();
    }
    return result_;
}

RawAnswer rawExchange(int port, const std::string& request) {
    RawAnswer answer;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw std::runtime_error("socket() failed");
    }
    timeval guard{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &guard, sizeof guard);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot connect to the relay");
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            break; // the relay may refuse and close before reading everything
        }
        sent += static_cast<std::size_t>(n);
    }
    answer.sent = sent;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            answer.bytes.append(buffer, static_cast<std::size_t>(n));
        } else {
            answer.closed = n == 0;
            break;
        }
    }
    ::close(fd);
    return answer;
}

Client::Client(int port, const std::string& from) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        throw std::runtime_error("cannot connect to the relay from " + from);
    }
}

Client::~Client() {
    ::close(fd_);
}

bool Client::send(const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 10000) != 1) {
            return false;
        }
        const ssize_t n =
            ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool Client::receive(std::chrono::steady_clock::time_point end) {
    if (ended_) {
        return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) {
        return false;
    }
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) {
        ended_ = true;
        return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::string Client::readUntil(const std::string& marker, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::size_t at;
    while ((at = pending_.find(marker)) == std::string::npos) {
        if (!receive(end)) {
            throw std::runtime_error("no '" + marker + "' from the relay; got " +
                                     std::to_string(pending_.size()) + " bytes");
        }
    }
    std::string out = pending_.substr(0, at + marker.size());
    pending_.erase(0, at + marker.size());
    return out;
}

std::string Client::readExactly(std::size_t count, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (pending_.size() < count) {
        if (!receive(end)) {
            throw std::runtime_error("the relay sent " + std::to_string(pending_.size()) +
                                     " bytes of " + std::to_string(count));
        }
    }
    std::string out = pending_.substr(0, count);
    pending_.erase(0, count);
    return out;
}

WireAnswer Client::readAnswer(std::chrono::milliseconds limit) {
    WireAnswer answer = parse(readUntil("\r\n\r\n", limit));
    const std::string length = answer.header("Content-Length");
    if (!length.empty()) {
        answer.body = readExactly(std::stoul(length), limit);
    }
    return answer;
}

bool Client::closedWithin(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ended_ && receive(end)) {
    }
    return ended_;
}

std::string viewerGet(const std::string& uri, const Fields& headers) {
    std::string request = "GET " + uri + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [name, value] : headers) {
        request += name + ": " + value + "\r\n";
    }
    return request + "\r\n";
}

std::string WireAnswer::header(const std::string& name) const {
    const auto lower = [](std::string s) {
        for (char& c : s) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return s;
    };
    const std::string wanted = lower(name) + ":";
    std::size_t from = head.find("\r\n");
    while (from != std::string::npos && from + 2 < head.size()) {
        const std::size_t end = head.find("\r\n", from + 2);
        const std::string line =
            head.substr(from + 2, end == std::string::npos ? std::string::npos : end - from - 2);
        if (lower(line).rfind(wanted, 0) == 0) {
            std::string value = line.substr(wanted.size());
            while (!value.empty() && value.front() == ' ') {
                value.erase(0, 1);
            }
            return value;
        }
        from = end;
    }
    return {};
}

WireAnswer parse(const std::string& bytes) {
    WireAnswer answer;
    const std::size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) {
        answer.head = bytes;
        return answer;
    }
    answer.head = bytes.substr(0, end + 2);
    answer.body = bytes.substr(end + 4);
    if (answer.head.rfind("HTTP/1.1 ", 0) == 0 && answer.head.size() > 12) {
        answer.status = std::stoi(answer.head.substr(9, 3));
    }
    return answer;
}

std::string stationGet(const std::string& uri, const std::string& host) {
    return "GET " + uri +
           " HTTP/1.1\r\n"
           "Accept: text/plain, text/html, */*\r\n"
           "Host: " +
           host +
           "\r\n"
           "Connection: Close\r\n"
           "Cache-Control: no-cache\r\n" +
           kKeyLine + "\r\n\r\n";
}

std::string uploadBody(const char* id, const char* path, const std::string* frame,
                       const std::string& boundary) {
    std::string body;
    if (id != nullptr) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"id\"\r\n\r\n" + id +
                "\r\n";
    }
    if (path != nullptr) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"path\"\r\n\r\n" +
                path + "\r\n";
    }
    if (frame != nullptr) {
        body += "--" + boundary +
                "\r\nContent-Disposition: form-data; name=\"frame\"; filename=\"k3J9aB2c.jpg\"\r\n"
                "Content-Type: image/jpeg\r\n\r\n" +
                *frame + "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return body;
}

namespace {

std::string multipartRequest(const std::string& path, const std::string& body, int port,
                             const std::string& boundary) {
    return "POST " + path +
           " HTTP/1.1\r\n"
           "Content-Type: multipart/form-data; boundary=" +
           boundary +
           "\r\n"
           "Host: 127.0.0.1:" +
           std::to_string(port) +
           "\r\n"
           "Content-Length: " +
           std::to_string(body.size()) +
           "\r\n"
           "Connection: Close\r\n"
           "Cache-Control: no-cache\r\n" +
           kKeyLine + "\r\n\r\n" + body;
}

constexpr const char* kBoundary = "Qm8xT3zV9kL2pR7sW4nY6bC1dF5gH0jA";

} // namespace

std::string stationUpload(const char* id, const char* path, const std::string* frame, int port,
                          const std::string& boundary) {
    return multipartRequest("/webcams/Reflector", uploadBody(id, path, frame, boundary), port,
                            boundary);
}

std::string stationArchive(const std::string& id, const std::string& frame, int port) {
    return multipartRequest("/webcams/Archive",
                            uploadBody(id.c_str(), "webcams", &frame, kBoundary), port, kBoundary);
}

RelayConfig configWithClock(const std::filesystem::path& dataDir, ManualClock& clock) {
    RelayConfig config;
    config.dataDir = dataDir;
    config.clock = clock.source();
    return config;
}

Handlers::Handlers(const std::function<void(RelayConfig&)>& adjust) {
    RelayConfig config = configWithClock(dir.path(), clock);
    if (adjust) {
        adjust(config);
    }
    storage = openStorage(config);
    service = std::make_unique<Service>(config, *storage);
    service->setListenAddress("relay.example.org", 8080);
    storage->registry().enrol("cam", true, stationKeyHash(kStationKey),
                              unixMillis(clock.source()()));
}

namespace {

const std::pair<std::string, std::string> kKeyHeader{"Authorization",
                                                     std::string("Bearer ") + kStationKey};

} // namespace

HttpRequest getRequest(const std::string& target, const std::string& client) {
    return makeRequest("GET", target, {}, {kKeyHeader}, client);
}

HttpRequest formPost(const std::string& path, const std::string& body, const std::string& client) {
    return makeRequest("POST", path, body,
                       {{"Content-Type", "application/x-www-form-urlencoded"}, kKeyHeader}, client);
}

HttpRequest framePost(const std::string& path, const std::string& id, const std::string& frame) {
    return makeRequest(
        "POST", path, uploadBody(id.c_str(), "webcams", &frame, kBoundary),
        {{"Content-Type", std::string("multipart/form-data; boundary=") + kBoundary}, kKeyHeader});
}

WireAnswer get(int port, const std::string& uri) {
    return parse(rawExchange(port, stationGet(uri)).bytes);
}

WireAnswer postForm(int port, const std::string& path, const std::string& body) {
    return parse(rawExchange(port, "POST " + path +
                                       " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                       "Content-Type: application/x-www-form-urlencoded\r\n"
                                       "Content-Length: " +
                                       std::to_string(body.size()) + "\r\nConnection: Close\r\n" +
                                       kKeyLine + "\r\n\r\n" + body)
                     .bytes);
}

WireAnswer upload(int port, const std::string& id, const std::string& frame) {
    return parse(rawExchange(port, stationUpload(id.c_str(), "webcams", &frame, port)).bytes);
}

WireAnswer registerCamera(int port, const std::string& id, bool ptz) {
    return get(port,
               "/webcams/Register?id=" + id + "&path=webcams&ptz=" + (ptz ? "true" : "false"));
}

} // namespace reflector::test

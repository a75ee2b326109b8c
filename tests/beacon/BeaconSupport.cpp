#include "BeaconSupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace beacon::test {

namespace {

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

// A listening socket on 127.0.0.1 (port 0: a free one).
int Listen(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket() failed");
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = Loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1 port " + std::to_string(port));
    }
    return fd;
}

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const sockaddr_in address = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Waits up to timeoutMs for data or a close on fd; true when the fd is readable.
bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

// Reads until the peer closes or the time is up.
void ReadToClose(int fd, Reply& reply, Clock::time_point start, int timeoutMs) {
    char buffer[4096];
    while (true) {
        const int left = timeoutMs - static_cast<int>(MsSince(start));
        if (left <= 0 || !Readable(fd, left)) {
            return;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            reply.closed = true;
            reply.ms = MsSince(start);
            return;
        }
        reply.text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> FindField(const std::string& text, const std::string& name) {
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('&', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string pair = text.substr(at, end - at);
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            return equals == std::string::npos ? std::string() : pair.substr(equals + 1);
        }
        at = end + 1;
    }
    return std::nullopt;
}

} // namespace

// ---- files, waits, ports ----

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (condition()) {
            return true;
        }
        if (Clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int FreePort() {
    const int fd = Listen(0);
    const int port = BoundPort(fd);
    ::close(fd);
    return port;
}

// ---- processes ----

Process::Process(const std::vector<std::string>& argv, const std::filesystem::path& workDir,
                 const std::map<std::string, std::optional<std::string>>& env,
                 const std::filesystem::path& output) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (env.count(entry.substr(0, entry.find('='))) == 0) {
            environment.push_back(entry);
        }
    }
    for (const auto& [name, value] : env) {
        if (value) {
            environment.push_back(name + "=" + *value);
        }
    }
    std::vector<char*> envp;
    for (auto& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& a : args) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    const int rc =
        ::posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
}

Process::~Process() {
    if (!ended()) {
        ::kill(pid_, SIGKILL);
        waitEnd(10000);
    }
}

bool Process::ended(int* code) {
    if (!ended_) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }
    if (ended_ && code != nullptr) {
        *code = code_;
    }
    return ended_;
}

bool Process::waitEnd(int timeoutMs, int* code) {
    return WaitUntil([&] { return ended(code); }, timeoutMs);
}

void Process::kill(int signal) {
    if (!ended()) {
        ::kill(pid_, signal);
    }
}

ProcessFigures ReadProcessFigures(pid_t pid) {
    ProcessFigures figures;
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        const auto value = [&line] { return std::atol(line.c_str() + line.find(':') + 1); };
        if (line.rfind("VmRSS:", 0) == 0) {
            figures.rssKiB = value();
        } else if (line.rfind("VmHWM:", 0) == 0) {
            figures.hwmKiB = value();
        } else if (line.rfind("RssAnon:", 0) == 0) {
            figures.anonKiB = value();
        } else if (line.rfind("Threads:", 0) == 0) {
            figures.threads = value();
        }
    }
    // Fields 14 and 15 of /proc/<pid>/stat, counted after the command name in parentheses.
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i >= 14) {
                ticks += std::atof(field.c_str());
            }
        }
        figures.cpuMs = ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    return figures;
}

// ---- the helper ----

Helper::Helper(Options options) {
    std::map<std::string, std::optional<std::string>> env = options.env;
    env.emplace("KESTROVA_STATION_PID", std::to_string(::getpid()));
    env.emplace("KESTROVA_STATION_KEY", kStationKey);
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = options.port != 0 ? options.port : FreePort();
        process_ = std::make_unique<Process>(
            std::vector<std::string>{BEACON_JAVA, "-jar", BEACON_JAR, std::to_string(port_),
                                     options.debug ? "true" : "false"},
            dir_.path(), env, dir_.path() / "console.txt");
        const std::string ready = "Listening on 127.0.0.1 port " + std::to_string(port_);
        if (WaitUntil([&] { return log().find(ready) != std::string::npos || process_->ended(); },
                      20000) &&
            !process_->ended()) {
            return;
        }
        if (options.port != 0) {
            break; // the caller asked for this port: report, do not retry
        }
    }
    throw std::runtime_error("the helper did not start: " + log() +
                             ReadFile(dir_.path() / "console.txt"));
}

std::string Helper::log() const {
    return ReadFile(dir_.path() / "BeaconServer.log");
}

bool Helper::waitForLog(const std::string& text, int timeoutMs, int count) const {
    return WaitUntil(
        [&] {
            const std::string all = log();
            int found = 0;
            for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) {
                ++found;
            }
            return found >= count;
        },
        timeoutMs);
}

Reply SendRaw(int port, const std::string& bytes, int timeoutMs) {
    Reply reply;
    const auto start = Clock::now();
    const int fd = Connect(port);
    if (fd < 0) {
        return reply;
    }
    if (SendAll(fd, bytes)) {
        ReadToClose(fd, reply, start, timeoutMs);
    } else {
        reply.closed = true;
    }
    ::close(fd);
    return reply;
}

Reply Ask(int port, const std::string& request, const std::optional<std::string>& parameter,
          int timeoutMs) {
    Reply reply;
    const auto start = Clock::now();
    const int fd = Connect(port);
    if (fd < 0) {
        return reply;
    }
    if (SendAll(fd, request + "\r\n") && (!parameter || SendAll(fd, *parameter + "\r\n"))) {
        ReadToClose(fd, reply, start, timeoutMs);
    } else {
        reply.closed = true;
    }
    ::close(fd);
    return reply;
}

OpenConnection::OpenConnection(int port) : fd_(Connect(port)) {
    if (fd_ < 0) {
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
}

OpenConnection::~OpenConnection() {
    ::close(fd_);
}

bool OpenConnection::waitClosed(int timeoutMs) {
    Reply reply;
    ReadToClose(fd_, reply, Clock::now(), timeoutMs);
    return reply.closed;
}

// ---- fake PTZ listener ----

FakePtzListener::FakePtzListener() : fd_(Listen(0)) {
    port_ = BoundPort(fd_);
    thread_ = std::thread([this] { run(); });
}

FakePtzListener::~FakePtzListener() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    thread_.join();
    ::close(fd_);
}

void FakePtzListener::run() {
    while (true) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) {
                return;
            }
        }
        if (!Readable(fd_, 20)) {
            continue;
        }
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        // One block of data is one packet, as the station's listener reads it.
        char buffer[4096];
        if (Readable(client, 5000)) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n > 0) {
                {
                    std::lock_guard lock(mutex_);
                    packets_.push_back(
                        {std::string(buffer, static_cast<std::size_t>(n)), Clock::now()});
                }
                changed_.notify_all();
                SendAll(client, "OK\r\n");
            }
        }
        ::close(client);
    }
}

std::vector<FakePtzListener::Packet> FakePtzListener::packets() const {
    std::lock_guard lock(mutex_);
    return packets_;
}

std::vector<std::string> FakePtzListener::texts() const {
    std::vector<std::string> texts;
    for (const auto& p : packets()) {
        texts.push_back(p.text);
    }
    return texts;
}

bool FakePtzListener::waitForPackets(std::size_t count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return packets_.size() >= count; });
}

// ---- fake HTTP host ----

std::optional<std::string> HttpRequest::field(const std::string& name) const {
    return FindField(body, name);
}

std::optional<std::string> HttpRequest::query(const std::string& name) const {
    const auto mark = target.find('?');
    return mark == std::string::npos ? std::nullopt : FindField(target.substr(mark + 1), name);
}

FakeHttpHost::FakeHttpHost(Handler handler, int port)
    : handler_(std::move(handler)), fd_(Listen(port)) {
    port_ = BoundPort(fd_);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

FakeHttpHost::~FakeHttpHost() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    acceptThread_.join();
    for (auto& worker : workers_) {
        worker.join();
    }
    ::close(fd_);
}

bool FakeHttpHost::pause(int ms) const {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void FakeHttpHost::acceptLoop() {
    while (pause(0)) {
        if (!Readable(fd_, 20)) {
            continue;
        }
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            workers_.emplace_back([this, client] { serve(client); });
        }
    }
}

void FakeHttpHost::serve(int fd) {
    std::string data;
    char buffer[4096];
    const auto start = Clock::now();
    std::size_t headEnd = std::string::npos;
    std::size_t length = 0;
    while (MsSince(start) < 10000 && pause(0)) {
        if (headEnd != std::string::npos && data.size() >= headEnd + 4 + length) {
            break;
        }
        if (!Readable(fd, 20)) {
            continue;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            ::close(fd);
            return;
        }
        data.append(buffer, static_cast<std::size_t>(n));
        if (headEnd == std::string::npos &&
            (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
            std::string lower = data.substr(0, headEnd);
            for (char& c : lower) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            const auto at = lower.find("content-length:");
            length = at == std::string::npos ? 0 : std::stoul(lower.substr(at + 15));
        }
    }
    if (headEnd == std::string::npos || data.size() < headEnd + 4 + length) {
        ::close(fd);
        return;
    }
    HttpRequest request;
    const std::size_t lineEnd = data.find("\r\n");
    std::istringstream line(data.substr(0, lineEnd));
    line >> request.method >> request.target;
    for (std::size_t at = lineEnd + 2; at < headEnd + 2;) {
        const std::size_t end = data.find("\r\n", at);
        request.headers.push_back(data.substr(at, end - at));
        at = end + 2;
    }
    request.body = data.substr(headEnd + 4, length);
    request.at = Clock::now();
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    changed_.notify_all();
    const HttpReply reply = handler_(request);
    if (reply.hang) {
        while (pause(1000)) {
        }
    } else if (reply.delayMs == 0 || pause(reply.delayMs)) {
        SendAll(fd, "HTTP/1.1 " + std::to_string(reply.status) +
                        " X\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                        std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" +
                        reply.body);
    }
    ::close(fd);
}

std::vector<HttpRequest> FakeHttpHost::requests(const std::string& path) const {
    std::lock_guard lock(mutex_);
    std::vector<HttpRequest> found;
    for (const auto& r : requests_) {
        if (path.empty() || r.path() == path) {
            found.push_back(r);
        }
    }
    return found;
}

bool FakeHttpHost::waitForRequests(const std::string& path, std::size_t count,
                                   int timeoutMs) const {
    return WaitUntil([&] { return requests(path).size() >= count; }, timeoutMs);
}

HttpResult HttpCall(int port, const std::string& method, const std::string& target,
                    const std::string& form, int timeoutMs, bool keyed) {
    std::string request = method + " " + target +
                          " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nConnection: close\r\n";
    if (keyed) {
        request += std::string("Authorization: Bearer ") + kStationKey + "\r\n";
    }
    if (method == "POST") {
        request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   std::to_string(form.size()) + "\r\n";
    }
    request += "\r\n" + form;
    const Reply reply = SendRaw(port, request, timeoutMs);
    HttpResult result;
    const auto headEnd = reply.text.find("\r\n\r\n");
    if (reply.text.rfind("HTTP/1.", 0) != 0 || headEnd == std::string::npos) {
        return result;
    }
    result.status = std::atoi(reply.text.c_str() + 9);
    result.body = reply.text.substr(headEnd + 4);
    return result;
}

// ---- the relay ----

Reflector::Reflector() {
    const auto output = dir_.path() / "reflector.txt";
    // BEACON_TEST_REFLECTOR runs another build of the relay.
    const char* other = std::getenv("BEACON_TEST_REFLECTOR");
    const std::string program = other != nullptr && *other != '\0' ? other : REFLECTOR_PROGRAM;
    process_ = std::make_unique<Process>(
        std::vector<std::string>{program, "--host", "127.0.0.1", "--port", "0", "--data",
                                 (dir_.path() / "data").string()},
        dir_.path(), std::map<std::string, std::optional<std::string>>{}, output);
    const std::string marker = "listening on 127.0.0.1 port ";
    std::string text;
    if (!WaitUntil(
            [&] {
                text = ReadFile(output);
                return text.find(marker) != std::string::npos || process_->ended();
            },
            10000) ||
        text.find(marker) == std::string::npos) {
        throw std::runtime_error("the relay did not start: " + text);
    }
    port_ = std::atoi(text.c_str() + text.find(marker) + marker.size());
}

bool Reflector::registerCamera(const std::string& id) {
    return HttpCall(port_, "GET", "/webcams/Register?id=" + id + "&path=webcams&ptz=true", "",
                    30000, true)
               .body == "User Registered Successfully.";
}

bool Reflector::hasHelperRoutes(const std::string& registeredId) {
    return HttpCall(port_, "GET", "/webcams/MoveRouterProxy?id=" + registeredId, "", 30000, true)
                   .status == 200 &&
           HttpCall(port_, "GET", "/live/check?id=" + registeredId).status == 200;
}

std::string ListingDataString(const std::string& listingHost, int relayPort, const std::string& id,
                              const std::string& encodedName, const std::string& email) {
    return listingHost + "&127.0.0.1&" + std::to_string(relayPort) + "&&webcams&" + encodedName +
           "&" + email + "&1&1&0&" + id + "&1&0&0";
}

std::string RelayParameterLine(int relayPort, const std::string& route, const std::string& id,
                               int listenerPort) {
    return "http://127.0.0.1:" + std::to_string(relayPort) + "/webcams/" + route + "?id=" + id +
           ";" + std::to_string(listenerPort);
}

} // namespace beacon::test

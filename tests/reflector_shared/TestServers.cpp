#include "reflector_shared/TestServers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <random>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace reflector::test {

namespace {

using namespace std::chrono_literals;

// A port that was free a moment ago.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string randomPassword() {
    static const char letters[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::random_device random;
    std::string password;
    for (int i = 0; i < 24; ++i) {
        password += letters[random() % (sizeof(letters) - 1)];
    }
    return password;
}

// The user the servers run as: nobody when we are root, ourselves otherwise.
const passwd* serverUser() {
    return ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
}

} // namespace

ServerProcess::Folder::Folder() {
    const std::filesystem::path shm = "/dev/shm";
    const std::filesystem::path base =
        ::access(shm.c_str(), W_OK | X_OK) == 0 ? shm : std::filesystem::temp_directory_path();
    // The folders of test processes that died without cleaning up (their servers went with
    // them) would hold memory until the next boot: each folder names its process.
    const std::string prefix = "kestrova-server-";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(base, ignored)) {
        const std::string name = entry.path().filename().string();
        const long owner = name.rfind(prefix, 0) == 0 ? std::atol(name.c_str() + prefix.size()) : 0;
        if (owner > 0 && ::kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH) {
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }
    std::string pattern = (base / (prefix + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a folder in " + base.string());
    }
    path_ = pattern;
}

ServerProcess::Folder::~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ServerProcess::ServerProcess() : password_(randomPassword()) {
    log_ = (dir_.path() / "server.log").string();
    if (const passwd* user = serverUser()) {
        ::chown(dir_.path().c_str(), user->pw_uid, user->pw_gid);
    }
}

ServerProcess::~ServerProcess() {
    stop();
}

void ServerProcess::run(const std::vector<std::string>& args, bool background) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const passwd* user = serverUser();
    const int log = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const std::string folder = dir_.path().string();
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::setsid();
        // A folder the server's user may read (the tests' own may be closed to it).
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        if (user != nullptr && (::setgroups(0, nullptr) != 0 || ::setgid(user->pw_gid) != 0 ||
                                ::setuid(user->pw_uid) != 0)) {
            ::_exit(126);
        }
        // A test process that dies takes its servers along (set after the change of user,
        // which clears it).
        if (background && (::prctl(PR_SET_PDEATHSIG, stopSignal_) != 0 || ::getppid() != parent)) {
            ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(log);
    if (pid < 0) {
        throw std::runtime_error("cannot start " + args[0]);
    }
    if (background) {
        pid_ = pid;
        return;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(args[0] + " failed: " + logTail());
    }
}

std::string ServerProcess::logTail() const {
    std::ifstream in(log_);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

void ServerProcess::start() {
    run(command(), true);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!accepting()) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the server ended at start: " + logTail());
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("the server did not accept connections within 30 s: " +
                                     logTail());
        }
        std::this_thread::sleep_for(10ms);
    }
}

void ServerProcess::startOnFreePort() {
    for (int attempt = 1;; ++attempt) {
        port_ = freePort();
        try {
            start();
            return;
        } catch (const std::runtime_error&) {
            // Another test may have taken the port in between.
            if (attempt == 3) {
                throw;
            }
        }
    }
}

void ServerProcess::stop() {
    if (pid_ < 0) {
        return;
    }
    ::kill(pid_, stopSignal_);
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
}

PostgresServer::PostgresServer() {
    // Fast shutdown: sessions are ended, then the server; on the test's death, at once.
    stopSignal_ = SIGINT;
    // initdb takes seconds: the first server of the machine (per user) leaves a template
    // cluster in the temporary folder, which later servers copy. The template appears whole or
    // not at all (copied beside it, then renamed into place); one that cannot be copied (gone
    // meanwhile) is done without.
    const passwd* user = serverUser();
    const std::filesystem::path data = dir_.path() / "data";
    const std::filesystem::path model =
        std::filesystem::temp_directory_path() /
        ("kestrova-pg15-template-v1-" +
         std::to_string(user != nullptr ? user->pw_uid : ::geteuid()));
    std::error_code ignored;
    bool copied = false;
    if (std::filesystem::exists(model / "kestrova-password")) {
        try {
            run({"/bin/cp", "-a", model.string(), data.string()}, false);
            copied = true;
        } catch (const std::runtime_error&) {
            std::filesystem::remove_all(data, ignored);
        }
    }
    if (!copied) {
        const std::string passwordFile = (dir_.path() / "password").string();
        std::ofstream(passwordFile) << password_ << "\n";
        if (user != nullptr) {
            ::chown(passwordFile.c_str(), user->pw_uid, user->pw_gid);
        }
        run({"/usr/lib/postgresql/15/bin/initdb", "-D", data.string(), "-U", "kestrova",
             "--pwfile=" + passwordFile, "-A", "scram-sha-256", "--no-locale", "-E", "UTF8",
             "--no-sync", "--no-instructions"},
            false);
        std::filesystem::copy_file(passwordFile, data / "kestrova-password");
        const std::filesystem::path aside = model.string() + "-" + std::to_string(::getpid());
        try {
            run({"/bin/cp", "-a", data.string(), aside.string()}, false);
            // Another test's template may be there first: this copy then goes.
            std::filesystem::rename(aside, model, ignored);
        } catch (const std::runtime_error&) {
        }
        std::filesystem::remove_all(aside, ignored);
    }
    std::ifstream(data / "kestrova-password") >> password_;
    startOnFreePort();
    url_ =
        "postgresql://kestrova:" + password_ + "@127.0.0.1:" + std::to_string(port_) + "/postgres";
}

std::vector<std::string> PostgresServer::command() const {
    // No durability needed: fsync and its kin off for speed.
    return {"/usr/lib/postgresql/15/bin/postgres",
            "-D",
            (dir_.path() / "data").string(),
            "-p",
            std::to_string(port_),
            "-h",
            "127.0.0.1",
            "-k",
            dir_.path().string(),
            "-c",
            "fsync=off",
            "-c",
            "synchronous_commit=off",
            "-c",
            "full_page_writes=off",
            "-c",
            "shared_buffers=16MB",
            "-c",
            "max_connections=50"};
}

bool PostgresServer::accepting() const {
    const std::string where =
        "host=127.0.0.1 connect_timeout=2 dbname=postgres port=" + std::to_string(port_);
    return PQping(where.c_str()) == PQPING_OK;
}

RedisServer::RedisServer() {
    stopSignal_ = SIGTERM;
    startOnFreePort();
    url_ = "redis://:" + password_ + "@127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> RedisServer::command() const {
    return {"/usr/bin/redis-server",
            "--port",
            std::to_string(port_),
            "--bind",
            "127.0.0.1",
            "--save",
            "",
            "--appendonly",
            "no",
            "--dir",
            dir_.path().string(),
            "--requirepass",
            password_,
            "--loglevel",
            "warning"};
}

bool RedisServer::accepting() const {
    // Any answer but LOADING (NOAUTH included) means it serves.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    char answer[64] = {};
    const timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    const bool answered =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(fd, "PING\r\n", 6, MSG_NOSIGNAL) == 6 &&
        ::recv(fd, answer, sizeof(answer) - 1, 0) > 0;
    ::close(fd);
    return answered && std::string(answer).rfind("-LOADING", 0) != 0;
}

SilentServer::SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
}

SilentServer::~SilentServer() {
    ::close(fd_);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::chrono::milliseconds timed(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

} // namespace reflector::test

// Throwaway PostgreSQL and Redis servers for the tests of the relay's shared stores: each on a
// free port of 127.0.0.1 with its files in a folder of its own, never the machine's own
// services. Run as the user nobody when the tests run as root (initdb refuses root); ended
// with the test, and with the test process should it die.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace reflector::test {

// A server process: started by start() on the same port and data every time, stopped by
// stop() or the destructor.
class ServerProcess {
  public:
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    int port() const { return port_; }
    const std::string& password() const { return password_; }
    const std::string& url() const { return url_; }
    void start();
    void stop();

  protected:
    ServerProcess();
    virtual ~ServerProcess();
    // Runs the server in the foreground, its output appended to `log` in the folder.
    virtual std::vector<std::string> command() const = 0;
    virtual bool accepting() const = 0;
    // The first start, on a fresh port until one is not taken meanwhile.
    void startOnFreePort();
    void run(const std::vector<std::string>& args, bool background);
    std::string logTail() const;

    // The server's folder: in /dev/shm when there is one (the servers write a lot and keep
    // nothing), else in the temporary folder; removed with its contents.
    struct Folder {
        Folder();
        ~Folder();
        const std::filesystem::path& path() const { return path_; }
        std::filesystem::path path_;
    } dir_;
    int port_ = 0;
    std::string password_;
    std::string url_;
    std::string log_;
    int stopSignal_ = 0;
    pid_t pid_ = -1;
};

// PostgreSQL 15 (Debian's binaries), its superuser "kestrova" with a random password; the URL
// names the database "postgres". Its cluster is a copy of a template that the first server
// makes with initdb (kestrova-pg15-template-v1-UID in the temporary folder, kept for later runs).
class PostgresServer : public ServerProcess {
  public:
    PostgresServer();

  private:
    std::vector<std::string> command() const override;
    bool accepting() const override;
};

// redis-server without persistence, with a random password (requirepass).
class RedisServer : public ServerProcess {
  public:
    RedisServer();

  private:
    std::vector<std::string> command() const override;
    bool accepting() const override;
};

// A port of 127.0.0.1 that takes connections and never answers.
class SilentServer {
  public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// Polls `condition` every millisecond for at most `limit`; true once it holds.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

// How long `work` took.
std::chrono::milliseconds timed(const std::function<void()>& work);

} // namespace reflector::test

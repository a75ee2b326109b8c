// Helpers for running the posting helper (BeaconServer.jar on the program folder's runtime) and
// the relay as real processes, and small fakes of the station's PTZ listener and of remote HTTP
// hosts. Shared by the helper's tests and its benchmark; no test framework needed.
#pragma once

#include "common/TempDir.h"
#include "support/RefusingPort.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace beacon::test {

using Clock = std::chrono::steady_clock;

using kestrova::test::RefusingPort;
using kestrova::test::TempDir;

std::string ReadFile(const std::filesystem::path& path);

// Polls `condition` every 10 ms until it holds or `timeoutMs` pass; its last result.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// A port on 127.0.0.1 that was free a moment ago.
int FreePort();

// A child process whose standard output and error go to a file; killed when still running at
// destruction.
class Process {
  public:
    Process(const std::vector<std::string>& argv, const std::filesystem::path& workDir,
            const std::map<std::string, std::optional<std::string>>& env,
            const std::filesystem::path& output);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    // Whether the process has ended; its exit code (or -1 after a signal) in `code`.
    bool ended(int* code = nullptr);
    // Waits up to timeoutMs for the end.
    bool waitEnd(int timeoutMs, int* code = nullptr);
    void kill(int signal);

  private:
    pid_t pid_ = -1;
    bool ended_ = false;
    int code_ = 0;
};

// Process figures from /proc.
struct ProcessFigures {
    long rssKiB = 0;  // VmRSS
    long hwmKiB = 0;  // VmHWM, the peak
    long anonKiB = 0; // RssAnon: the process's own memory (the rest is shared file pages)
    long threads = 0; // Threads
    double cpuMs = 0; // utime + stime
};
ProcessFigures ReadProcessFigures(pid_t pid);

// The station key the tests' helpers are given and their cameras are registered with.
constexpr const char* kStationKey = "Be4con-test-station-key_0123456789abcdefghi";

// The helper started as the station starts it: <java> -jar BeaconServer.jar <port> <debug>, in
// a fresh working folder (its data folder). Unless the environment given says otherwise,
// KESTROVA_STATION_PID is the test's own pid, so the helper does not end by itself, and
// KESTROVA_STATION_KEY is kStationKey.
class Helper {
  public:
    struct Options {
        bool debug = true;
        std::map<std::string, std::optional<std::string>> env;
        int port = 0; // 0: a free port
    };
    Helper() : Helper(Options{}) {}
    explicit Helper(Options options);

    int port() const { return port_; }
    const std::filesystem::path& dir() const { return dir_.path(); }
    Process& process() { return *process_; }
    std::string log() const;
    // Waits until the log holds `text` (`count` times).
    bool waitForLog(const std::string& text, int timeoutMs = 10000, int count = 1) const;

  private:
    TempDir dir_;
    int port_ = 0;
    std::unique_ptr<Process> process_;
};

// What came back on one connection to the helper.
struct Reply {
    std::string text;
    bool closed = false; // the helper closed the connection (end of file or reset)
    double ms = 0;       // from the connect to the close
};

// One request as the station sends it: the request line and CR LF, then, when given, the
// parameter line and CR LF in a second send; then reads until the helper closes the connection
// (at most timeoutMs).
Reply Ask(int port, const std::string& request,
          const std::optional<std::string>& parameter = std::nullopt, int timeoutMs = 15000);
// Sends bytes as they are and reads until the close (at most timeoutMs).
Reply SendRaw(int port, const std::string& bytes, int timeoutMs = 15000);

// A connection that is opened and kept open, sending nothing unless told.
class OpenConnection {
  public:
    explicit OpenConnection(int port);
    ~OpenConnection();
    OpenConnection(const OpenConnection&) = delete;
    OpenConnection& operator=(const OpenConnection&) = delete;
    // Waits up to timeoutMs for the peer's close; true when it closed.
    bool waitClosed(int timeoutMs);

  private:
    int fd_ = -1;
};

// The station's PTZ listener: 127.0.0.1 on a free port; each connection carries one packet
// (one block of data), is answered "OK" CR LF and closed.
class FakePtzListener {
  public:
    struct Packet {
        std::string text;
        Clock::time_point at;
    };
    FakePtzListener();
    ~FakePtzListener();
    FakePtzListener(const FakePtzListener&) = delete;
    FakePtzListener& operator=(const FakePtzListener&) = delete;
    int port() const { return port_; }
    std::vector<Packet> packets() const;
    std::vector<std::string> texts() const;
    bool waitForPackets(std::size_t count, int timeoutMs) const;

  private:
    void run();
    int fd_ = -1;
    int port_ = 0;
    bool stop_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Packet> packets_;
    std::thread thread_;
};

// A small HTTP/1.1 server on 127.0.0.1 standing in for a listing host or a relay: each request
// is recorded, answered by the handler and its connection closed.
struct HttpRequest {
    std::string method;
    std::string target;
    std::vector<std::string> headers; // the header lines, in order, without their CR LF
    std::string body;
    Clock::time_point at;
    // A form field of the body, or a query parameter of the target, percent-decoding left out.
    std::optional<std::string> field(const std::string& name) const;
    std::optional<std::string> query(const std::string& name) const;
    std::string path() const { return target.substr(0, target.find('?')); }
};
struct HttpReply {
    int status = 200;
    std::string body;
    int delayMs = 0;   // hold the answer this long
    bool hang = false; // never answer (until the server is destroyed)
};
class FakeHttpHost {
  public:
    using Handler = std::function<HttpReply(const HttpRequest&)>;
    // port 0: a free port.
    explicit FakeHttpHost(Handler handler, int port = 0);
    ~FakeHttpHost();
    FakeHttpHost(const FakeHttpHost&) = delete;
    FakeHttpHost& operator=(const FakeHttpHost&) = delete;
    int port() const { return port_; }
    // The requests whose path is `path` (all requests when empty), in arrival order.
    std::vector<HttpRequest> requests(const std::string& path = "") const;
    bool waitForRequests(const std::string& path, std::size_t count, int timeoutMs) const;

  private:
    void acceptLoop();
    void serve(int fd);
    bool pause(int ms) const; // false when stopping
    Handler handler_;
    int fd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stop_ = false;
    std::vector<HttpRequest> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptThread_;
};

// An HTTP exchange with a host on 127.0.0.1 (status 0 when it failed); `keyed`: with the
// station key, as the station sends it.
struct HttpResult {
    int status = 0;
    std::string body;
};
HttpResult HttpCall(int port, const std::string& method, const std::string& target,
                    const std::string& form = "", int timeoutMs = 30000, bool keyed = false);

// The relay program (build/station/reflector, or the one BEACON_TEST_REFLECTOR names) on
// 127.0.0.1 and a port of its choice, with a fresh data folder.
class Reflector {
  public:
    Reflector();
    int port() const { return port_; }
    // Registers a motorised camera with kStationKey; true on success.
    bool registerCamera(const std::string& id);
    // Whether this relay serves the move queue, the visitor status and the live listing.
    bool hasHelperRoutes(const std::string& registeredId);

  private:
    TempDir dir_;
    int port_ = 0;
    std::unique_ptr<Process> process_;
};

// A listing data string as the station builds it.
std::string ListingDataString(const std::string& listingHost, int relayPort, const std::string& id,
                              const std::string& encodedName = "My%20Cam",
                              const std::string& email = " ");
// A relay parameter line as the station builds it.
std::string RelayParameterLine(int relayPort, const std::string& route, const std::string& id,
                               int listenerPort);

} // namespace beacon::test

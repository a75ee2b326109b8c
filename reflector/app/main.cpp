// reflector: the self-hostable relay of the Kestrova webcam station.

#include "app/ConfigFile.h"
#include "app/Options.h"
#include "app/Relay.h"
#include "app/RelayVersion.h"
#include "core/GatheredLog.h"
#include "core/PasswordHash.h"
#include "stores/shared/ConnectionUrl.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::mutex outputMutex;
// Standard error once the relay serves: its own lines and the request log in their order.
reflector::GatheredLog* errorLog = nullptr;

void printLine(std::FILE* stream, const std::string& line) {
    if (stream == stderr && errorLog != nullptr) {
        errorLog->now(line);
        return;
    }
    std::lock_guard lock(outputMutex);
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Raises the limit of open files to the most the system allows, and returns it: every
// connection takes one.
std::size_t raiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? 1u << 20 : static_cast<std::size_t>(limit.rlim_cur);
}

} // namespace

int main(int argc, char** argv) {
    const std::string program = "reflector";
    const std::vector<std::string> commandLine(argv + (argc > 0 ? 1 : 0), argv + argc);
    for (const std::string& arg : commandLine) {
        if (arg == "--version") {
            std::printf("%s %s\n", program.c_str(), reflector::kVersion);
            return 0;
        }
    }
    // --config FILE: the file's options first, so that those of the command line win.
    const reflector::ConfigArguments args = reflector::withConfigFile(commandLine);
    if (!args.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), args.error.c_str());
        return 2;
    }
    const auto parsed = reflector::parseOptions(
        args.args, reflector::defaultDataDir(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\n\n%s", program.c_str(), parsed.error.c_str(),
                     reflector::usageText(program).c_str());
        return 2;
    }
    if (parsed.help) {
        std::fputs(reflector::usageText(program).c_str(), stdout);
        return 0;
    }
    // The log goes to standard error, where a service manager's journal takes it.
    printLine(stderr, program + " " + reflector::kVersion);

    // A client that goes away mid-answer must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Frames and request bodies are large blocks that come and go: give each its own mapping,
    // so that memory goes back to the system when they do, instead of fragmenting the heap.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_ARENA_MAX, 4);
    // SIGINT and SIGTERM are taken by the watcher thread below; block them before any other
    // thread exists so that every thread inherits the mask. SIGUSR1 only wakes the watcher.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    // The request log's lines are gathered for a tenth of a second and written together: a
    // busy relay makes no system call per request for its log.
    reflector::GatheredLog gathered(STDERR_FILENO);
    errorLog = &gathered;
    struct Forget {
        ~Forget() { errorLog = nullptr; }
    } forget;
    reflector::RelayConfig config = parsed.config;
    config.requestLog = [&gathered](const std::string& line) { gathered.add(line); };
    if (!config.adminPasswordFile.empty()) {
        std::ifstream file(config.adminPasswordFile);
        std::string line;
        if (!file || !std::getline(file, line)) {
            printLine(stderr, program + ": cannot read the administrator's password from " +
                                  config.adminPasswordFile.string());
            return 1;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            printLine(stderr, program + ": the administrator's password in " +
                                  config.adminPasswordFile.string() + " is empty");
            return 1;
        }
        try {
            config.adminPasswordHash =
                line.rfind("$argon2id$", 0) == 0 ? line : reflector::hashPassword(line);
        } catch (const std::exception& e) {
            printLine(stderr, program + ": " + e.what());
            return 1;
        }
    }

    // Files for the database, frames and the listening socket besides the connections.
    const std::size_t openFiles = raiseOpenFileLimit();
    if (openFiles < config.transport.maxConnections + 64) {
        config.transport.maxConnections = openFiles > 128 ? openFiles - 64 : 64;
        printLine(stderr, program + ": warning: the system allows " + std::to_string(openFiles) +
                              " open files; taking at most " +
                              std::to_string(config.transport.maxConnections) + " connections");
    }

    // A data folder that cannot be written (a read-only or full disk) still serves what it
    // holds (the storage says so when it opens): a relay that would not start is restarted by
    // its service manager over and over, and nobody sees even the pictures it has.
    std::unique_ptr<reflector::Relay> relay;
    try {
        relay = std::make_unique<reflector::Relay>(config);
    } catch (const std::exception& e) {
        printLine(stderr,
                  program + ": cannot use " +
                      (config.database.empty() ? "the data folder " + config.dataDir.string()
                                               : std::string("the shared stores")) +
                      ": " + e.what());
        return 1;
    }
    errno = 0;
    const int port = relay->bind(config.host, config.port);
    if (port < 0) {
        const std::string reason = errno != 0 ? std::string(" (") + std::strerror(errno) + ")" : "";
        printLine(stderr, program + ": cannot listen on " + config.host + " port " +
                              std::to_string(config.port) + reason);
        return 1;
    }
    if (port > 32767) {
        printLine(stderr, program +
                              ": warning: the station reads the relay port as a number "
                              "up to 32767; port " +
                              std::to_string(port) + " will not work for it");
    }

    std::thread watcher([&relay, &signals, &program] {
        int signal = 0;
        while (sigwait(&signals, &signal) == 0) {
            if (signal == SIGINT || signal == SIGTERM) {
                printLine(stderr, program + (signal == SIGINT ? ": interrupted" : ": terminated") +
                                      ", stopping");
                relay->stop();
            }
            return;
        }
    });

    std::string stores = "data folder " + config.dataDir.string();
    if (!config.database.empty()) {
        std::string redis = "(unreadable URL)";
        try {
            redis = reflector::parseRedisUrl(config.redis).shown();
        } catch (const std::exception&) {
        }
        stores = "database " + reflector::postgresUrlShown(config.database) + ", Redis " + redis;
    }
    printLine(stderr, program + ": listening on " + config.host + " port " + std::to_string(port) +
                          ", " + stores);
    const bool ok = relay->run();
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    printLine(stderr, program + (ok ? ": stopped" : ": the server failed"));
    return ok ? 0 : 1;
}

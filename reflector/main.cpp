// reflector: the self-hostable relay of the Kestrova webcam station.

#include "Options.h"
#include "Relay.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex outputMutex;

void printLine(std::FILE* stream, const std::string& line) {
    std::lock_guard lock(outputMutex);
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char** argv) {
    const std::string program = "reflector";
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto parsed = reflector::parseOptions(
        args, reflector::defaultDataDir(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\n\n%s", program.c_str(), parsed.error.c_str(),
                     reflector::usageText(program).c_str());
        return 2;
    }
    const reflector::Options& options = parsed.options;
    if (options.help) {
        std::fputs(reflector::usageText(program).c_str(), stdout);
        return 0;
    }

    // A client that goes away mid-answer must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGINT and SIGTERM are taken by the watcher thread below; block them before any other
    // thread exists so that every thread inherits the mask. SIGUSR1 only wakes the watcher.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    reflector::RelayConfig config;
    config.dataDir = options.dataDir;
    config.publicHost = options.publicHost;
    config.maxCameras = options.maxCameras;
    config.maxConnectionsPerAddress = options.maxPerAddress;
    config.maxLongPolls = options.maxLongPolls;
    config.commandTimeToLive = std::chrono::seconds(options.commandTtl);
    config.visitorWindow = std::chrono::seconds(options.visitorWindow);
    config.listingTimeToLive = std::chrono::seconds(options.listingTtl);
    config.archiveMaxFrames = options.archiveMaxFrames;
    config.archiveMaxDays = options.archiveMaxDays;
    config.requestLog = [](const std::string& line) { printLine(stdout, line); };

    std::unique_ptr<reflector::Relay> relay;
    try {
        relay = std::make_unique<reflector::Relay>(config);
    } catch (const std::exception& e) {
        printLine(stderr, program + ": cannot use the data folder " + options.dataDir.string() +
                              ": " + e.what());
        return 1;
    }
    errno = 0;
    const int port = relay->bind(options.host, options.port);
    if (port < 0) {
        const std::string reason = errno != 0 ? std::string(" (") + std::strerror(errno) + ")" : "";
        printLine(stderr, program + ": cannot listen on " + options.host + " port " +
                              std::to_string(options.port) + reason);
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
                printLine(stdout, program + (signal == SIGINT ? ": interrupted" : ": terminated") +
                                      ", stopping");
                relay->stop();
            }
            return;
        }
    });

    printLine(stdout, program + ": listening on " + options.host + " port " + std::to_string(port) +
                          ", data folder " + options.dataDir.string());
    const bool ok = relay->run();
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    printLine(stdout, program + (ok ? ": stopped" : ": the server failed"));
    return ok ? 0 : 1;
}

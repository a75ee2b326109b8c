#include "app/Relay.h"

#include "app/OpenStorage.h"
#include "routes/Answers.h"
#include "routes/Service.h"
#include "transport/Transport.h"

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

namespace reflector {

namespace {

// The time of now in UTC ("2026-12-07T10:40:55Z"), made once a second per thread.
const std::string& utcNow() {
    thread_local std::time_t made = 0;
    thread_local std::string text;
    const std::time_t now = std::time(nullptr);
    if (now != made) {
        std::tm parts{};
        gmtime_r(&now, &parts);
        char buffer[32];
        std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
        text = buffer;
        made = now;
    }
    return text;
}

} // namespace

struct Relay::Impl {
    explicit Impl(RelayConfig config)
        : log(config.requestLog), storage(openStorage(config)), service(config, *storage),
          transport(config.transport, hooks()) {
        upkeepThread = std::thread([this] {
            std::unique_lock lock(upkeepMutex);
            while (!upkeepStop.wait_for(lock, std::chrono::hours(1), [this] { return stopping; })) {
                lock.unlock();
                service.upkeep();
                lock.lock();
            }
        });
    }

    ~Impl() { stopUpkeep(); }

    void stopUpkeep() {
        {
            std::lock_guard lock(upkeepMutex);
            if (stopping) {
                return;
            }
            stopping = true;
        }
        upkeepStop.notify_all();
        upkeepThread.join();
        service.upkeep();
    }

    TransportHooks hooks() {
        TransportHooks h;
        h.handle = [this](const HttpRequest& request) { return service.handle(request); };
        h.quick = [this](const HttpRequest& request) { return service.quick(request); };
        h.refuse = refusalFor;
        h.busy = busyAnswer();
        h.full = fullAnswer();
        h.answered = [this](const std::string& address, const std::string& method,
                            const std::string& path, int status, std::size_t bytes) {
            if (!log) {
                return;
            }
            thread_local std::string line;
            line.clear();
            line += utcNow();
            line += ' ';
            appendLoggable(line, address);
            line += ' ';
            appendLoggable(line, method);
            line += ' ';
            appendLoggable(line, path);
            line += ' ';
            line += std::to_string(status);
            line += ' ';
            line += std::to_string(bytes);
            log(line);
        };
        return h;
    }

    std::function<void(const std::string&)> log;
    std::unique_ptr<Storage> storage;
    Service service;
    // Last, so that it goes first: its destructor waits for the requests in progress, which
    // use the service and the storage.
    Transport transport;
    int port = -1;
    // The hourly upkeep of the service.
    std::mutex upkeepMutex;
    std::condition_variable upkeepStop;
    bool stopping = false;
    std::thread upkeepThread;
};

Relay::Relay(RelayConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}

Relay::~Relay() {
    stop();
}

int Relay::bind(const std::string& host, int port) {
    impl_->port = impl_->transport.bind(host, port);
    impl_->service.setListenAddress(host, impl_->port);
    return impl_->port;
}

bool Relay::run() {
    return impl_->transport.run();
}

void Relay::waitUntilReady() {
    impl_->transport.waitUntilReady();
}

void Relay::stop() {
    // Held long polls answer at once, so that the requests in progress end soon.
    impl_->service.shutdown();
    impl_->transport.stop();
}

int Relay::port() const {
    return impl_->port;
}

std::size_t Relay::heldRequests() const {
    return impl_->service.heldRequests();
}

std::size_t Relay::openStreams() const {
    return impl_->service.openStreams();
}

std::size_t Relay::connections() const {
    return impl_->transport.connections();
}

} // namespace reflector

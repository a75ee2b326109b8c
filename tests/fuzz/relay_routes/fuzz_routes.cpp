// libFuzzer entry for the relay's routes: each input is one request handed to the relay's
// service over an embedded storage in a temporary folder, as the transport hands it over. The
// input is written like a request with bare line ends:
//
//   METHOD TARGET [CLIENT ADDRESS]
//   Name: value
//   ...
//   (blank line)
//   body
//
// The storage lives for the whole run, so that one input registers a camera, a later one
// uploads its picture and the next one views it; the camera "cam" is registered from the start,
// bound to the station key of the seeds. An answer that waits for an event is asked for at once
// and then given its deadline; a live stream is asked for its first pieces. The same entry runs
// in the ordinary test suite over the seed corpus and generated inputs (../replay_test.cpp).
//
// Besides staying inside its input and never throwing, the service must keep these properties;
// a violation traps.
//  - Every answer has a status from 100 to 599; an error status never comes with an empty
//    text body.
//  - No answer sets a header with a line end in its name or value.
#include "app/OpenStorage.h"
#include "core/Http.h"
#include "core/StationKey.h"
#include "routes/Service.h"
#include "stores/Storage.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace {

using namespace reflector;

constexpr const char* kStationKey = "T3st-K3y_of-the-station_0123456789abcdefghi";

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

struct Relay {
    Relay() {
        char folder[] = "/tmp/relay-routes-fuzz-XXXXXX";
        if (::mkdtemp(folder) == nullptr)
            std::abort();
        static std::string dataDir;
        dataDir = folder;
        std::atexit([] { std::filesystem::remove_all(dataDir); });
        RelayConfig config;
        config.dataDir = dataDir;
        // Small bounds, so that the stores stay small over millions of requests, and limits
        // per address high enough that they do not shut every later request out.
        config.maxCameras = 40;
        config.archiveMaxFrames = 5;
        config.maxFrameBytes = 64 * 1024;
        config.registrationsPerHour = 1000000;
        config.commandBurst = 1000000;
        config.chatBurst = 1000000;
        config.freeLoginTries = 1000000;
        config.freeLoginTriesPerCamera = 1000000;
        config.trustedProxies = {"10.0.0.1"};
        storage = openStorage(config);
        service = std::make_unique<Service>(config, *storage);
        service->setListenAddress("127.0.0.1", 8080);
        storage->registry().enrol("cam", true, stationKeyHash(kStationKey),
                                  unixMillis(WallClock::now()));
    }
    std::unique_ptr<Storage> storage;
    std::unique_ptr<Service> service;
};

std::string_view NextLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    return line;
}

HttpRequest ReadInput(std::string_view text) {
    std::string_view first = NextLine(text);
    const std::size_t space = first.find(' ');
    const std::string method(first.substr(0, space));
    first = space == std::string_view::npos ? std::string_view() : first.substr(space + 1);
    const std::size_t second = first.find(' ');
    const std::string target(first.substr(0, second));
    const std::string client(second == std::string_view::npos ? "127.0.0.1"
                                                              : first.substr(second + 1));
    Fields headers;
    while (!text.empty()) {
        const std::string_view line = NextLine(text);
        if (line.empty())
            break;
        const std::size_t colon = line.find(':');
        std::string_view value =
            colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ')
            value.remove_prefix(1);
        headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
    return makeRequest(method, target, std::string(text), std::move(headers), client);
}

// The answer of a request that waits: a long poll is asked once and then given its deadline at
// once (nothing else would wake it); any other (a password being hashed) is given a few
// seconds to wake it before its deadline comes.
HttpAnswer Settle(PendingAnswer& pending, const std::string& path) {
    struct Woken {
        std::mutex mutex;
        std::condition_variable changed;
        bool woken = false;
    };
    const auto woken = std::make_shared<Woken>();
    pending.start([woken] {
        std::lock_guard lock(woken->mutex);
        woken->woken = true;
        woken->changed.notify_all();
    });
    const bool longPoll = path.find("MoveRouterProxy") != std::string::npos ||
                          path.find("CheckVisitorStatus") != std::string::npos;
    const SteadyClock::time_point giveUp = SteadyClock::now() + std::chrono::seconds(3);
    for (;;) {
        SteadyClock::time_point recheck = pending.deadline();
        if (std::optional<HttpAnswer> ready = pending.poll(false, recheck))
            return std::move(*ready);
        std::unique_lock lock(woken->mutex);
        if (longPoll || !woken->changed.wait_until(lock, giveUp, [&woken] { return woken->woken; }))
            break;
        woken->woken = false;
    }
    SteadyClock::time_point recheck = pending.deadline();
    std::optional<HttpAnswer> last = pending.poll(true, recheck);
    Check(last.has_value());
    return std::move(*last);
}

void CheckAnswer(const HttpAnswer& answer) {
    Check(answer.status >= 100 && answer.status <= 599);
    if (answer.status >= 400 && !answer.stream)
        Check(!answer.content().empty());
    for (const auto& [name, value] : answer.headers)
        Check(name.find_first_of("\r\n") == std::string::npos &&
              value.find_first_of("\r\n") == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Relay relay;
    const HttpRequest request =
        ReadInput(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)relay.service->quick(request);
    HttpAnswer answer = relay.service->handle(request);
    if (answer.pending)
        answer = Settle(*answer.pending, request.path);
    if (answer.stream) {
        answer.stream->start([] {});
        bool ended = false;
        for (const AnswerStream::Piece& piece : answer.stream->next(ended))
            Check(piece != nullptr);
    }
    CheckAnswer(answer);
    return 0;
}

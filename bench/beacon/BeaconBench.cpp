// Figures of the posting helper, run as the station runs it:
// - move latency: a command queued at the relay (POST /webcams/command) until it arrives at the
//   station's PTZ listener, 100 times (needs the relay's move queue);
// - start-up time, and memory and CPU time while idle with posting, move polling and the visitor
//   check running (30 s; BEACON_BENCH_SECONDS changes that).
// BEACON_BENCH_JVM_OPTIONS is handed to the helper's runtime (as JDK_JAVA_OPTIONS) to compare
// settings against the ones built into the runtime; BEACON_TEST_REFLECTOR runs another build of
// the relay.

#include "BeaconSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace beacon::test;

namespace {

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

Helper::Options HelperOptions() {
    Helper::Options options;
    options.debug = false;
    if (const char* jvm = std::getenv("BEACON_BENCH_JVM_OPTIONS")) {
        options.env["JDK_JAVA_OPTIONS"] = std::string(jvm);
    }
    return options;
}

void MoveLatency() {
    Reflector relay;
    if (!relay.registerCamera("bench1") || !relay.hasHelperRoutes("bench1")) {
        std::printf("move latency: skipped (this relay has no move queue yet)\n");
        return;
    }
    FakePtzListener listener;
    Helper helper(HelperOptions());
    Ask(helper.port(), "start_polling",
        RelayParameterLine(relay.port(), "MoveRouterProxy", "bench1", listener.port()));
    HttpCall(relay.port(), "POST", "/webcams/command", "id=bench1&cmd=pan_left");
    if (!listener.waitForPackets(1, 10000)) {
        std::printf("move latency: the first command never arrived\n");
        return;
    }
    const char* commands[] = {"pan_left", "pan_right", "tilt_up", "tilt_down", "ZOOM_IN"};
    std::vector<double> latencies;
    for (int i = 0; i < 100; ++i) {
        const auto queued = Clock::now();
        HttpCall(relay.port(), "POST", "/webcams/command",
                 std::string("id=bench1&cmd=") + commands[i % 5]);
        if (!listener.waitForPackets(static_cast<std::size_t>(i) + 2, 10000)) {
            std::printf("move latency: command %d never arrived\n", i);
            return;
        }
        latencies.push_back(Ms(listener.packets().back().at - queued));
        // The relay takes a few commands a second from one viewer address.
        std::this_thread::sleep_until(queued + std::chrono::milliseconds(350));
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("move latency over %zu commands: median %.1f ms, 90th %.1f ms, worst %.1f ms\n",
                latencies.size(), latencies[latencies.size() / 2],
                latencies[latencies.size() * 9 / 10], latencies.back());
}

void IdleFootprint(int seconds) {
    // A listing host, and a relay that holds every poll for 20 s as the real one does.
    FakeHttpHost listing([](const HttpRequest& r) {
        if (r.path() == "/live/post") {
            return HttpReply{200, "Listing: true token=00112233445566778899aabbccddeeff"};
        }
        return HttpReply{200, r.path() == "/live/check" ? "Listed: true" : "Listing: true"};
    });
    FakeHttpHost relay([](const HttpRequest& r) {
        if (r.path() == "/webcams/CheckVisitorStatus") {
            return r.query("wait") ? HttpReply{200, "false", 20000} : HttpReply{200, "false"};
        }
        return HttpReply{200, "", 20000};
    });
    FakePtzListener listener;

    const auto start = Clock::now();
    Helper helper(HelperOptions());
    const double startMs = Ms(Clock::now() - start);
    const ProcessFigures atStart = ReadProcessFigures(helper.process().pid());

    Ask(helper.port(), "begin_posting",
        ListingDataString("127.0.0.1:" + std::to_string(listing.port()), relay.port(), "bench1"));
    Ask(helper.port(), "start_polling",
        RelayParameterLine(relay.port(), "MoveRouterProxy", "bench1", listener.port()));
    Ask(helper.port(), "start_reflector",
        RelayParameterLine(relay.port(), "CheckVisitorStatus", "bench1", listener.port()));
    Ask(helper.port(), "check_posting");
    listener.waitForPackets(1, 5000);
    const ProcessFigures before = ReadProcessFigures(helper.process().pid());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const ProcessFigures after = ReadProcessFigures(helper.process().pid());
    Ask(helper.port(), "shutdown");

    std::printf("start-up: %.0f ms to listening, %.0f ms CPU, RSS %ld KiB (%ld KiB own)\n", startMs,
                atStart.cpuMs, atStart.rssKiB, atStart.anonKiB);
    std::printf("idle %d s with posting, polling and the visitor check: RSS %ld KiB (%ld KiB own, "
                "peak %ld KiB), %ld threads, CPU %.0f ms (%.2f%% of one core)\n",
                seconds, after.rssKiB, after.anonKiB, after.hwmKiB, after.threads,
                after.cpuMs - before.cpuMs, (after.cpuMs - before.cpuMs) / (seconds * 10.0));
    std::printf("polls during the idle time: %zu move, %zu visitor, %zu listing requests\n",
                relay.requests("/webcams/MoveRouterProxy").size(),
                relay.requests("/webcams/CheckVisitorStatus").size(), listing.requests().size());
}

} // namespace

int main() {
    const char* secondsText = std::getenv("BEACON_BENCH_SECONDS");
    const int seconds = secondsText != nullptr ? std::max(1, std::atoi(secondsText)) : 30;
    if (const char* jvm = std::getenv("BEACON_BENCH_JVM_OPTIONS")) {
        std::printf("extra JVM options: %s\n", jvm);
    }
    try {
        MoveLatency();
        IdleFootprint(seconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "beacon_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}

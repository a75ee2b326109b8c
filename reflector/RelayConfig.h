#pragma once

#include "Time.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace reflector {

struct RelayConfig {
    // Holds reflector.db (cameras, options, listing, archive index), frames/ (each camera's
    // latest frame) and archive/ (the archive frames).
    std::filesystem::path dataDir;
    // Relay host that the directory answer names; empty: the listen address (or, when that is
    // a wildcard address, the host the request was sent to).
    std::string publicHost;
    // Most cameras registered at once; a further registration is refused. Also the most
    // entries in the live listing.
    std::size_t maxCameras = 1000;
    // Frames kept in memory for the cameras used most recently; the others are read from disk.
    std::size_t cachedFrames = 64;
    // Largest frame accepted by an upload (live or archive).
    std::size_t maxFrameBytes = 2 * 1024 * 1024;
    // Largest request body read at all; larger requests are refused unread.
    std::size_t maxRequestBytes = 4 * 1024 * 1024;
    // A client that stays silent this long while sending a request is dropped.
    int readTimeoutSeconds = 10;
    int writeTimeoutSeconds = 10;
    // A connection is dropped this long after the relay took it up, however steadily its
    // client keeps sending or reading, so that slow clients cannot hold the workers.
    int connectionTimeLimitSeconds = 60;
    // Connections served at the same time; further ones wait in the queue.
    std::size_t workerThreads = 8;
    // Connections from one client address served at the same time; a further one is turned
    // away at once. Requests held in a long poll do not count. 0: no limit (behind a reverse
    // proxy every connection has its address).
    std::size_t maxConnectionsPerAddress = 8;
    // Long polls (move queue, visitor status) held at once, each on a thread of its own beside
    // the workers; beyond it a long poll is answered at once, as if it had not asked to wait.
    std::size_t maxLongPolls = 32;
    // The same per client address (not applied when maxConnectionsPerAddress is 0).
    std::size_t maxLongPollsPerAddress = 8;
    // A viewer's command waits this long for the station's helper to fetch it.
    std::chrono::milliseconds commandTimeToLive{5000};
    // A camera has visitors while a viewer asked for its picture or page within this time.
    std::chrono::milliseconds visitorWindow{30000};
    // A live-listing entry not refreshed for this long is gone.
    std::chrono::milliseconds listingTimeToLive{120000};
    // Archive frames kept per camera, and the days they are kept.
    std::size_t archiveMaxFrames = 2000;
    int archiveMaxDays = 30;
    // The wall clock for commands, visits, listing entries and archive frames; empty: the
    // system clock. Waits for events always run on real time.
    TimeSource clock;
    // Receives one line per answered request (time, client, method, path, status, body bytes);
    // method and path are "-" for a connection turned away unread.
    std::function<void(const std::string&)> requestLog;
};

} // namespace reflector

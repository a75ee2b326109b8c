#pragma once

// The relay's configuration: what the command line and the configuration file set (app/Options)
// and what tests adjust, read by every layer for its own part. The transport's part is a member
// of its own, handed to the transport as it is.

#include "core/Time.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace reflector {

struct TransportConfig {
    // A request's line and header lines must all arrive within this time from its first byte
    // (from the connection's start for its first request).
    int headerTimeoutSeconds = 10;
    // A client that stays silent this long while sending a request body is dropped; the same
    // for an answer the client does not read.
    int readTimeoutSeconds = 10;
    int writeTimeoutSeconds = 10;
    // A request must arrive whole within this time, and its answer must leave within it,
    // however steadily the client keeps sending or reading. Live streams are bounded by the
    // write timeout only.
    int connectionTimeLimitSeconds = 60;
    // A kept connection without a new request for this long is closed (--keep-alive).
    int keepAliveSeconds = 15;
    // Requests served on one connection; the answer to the last one closes it.
    std::size_t maxRequestsPerConnection = 1000;
    // Threads that serve the connections; 0: one per processor, at most 4.
    std::size_t networkThreads = 0;
    // Threads for handlers that may block (the database, the disk).
    std::size_t workerThreads = 4;
    // Connections open at once; a further one is answered `full` at once (--max-connections).
    std::size_t maxConnections = 10000;
    // Connections from one client address open at once, not counting requests held waiting
    // for an event; a further one is answered `busy` at once. 0: no limit, as behind a reverse
    // proxy, where every connection has the proxy's address (--max-per-address).
    std::size_t maxConnectionsPerAddress = 8;
    // Longest request line (method, target and version), longest header line, most header
    // lines, and the request line with all header lines together. Checked while reading:
    // beyond them a request is refused (414, 431) and no more of it is kept.
    std::size_t maxRequestLineBytes = 8192;
    std::size_t maxHeaderLineBytes = 8192;
    std::size_t maxHeaderLines = 100;
    std::size_t maxHeaderBytes = 16384;
    // Largest request body; a larger one is refused unread (413).
    std::size_t maxRequestBytes = 4 * 1024 * 1024;
    // Bytes of request bodies held at once over all connections; a body that would pass it is
    // refused (503) while the others are being handled.
    std::size_t maxBodyBytesInFlight = 256 * 1024 * 1024;
};

struct RelayConfig {
    // The address to listen on (--host, --port; port 0: any free port).
    std::string host = "127.0.0.1";
    int port = 8080;
    // Holds reflector.db (cameras, options, listing, archive index), frames/ (each camera's
    // latest frame) and archive/ (the archive frames).
    std::filesystem::path dataDir;
    // Relay host that the directory answer names; empty: the listen address (or, when that is
    // a wildcard address, the host the request was sent to).
    std::string publicHost;
    // Relay port that the directory answer names (a load balancer's); 0: the port the relay
    // listens on.
    int publicPort = 0;
    // The shared stores (--database, --redis): a PostgreSQL URL for the lasting records and a
    // Redis URL for the hot state, both or neither. Empty: the embedded storage in dataDir.
    std::string database;
    std::string redis;
    // Most cameras registered at once; a further registration is refused. Also the most
    // entries in the live listing.
    std::size_t maxCameras = 1000;
    // Bytes of frames kept in memory for the cameras used most recently; the others are read
    // from disk.
    std::size_t frameCacheBytes = 128 * 1024 * 1024;
    // Bytes of archive frames read for viewers and not yet sent; beyond, a viewer is asked to
    // come back later.
    std::size_t archiveAnswerBytes = 64 * 1024 * 1024;
    // Largest frame accepted by an upload (live or archive).
    std::size_t maxFrameBytes = 2 * 1024 * 1024;
    // How connections are served and bounded.
    TransportConfig transport;
    // Long polls (move queue, visitor status) held at once; beyond it a long poll is answered
    // at once, as if it had not asked to wait.
    std::size_t maxLongPolls = 1000;
    // The same per client address (not applied when transport.maxConnectionsPerAddress is 0).
    std::size_t maxLongPollsPerAddress = 8;
    // Live streams (MJPEG) open at once; a further one is answered 503.
    std::size_t maxStreams = 1000;
    // A viewer's command waits this long for the station's helper to fetch it.
    std::chrono::milliseconds commandTimeToLive{5000};
    // A camera has visitors while a viewer asked for its picture or page within this time.
    std::chrono::milliseconds visitorWindow{30000};
    // A live-listing entry not refreshed for this long is gone.
    std::chrono::milliseconds listingTimeToLive{120000};
    // Archive frames kept per camera, and the days they are kept.
    std::size_t archiveMaxFrames = 2000;
    int archiveMaxDays = 30;
    // Addresses of reverse proxies in front of the relay (numeric, as connections come from
    // them): for their requests the viewer's address is the last one of X-Forwarded-For, for
    // the limits per viewer and the management pages' check of the station's address.
    std::vector<std::string> trustedProxies;
    // A file whose first line is the relay administrator's password or its Argon2id hash
    // (--admin-password-file); the program reads it into `adminPasswordHash` at start.
    std::filesystem::path adminPasswordFile;
    // The relay administrator's password as an Argon2id hash (core/PasswordHash.h); it allows
    // changes to every camera's management page and profile. Empty: none.
    std::string adminPasswordHash;
    // Commands one viewer address may send: a burst, then so many per second.
    double commandBurst = 5;
    double commandsPerSecond = 3;
    // Chat messages one address may send: a burst, then so many per second.
    double chatBurst = 3;
    double chatMessagesPerSecond = 0.5;
    // How long a viewer's session of a password-protected camera lasts.
    std::chrono::milliseconds sessionLifetime{std::chrono::hours(24)};
    // Wrong passwords from one address before each further try must wait (1 s, doubling, up
    // to 5 minutes).
    int freeLoginTries = 5;
    // Wrong passwords for one camera, from any addresses, before each further try must wait
    // (1 s, doubling, up to a minute): guessing from many addresses gets as slow.
    int freeLoginTriesPerCamera = 20;
    // Threads that hash passwords, and hashes that may wait for them; a further password is
    // answered 503 with Retry-After.
    std::size_t passwordThreads = 1;
    std::size_t passwordQueue = 8;
    // Registrations without a station key are taken (for trying other clients); such a camera
    // is bound to no key until a registration with a key claims it.
    bool allowKeyless = false;
    // New cameras one client address may register in an hour.
    std::size_t registrationsPerHour = 10;
    // A camera whose station has not been heard from for this many days is forgotten with all
    // its data.
    int cameraExpiryDays = 90;
    // The wall clock for commands, visits, listing entries and archive frames; empty: the
    // system clock. Waits for events always run on real time.
    TimeSource clock;
    // Receives one line per answered request (time, client, method, path, status, body bytes);
    // method and path are "-" for a connection turned away unread.
    std::function<void(const std::string&)> requestLog;
};

} // namespace reflector

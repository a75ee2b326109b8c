#pragma once

#include "Directory.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace reflector {

// What the command line asks for.
struct Options {
    std::string host = "127.0.0.1";
    int port = 8080;
    std::filesystem::path dataDir;
    std::string publicHost; // empty: derived from the listen address
    std::size_t maxCameras = 1000;
    std::size_t maxPerAddress = 8;       // connections open at once per client address; 0: none
    std::size_t maxConnections = 10000;  // connections open at once
    std::size_t maxLongPolls = 1000;     // long polls held at once
    std::size_t maxStreams = 1000;       // live streams open at once
    std::size_t frameCacheMiB = 128;     // frames kept in memory
    int keepAlive = 15;                  // seconds a viewer's connection waits for its next request
    std::vector<RelayAddress> relays;    // as a directory: its relays
    int commandTtl = 5;                  // seconds a viewer's command waits for the helper
    int visitorWindow = 30;              // seconds a viewer's request keeps the camera visited
    int listingTtl = 120;                // seconds a live-listing entry lives without a refresh
    std::size_t archiveMaxFrames = 2000; // archive frames kept per camera
    int archiveMaxDays = 30;             // days archive frames are kept
    // A file whose first line is the relay administrator's password, or its Argon2id hash
    // ("$argon2id$..."); empty: none.
    std::filesystem::path adminPasswordFile;
    // Reverse proxies whose X-Forwarded-For names the viewer.
    std::vector<std::string> trustedProxies;
    bool allowKeyless = false;             // registrations without a station key are taken
    std::size_t registrationsPerHour = 10; // new cameras per client address and hour
    int cameraExpiryDays = 90;             // days after which a silent camera is forgotten
    bool help = false;
};

// Result of reading the command line: `error` is empty on success.
struct ParsedOptions {
    Options options;
    std::string error;
};

// The default data folder: $XDG_DATA_HOME/Kestrova/reflector when XDG_DATA_HOME is an absolute
// path, else $HOME/.local/share/Kestrova/reflector. Either argument may be null; with neither
// usable the result is empty.
std::filesystem::path defaultDataDir(const char* xdgDataHome, const char* home);

// Reads the arguments after the program name. Each option takes its value either as the next
// argument or after '=' ("--port 8080", "--port=8080"). `defaultData` is used when --data is
// not given; an empty one then is an error.
ParsedOptions parseOptions(const std::vector<std::string>& args,
                           const std::filesystem::path& defaultData);

// True for a name fit to hand to the station as the relay's host: letters, digits, '.', '-',
// ':' and the brackets of an IPv6 literal, at most 253 characters.
bool isValidHostName(const std::string& host);

// The text printed for --help and after a usage error.
std::string usageText(const std::string& programName);

} // namespace reflector

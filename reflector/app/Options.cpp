#include "app/Options.h"

#include "core/Text.h"

#include <algorithm>
#include <optional>

namespace reflector {

std::filesystem::path defaultDataDir(const char* xdgDataHome, const char* home) {
    std::filesystem::path base;
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/') {
        base = xdgDataHome;
    } else if (home != nullptr && home[0] != '\0') {
        base = std::filesystem::path(home) / ".local" / "share";
    } else {
        return {};
    }
    return base / "Kestrova" / "reflector";
}

namespace {

// A decimal number from `low` to `high` (at most 9 digits), digits only.
std::optional<long> readNumber(const std::string& text, long low, long high) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// An option that takes a whole number from `low` to `high`.
struct NumberOption {
    const char* name;
    long low;
    long high;
    void (*store)(RelayConfig&, long);
};

const NumberOption kNumberOptions[] = {
    {"--port", 0, 65535, [](RelayConfig& c, long v) { c.port = static_cast<int>(v); }},
    {"--max-cameras", 1, 1000000,
     [](RelayConfig& c, long v) { c.maxCameras = static_cast<std::size_t>(v); }},
    {"--max-per-address", 0, 1000,
     [](RelayConfig& c, long v) {
         c.transport.maxConnectionsPerAddress = static_cast<std::size_t>(v);
     }},
    {"--max-connections", 1, 1000000,
     [](RelayConfig& c, long v) { c.transport.maxConnections = static_cast<std::size_t>(v); }},
    {"--max-long-polls", 0, 100000,
     [](RelayConfig& c, long v) { c.maxLongPolls = static_cast<std::size_t>(v); }},
    {"--max-streams", 0, 100000,
     [](RelayConfig& c, long v) { c.maxStreams = static_cast<std::size_t>(v); }},
    {"--frame-cache-mb", 0, 65536,
     [](RelayConfig& c, long v) { c.frameCacheBytes = static_cast<std::size_t>(v) * 1024 * 1024; }},
    {"--keep-alive", 1, 3600,
     [](RelayConfig& c, long v) { c.transport.keepAliveSeconds = static_cast<int>(v); }},
    {"--command-ttl", 1, 3600,
     [](RelayConfig& c, long v) { c.commandTimeToLive = std::chrono::seconds(v); }},
    {"--visitor-window", 1, 3600,
     [](RelayConfig& c, long v) { c.visitorWindow = std::chrono::seconds(v); }},
    {"--listing-ttl", 1, 86400,
     [](RelayConfig& c, long v) { c.listingTimeToLive = std::chrono::seconds(v); }},
    {"--archive-max-frames", 1, 1000000,
     [](RelayConfig& c, long v) { c.archiveMaxFrames = static_cast<std::size_t>(v); }},
    {"--archive-max-days", 1, 3650,
     [](RelayConfig& c, long v) { c.archiveMaxDays = static_cast<int>(v); }},
    {"--registrations-per-hour", 1, 1000000,
     [](RelayConfig& c, long v) { c.registrationsPerHour = static_cast<std::size_t>(v); }},
    {"--camera-expiry-days", 1, 36500,
     [](RelayConfig& c, long v) { c.cameraExpiryDays = static_cast<int>(v); }},
    {"--public-port", 1, 65535, [](RelayConfig& c, long v) { c.publicPort = static_cast<int>(v); }},
};

const NumberOption* findNumberOption(const std::string& name) {
    for (const NumberOption& option : kNumberOptions) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string>& args,
                           const std::filesystem::path& defaultData) {
    ParsedOptions result;
    RelayConfig& o = result.config;
    bool dataGiven = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            result.help = true;
            return result;
        }

        std::string name = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        // The one switch: alone, or with "=yes" / "=no" (as a configuration file writes it).
        if (name == "--allow-keyless") {
            if (!value || *value == "yes" || *value == "true") {
                o.allowKeyless = true;
            } else if (*value == "no" || *value == "false") {
                o.allowKeyless = false;
            } else {
                result.error = "--allow-keyless takes yes or no, not '" + *value + "'";
                return result;
            }
            continue;
        }
        const NumberOption* number = findNumberOption(name);
        if (number == nullptr && name != "--host" && name != "--data" && name != "--public-host" &&
            name != "--admin-password-file" && name != "--trusted-proxy" && name != "--database" &&
            name != "--redis") {
            const std::string note = goneOptionNote(name);
            result.error =
                "unknown argument '" + arg + "'" + (note.empty() ? "" : " (" + note + ")");
            return result;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                result.error = "option " + name + " needs a value";
                return result;
            }
            value = args[++i];
        }

        if (number != nullptr) {
            const auto read = readNumber(*value, number->low, number->high);
            if (!read) {
                result.error = name + " needs a number from " + std::to_string(number->low) +
                               " to " + std::to_string(number->high) + ", not '" + *value + "'";
                return result;
            }
            number->store(o, *read);
        } else if (name == "--host") {
            if (value->empty()) {
                result.error = "--host needs a host name or address";
                return result;
            }
            o.host = *value;
        } else if (name == "--data") {
            if (value->empty()) {
                result.error = "--data needs a folder";
                return result;
            }
            o.dataDir = *value;
            dataGiven = true;
        } else if (name == "--database") {
            if (value->rfind("postgresql://", 0) != 0 && value->rfind("postgres://", 0) != 0) {
                result.error = "--database needs a postgresql:// URL";
                return result;
            }
            o.database = *value;
        } else if (name == "--redis") {
            if (value->rfind("redis://", 0) != 0) {
                result.error = "--redis needs a redis:// URL";
                return result;
            }
            o.redis = *value;
        } else if (name == "--admin-password-file") {
            if (value->empty()) {
                result.error = "--admin-password-file needs a file";
                return result;
            }
            o.adminPasswordFile = *value;
        } else if (name == "--trusted-proxy") {
            for (std::size_t from = 0; from <= value->size();) {
                const std::size_t comma = std::min(value->find(',', from), value->size());
                const std::string address = value->substr(from, comma - from);
                if (address.empty() || !isValidHostName(address) ||
                    address.find_first_not_of("0123456789.:abcdefABCDEF") != std::string::npos) {
                    result.error =
                        "--trusted-proxy needs numeric addresses, comma-separated, not '" + *value +
                        "'";
                    return result;
                }
                o.trustedProxies.push_back(address);
                from = comma + 1;
            }
        } else {
            if (!isValidHostName(*value)) {
                result.error = "--public-host needs a host name or address, not '" + *value + "'";
                return result;
            }
            o.publicHost = *value;
        }
    }

    if (o.database.empty() != o.redis.empty()) {
        result.error = o.database.empty()
                           ? "--redis needs --database too: the shared stores are both or neither"
                           : "--database needs --redis too: the shared stores are both or neither";
        return result;
    }
    // Workers that wait on PostgreSQL and Redis wait on the network, not on the processor.
    if (!o.database.empty() && o.transport.workerThreads < 16) {
        o.transport.workerThreads = 16;
    }
    if (!dataGiven) {
        if (defaultData.empty()) {
            result.error = "no data folder: set XDG_DATA_HOME or HOME, or give --data";
            return result;
        }
        o.dataDir = defaultData;
    }
    return result;
}

std::string goneOptionNote(const std::string& option) {
    if (option == "--relays") {
        return "the directory of several relays is gone: stations are handed one host, "
               "--public-host, such as a load balancer's in front of the relays";
    }
    return {};
}

std::string usageText(const std::string& programName) {
    const std::string indent(programName.size() + 7, ' ');
    return "Usage: " + programName +
           " [--host ADDRESS] [--port N] [--data DIR] [--public-host HOST]\n" + indent +
           " [--max-cameras N] [--max-per-address N] [--max-connections N]\n" + indent +
           " [--max-long-polls N] [--max-streams N] [--frame-cache-mb N]\n" + indent +
           " [--keep-alive S] [--command-ttl S] [--visitor-window S] [--listing-ttl S]\n" + indent +
           " [--archive-max-frames N] [--archive-max-days D]\n" + indent +
           " [--admin-password-file FILE] [--trusted-proxy ADDRESS,...]\n" + indent +
           " [--allow-keyless] [--registrations-per-hour N]\n" + indent +
           " [--camera-expiry-days D] [--public-port N]\n" + indent +
           " [--database postgresql://... --redis redis://...] [--config FILE]\n"
           "\n"
           "Serves the camera directory, the camera relay and its viewer pages.\n"
           "\n"
           "  --host ADDRESS          address to listen on (default 127.0.0.1)\n"
           "  --port N                TCP port to listen on, 0 for any free port (default 8080)\n"
           "  --data DIR              data folder (default $XDG_DATA_HOME/Kestrova/reflector)\n"
           "  --public-host HOST      relay host that the directory hands to stations\n"
           "                          (default: the listen address)\n"
           "  --public-port N         relay port that the directory hands to stations, such\n"
           "                          as a load balancer's (default: the listen port)\n"
           "  --database URL          postgresql://...: keep the lasting records there, shared\n"
           "                          with other relays (needs --redis)\n"
           "  --redis URL             redis://...: keep the hot state there (latest frames,\n"
           "                          commands, visitors, sessions, limits; needs --database)\n"
           "  --max-cameras N         most cameras registered at once (default 1000)\n"
           "  --max-per-address N     connections open at once from one client address,\n"
           "                          0 for no limit, as behind a reverse proxy (default 8)\n"
           "  --max-connections N     connections open at once (default 10000)\n"
           "  --max-long-polls N      long polls held at once, 0 for none (default 1000)\n"
           "  --max-streams N         live streams open at once (default 1000)\n"
           "  --frame-cache-mb N      MiB of frames kept in memory (default 128)\n"
           "  --keep-alive S          seconds a viewer's connection is kept for its next\n"
           "                          request (default 15)\n"
           "  --command-ttl S         seconds a viewer's camera command waits for the\n"
           "                          station's helper (default 5)\n"
           "  --visitor-window S      seconds a viewer's request counts as a visit (default 30)\n"
           "  --listing-ttl S         seconds a live-listing entry lives without a refresh\n"
           "                          (default 120)\n"
           "  --archive-max-frames N  archive frames kept per camera (default 2000)\n"
           "  --archive-max-days D    days archive frames are kept (default 30)\n"
           "  --admin-password-file FILE  first line: the relay administrator's password (or\n"
           "                          its Argon2id hash), which allows changes to every\n"
           "                          camera's management page and profile\n"
           "  --trusted-proxy LIST    addresses of reverse proxies in front of the relay, whose\n"
           "                          X-Forwarded-For names the viewer (comma-separated)\n"
           "  --allow-keyless         take registrations without a station key (for trying\n"
           "                          other clients); the first keyed registration claims\n"
           "                          such a camera\n"
           "  --registrations-per-hour N  new cameras one client address may register in an\n"
           "                          hour (default 10)\n"
           "  --camera-expiry-days D  forget a camera, with all its data, when its station has\n"
           "                          not been heard from for D days (default 90)\n"
           "  --config FILE           read options from FILE, one \"name = value\" a line\n"
           "                          (options of the command line win)\n"
           "  --version               show the version\n"
           "  -h, --help              show this text\n";
}

} // namespace reflector

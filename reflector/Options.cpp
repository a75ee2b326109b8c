#include "Options.h"

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

bool isValidHostName(const std::string& host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    for (char c : host) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '.' && c != '-' && c != ':' && c != '[' && c != ']') {
            return false;
        }
    }
    return true;
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

constexpr long kMostCameras = 1000000;

} // namespace

ParsedOptions parseOptions(const std::vector<std::string>& args,
                           const std::filesystem::path& defaultData) {
    ParsedOptions result;
    Options& o = result.options;
    bool dataGiven = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            return result;
        }

        std::string name = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (name != "--host" && name != "--port" && name != "--data" && name != "--public-host" &&
            name != "--max-cameras" && name != "--max-per-address") {
            result.error = "unknown argument '" + arg + "'";
            return result;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                result.error = "option " + name + " needs a value";
                return result;
            }
            value = args[++i];
        }

        if (name == "--host") {
            if (value->empty()) {
                result.error = "--host needs a host name or address";
                return result;
            }
            o.host = *value;
        } else if (name == "--port") {
            const auto port = readNumber(*value, 0, 65535);
            if (!port) {
                result.error = "--port needs a number from 0 to 65535, not '" + *value + "'";
                return result;
            }
            o.port = static_cast<int>(*port);
        } else if (name == "--max-cameras") {
            const auto most = readNumber(*value, 1, kMostCameras);
            if (!most) {
                result.error = "--max-cameras needs a number from 1 to " +
                               std::to_string(kMostCameras) + ", not '" + *value + "'";
                return result;
            }
            o.maxCameras = static_cast<std::size_t>(*most);
        } else if (name == "--max-per-address") {
            const auto most = readNumber(*value, 0, 1000);
            if (!most) {
                result.error =
                    "--max-per-address needs a number from 0 to 1000, not '" + *value + "'";
                return result;
            }
            o.maxPerAddress = static_cast<std::size_t>(*most);
        } else if (name == "--data") {
            if (value->empty()) {
                result.error = "--data needs a folder";
                return result;
            }
            o.dataDir = *value;
            dataGiven = true;
        } else {
            if (!isValidHostName(*value)) {
                result.error = "--public-host needs a host name or address, not '" + *value + "'";
                return result;
            }
            o.publicHost = *value;
        }
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

std::string usageText(const std::string& programName) {
    return "Usage: " + programName +
           " [--host ADDRESS] [--port N] [--data DIR] [--public-host HOST]\n" +
           std::string(programName.size() + 7, ' ') +
           " [--max-cameras N] [--max-per-address N]\n"
           "\n"
           "Serves the camera directory, the camera relay and its viewer pages.\n"
           "\n"
           "  --host ADDRESS       address to listen on (default 127.0.0.1)\n"
           "  --port N             TCP port to listen on, 0 for any free port (default 8080)\n"
           "  --data DIR           data folder (default $XDG_DATA_HOME/Kestrova/reflector)\n"
           "  --public-host HOST   relay host that the directory hands to stations\n"
           "                       (default: the listen address)\n"
           "  --max-cameras N      most cameras registered at once (default 1000)\n"
           "  --max-per-address N  connections served at once for one client address,\n"
           "                       0 for no limit, as behind a reverse proxy (default 4)\n"
           "  -h, --help           show this text\n";
}

} // namespace reflector

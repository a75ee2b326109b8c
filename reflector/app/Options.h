#pragma once

#include "core/Config.h"

#include <filesystem>
#include <string>
#include <vector>

namespace reflector {

// Result of reading the command line: the relay's configuration with every option given set,
// the others at their defaults. `error` is empty on success.
struct ParsedOptions {
    RelayConfig config;
    bool help = false;
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

// For an option that earlier versions took and this one does not ("--relays"), what takes its
// place; empty for any other name.
std::string goneOptionNote(const std::string& option);

// The text printed for --help and after a usage error.
std::string usageText(const std::string& programName);

} // namespace reflector

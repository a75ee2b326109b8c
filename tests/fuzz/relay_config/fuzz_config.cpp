// libFuzzer entry for the relay's command line and its --config file: the input up to its first
// zero byte is the file's text, and each piece after a further zero byte is one argument of the
// command line. The text goes through a real file, as `reflector --config FILE ARGS...` reads it,
// and the arguments then through the command line's reading. The same entry runs in the
// ordinary test suite over the seed corpus and generated inputs (../replay_test.cpp).
//
// Besides staying inside its input, the reading must keep these properties; a violation traps.
//  - A file that reads without error gives only "--name=value" arguments, which the command
//    line takes together as it took each one alone.
//  - An error in the file names the file and the line.
//  - Whatever the command line is, it is taken or refused with a sentence; a taken one has a
//    port in range and a data folder.
#include "app/ConfigFile.h"
#include "app/Options.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace reflector;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// One file for the whole run, in a folder of its own that goes when the process ends.
const std::string& ConfigPath() {
    static const std::string path = [] {
        char folder[] = "/tmp/relay-config-fuzz-XXXXXX";
        if (::mkdtemp(folder) == nullptr)
            std::abort();
        static const std::string name = std::string(folder) + "/relay.conf";
        std::atexit([] { std::filesystem::remove_all(std::filesystem::path(name).parent_path()); });
        return name;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t end = input.find('\0');
    const std::string text = input.substr(0, end);
    std::vector<std::string> args{"--config", ConfigPath()};
    for (std::size_t from = end; from != std::string::npos && from < input.size();) {
        const std::size_t next = input.find('\0', from + 1);
        args.push_back(input.substr(from + 1, next == std::string::npos ? next : next - from - 1));
        from = next;
    }

    // The file alone, as the relay reads it.
    const ConfigArguments fromText = configArguments(text, "relay.conf");
    if (fromText.error.empty()) {
        for (const std::string& arg : fromText.args)
            Check(arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos);
        const ParsedOptions together = parseOptions(fromText.args, "/var/lib/relay");
        Check(together.error.empty());
    } else {
        Check(fromText.error.rfind("relay.conf line ", 0) == 0);
    }

    // The file and the command line, as the program reads them at start.
    if (std::FILE* file = std::fopen(ConfigPath().c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    const ConfigArguments withFile = withConfigFile(args);
    if (!withFile.error.empty())
        return 0;
    const ParsedOptions options = parseOptions(withFile.args, "/var/lib/relay");
    if (options.error.empty() && !options.help) {
        Check(options.config.port >= 0 && options.config.port <= 65535);
        Check(!options.config.dataDir.empty());
    }
    for (const std::string& arg : args)
        (void)goneOptionNote(arg);
    return 0;
}

#include "app/ConfigFile.h"

#include "app/Options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace reflector {

namespace {

constexpr std::size_t kMaxFileSize = 64 * 1024;

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\f\v";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool isOptionName(const std::string& name) {
    if (name.empty() || name.front() == '-') {
        return false;
    }
    for (char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) {
            return false;
        }
    }
    return true;
}

} // namespace

ConfigArguments configArguments(const std::string& text, const std::string& fileName) {
    ConfigArguments result;
    std::size_t start = 0;
    // A byte order mark left by an editor is not part of the first name.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        start = 3;
    }
    int number = 0;
    while (start < text.size()) {
        ++number;
        auto end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::string where = fileName + " line " + std::to_string(number) + ": ";
        const auto eq = line.find('=');
        const std::string name = eq == std::string::npos ? "" : trimmed(line.substr(0, eq));
        if (!isOptionName(name)) {
            return {{}, where + "expected 'name = value'"};
        }
        const std::string arg = "--" + name + "=" + trimmed(line.substr(eq + 1));
        // The command line's own check, with a data folder at hand so that only this option
        // is judged.
        const ParsedOptions checked = parseOptions({arg}, "/");
        if (!checked.error.empty()) {
            if (checked.error.rfind("unknown argument", 0) == 0) {
                const std::string note = goneOptionNote("--" + name);
                return {{},
                        where + "unknown name '" + name + "'" +
                            (note.empty() ? "" : " (" + note + ")")};
            }
            return {{}, where + checked.error};
        }
        result.args.push_back(arg);
    }
    return result;
}

ConfigArguments readConfigFile(const std::filesystem::path& file) {
    ConfigArguments result;
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (ec) {
        result.error = "cannot read " + file.string() + ": " + ec.message();
        return result;
    }
    if (!std::filesystem::is_regular_file(status)) {
        result.error = "cannot read " + file.string() + ": not a regular file";
        return result;
    }
    std::FILE* stream = std::fopen(file.c_str(), "rb");
    if (stream == nullptr) {
        result.error = "cannot read " + file.string() + ": " + std::strerror(errno);
        return result;
    }
    std::string text(kMaxFileSize + 1, '\0');
    const std::size_t size = std::fread(text.data(), 1, text.size(), stream);
    const bool failed = std::ferror(stream) != 0;
    std::fclose(stream);
    if (failed) {
        result.error = "cannot read " + file.string();
        return result;
    }
    if (size > kMaxFileSize) {
        result.error = file.string() + " is larger than 64 KiB";
        return result;
    }
    text.resize(size);
    return configArguments(text, file.string());
}

ConfigArguments withConfigFile(const std::vector<std::string>& args) {
    ConfigArguments result;
    std::vector<std::string> rest;
    std::string file;
    bool given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--config") {
            if (i + 1 >= args.size()) {
                result.error = "option --config needs a value";
                return result;
            }
            value = args[++i];
        } else if (arg.rfind("--config=", 0) == 0) {
            value = arg.substr(9);
        } else {
            rest.push_back(arg);
            continue;
        }
        if (given) {
            result.error = "--config given twice";
            return result;
        }
        if (value.empty()) {
            result.error = "--config needs a file";
            return result;
        }
        file = value;
        given = true;
    }
    if (!given) {
        result.args = args;
        return result;
    }
    result = readConfigFile(file);
    if (result.error.empty()) {
        result.args.insert(result.args.end(), rest.begin(), rest.end());
    }
    return result;
}

} // namespace reflector

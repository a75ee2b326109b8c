#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace reflector {

// Arguments read from a configuration file, or why they could not be read.
struct ConfigArguments {
    std::vector<std::string> args;
    std::string error; // empty on success
};

// Turns the text of a configuration file into command-line arguments: each line
// "name = value" gives "--name=value", in the order of the lines. Blank lines and lines whose
// first non-blank character is '#' are skipped; blanks around the name and the value are
// dropped, and the value runs to the end of the line. A name is one of the command line's
// options without its dashes ("port", "public-host"). Each line is checked as the command line
// checks that option, so an unknown name or a bad value is an error that names the file and the
// line: "relay.conf line 3: unknown name 'prot'".
ConfigArguments configArguments(const std::string& text, const std::string& fileName);

// Reads the file (a regular file of at most 64 KiB) and turns it into arguments as above.
ConfigArguments readConfigFile(const std::filesystem::path& file);

// The command line with "--config FILE" (or "--config=FILE") taken out and the file's
// arguments put in front of the rest, so that an option given on the command line wins over
// the same option in the file. Without --config the arguments come back unchanged.
ConfigArguments withConfigFile(const std::vector<std::string>& args);

} // namespace reflector

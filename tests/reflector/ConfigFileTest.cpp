#include "app/ConfigFile.h"
#include "TestFiles.h"
#include "app/Options.h"

#include <fstream>
#include <gtest/gtest.h>

namespace reflector {
namespace {

using test::TempDir;

void writeFile(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

TEST(ConfigFile, LinesBecomeOptionsInTheirOrder) {
    const std::string text = "\xEF\xBB\xBF"
                             "# the relay of the club\r\n"
                             "\n"
                             "host = 0.0.0.0\r\n"
                             "   # an indented comment\n"
                             "\tport=9000  \n"
                             "data = /srv/club relay/a=b\n"
                             "public-host = cam.example.org";
    const ConfigArguments read = configArguments(text, "relay.conf");
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.args, (std::vector<std::string>{"--host=0.0.0.0", "--port=9000",
                                                   "--data=/srv/club relay/a=b",
                                                   "--public-host=cam.example.org"}));
    EXPECT_TRUE(configArguments("", "relay.conf").args.empty());
    EXPECT_TRUE(configArguments("# nothing set\n\n", "relay.conf").args.empty());
}

TEST(ConfigFile, ABadLineIsAnErrorNamingFileAndLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"port = 80\nprot = 81\n", "relay.conf line 2: unknown name 'prot'"},
        {"help = yes", "relay.conf line 1: unknown name 'help'"},
        {"config = /etc/other.conf", "relay.conf line 1: unknown name 'config'"},
        {"relays = a.example.org:8081",
         "relay.conf line 1: unknown name 'relays' (the directory of several relays is gone: "
         "stations are handed one host, --public-host, such as a load balancer's in front of "
         "the relays)"},
        {"--port = 80", "relay.conf line 1: expected 'name = value'"},
        {"# ports\nport 80", "relay.conf line 2: expected 'name = value'"},
        {"= 80", "relay.conf line 1: expected 'name = value'"},
        {"\n\nport = eighty",
         "relay.conf line 3: --port needs a number from 0 to 65535, not 'eighty'"},
        {"data =", "relay.conf line 1: --data needs a folder"},
    };
    for (const auto& c : cases) {
        const ConfigArguments read = configArguments(c.text, "relay.conf");
        EXPECT_EQ(read.error, c.error) << c.text;
        EXPECT_TRUE(read.args.empty()) << c.text;
    }
}

TEST(ConfigFile, TheCommandLineWinsOverTheFile) {
    TempDir dir;
    const auto file = dir.path() / "relay.conf";
    writeFile(file, "host = 0.0.0.0\nport = 9000\ndata = /srv/from-file\n");
    for (const std::vector<std::string>& line :
         {std::vector<std::string>{"--config", file.string(), "--port", "9100", "--data=/x"},
          std::vector<std::string>{"--port=9100", "--config=" + file.string(), "--data", "/x"}}) {
        const ConfigArguments args = withConfigFile(line);
        ASSERT_EQ(args.error, "");
        const ParsedOptions parsed = parseOptions(args.args, "/default");
        ASSERT_EQ(parsed.error, "");
        EXPECT_EQ(parsed.config.host, "0.0.0.0");
        EXPECT_EQ(parsed.config.port, 9100);
        EXPECT_EQ(parsed.config.dataDir, "/x");
    }
    const std::vector<std::string> plain{"--port", "9100"};
    EXPECT_EQ(withConfigFile(plain).args, plain);
}

TEST(ConfigFile, AFileThatCannotBeUsedIsAnError) {
    TempDir dir;
    const auto big = dir.path() / "big.conf";
    writeFile(big, std::string(64 * 1024, '#') + "\n");
    const auto good = dir.path() / "good.conf";
    writeFile(good, "port = 9000\n");
    const std::string missing = (dir.path() / "missing.conf").string();
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--config", missing}, "cannot read " + missing + ": No such file or directory"},
        {{"--config", dir.path().string()},
         "cannot read " + dir.path().string() + ": not a regular file"},
        {{"--config", big.string()}, big.string() + " is larger than 64 KiB"},
        {{"--port", "1", "--config"}, "option --config needs a value"},
        {{"--config="}, "--config needs a file"},
        {{"--config", good.string(), "--config=" + good.string()}, "--config given twice"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(withConfigFile(c.args).error, c.error);
    }
}

TEST(ConfigFile, TheShippedFileListensLocallyOnPort8080) {
    const ConfigArguments args = readConfigFile(REFLECTOR_SHIPPED_CONFIG);
    ASSERT_EQ(args.error, "");
    const ParsedOptions parsed = parseOptions(args.args, "/default");
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.config.host, "127.0.0.1");
    EXPECT_EQ(parsed.config.port, 8080);
}

} // namespace
} // namespace reflector

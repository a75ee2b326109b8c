// The reflector program as an operator runs it: command line, configuration file, version,
// start-up line, request log (on standard error) and a clean stop on SIGTERM and SIGINT.

#include "RelaySupport.h"
#include "TestFiles.h"
#include "app/RelayVersion.h"
#include "core/PasswordHash.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace reflector {
namespace {

using namespace test;

// The program running as a child process, its log (standard error) and its standard output
// read through pipes.
class Program {
  public:
    // `wrapper`: a command that runs the program (setpriv ... --), found on the PATH.
    explicit Program(const std::vector<std::string>& args,
                     const std::vector<std::string>& wrapper = {}) {
        int out[2];
        int err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) {
            throw std::runtime_error("pipe() failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        posix_spawn_file_actions_adddup2(&actions, err[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> all = wrapper;
        all.push_back(REFLECTOR_PROGRAM);
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        if (rc != 0) {
            ::close(out[0]);
            ::close(err[0]);
            throw std::runtime_error("cannot start " REFLECTOR_PROGRAM);
        }
        out_ = ::fdopen(out[0], "r");
        err_ = err[0];
    }

    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (out_ != nullptr) {
            std::fclose(out_);
        }
        ::close(err_);
    }

    // The next line of the log without its line end; empty at end of file.
    std::string readLine() {
        std::string line;
        for (int c; (c = std::fgetc(out_)) != EOF && c != '\n';) {
            line += static_cast<char>(c);
        }
        return line;
    }

    // Everything the program wrote to standard output (read once it has ended).
    std::string outputText() {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(err_, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    void signal(int number) { ::kill(pid_, number); }

    // Waits for the program to end; its exit status, or -1 when a signal ended it.
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    std::FILE* out_ = nullptr;
    int err_ = -1;
};

// Reads the version line and "reflector: listening on 127.0.0.1 port N, ..." and returns N.
int listeningPort(Program& program) {
    const std::string version = program.readLine();
    EXPECT_EQ(version, std::string("reflector ") + kVersion);
    // A warning may come first (a port the station cannot use).
    const std::string marker = "listening on 127.0.0.1 port ";
    std::string line;
    for (int i = 0; i < 3; ++i) {
        line = program.readLine();
        if (const auto at = line.find(marker); at != std::string::npos)
            return std::stoi(line.substr(at + marker.size()));
    }
    ADD_FAILURE() << "unexpected start-up line: " << line;
    return -1;
}

TEST(Program, ServesLogsAndStopsCleanlyOnSignals) {
    for (const int stopSignal : {SIGTERM, SIGINT}) {
        TempDir dir;
        Program program(
            {"--port", "0", "--data", dir.path().string(), "--public-host", "cams.example.net"});
        const int port = listeningPort(program);
        ASSERT_GT(port, 0);

        const auto answer = get(port, "/getReflector.php");
        EXPECT_EQ(answer.body, "cams.example.net\r\n" + std::to_string(port) + "\r\nwebcams\r\n");
        const std::string logLine = program.readLine();
        EXPECT_NE(logLine.find("GET /getReflector.php 200 " + std::to_string(answer.body.size())),
                  std::string::npos)
            << logLine;

        program.signal(stopSignal);
        EXPECT_NE(program.readLine().find("stopping"), std::string::npos);
        EXPECT_NE(program.readLine().find("stopped"), std::string::npos);
        EXPECT_EQ(program.wait(), 0) << "signal " << stopSignal;
        EXPECT_TRUE(std::filesystem::exists(dir.path() / "reflector.db"));
    }
}

TEST(Program, TakesNoMoreCamerasThanAllowed) {
    TempDir dir;
    Program program({"--port", "0", "--data", dir.path().string(), "--max-cameras", "1"});
    const int port = listeningPort(program);
    ASSERT_GT(port, 0);
    EXPECT_EQ(registerCamera(port, "first").body, "User Registered Successfully.");
    EXPECT_EQ(registerCamera(port, "second").status, 503);
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
}

TEST(Program, AppliesTheArchiveAndPollOptions) {
    TempDir dir;
    Program program({"--port", "0", "--data", dir.path().string(), "--archive-max-frames", "1",
                     "--max-long-polls", "0"});
    const int port = listeningPort(program);
    ASSERT_GT(port, 0);
    ASSERT_EQ(registerCamera(port, "cam").body, "User Registered Successfully.");
    for (unsigned seed : {1u, 2u}) {
        EXPECT_EQ(
            parse(rawExchange(port, stationArchive("cam", fakeJpeg(2000, seed), port)).bytes).body,
            "Archive: true");
    }
    std::size_t kept = 0;
    for (const auto& file : std::filesystem::directory_iterator(dir.path() / "archive" / "cam")) {
        kept += file.path().extension() == ".jpg";
    }
    EXPECT_EQ(kept, 1u) << "one archive frame per camera";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get(port, "/webcams/MoveRouterProxy?id=cam&wait=25").body, "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10))
        << "no poll is held";
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
}

TEST(Program, ExplainsBadArguments) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--port", "http"}, std::vector<std::string>{"--colour"},
          std::vector<std::string>{"--data"}}) {
        Program program(args);
        EXPECT_EQ(program.wait(), 2) << args.front();
        std::string error;
        for (int i = 0; i < 40; ++i) // the message, a blank line and the usage
            error += program.readLine() + "\n";
        EXPECT_NE(error.find("reflector: "), std::string::npos) << error;
        EXPECT_NE(error.find("Usage: reflector"), std::string::npos) << error;
        EXPECT_EQ(program.outputText(), "") << "nothing on standard output";
    }
}

TEST(Program, PrintsHelpAndVersion) {
    Program help({"--help"});
    EXPECT_EQ(help.wait(), 0);
    EXPECT_EQ(help.outputText().rfind("Usage: reflector", 0), 0u);
    Program version({"--version"});
    EXPECT_EQ(version.wait(), 0);
    EXPECT_EQ(version.outputText(), std::string("reflector ") + kVersion + "\n");
}

TEST(Program, TakesItsOptionsFromAConfigurationFileButTheCommandLineWins) {
    TempDir dir;
    const auto config = dir.path() / "reflector.conf";
    std::ofstream(config) << "# a relay for tests\nport = 1\npublic-host = from.config.example\n";
    Program program({"--config", config.string(), "--port", "0", "--data", dir.path().string()});
    const int port = listeningPort(program);
    ASSERT_GT(port, 1);
    EXPECT_EQ(get(port, "/getReflector.php").body,
              "from.config.example\r\n" + std::to_string(port) + "\r\nwebcams\r\n");
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);

    std::ofstream(config) << "port = 8080\nprot = 1\n";
    Program bad({"--config", config.string()});
    EXPECT_EQ(bad.wait(), 2);
    EXPECT_NE(bad.readLine().find("line 2: unknown name 'prot'"), std::string::npos);
}

// Permissions of every folder and file under `top` (and of `top`): readable by all, writable
// by nobody, or back to writable by the owner.
void setWritable(const std::filesystem::path& top, bool writable) {
    using std::filesystem::perms;
    const auto set = [writable](const std::filesystem::path& p) {
        const bool folder = std::filesystem::is_directory(p);
        perms mode = perms::owner_read | perms::group_read | perms::others_read;
        if (folder) {
            mode |= perms::owner_exec | perms::group_exec | perms::others_exec;
        }
        if (writable) {
            mode |= perms::owner_write;
        }
        std::filesystem::permissions(p, mode);
    };
    set(top);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        set(entry.path());
    }
}

TEST(Program, ServesWhatItHoldsFromADataFolderItCannotWrite) {
    TempDir dir;
    const std::string frame = fakeJpeg(400, 5);
    {
        RunningRelay relay(dir.path());
        ASSERT_EQ(registerCamera(relay.port(), "cam").status, 200);
        ASSERT_EQ(upload(relay.port(), "cam", frame).status, 200);
    }
    setWritable(dir.path(), false);
    // Permissions do not bind root: then the relay runs as the unprivileged user "nobody".
    std::vector<std::string> wrapper;
    if (::geteuid() == 0) {
        wrapper = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    Program program({"--port", "0", "--data", dir.path().string()}, wrapper);
    program.readLine(); // the version
    EXPECT_NE(program.readLine().find("serving what it holds and refusing every change"),
              std::string::npos);
    const std::string marker = "listening on 127.0.0.1 port ";
    std::string listening = program.readLine();
    if (listening.find(marker) == std::string::npos) {
        listening = program.readLine(); // after the warning about a port above 32767
    }
    ASSERT_NE(listening.find(marker), std::string::npos) << listening;
    const int port = std::stoi(listening.substr(listening.find(marker) + marker.size()));

    const WireAnswer live = get(port, "/webcams/live?id=cam");
    EXPECT_EQ(live.status, 200);
    EXPECT_EQ(live.body, frame);
    const WireAnswer refused = upload(port, "cam", fakeJpeg(400, 6));
    EXPECT_EQ(refused.status, 500);
    EXPECT_EQ(refused.body, "Reflector: false - could not store the frame");
    EXPECT_EQ(registerCamera(port, "new").body,
              "Registration refused: the relay could not store the registration.");
    EXPECT_EQ(upload(port, "cam", fakeJpeg(400, 7)).status, 500);
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
    // The cause is logged for the first refusal, not for each one within the minute.
    int causes = 0;
    for (std::string line = program.readLine(); !line.empty(); line = program.readLine()) {
        causes += line.find(" not stored: ") != std::string::npos;
    }
    EXPECT_EQ(causes, 1);
    setWritable(dir.path(), true);
}

TEST(Program, ReportsAPortInUse) {
    TempDir dir;
    RunningRelay busy(dir.path() / "first");
    Program program(
        {"--port", std::to_string(busy.port()), "--data", (dir.path() / "second").string()});
    EXPECT_EQ(program.wait(), 1);
    program.readLine(); // the version
    EXPECT_NE(
        program.readLine().find("cannot listen on 127.0.0.1 port " + std::to_string(busy.port())),
        std::string::npos);
}

} // namespace
} // namespace reflector

namespace reflector {
namespace {

using namespace test;

TEST(Program, TakesTheAdministratorsPasswordOrItsHashFromAFile) {
    TempDir dir;
    const auto file = dir.path() / "admin-password";
    for (const std::string& line : {std::string("relay-admin"), hashPassword("relay-admin")}) {
        { std::ofstream(file) << line << "\n"; }
        Program program({"--port", "0", "--data", (dir.path() / "data").string(),
                         "--admin-password-file", file.string()});
        const int port = listeningPort(program);
        ASSERT_GT(port, 0);
        // The station registers from another address than the one the changes come from.
        Client station(port, "127.0.0.2");
        station.send(stationGet("/webcams/Register?id=cam&path=webcams&ptz=true"));
        ASSERT_EQ(station.readAnswer().body, "User Registered Successfully.");
        const auto change = [port](const std::string& password) {
            return postForm(port, "/webcams/admin/index.jsp",
                            "id=cam&action=skin&skin=night&adminpw=" + password)
                .status;
        };
        EXPECT_EQ(change("wrong"), 403) << line;
        EXPECT_EQ(change("relay-admin"), 303) << line;
        program.signal(SIGTERM);
        EXPECT_EQ(program.wait(), 0);
    }
    { std::ofstream(file) << "\n"; }
    Program empty({"--port", "0", "--data", (dir.path() / "data").string(), "--admin-password-file",
                   file.string()});
    EXPECT_EQ(empty.wait(), 1);
    empty.readLine(); // the version
    EXPECT_NE(empty.readLine().find("is empty"), std::string::npos);
}

} // namespace
} // namespace reflector

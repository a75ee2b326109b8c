// Loads the built libKestrovaLVCam.so from the station folder, as the station does, and calls
// its exports. Without a camera only the failure paths can run here; the logic behind them is
// tested against fake devices in motion_test.cpp.
#include "lvcam.h"

#include "support/fake_video_tree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

namespace lvcam {
namespace {

class LibraryTest : public testing::Test {
  protected:
    void SetUp() override {
        handle_ = ::dlopen(LVCAM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        connect = reinterpret_cast<decltype(&Function1)>(::dlsym(handle_, "Function1"));
        home = reinterpret_cast<decltype(&Function4)>(::dlsym(handle_, "Function4"));
        move = reinterpret_cast<decltype(&Function5)>(::dlsym(handle_, "Function5"));
        ASSERT_TRUE(connect != nullptr && home != nullptr && move != nullptr);
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            ::dlclose(handle_);
        }
    }

    test::FakeVideoTree tree;
    decltype(&Function1) connect = nullptr;
    decltype(&Function4) home = nullptr;
    decltype(&Function5) move = nullptr;

  private:
    void* handle_ = nullptr;
};

// What the process writes to descriptor fd while the function runs.
template <typename Function> std::string Captured(int fd, Function function) {
    std::fflush(nullptr);
    char path[] = "/tmp/lvcam-capture-XXXXXX";
    const int file = ::mkstemp(path);
    ::unlink(path);
    const int saved = ::dup(fd);
    ::dup2(file, fd);
    function();
    std::fflush(nullptr);
    ::dup2(saved, fd);
    ::close(saved);
    std::string text;
    char buffer[4096];
    ssize_t n;
    ::lseek(file, 0, SEEK_SET);
    while ((n = ::read(file, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(file);
    return text;
}

TEST(ExportTableTest, LibraryExportsExactlyTheThreeFunctions) {
    const std::string command =
        std::string(LVCAM_NM) + " -D --defined-only '" + LVCAM_LIBRARY_PATH + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    ASSERT_EQ(::pclose(pipe), 0) << command;
    std::set<std::string> defined;
    std::istringstream lines(output); // "address type name"
    std::string address, type, name;
    while (lines >> address >> type >> name) {
        defined.insert(name);
    }
    EXPECT_EQ(defined, (std::set<std::string>{"Function1", "Function4", "Function5"})) << output;
}

TEST_F(LibraryTest, WithoutACameraConnectFailsAndMovesAreUnreachable) {
    tree.AddUsbNode(0, "1-1", 0x046d, 0x0994); // a plain file: not a V4L2 device
    EXPECT_EQ(connect(), 0);
    EXPECT_EQ(home(), -1);
    EXPECT_EQ(move(1, 320), -1);
    EXPECT_EQ(move(4, 320), 0);
}

TEST_F(LibraryTest, ExplainsFailuresOnStandardErrorOnlyWhenDebugging) {
    tree.AddNode(0);
    for (const bool debug : {false, true}) {
        ::setenv("LVCAM_DEBUG", debug ? "1" : "0", 1);
        std::string out;
        const std::string err = Captured(STDERR_FILENO, [&] {
            out = Captured(STDOUT_FILENO, [&] {
                connect();
                home();
                move(0, 320);
                move(9, 320);
            });
        });
        EXPECT_EQ(out, "");
        if (debug) {
            EXPECT_NE(err.find("lvcam: " + tree.NodePath(0)), std::string::npos) << err;
        } else {
            EXPECT_EQ(err, "");
        }
    }
    ::unsetenv("LVCAM_DEBUG");
}

} // namespace
} // namespace lvcam

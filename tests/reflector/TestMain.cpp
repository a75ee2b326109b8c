#include <csignal>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The tests close sockets on the relay while it may still write; that must not end them.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

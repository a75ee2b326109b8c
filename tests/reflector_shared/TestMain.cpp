#include <csignal>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // As in the relay: a server that closes while a client writes must not end the tests.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

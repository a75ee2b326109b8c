#include "stores/shared/RedisSubscriber.h"
#include "reflector_shared/TestServers.h"
#include "stores/shared/RedisPool.h"

#include <gtest/gtest.h>
#include <memory>

namespace reflector {
namespace {

using namespace std::chrono_literals;

// What a subscriber delivered, read from the test's thread.
struct Received {
    std::mutex mutex;
    std::vector<std::string> messages;
    int backs = 0;

    bool has(const std::string& message) {
        std::lock_guard lock(mutex);
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }
};

RedisSubscriberOptions optionsFor(const std::string& url) {
    RedisSubscriberOptions options;
    options.url = url;
    options.channels = {"frames"};
    options.patterns = {"moves:*"};
    options.log = [](const std::string&) {};
    return options;
}

TEST(RedisSubscriber, DeliversMessagesAndComesBackAfterARestart) {
    test::RedisServer server;
    Received received;
    RedisSubscriber subscriber(
        optionsFor(server.url()),
        [&](const RedisMessage& m) {
            std::lock_guard lock(received.mutex);
            received.messages.push_back(m.pattern + "|" + m.channel + "|" + m.payload);
        },
        [&] {
            std::lock_guard lock(received.mutex);
            ++received.backs;
        });
    ASSERT_TRUE(subscriber.waitUntilSubscribed(5s));
    RedisPoolOptions options;
    options.url = server.url();
    RedisPool pool(options);
    const std::string binary("cam\0\xff", 5);
    pool.command({"PUBLISH", "frames", binary});
    pool.command({"PUBLISH", "moves:cam1", "left"});
    EXPECT_TRUE(test::eventually([&] { return received.has("|frames|" + binary); }));
    EXPECT_TRUE(test::eventually([&] { return received.has("moves:*|moves:cam1|left"); }));

    server.stop();
    EXPECT_TRUE(test::eventually([&] { return !subscriber.subscribed(); }));
    server.start();
    ASSERT_TRUE(subscriber.waitUntilSubscribed(10s));
    EXPECT_TRUE(test::eventually([&] {
        std::lock_guard lock(received.mutex);
        return received.backs == 1;
    }));
    pool.command({"PUBLISH", "frames", "after"});
    EXPECT_TRUE(test::eventually([&] { return received.has("|frames|after"); }));
}

TEST(RedisSubscriber, StopsPromptlyWhateverItIsDoing) {
    test::RedisServer server;
    test::SilentServer silent;
    const int stopped = [] {
        test::SilentServer gone;
        return gone.port();
    }();
    const std::pair<const char*, std::string> cases[] = {
        {"subscribed and idle", server.url()},
        {"waiting for a server that never answers",
         "redis://:pw@127.0.0.1:" + std::to_string(silent.port())},
        {"waiting to connect again", "redis://127.0.0.1:" + std::to_string(stopped)},
    };
    for (const auto& [what, url] : cases) {
        SCOPED_TRACE(what);
        auto subscriber =
            std::make_unique<RedisSubscriber>(optionsFor(url), [](const RedisMessage&) {});
        std::this_thread::sleep_for(150ms);
        EXPECT_LT(test::timed([&] { subscriber.reset(); }), 100ms);
    }
}

} // namespace
} // namespace reflector

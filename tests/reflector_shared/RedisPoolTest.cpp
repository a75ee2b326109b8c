#include "stores/shared/RedisPool.h"
#include "reflector_shared/TestServers.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace std::chrono_literals;

RedisPool poolFor(const std::string& url, std::size_t size = 2) {
    RedisPoolOptions options;
    options.url = url;
    options.size = size;
    options.commandTimeout = 300ms;
    options.checkoutWait = 300ms;
    return RedisPool(options);
}

TEST(RedisPool, RoundTripsValuesOfEveryKind) {
    test::RedisServer server;
    RedisPool pool = poolFor(server.url());
    std::string frame(2 << 20, '\0');
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<char>(i * 13 % 256);
    }
    for (const std::string& value : {frame, std::string(), std::string("\r\n$3\r\nGET\r\n")}) {
        pool.command({"SET", "frame", value});
        EXPECT_TRUE(pool.command({"GET", "frame"}).string == value);
    }
    EXPECT_TRUE(pool.command({"GET", "missing"}).isNil());
    EXPECT_EQ(pool.command({"INCRBY", "count", "5"}).integer, 5);
    pool.command({"RPUSH", "moves", "left", std::string(1, '\0')});
    const RedisValue moves = pool.command({"LRANGE", "moves", "0", "-1"});
    ASSERT_EQ(moves.type, RedisValue::Type::Array);
    ASSERT_EQ(moves.array.size(), 2u);
    EXPECT_EQ(moves.array[1].string, std::string(1, '\0'));
}

TEST(RedisPool, RunsScriptsAfterTheServerForgetsThem) {
    test::RedisServer server;
    RedisPool pool = poolFor(server.url(), 1);
    const RedisScript script("return redis.call('INCRBY', KEYS[1], ARGV[1])");
    EXPECT_EQ(pool.eval(script, {"n"}, {"2"}).integer, 2);
    pool.command({"SCRIPT", "FLUSH"});
    EXPECT_EQ(pool.eval(script, {"n"}, {"3"}).integer, 5);
    EXPECT_EQ(pool.eval(script, {"n"}, {"4"}).integer, 9);
}

TEST(RedisPool, ReportsErrorAnswersAsErrors) {
    test::RedisServer server;
    RedisPool pool = poolFor(server.url(), 1);
    pool.command({"SET", "text", "x"});
    const RedisScript failing("return redis.error_reply('BUSYCAM camera taken')");
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] {
             pool.command({"LPUSH", "text", "y"});
         },
         "WRONGTYPE"},
        {[&] { pool.command({"NOSUCHCOMMAND"}); }, "ERR unknown command"},
        {[&] { pool.eval(failing, {}); }, "BUSYCAM camera taken"},
    };
    for (const auto& [call, message] : cases) {
        try {
            call();
            ADD_FAILURE() << "no error for " << message;
        } catch (const RedisError& e) {
            EXPECT_TRUE(e.replyError());
            EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
        }
        // The connection stays in use.
        EXPECT_EQ(pool.command({"GET", "text"}).string, "x");
    }
    // A wrong password is refused without being shown.
    RedisPool wrong = poolFor("redis://:WrongPassword1@127.0.0.1:" + std::to_string(server.port()));
    try {
        wrong.command({"PING"});
        FAIL() << "a wrong password was taken";
    } catch (const RedisError& e) {
        EXPECT_NE(std::string(e.what()).find("refused the password"), std::string::npos);
        EXPECT_EQ(std::string(e.what()).find("WrongPassword1"), std::string::npos) << e.what();
    }
}

TEST(RedisPool, RecoversAfterARestart) {
    test::RedisServer server;
    RedisPool pool = poolFor(server.url());
    pool.command({"SET", "k", "1"});
    // A restart between two calls: the idle connection is replaced unseen.
    server.stop();
    server.start();
    EXPECT_EQ(pool.command({"SET", "k", "2"}).string, "OK");
    // A call while the server is away fails, and the next one after its return works.
    server.stop();
    try {
        pool.command({"GET", "k"});
        FAIL() << "a stopped server answered";
    } catch (const RedisError& e) {
        EXPECT_FALSE(e.replyError());
        EXPECT_EQ(std::string(e.what()).find(server.password()), std::string::npos) << e.what();
    }
    server.start();
    EXPECT_TRUE(pool.command({"GET", "k"}).isNil());
}

TEST(RedisPool, GivesUpOnAServerThatNeverAnswers) {
    test::SilentServer silent;
    RedisPool pool = poolFor("redis://127.0.0.1:" + std::to_string(silent.port()));
    const auto took = test::timed([&] {
        try {
            pool.command({"PING"});
            ADD_FAILURE() << "a silent server answered";
        } catch (const RedisError& e) {
            EXPECT_FALSE(e.replyError());
            EXPECT_NE(std::string(e.what()).find("no answer within 300 ms"), std::string::npos)
                << e.what();
        }
    });
    EXPECT_LT(took, 2s);
}

} // namespace
} // namespace reflector

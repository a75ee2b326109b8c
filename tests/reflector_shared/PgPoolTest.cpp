#include "stores/shared/PgPool.h"
#include "reflector_shared/TestServers.h"

#include <csignal>
#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace std::chrono_literals;
using test::PostgresServer;

PgPoolOptions optionsFor(const PostgresServer& server, std::size_t size = 2) {
    PgPoolOptions options;
    options.url = server.url();
    options.size = size;
    return options;
}

TEST(PgPool, BindsParametersAndRoundTripsBytes) {
    PostgresServer server;
    PgPool pool(optionsFor(server));
    pool.exec("CREATE TABLE frames (id int8, name text, frame bytea)");
    std::string frame(2 << 20, '\0');
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<char>(i * 7 % 256);
    }
    const std::string name = "cam'); DROP TABLE frames; --";
    pool.exec("INSERT INTO frames VALUES ($1, $2, $3), ($4, $5, $6)",
              {std::int64_t{1} << 40, name, PgParam::bytes(frame), 2, nullptr, PgParam::bytes({})});
    for (PgFormat format : {PgFormat::Text, PgFormat::Binary}) {
        const PgResult rows =
            pool.exec("SELECT id, name, frame FROM frames ORDER BY id DESC", {}, format);
        ASSERT_EQ(rows.rows(), 2);
        EXPECT_EQ(rows.integer(0, 0), std::int64_t{1} << 40);
        EXPECT_EQ(rows.text(0, 1), name);
        EXPECT_TRUE(rows.bytes(0, 2) == frame);
        EXPECT_EQ(rows.integer(1, 0), 2);
        EXPECT_TRUE(rows.isNull(1, 1));
        EXPECT_TRUE(rows.bytes(1, 2).empty());
    }
}

TEST(PgPool, RollsBackATransactionThatFails) {
    PostgresServer server;
    PgPool pool(optionsFor(server, 1));
    pool.exec("CREATE TABLE cameras (id text PRIMARY KEY)");
    try {
        pool.transaction([](PgConnection& db) {
            db.exec("INSERT INTO cameras VALUES ($1)", {"cam1"});
            db.exec("INSERT INTO cameras VALUES ($1)", {"cam1"});
        });
        FAIL() << "a duplicate key went through";
    } catch (const PgError& e) {
        EXPECT_EQ(e.sqlstate(), "23505");
        EXPECT_NE(std::string(e.what()).find("duplicate key"), std::string::npos) << e.what();
        EXPECT_FALSE(e.connectionLost());
    }
    // The one connection is back, out of the transaction, and the first insert is gone.
    EXPECT_EQ(pool.exec("SELECT count(*) FROM cameras").integer(0, 0), 0);
    EXPECT_EQ(pool.transaction([](PgConnection& db) {
        return db.exec("INSERT INTO cameras VALUES ($1)", {"cam2"}).affected();
    }),
              1);
}

TEST(PgPool, BoundsEveryWaitInTime) {
    PostgresServer server;
    PgPoolOptions options = optionsFor(server, 1);
    options.statementTimeout = 300ms;
    options.answerMargin = 200ms;
    options.checkoutWait = 200ms;
    PgPool pool(options);
    struct Case {
        const char* what;
        std::function<void()> call;
        const char* sqlstate;
        bool lost;
    };
    const Case cases[] = {
        {"a statement beyond the server's time-out", [&] { pool.exec("SELECT pg_sleep(5)"); },
         "57014", false},
        {"a server that stops answering",
         [&] {
             PgPool::Lease lease = pool.acquire();
             const auto backend =
                 static_cast<pid_t>(lease->exec("SELECT pg_backend_pid()").integer(0, 0));
             ::kill(backend, SIGSTOP);
             try {
                 lease->exec("SELECT 1");
             } catch (...) {
                 ::kill(backend, SIGCONT);
                 throw;
             }
         },
         "", true},
        {"no free connection",
         [&] {
             PgPool::Lease held = pool.acquire();
             pool.exec("SELECT 1");
         },
         "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto took = test::timed([&] {
            try {
                c.call();
                ADD_FAILURE() << "no error";
            } catch (const PgError& e) {
                EXPECT_EQ(e.sqlstate(), c.sqlstate) << e.what();
                EXPECT_EQ(e.connectionLost(), c.lost) << e.what();
            }
        });
        EXPECT_LT(took, 2s);
        // Whatever broke, the pool serves the next call.
        EXPECT_EQ(pool.exec("SELECT 42").integer(0, 0), 42);
    }
}

TEST(PgPool, RecoversWhenTheServerRestarts) {
    PostgresServer server;
    PgPool pool(optionsFor(server));
    pool.exec("CREATE TABLE t (n int)");
    {
        // Two connections open and idle when the server goes.
        PgPool::Lease first = pool.acquire();
        PgPool::Lease second = pool.acquire();
        first->exec("INSERT INTO t VALUES (1)");
        second->exec("INSERT INTO t VALUES (2)");
    }
    server.stop();
    try {
        pool.exec("SELECT 1");
        FAIL() << "a stopped server answered";
    } catch (const PgError& e) {
        EXPECT_TRUE(e.connectionLost());
        EXPECT_EQ(std::string(e.what()).find(server.password()), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("kestrova@127.0.0.1"), std::string::npos) << e.what();
    }
    server.start();
    EXPECT_EQ(pool.exec("SELECT sum(n) FROM t").integer(0, 0), 3);
    EXPECT_EQ(pool.exec("SELECT sum(n) FROM t").integer(0, 0), 3);
}

} // namespace
} // namespace reflector

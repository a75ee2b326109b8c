#include "stores/shared/PgMigrations.h"
#include "reflector_shared/TestServers.h"

#include <gtest/gtest.h>
#include <thread>

namespace reflector {
namespace {

const std::vector<PgMigration> kSchema = {
    // The sleep keeps the first migration open while the other relays arrive.
    {1, "CREATE TABLE cameras (id text PRIMARY KEY); SELECT pg_sleep(0.2)"},
    {2, "ALTER TABLE cameras ADD COLUMN key_hash text"},
    {3, "INSERT INTO cameras VALUES ('seed', NULL)"},
};

TEST(PgMigrations, ApplyOnceWhenRelaysStartTogether) {
    test::PostgresServer server;
    std::vector<std::thread> relays;
    std::vector<int> reached(4, -1);
    for (std::size_t i = 0; i < reached.size(); ++i) {
        relays.emplace_back([&, i] {
            PgPoolOptions options;
            options.url = server.url();
            PgPool pool(options);
            try {
                reached[i] = migrate(pool, kSchema);
            } catch (const PgError& e) {
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (std::thread& relay : relays) {
        relay.join();
    }
    EXPECT_EQ(reached, std::vector<int>(4, 3));
    PgPoolOptions options;
    options.url = server.url();
    PgPool pool(options);
    EXPECT_EQ(pool.exec("SELECT string_agg(version::text, ',' ORDER BY version) "
                        "FROM schema_migrations WHERE applied_at IS NOT NULL")
                  .text(0, 0),
              "1,2,3");
    EXPECT_EQ(pool.exec("SELECT count(*) FROM cameras").integer(0, 0), 1);
}

TEST(PgMigrations, RefusesWhatItCannotApply) {
    test::PostgresServer server;
    PgPoolOptions options;
    options.url = server.url();
    PgPool pool(options);
    ASSERT_EQ(migrate(pool, kSchema), 3);
    struct Case {
        std::vector<PgMigration> migrations;
        const char* message;
    };
    const Case cases[] = {
        {{kSchema[0], kSchema[1]}, "has schema version 3, newer than this relay knows (2)"},
        {{kSchema[1], kSchema[0]}, "out of order"},
        {{kSchema[0], kSchema[1], kSchema[2], {4, "ALTER TABLE nowhere ADD x int"}},
         "schema migration 4 failed"},
    };
    for (const Case& c : cases) {
        try {
            migrate(pool, c.migrations);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const PgError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    // Nothing of the refused runs stayed.
    EXPECT_EQ(pool.exec("SELECT max(version) FROM schema_migrations").integer(0, 0), 3);
}

} // namespace
} // namespace reflector

#include "stores/shared/ConnectionUrl.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

TEST(ConnectionUrl, ReadsRedisUrlsAndRefusesOthers) {
    struct Case {
        const char* url;
        const char* shown; // nullptr: refused
        const char* user;
        const char* password;
    };
    const Case cases[] = {
        {"redis://cache.example.org", "redis://cache.example.org:6379", "", ""},
        {"redis://:s%40cret@10.0.0.5:6380/2", "redis://10.0.0.5:6380/2", "", "s@cret"},
        {"redis://relay:p/w@d@[::1]:7000", "redis://relay@[::1]:7000", "relay", "p/w@d"},
        {"redis://host:0", nullptr, "", ""},
        {"redis://host/x", nullptr, "", ""},
        {"redis://:pw@", nullptr, "", ""},
        {"rediss://host", nullptr, "", ""},
        {"redis://onlyuser@host", nullptr, "", ""},
        {"http://host", nullptr, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        if (c.shown == nullptr) {
            EXPECT_THROW(parseRedisUrl(c.url), UrlError);
            continue;
        }
        const RedisAddress address = parseRedisUrl(c.url);
        EXPECT_EQ(address.shown(), c.shown);
        EXPECT_EQ(address.user, c.user);
        EXPECT_EQ(address.password, c.password);
    }
}

TEST(ConnectionUrl, ShowsPostgresUrlsWithoutTheirPassword) {
    const std::pair<const char*, const char*> cases[] = {
        {"postgresql://relay:s3cret@db:5432/kestrova?sslmode=require",
         "postgresql://relay@db:5432/kestrova?sslmode=require"},
        {"postgres://db/kestrova?password=s3cret&connect_timeout=3",
         "postgres://db/kestrova?connect_timeout=3"},
        {"postgresql://relay@db", "postgresql://relay@db"},
        {"postgresql://relay:p/w@d@db:5432/k", "postgresql://relay@db:5432/k"},
        {"host=db password='s3 cret' dbname=k", "host=db password=*** dbname=k"},
    };
    for (const auto& [url, shown] : cases) {
        EXPECT_EQ(postgresUrlShown(url), shown);
    }
}

} // namespace
} // namespace reflector

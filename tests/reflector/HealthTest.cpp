// The health check a load balancer asks: 200 while the relay reaches its stores, else 503 with
// the reason; never kept by a cache and never in the request log.

#include "RelaySupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <mutex>

namespace reflector {
namespace {

using namespace test;

TEST(Health, SaysWhetherTheRelayReachesItsStores) {
    TempDir dir;
    std::ofstream(dir.path() / "file") << "not a folder";
    const struct {
        const char* what;
        std::filesystem::path data;
        int status;
        std::string says;
    } cases[] = {
        {"a data folder it writes", dir.path() / "data", 200, "ok"},
        // Even root cannot make a folder inside a file: the relay serves read-only.
        {"a data folder it cannot write", dir.path() / "file" / "data", 503,
         "cannot write to the data folder " + (dir.path() / "file" / "data").string()},
    };
    for (const auto& c : cases) {
        std::mutex mutex;
        std::vector<std::string> logged;
        RelayConfig config;
        config.dataDir = c.data;
        config.requestLog = [&](const std::string& line) {
            std::lock_guard lock(mutex);
            logged.push_back(line);
        };
        RunningRelay relay(config);
        const WireAnswer health = get(relay.port(), "/healthz");
        EXPECT_EQ(health.status, c.status) << c.what;
        EXPECT_EQ(health.body.rfind(c.says, 0), 0u) << c.what << ": " << health.body;
        EXPECT_EQ(health.header("Cache-Control"), "no-store") << c.what;
        EXPECT_EQ(get(relay.port(), "/help/webcams/index.htm").status, 200) << c.what;
        relay.stop();
        std::lock_guard lock(mutex);
        ASSERT_EQ(logged.size(), 1u) << c.what << ": only the help page is logged";
        EXPECT_NE(logged[0].find(" GET /help/webcams/index.htm 200 "), std::string::npos)
            << logged[0];
    }
}

} // namespace
} // namespace reflector

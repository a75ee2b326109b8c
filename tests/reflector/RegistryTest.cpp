#include "TestFiles.h"
#include "stores/embedded/SqliteRegistry.h"

#include <fstream>
#include <gtest/gtest.h>

namespace reflector {
namespace {

using test::TempDir;

TEST(Registry, KeepsCamerasAcrossReopening) {
    TempDir dir;
    {
        SqliteRegistry registry(dir.path() / "cameras.db");
        registry.registerCamera("kept", true);
    }
    SqliteRegistry reopened(dir.path() / "cameras.db");
    const auto camera = reopened.find("kept");
    ASSERT_TRUE(camera);
    EXPECT_TRUE(camera->ptz);
}

TEST(Registry, StoresQuotesAndSqlLiterally) {
    TempDir dir;
    SqliteRegistry registry(dir.path() / "cameras.db");
    registry.registerCamera("safe", false);
    const std::string hostile = "x'); DROP TABLE cameras; --";
    registry.registerCamera(hostile, false);
    EXPECT_TRUE(registry.isRegistered(hostile));
    EXPECT_TRUE(registry.isRegistered("safe")) << "the table is still there";
    EXPECT_FALSE(registry.isRegistered("x' OR '1'='1"));
    EXPECT_EQ(registry.list().size(), 2u);
}

TEST(Registry, ReportsAFileThatIsNotADatabase) {
    TempDir dir;
    const auto file = dir.path() / "cameras.db";
    std::ofstream(file) << "this is not an SQLite database, just some text that is long enough";
    EXPECT_THROW(SqliteRegistry{file}, RegistryError);
    EXPECT_THROW(SqliteRegistry{dir.path() / "missing-folder" / "cameras.db"}, RegistryError);
}

} // namespace
} // namespace reflector

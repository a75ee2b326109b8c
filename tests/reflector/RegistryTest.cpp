#include "TestFiles.h"
#include "stores/embedded/SqliteRegistry.h"

#include <fstream>
#include <gtest/gtest.h>

namespace reflector {
namespace {

using test::TempDir;

TEST(Registry, RegistersFindsAndUpdatesCameras) {
    TempDir dir;
    SqliteRegistry registry(dir.path() / "cameras.db");
    EXPECT_FALSE(registry.isRegistered("cam1"));
    EXPECT_TRUE(registry.list().empty());

    registry.registerCamera("cam1", false);
    registry.registerCamera("Alpha", true);
    EXPECT_TRUE(registry.isRegistered("cam1"));
    EXPECT_FALSE(registry.isRegistered("CAM1")) << "identifiers are case-sensitive";

    const auto first = registry.find("cam1");
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->ptz);
    EXPECT_EQ(first->registeredAt.size(), std::string("2026-01-01T00:00:00Z").size());
    EXPECT_EQ(first->lastFrameAt, "");

    registry.registerCamera("cam1", true);
    const auto again = registry.find("cam1");
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->ptz) << "registering again updates the motor flag";
    EXPECT_EQ(again->registeredAt, first->registeredAt) << "and keeps the first registration time";

    registry.noteFrame("cam1");
    EXPECT_EQ(registry.find("cam1")->lastFrameAt.size(), first->registeredAt.size());

    const auto all = registry.list();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].id, "Alpha");
    EXPECT_EQ(all[1].id, "cam1");
}

TEST(Registry, RefusesNewCamerasBeyondTheLimitButUpdatesKnownOnes) {
    TempDir dir;
    SqliteRegistry registry(dir.path() / "cameras.db");
    EXPECT_EQ(registry.count(), 0u);
    EXPECT_TRUE(registry.registerCamera("one", false, 2));
    EXPECT_TRUE(registry.registerCamera("two", false, 2));
    EXPECT_EQ(registry.count(), 2u);

    EXPECT_FALSE(registry.registerCamera("three", false, 2));
    EXPECT_FALSE(registry.isRegistered("three"));
    EXPECT_EQ(registry.count(), 2u);

    EXPECT_TRUE(registry.registerCamera("one", true, 2)) << "a known camera is not new";
    EXPECT_TRUE(registry.find("one")->ptz);
    EXPECT_FALSE(registry.registerCamera("three", false, 1))
        << "a lowered limit leaves the cameras there but takes no new one";
    EXPECT_TRUE(registry.registerCamera("three", false)) << "no limit given";
    EXPECT_EQ(registry.count(), 3u);
}

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

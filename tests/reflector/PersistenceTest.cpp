// What the relay keeps in its data folder survives a restart.

#include "RelaySupport.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;

TEST(Persistence, CamerasAndLatestFramesSurviveARestart) {
    TempDir dir;
    const std::string frame = fakeJpeg(18000, 99);
    {
        RunningRelay relay(dir.path());
        ASSERT_EQ(registerCamera(relay.port(), "kept", true).body, "User Registered Successfully.");
        ASSERT_EQ(registerCamera(relay.port(), "silent").body, "User Registered Successfully.");
        ASSERT_EQ(upload(relay.port(), "kept", frame).body, "Reflector: true");
        EXPECT_TRUE(relay.stop());
    }

    RunningRelay again(dir.path());
    EXPECT_EQ(get(again.port(), "/webcams/CheckFolderExists?id=kept&path=webcams").body,
              "Exists: true");
    EXPECT_EQ(get(again.port(), "/webcams/CheckFolderExists?id=silent&path=webcams").body,
              "Exists: true");
    const auto live = get(again.port(), "/webcams/live?id=kept");
    EXPECT_EQ(live.status, 200);
    EXPECT_EQ(live.body, frame) << "served from the file written before the restart";
    EXPECT_EQ(get(again.port(), "/webcams/live?id=silent").body, "No picture yet");

    const std::string newer = fakeJpeg(16000, 100);
    EXPECT_EQ(upload(again.port(), "kept", newer).body, "Reflector: true");
    EXPECT_EQ(get(again.port(), "/webcams/live?id=kept").body, newer);
}

TEST(Persistence, DataFolderIsCreatedWhenMissing) {
    TempDir dir;
    const auto nested = dir.path() / "not" / "yet" / "there";
    RunningRelay relay(nested);
    EXPECT_EQ(registerCamera(relay.port(), "cam").body, "User Registered Successfully.");
    EXPECT_TRUE(std::filesystem::exists(nested / "reflector.db"));
    EXPECT_TRUE(std::filesystem::is_directory(nested / "frames"));
}

} // namespace
} // namespace reflector

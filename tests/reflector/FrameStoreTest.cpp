#include "TestFiles.h"
#include "stores/embedded/FileFrameStore.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace reflector {
namespace {

using test::fakeJpeg;
using test::TempDir;

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> names(const std::filesystem::path& dir) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        out.push_back(entry.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(FrameStore, KeepsTheLatestFrameInMemoryAndOnDisk) {
    TempDir dir;
    FileFrameStore store(dir.path() / "frames");
    EXPECT_EQ(store.latest("cam1"), nullptr);

    const std::string first = fakeJpeg(5000, 1);
    const std::string second = fakeJpeg(7000, 2);
    store.put("cam1", first);
    ASSERT_NE(store.latest("cam1"), nullptr);
    EXPECT_EQ(*store.latest("cam1"), first);
    store.put("cam1", second);
    EXPECT_EQ(*store.latest("cam1"), second);
    EXPECT_EQ(readFile(dir.path() / "frames" / "cam1.jpg"), second);
    EXPECT_EQ(names(dir.path() / "frames"), std::vector<std::string>{"cam1.jpg"})
        << "no temporary file is left behind";
}

TEST(FrameStore, ReadsFramesLeftByAnEarlierRun) {
    TempDir dir;
    const std::string frame = fakeJpeg(3000, 3);
    FileFrameStore(dir.path()).put("old", frame);

    // An interrupted write leaves a temporary file; a damaged frame file is no frame.
    std::ofstream(dir.path() / ".tmp-old-abc123") << "half a frame";
    std::ofstream(dir.path() / "broken.jpg") << "not a jpeg";

    FileFrameStore store(dir.path());
    ASSERT_NE(store.latest("old"), nullptr);
    EXPECT_EQ(*store.latest("old"), frame);
    EXPECT_EQ(store.latest("broken"), nullptr);
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"broken.jpg", "old.jpg"}));
}

TEST(FrameStore, KeepsOnlyTheMostRecentlyUsedFramesInMemory) {
    TempDir dir;
    FileFrameStore store(dir.path(), 2600); // room for two of these frames
    const std::string a = fakeJpeg(1000, 11);
    const std::string b = fakeJpeg(1100, 12);
    const std::string c = fakeJpeg(1200, 13);
    store.put("a", a);
    store.put("b", b);
    ASSERT_NE(store.latest("a"), nullptr); // a is now used more recently than b
    store.put("c", c);
    EXPECT_EQ(store.cachedFrames(), 2u);

    // Change the files behind the store's back: a frame still in memory is served from there,
    // one that left memory is read from its file again.
    const std::string aOnDisk = fakeJpeg(1300, 14);
    const std::string bOnDisk = fakeJpeg(1400, 15);
    std::ofstream(dir.path() / "a.jpg", std::ios::binary | std::ios::trunc) << aOnDisk;
    std::ofstream(dir.path() / "b.jpg", std::ios::binary | std::ios::trunc) << bOnDisk;
    ASSERT_NE(store.latest("a"), nullptr);
    EXPECT_EQ(*store.latest("a"), a) << "a was used recently and stayed in memory";
    ASSERT_NE(store.latest("b"), nullptr);
    EXPECT_EQ(*store.latest("b"), bOnDisk) << "b was the least recently used and left memory";
    EXPECT_EQ(store.cachedFrames(), 2u);

    // Reading b back pushed c, now the least recently used, out of memory.
    EXPECT_EQ(*store.latest("c"), c) << "c is still served, from its file";
    EXPECT_EQ(store.cachedFrames(), 2u);
}

TEST(FrameStore, ServesEveryCameraWhenMoreCamerasThanMemoryHoldsAreInUse) {
    TempDir dir;
    FileFrameStore store(dir.path(), 1600); // room for three of these frames
    std::vector<std::string> frames;
    for (unsigned i = 0; i < 10; ++i) {
        frames.push_back(fakeJpeg(500 + i, 20 + i));
        store.put("cam" + std::to_string(i), frames.back());
    }
    for (unsigned round = 0; round < 2; ++round) {
        for (unsigned i = 0; i < 10; ++i) {
            const auto frame = store.latest("cam" + std::to_string(i));
            ASSERT_NE(frame, nullptr) << i;
            EXPECT_EQ(*frame, frames[i]) << i;
            EXPECT_LE(store.cachedFrames(), 3u);
        }
    }
    store.put("cam0", frames[9]);
    EXPECT_EQ(*store.latest("cam0"), frames[9]) << "a new frame replaces the one in memory";
}

TEST(FrameStore, HoldsItsMemoryBoundWhateverTheFrameSizes) {
    TempDir dir;
    constexpr std::size_t bound = 8 * 1024 * 1024;
    FileFrameStore store(dir.path(), bound);
    const std::string large = fakeJpeg(2 * 1024 * 1024, 9);
    for (int i = 0; i < 40; ++i) {
        store.put("cam" + std::to_string(i), large);
        EXPECT_LE(store.cachedBytes(), bound);
    }
    for (int i = 0; i < 40; ++i) {
        ASSERT_NE(store.latest("cam" + std::to_string(i)), nullptr);
        EXPECT_LE(store.cachedBytes(), bound);
    }
    EXPECT_EQ(store.cachedFrames(), 4u);

    FileFrameStore tiny(dir.path(), 1000);
    tiny.put("big", fakeJpeg(2000, 10));
    ASSERT_NE(tiny.latest("big"), nullptr);
    EXPECT_EQ(tiny.latest("big")->size(), 2000u);
    EXPECT_EQ(tiny.cachedBytes(), 0u) << "a frame larger than the bound is served from disk";
}

TEST(FrameStore, RefusesIdentifiersThatCouldLeaveItsFolder) {
    TempDir dir;
    FileFrameStore store(dir.path() / "frames");
    for (const char* id : {"../escape", "a/b", "", ".hidden", "x.jpg"}) {
        EXPECT_THROW(store.put(id, fakeJpeg(100, 4)), std::invalid_argument) << id;
        EXPECT_THROW(store.latest(id), std::invalid_argument) << id;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "frames"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "escape.jpg"));
}

TEST(FrameStore, ReportsAFolderItCannotWrite) {
    TempDir dir;
    std::ofstream(dir.path() / "file") << "x";
    EXPECT_THROW(FileFrameStore(dir.path() / "file" / "frames"), FrameStoreError);
}

} // namespace
} // namespace reflector

// Archive frames: the station's upload, what is kept, and reading it back.

#include "RelaySupport.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;

HttpAnswer archive(Handlers& relay, const std::string& frame, const std::string& id = "cam") {
    return relay(framePost("/webcams/Archive", id, frame));
}

TEST(Archive, StationsUploadIsKeptAndReadBackAfterARestart) {
    TempDir dir;
    ManualClock clock;
    const std::string frame = fakeJpeg(20000, 5);
    {
        RunningRelay relay(configWithClock(dir.path(), clock));
        ASSERT_EQ(registerCamera(relay.port(), "cam").body, "User Registered Successfully.");
        const RawAnswer raw = rawExchange(relay.port(), stationArchive("cam", frame, relay.port()));
        EXPECT_TRUE(raw.closed);
        const WireAnswer answer = parse(raw.bytes);
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, "Archive: true");
        EXPECT_EQ(get(relay.port(), "/webcams/live?id=cam").body, "No picture yet")
            << "an archive frame is not the live frame";
    }
    const auto restarted = openStorage(configWithClock(dir.path(), clock));
    const auto days = restarted->archive().days("cam");
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].day, "2026-12-07");
    EXPECT_EQ(days[0].frames, 1u);
    const auto frames = restarted->archive().frames("cam", "2026-12-07");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].takenAt, "2026-12-07T00:00:00Z");
    EXPECT_EQ(frames[0].bytes, frame.size());
    EXPECT_EQ(restarted->archive().frame("cam", frames[0].id), frame);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "archive" / "cam" /
                                        (std::to_string(frames[0].id) + ".jpg")));
    EXPECT_FALSE(restarted->archive().frame("cam", frames[0].id + 1));
    EXPECT_FALSE(restarted->archive().frame("other", frames[0].id)) << "another camera's number";
}

TEST(Archive, RefusesWhatTheLiveUploadRefuses) {
    Handlers relay([](RelayConfig& c) { c.maxFrameBytes = 10000; });
    const std::string good = fakeJpeg(4000, 7);
    std::string notJpeg = good;
    notJpeg.back() = 'x';
    const struct {
        const char* what;
        HttpRequest request;
        int status;
        const char* body;
    } cases[] = {
        {"unknown camera", framePost("/webcams/Archive", "nobody", good), 404,
         "Archive: false - camera nobody is not registered"},
        {"not a JPEG", framePost("/webcams/Archive", "cam", notJpeg), 415,
         "Archive: false - frame is not a JPEG image"},
        {"too large", framePost("/webcams/Archive", "cam", fakeJpeg(10001, 8)), 413,
         "Archive: false - frame of 10001 bytes is larger than 10000"},
        {"bad id", framePost("/webcams/Archive", "../cam", good), 400,
         "Archive: false - not a valid camera id"},
        {"not multipart", formPost("/webcams/Archive", "id=cam&path=webcams"), 400,
         "Archive: false - expected a multipart/form-data upload"},
        {"broken multipart",
         makeRequest("POST", "/webcams/Archive", "--b\r\nno end",
                     {{"Content-Type", "multipart/form-data; boundary=b"}}),
         400, "Archive: false - malformed multipart/form-data body"},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = relay(c.request);
        EXPECT_EQ(answer.status, c.status) << c.what;
        EXPECT_EQ(answer.body, c.body) << c.what;
    }
    EXPECT_TRUE(relay.storage->archive().days("cam").empty());
}

TEST(Archive, KeepsTheNewestFramesUpToTheCount) {
    Handlers relay([](RelayConfig& c) { c.archiveMaxFrames = 3; });
    relay.storage->registry().registerCamera("other", false);
    std::vector<std::string> sent;
    for (unsigned i = 0; i < 5; ++i) {
        sent.push_back(fakeJpeg(1000 + i, 10 + i));
        ASSERT_EQ(archive(relay, sent.back()).body, "Archive: true");
        relay.clock.advance(10min);
    }
    ASSERT_EQ(archive(relay, fakeJpeg(900, 9), "other").body, "Archive: true");

    const auto frames = relay.storage->archive().frames("cam", "2026-12-07");
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(relay.storage->archive().frame("cam", frames[i].id), sent[i + 2]) << i;
    }
    EXPECT_EQ(frames[0].takenAt, "2026-12-07T00:20:00Z") << "oldest first";
    std::size_t files = 0;
    for (const auto& f :
         std::filesystem::directory_iterator(relay.dir.path() / "archive" / "cam")) {
        files += f.path().extension() == ".jpg";
    }
    EXPECT_EQ(files, 3u) << "the files of the frames let go are gone";
    EXPECT_EQ(relay.storage->archive().frames("other", "2026-12-07").size(), 1u)
        << "counted per camera";
}

TEST(Archive, LetsGoOfFramesOlderThanTheDaysKept) {
    Handlers relay([](RelayConfig& c) { c.archiveMaxDays = 2; });
    relay.clock.advance(23h);
    ASSERT_EQ(archive(relay, fakeJpeg(1000, 1)).status, 200); // 2026-12-07 23:00
    relay.clock.advance(2h);
    ASSERT_EQ(archive(relay, fakeJpeg(1000, 2)).status, 200); // 2026-12-08 01:00
    ASSERT_EQ(archive(relay, fakeJpeg(1000, 3)).status, 200);

    auto days = relay.storage->archive().days("cam");
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[0].day, "2026-12-08") << "newest first";
    EXPECT_EQ(days[0].frames, 2u);
    EXPECT_EQ(days[1].day, "2026-12-07");

    relay.clock.advance(47h); // the first frame is now 49 h old, the others 47 h
    EXPECT_EQ(relay.storage->archive().days("cam").size(), 1u) << "no longer listed";
    ASSERT_EQ(archive(relay, fakeJpeg(1000, 4)).status, 200);
    EXPECT_EQ(relay.storage->archive().frames("cam", "2026-12-07").size(), 0u);
    EXPECT_EQ(relay.storage->archive().frames("cam", "2026-12-08").size(), 2u);

    // Frames of a camera that stopped uploading go when the relay starts.
    relay.clock.advance(49h);
    RelayConfig config = configWithClock(relay.dir.path(), relay.clock);
    config.archiveMaxDays = 2;
    const auto restarted = openStorage(config);
    EXPECT_TRUE(restarted->archive().days("cam").empty());
    EXPECT_TRUE(std::filesystem::is_empty(relay.dir.path() / "archive" / "cam"));
}

TEST(Archive, FramesOnTheirWayToViewersAreBoundedInBytes) {
    Handlers relay([](RelayConfig& c) { c.archiveAnswerBytes = 5000; });
    ASSERT_EQ(relay(formPost("/webcams/SyncWebcams",
                             "id=cam&path=webcams&zoom=false&snapshot=false&chat=false"
                             "&secure=false&password=pw&ptz=false&presets=false&archive=true"
                             "&chatID=Garden%20Chat:7"))
                  .status,
              200);
    const std::string frame = fakeJpeg(3000, 9);
    ASSERT_EQ(archive(relay, frame).status, 200);
    const std::string uri =
        "/webcams/archive/frame?id=cam&frame=" +
        std::to_string(relay.storage->archive().frames("cam", "2026-12-07").at(0).id);

    // A viewer that does not read holds its answer; a second one would pass the bound.
    auto first = std::make_unique<HttpAnswer>(relay(getRequest(uri)));
    ASSERT_EQ(first->status, 200);
    EXPECT_EQ(first->content(), frame);
    const HttpAnswer busy = relay(getRequest(uri));
    EXPECT_EQ(busy.status, 503);
    EXPECT_NE(busy.content().find("try again later"), std::string_view::npos);
    // Once the first answer is gone, its bytes are free again.
    first.reset();
    EXPECT_EQ(relay(getRequest(uri)).status, 200);
}

} // namespace
} // namespace reflector

// Live frame uploads, written exactly as the station writes them, and the live picture that
// viewers fetch afterwards.

#include "RelaySupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sqlite3.h>

namespace reflector {
namespace {

using namespace test;

class Uploads : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(registerCamera(relay.port(), "cam1").body, "User Registered Successfully.");
    }

    // True when the answer is a refusal as the station recognises one.
    static bool isRefusal(const WireAnswer& a) {
        return a.body.find("Reflector") != std::string::npos &&
               a.body.find("false") != std::string::npos;
    }

    TempDir dir;
    RunningRelay relay{dir.path()};
};

TEST_F(Uploads, AcceptedFrameIsServedByteForByte) {
    const std::string frame = fakeJpeg(24000, 11);
    const RawAnswer raw =
        rawExchange(relay.port(), stationUpload("cam1", "webcams", &frame, relay.port()));
    EXPECT_TRUE(raw.closed);
    const auto answer = parse(raw.bytes);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "Reflector: true");
    EXPECT_EQ(raw.bytes.find("false"), std::string::npos)
        << "the station logs any answer holding both Reflector and false";

    const auto live = get(relay.port(), "/webcams/live?id=cam1");
    EXPECT_EQ(live.status, 200);
    EXPECT_EQ(live.header("Content-Type"), "image/jpeg");
    EXPECT_EQ(live.header("Cache-Control"), "public, max-age=1");
    EXPECT_FALSE(live.header("ETag").empty());
    EXPECT_EQ(live.body, frame);

    const auto live2 = get(relay.port(), "/webcams/live?id=cam1&t=1733568000000");
    EXPECT_EQ(live2.body, frame) << "the cache-busting parameter is ignored";
}

TEST_F(Uploads, NewestFrameWinsAndReachesTheDisk) {
    const std::string first = fakeJpeg(9000, 21);
    const std::string second = fakeJpeg(12000, 22);
    EXPECT_EQ(upload(relay.port(), "cam1", first).body, "Reflector: true");
    EXPECT_EQ(upload(relay.port(), "cam1", second).body, "Reflector: true");
    EXPECT_EQ(get(relay.port(), "/webcams/live?id=cam1").body, second);

    std::ifstream file(dir.path() / "frames" / "cam1.jpg", std::ios::binary);
    const std::string onDisk{std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>()};
    EXPECT_EQ(onDisk, second);
}

TEST_F(Uploads, FrameOfAnotherBoundaryAndSizeLimitIsAccepted) {
    const std::string frame = fakeJpeg(2 * 1024 * 1024, 23); // exactly the limit
    const auto answer =
        parse(rawExchange(relay.port(), stationUpload("cam1", "webcams", &frame, relay.port(),
                                                      "abc0123456789XYZabc0123456789XYZ"))
                  .bytes);
    EXPECT_EQ(answer.body, "Reflector: true");
    EXPECT_EQ(get(relay.port(), "/webcams/live?id=cam1").body, frame);
}

TEST_F(Uploads, RefusesUnknownCamerasBadFramesAndMissingFields) {
    const std::string good = fakeJpeg(4000, 31);
    const std::string notJpeg = "GIF89a just some bytes";
    std::string noEnd = good;
    noEnd.back() = 'x';
    const std::string tooLarge = fakeJpeg(2 * 1024 * 1024 + 1, 32);
    const std::string empty;

    const struct {
        const char* what;
        std::string request;
        const char* reason;
    } cases[] = {
        {"unknown camera", stationUpload("nobody", "webcams", &good, relay.port()),
         "not registered"},
        {"not a JPEG", stationUpload("cam1", "webcams", &notJpeg, relay.port()), "JPEG"},
        {"no end marker", stationUpload("cam1", "webcams", &noEnd, relay.port()), "JPEG"},
        {"empty frame", stationUpload("cam1", "webcams", &empty, relay.port()), "JPEG"},
        {"too large", stationUpload("cam1", "webcams", &tooLarge, relay.port()), "larger"},
        {"no id", stationUpload(nullptr, "webcams", &good, relay.port()), "'id'"},
        {"no path", stationUpload("cam1", nullptr, &good, relay.port()), "'path'"},
        {"no frame", stationUpload("cam1", "webcams", nullptr, relay.port()), "'frame'"},
        {"bad id", stationUpload("../cam1", "webcams", &good, relay.port()), "camera id"},
        {"SQL in id", stationUpload("x'; DROP TABLE cameras; --", "webcams", &good, relay.port()),
         "camera id"},
        {"other folder", stationUpload("cam1", "archive", &good, relay.port()), "folder"},
    };
    for (const auto& c : cases) {
        const RawAnswer raw = rawExchange(relay.port(), c.request);
        EXPECT_TRUE(raw.closed) << c.what;
        const auto answer = parse(raw.bytes);
        EXPECT_TRUE(isRefusal(answer)) << c.what << ": " << answer.body;
        EXPECT_GE(answer.status, 400) << c.what;
        EXPECT_NE(answer.body.find(c.reason), std::string::npos) << c.what << ": " << answer.body;
    }
    EXPECT_EQ(get(relay.port(), "/webcams/live?id=cam1").status, 404) << "no refused frame is kept";
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "frames" / "cam1.jpg"));
    EXPECT_EQ(get(relay.port(), "/webcams/CheckFolderExists?id=cam1&path=webcams").body,
              "Exists: true");
}

TEST_F(Uploads, NamesTheUnregisteredCameraInItsRefusal) {
    const auto answer = upload(relay.port(), "nobody", fakeJpeg(2000, 33));
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.body, "Reflector: false - camera nobody is not registered");
}

TEST_F(Uploads, RefusesBodiesThatAreNotMultipartForms) {
    const std::string form = "id=cam1&path=webcams";
    const auto answer =
        parse(rawExchange(relay.port(), "POST /webcams/Reflector HTTP/1.1\r\nHost: x\r\n"
                                        "Content-Type: application/x-www-form-urlencoded\r\n"
                                        "Content-Length: " +
                                            std::to_string(form.size()) +
                                            "\r\nConnection: Close\r\n\r\n" + form)
                  .bytes);
    EXPECT_EQ(answer.status, 400);
    EXPECT_TRUE(isRefusal(answer)) << answer.body;
}

TEST_F(Uploads, RefusesARequestLargerThanTheRelayReadsUnread) {
    // Only the header is sent: the relay must answer from the announced length alone.
    const auto answer =
        parse(rawExchange(relay.port(), "POST /webcams/Reflector HTTP/1.1\r\nHost: x\r\n"
                                        "Content-Type: multipart/form-data; boundary=b\r\n"
                                        "Content-Length: 5000000\r\nConnection: Close\r\n\r\n")
                  .bytes);
    EXPECT_EQ(answer.status, 413);
    EXPECT_TRUE(isRefusal(answer)) << answer.body;
}

TEST_F(Uploads, StoredFrameIsAcceptedEvenWhenItsTimeCannotBeRecorded) {
    // Another connection makes every update of the frame time fail, as a full disk would.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() / "reflector.db").c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db,
                                "CREATE TRIGGER refuse_frame_time BEFORE UPDATE OF last_frame_at"
                                " ON cameras BEGIN SELECT RAISE(ABORT, 'disk full'); END",
                                nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << (error != nullptr ? error : "");
    sqlite3_free(error);

    const std::string frame = fakeJpeg(6000, 51);
    const auto answer = upload(relay.port(), "cam1", frame);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "Reflector: true");
    EXPECT_EQ(get(relay.port(), "/webcams/live?id=cam1").body, frame);

    sqlite3_stmt* query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT last_frame_at IS NULL FROM cameras WHERE id = 'cam1'",
                                 -1, &query, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(query, 0), 1) << "the time was indeed not recorded";
    sqlite3_finalize(query);
    sqlite3_close(db);
}

TEST_F(Uploads, ClientThatSendsTheWholeTooLargeBodyStillReadsTheRefusal) {
    // The relay refuses from the announced length, then reads the rest and throws it away:
    // closing with the body unread would reset the connection under the client's feet.
    const std::string request = "POST /webcams/Reflector HTTP/1.1\r\nHost: x\r\n"
                                "Content-Type: multipart/form-data; boundary=b\r\n"
                                "Content-Length: 5000000\r\nConnection: Close\r\n\r\n" +
                                std::string(5000000, 'x');
    const RawAnswer raw = rawExchange(relay.port(), request);
    EXPECT_EQ(raw.sent, request.size()) << "the relay took the whole body";
    EXPECT_TRUE(raw.closed);
    const auto answer = parse(raw.bytes);
    EXPECT_EQ(answer.status, 413);
    EXPECT_EQ(answer.body, "Reflector: false - request body larger than 4194304 bytes");
}

TEST_F(Uploads, RefusesBodiesWithoutALength) {
    // Such a body would be read whole into memory, whatever its size.
    const std::string chunk(1000, 'x');
    const RawAnswer chunked =
        rawExchange(relay.port(), "POST /webcams/Reflector HTTP/1.1\r\nHost: x\r\n"
                                  "Content-Type: multipart/form-data; boundary=b\r\n"
                                  "Transfer-Encoding: chunked\r\nConnection: Close\r\n\r\n"
                                  "3e8\r\n" +
                                      chunk + "\r\n0\r\n\r\n");
    EXPECT_TRUE(chunked.closed);
    const auto refused = parse(chunked.bytes);
    EXPECT_EQ(refused.status, 411);
    EXPECT_EQ(refused.body, "Reflector: false - request body without a Content-Length");

    const RawAnswer unbounded =
        rawExchange(relay.port(), "POST /webcams/NoSuchThing HTTP/1.1\r\nHost: x\r\n"
                                  "Content-Type: application/x-www-form-urlencoded\r\n"
                                  "Connection: Close\r\n\r\nid=cam1&path=webcams");
    EXPECT_TRUE(unbounded.closed);
    EXPECT_EQ(parse(unbounded.bytes).status, 411);
    EXPECT_EQ(parse(unbounded.bytes).body, "request body without a Content-Length");
}

TEST_F(Uploads, LivePictureAnswersForMissingFrames) {
    const auto noPicture = get(relay.port(), "/webcams/live?id=cam1");
    EXPECT_EQ(noPicture.status, 404);
    EXPECT_EQ(noPicture.body, "No picture yet");
    EXPECT_EQ(get(relay.port(), "/webcams/live?id=nobody").status, 404);
    EXPECT_EQ(get(relay.port(), "/webcams/live?id=..%2Fcam1").status, 400);
    EXPECT_EQ(get(relay.port(), "/webcams/live").status, 400);
}

TEST_F(Uploads, CamerasKeepTheirOwnFrames) {
    ASSERT_EQ(registerCamera(relay.port(), "cam2", true).body, "User Registered Successfully.");
    const std::string one = fakeJpeg(3000, 41);
    const std::string two = fakeJpeg(3500, 42);
    EXPECT_EQ(upload(relay.port(), "cam1", one).body, "Reflector: true");
    EXPECT_EQ(upload(relay.port(), "cam2", two).body, "Reflector: true");
    EXPECT_EQ(get(relay.port(), "/webcams/live?id=cam1").body, one);
    EXPECT_EQ(get(relay.port(), "/webcams/live?id=cam2").body, two);
}

TEST(UploadsWithLittleMemory, FramesThatLeftMemoryAreServedFromDisk) {
    TempDir dir;
    RelayConfig config;
    config.dataDir = dir.path();
    config.frameCacheBytes = 3200; // one of the two frames
    RunningRelay relay(config);
    const std::string one = fakeJpeg(3000, 61);
    const std::string two = fakeJpeg(3500, 62);
    ASSERT_EQ(registerCamera(relay.port(), "cam1").body, "User Registered Successfully.");
    ASSERT_EQ(registerCamera(relay.port(), "cam2").body, "User Registered Successfully.");
    EXPECT_EQ(upload(relay.port(), "cam1", one).body, "Reflector: true");
    EXPECT_EQ(upload(relay.port(), "cam2", two).body, "Reflector: true");
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(get(relay.port(), "/webcams/live?id=cam1").body, one);
        EXPECT_EQ(get(relay.port(), "/webcams/live?id=cam2").body, two);
    }
}

} // namespace
} // namespace reflector

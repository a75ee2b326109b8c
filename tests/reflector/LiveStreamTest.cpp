// Live streams (multipart/x-mixed-replace) and the latest frame as caches see it.

#include "routes/LiveStream.h"
#include "RelaySupport.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;

// Reads one part of a live stream: its header lines, then the frame its length announces.
std::string readPart(Client& viewer) {
    const WireAnswer head = parse("HTTP/1.1 200 part\r\n" + viewer.readUntil("\r\n\r\n"));
    EXPECT_EQ(head.header("Content-Type"), "image/jpeg");
    const std::string frame = viewer.readExactly(std::stoul(head.header("Content-Length")));
    EXPECT_EQ(viewer.readExactly(2), "\r\n");
    return frame;
}

class Streams : public ::testing::Test {
  protected:
    void start(const std::function<void(RelayConfig&)>& adjust = {}) {
        RelayConfig config;
        config.dataDir = dir.path();
        if (adjust) {
            adjust(config);
        }
        relay = std::make_unique<RunningRelay>(config);
        ASSERT_EQ(registerCamera(port(), "cam").status, 200);
    }
    int port() const { return relay->port(); }
    std::string visitorStatus() { return get(port(), "/webcams/CheckVisitorStatus?id=cam").body; }

    TempDir dir;
    std::unique_ptr<RunningRelay> relay;
};

TEST_F(Streams, AStreamSendsTheLatestFrameThenEachNewOne) {
    start();
    const std::string first = fakeJpeg(12000, 1);
    const std::string second = fakeJpeg(30000, 2);
    const std::string third = fakeJpeg(500, 3);
    ASSERT_EQ(upload(port(), "cam", first).body, "Reflector: true");

    Client viewer(port());
    viewer.send(viewerGet("/webcams/stream?id=cam"));
    const WireAnswer head = parse(viewer.readUntil("\r\n\r\n"));
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("Content-Type"), "multipart/x-mixed-replace; boundary=kestrovaframe");
    EXPECT_EQ(head.header("Content-Length"), "") << "a stream has no length";
    EXPECT_EQ(head.header("Cache-Control"), "no-store");
    EXPECT_EQ(viewer.readUntil("\r\n"), "--kestrovaframe\r\n");
    EXPECT_EQ(readPart(viewer), first);

    for (const std::string* frame : {&second, &third}) {
        ASSERT_EQ(upload(port(), "cam", *frame).body, "Reflector: true");
        EXPECT_EQ(viewer.readUntil("\r\n"), "--kestrovaframe\r\n");
        EXPECT_EQ(readPart(viewer), *frame);
    }
}

TEST_F(Streams, StreamsAreCappedAndTheirViewersAreVisitors) {
    start([](RelayConfig& c) {
        c.maxStreams = 1;
        c.visitorWindow = 1s;
    });
    EXPECT_EQ(visitorStatus(), "false");
    auto viewer = std::make_unique<Client>(port());
    viewer->send(viewerGet("/webcams/stream?id=cam"));
    EXPECT_EQ(parse(viewer->readUntil("\r\n\r\n")).status, 200);
    ASSERT_TRUE(eventually([&] { return relay->openStreams() == 1; }));
    EXPECT_EQ(visitorStatus(), "true") << "before any frame, and however long it watches";

    Client second(port());
    second.send(viewerGet("/webcams/stream?id=cam"));
    const WireAnswer refused = second.readAnswer();
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.body, "Too many live streams at once, try again later");

    const struct {
        const char* target;
        int status;
    } refusals[] = {{"/webcams/stream?id=nobody", 404}, {"/webcams/stream?id=..%2F", 400}};
    for (const auto& r : refusals) {
        EXPECT_EQ(get(port(), r.target).status, r.status) << r.target;
    }

    viewer.reset();
    EXPECT_TRUE(eventually([&] { return relay->openStreams() == 0; }))
        << "a viewer that leaves gives its stream back";
    EXPECT_TRUE(eventually([&] { return visitorStatus() == "false"; }, 5s))
        << "the window runs from the moment it left";
}

TEST(StreamParts, FramesAreSharedWithTheStoreNotCopied) {
    Handlers relay;
    relay.storage->frames().put("cam", fakeJpeg(5000, 4));
    HttpAnswer first = relay.service->handle(getRequest("/webcams/stream?id=cam"));
    HttpAnswer second = relay.service->handle(getRequest("/webcams/stream?id=cam"));
    ASSERT_TRUE(first.stream && second.stream);
    first.stream->start([] {});
    second.stream->start([] {});
    bool ended = true;
    const auto a = first.stream->next(ended);
    const auto b = second.stream->next(ended);
    EXPECT_FALSE(ended);
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), 3u);
    const auto stored = relay.storage->frames().latest("cam");
    EXPECT_EQ(a[1]->data(), stored->data()) << "the store's own bytes";
    EXPECT_EQ(b[1]->data(), stored->data());
    EXPECT_TRUE(first.stream->next(ended).empty()) << "nothing new until the next frame";
    EXPECT_EQ(relay.service->openStreams(), 2u);
    first = HttpAnswer();
    EXPECT_EQ(relay.service->openStreams(), 1u);
}

TEST_F(Streams, TheLatestFrameMayBeCachedForASecondAndRevalidated) {
    start();
    const std::string frame = fakeJpeg(8000, 6);
    ASSERT_EQ(upload(port(), "cam", frame).body, "Reflector: true");
    Client viewer(port());
    viewer.send(viewerGet("/webcams/live?id=cam"));
    const WireAnswer full = viewer.readAnswer();
    EXPECT_EQ(full.header("Cache-Control"), "public, max-age=1");
    const std::string tag = full.header("ETag");
    ASSERT_EQ(tag.size(), 2u + 16 + 1 + 4) << tag;

    const struct {
        std::string ifNoneMatch;
        int status;
    } cases[] = {
        {tag, 304}, {"W/" + tag, 304}, {"\"other\", " + tag, 304}, {"*", 304}, {"\"other\"", 200}};
    for (const auto& c : cases) {
        viewer.send(viewerGet("/webcams/live?id=cam", {{"If-None-Match", c.ifNoneMatch}}));
        const WireAnswer answer = viewer.readAnswer();
        EXPECT_EQ(answer.status, c.status) << c.ifNoneMatch;
        EXPECT_EQ(answer.header("ETag"), tag) << c.ifNoneMatch;
        EXPECT_EQ(answer.body, c.status == 200 ? frame : "") << c.ifNoneMatch;
    }
    EXPECT_EQ(visitorStatus(), "true") << "a revalidation is a visit too";

    ASSERT_EQ(upload(port(), "cam", fakeJpeg(8000, 7)).body, "Reflector: true");
    viewer.send(viewerGet("/webcams/live?id=cam", {{"If-None-Match", tag}}));
    EXPECT_EQ(viewer.readAnswer().status, 200) << "a new frame has a new tag";
    EXPECT_EQ(get(port(), "/webcams/live?id=nobody").header("Cache-Control"), "no-store");
}

} // namespace
} // namespace reflector

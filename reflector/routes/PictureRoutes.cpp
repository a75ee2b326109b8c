#include "routes/PictureRoutes.h"

#include "core/CameraId.h"
#include "routes/Forms.h"
#include "routes/LiveStream.h"

#include <ctime>
#include <optional>

namespace reflector {

namespace {

HttpAnswer jpegAnswer(std::shared_ptr<const std::string> jpeg, bool shared, int maxAge) {
    HttpAnswer answer;
    answer.contentType = "image/jpeg";
    answer.sharedBody = std::move(jpeg);
    answer.headers.emplace_back("Cache-Control", std::string(shared ? "public" : "private") +
                                                     ", max-age=" + std::to_string(maxAge));
    return answer;
}

// "20261207-104055" of now.
std::string fileTime(WallClock::time_point now) {
    const std::time_t t = WallClock::to_time_t(now);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
    return text;
}

} // namespace

PictureRoutes::PictureRoutes(const RelayConfig& config, Registry& registry, FrameStore& frames,
                             OptionStore& options, VisitorTracker& visitors, ArchiveStore& archive,
                             ViewerGate& gate)
    : clock_(clockOrSystem(config.clock)), registry_(registry), frames_(frames), options_(options),
      visitors_(visitors), archive_(archive), gate_(gate), streams_(config.maxStreams, 0),
      archiveAnswers_(config.archiveAnswerBytes) {}

void PictureRoutes::addRoutes(Router& r) {
    // Quick while the lookups of every request answer from memory; a picture only while its
    // frame is in memory too (the others are read on a worker).
    RouteOptions quick;
    quick.quick = registry_.inMemory() && gate_.inMemory() && visitors_.inMemory();
    RouteOptions frameInMemory = quick;
    frameInMemory.quickIf = [this](const HttpRequest& req) {
        const std::string id = req.param("id");
        return !isValidCameraId(id) || frames_.inMemory(id);
    };
    r.add(
        "GET", "/webcams/live", [this](const HttpRequest& req) { return live(req); },
        frameInMemory);
    r.add(
        "GET", "/webcams/stream", [this](const HttpRequest& req) { return stream(req); }, quick);
    r.add(
        "GET", "/webcams/snapshot", [this](const HttpRequest& req) { return snapshot(req); },
        frameInMemory);
    r.add(
        "GET", "/webcams/thumb", [this](const HttpRequest& req) { return thumbnail(req); },
        frameInMemory);
    r.add("GET", "/webcams/archive/frame",
          [this](const HttpRequest& req) { return archiveFrame(req); });
}

HttpAnswer PictureRoutes::live(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    const bool registered = registry_.isRegistered(id);
    ViewerAccess access = gate_.access(req, id);
    if (!access.allowed) {
        return access.refusal;
    }
    const auto frame = frames_.frame(id);
    if (registered) {
        visitors_.noteVisit(id);
    }
    if (!frame) {
        return textAnswer(404, registered ? "No picture yet" : "Unknown camera");
    }
    // A caching proxy or CDN may keep the frame for a second and then ask again with its tag;
    // an unchanged frame is answered 304 without its bytes.
    HttpAnswer answer;
    answer.headers.reserve(2);
    answer.headers.emplace_back("Cache-Control",
                                access.sharedCaching ? "public, max-age=1" : "private, max-age=1");
    answer.headers.emplace_back("ETag", frame->etag);
    if (matchesTag(req.header("If-None-Match"), frame->etag)) {
        answer.status = 304;
        return answer;
    }
    answer.contentType = "image/jpeg";
    answer.sharedBody = std::shared_ptr<const std::string>(frame, &frame->jpeg);
    return answer;
}

HttpAnswer PictureRoutes::stream(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    if (!registry_.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    ViewerAccess access = gate_.access(req, id);
    if (!access.allowed) {
        return access.refusal;
    }
    HoldLimit::Permit permit = streams_.tryHold(req.clientAddress);
    if (!permit) {
        HttpAnswer busy = textAnswer(503, "Too many live streams at once, try again later");
        busy.headers.emplace_back("Retry-After", "10");
        return busy;
    }
    HttpAnswer answer;
    answer.contentType = std::string("multipart/x-mixed-replace; boundary=") + kStreamBoundary;
    answer.stream = std::make_shared<CameraStream>(frames_, visitors_, id, std::move(permit));
    answer.closeConnection = true;
    return answer;
}

HttpAnswer PictureRoutes::snapshot(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    if (!registry_.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    const ViewerAccess access = gate_.access(req, id);
    if (!access.allowed) {
        return access.refusal;
    }
    const auto options = options_.find(id);
    if (!options || !options->snapshot) {
        return textAnswer(403, "Snapshots are off for this camera");
    }
    const auto frame = frames_.latest(id);
    visitors_.noteVisit(id);
    if (!frame) {
        return textAnswer(404, "No picture yet");
    }
    HttpAnswer answer = jpegAnswer(frame, false, 0);
    answer.headers.back().second = "no-store";
    answer.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + id + "-" +
                                                           fileTime(clock_()) + ".jpg\"");
    return answer;
}

HttpAnswer PictureRoutes::thumbnail(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    if (!registry_.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    const auto options = options_.find(id);
    if (options && options->secure) {
        return textAnswer(401, "Password required");
    }
    // The latest stored frame, however old: a look at the live list must not wake every
    // station, so this is no visit.
    const auto frame = frames_.latest(id);
    if (!frame) {
        return textAnswer(404, "No picture yet");
    }
    return jpegAnswer(frame, true, 10);
}

HttpAnswer PictureRoutes::archiveFrame(const HttpRequest& req) {
    const std::string id = req.param("id");
    if (!isValidCameraId(id)) {
        return textAnswer(400, "Not a valid camera id");
    }
    const auto number = readId(req.param("frame"));
    if (!number) {
        return textAnswer(400, "Not a frame number");
    }
    if (!registry_.isRegistered(id)) {
        return textAnswer(404, "Unknown camera");
    }
    const auto options = options_.find(id);
    if (!options || !options->archive) {
        return textAnswer(403, "The archive of this camera is not shown");
    }
    const ViewerAccess access = gate_.access(req, id);
    if (!access.allowed) {
        return access.refusal;
    }
    auto bytes = archive_.frame(id, *number);
    if (!bytes) {
        return textAnswer(404, "No such frame");
    }
    auto body = archiveAnswers_.charge(std::move(*bytes));
    if (!body) {
        HttpAnswer busy = textAnswer(503, "Too many archive frames on their way, try again later");
        busy.headers.emplace_back("Retry-After", "1");
        return busy;
    }
    return jpegAnswer(std::move(body), access.sharedCaching, 86400);
}

} // namespace reflector

#include "routes/LiveStream.h"

namespace reflector {

CameraStream::CameraStream(FrameStore& frames, VisitorTracker& visitors, std::string camera,
                           HoldLimit::Permit permit)
    : frames_(frames), visitors_(visitors), camera_(std::move(camera)), permit_(std::move(permit)) {
    visitors_.startWatching(camera_);
}

CameraStream::~CameraStream() {
    subscription_.reset();
    fetched_.abandon([](std::shared_ptr<const Frame>) {});
    visitors_.stopWatching(camera_);
}

void CameraStream::start(Wake wake) {
    fetched_.start(wake);
    subscription_ = frames_.subscribe(camera_, std::move(wake));
}

std::vector<AnswerStream::Piece> CameraStream::next(bool& ended) {
    ended = false;
    const auto fetch = [this](std::function<void(std::shared_ptr<const Frame>)> done) {
        frames_.frameAsync(camera_, std::move(done));
    };
    std::optional<std::shared_ptr<const Frame>> fetched = fetched_.answer(fetch);
    if (fetched && (!*fetched || (*fetched)->etag == sentTag_) && fetched_.stale()) {
        // A frame stored while this one was on its way.
        fetched = fetched_.answer(fetch);
    }
    if (!fetched || !*fetched || (*fetched)->etag == sentTag_) {
        return {};
    }
    const std::shared_ptr<const Frame> frame = std::move(*fetched);
    sentTag_ = frame->etag;
    static const Piece partEnd = std::make_shared<const std::string>("\r\n");
    auto head = std::make_shared<const std::string>(
        std::string("--") + kStreamBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
        std::to_string(frame->jpeg.size()) + "\r\n\r\n");
    return {std::move(head), Piece(frame, &frame->jpeg), partEnd};
}

} // namespace reflector

#include "routes/LiveStream.h"

namespace reflector {

CameraStream::CameraStream(FrameStore& frames, VisitorTracker& visitors, std::string camera,
                           HoldLimit::Permit permit)
    : frames_(frames), visitors_(visitors), camera_(std::move(camera)), permit_(std::move(permit)) {
    visitors_.startWatching(camera_);
}

CameraStream::~CameraStream() {
    subscription_.reset();
    visitors_.stopWatching(camera_);
}

void CameraStream::start(Wake wake) {
    subscription_ = frames_.subscribe(camera_, std::move(wake));
}

std::vector<AnswerStream::Piece> CameraStream::next(bool& ended) {
    ended = false;
    const std::shared_ptr<const Frame> frame = frames_.frame(camera_);
    if (!frame || frame->etag == sentTag_) {
        return {};
    }
    sentTag_ = frame->etag;
    static const Piece partEnd = std::make_shared<const std::string>("\r\n");
    auto head = std::make_shared<const std::string>(
        std::string("--") + kStreamBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
        std::to_string(frame->jpeg.size()) + "\r\n\r\n");
    return {std::move(head), Piece(frame, &frame->jpeg), partEnd};
}

} // namespace reflector

#include "LiveStream.h"

#include "Routes.h"

namespace reflector {

bool matchesTag(std::string_view ifNoneMatch, std::string_view tag) {
    while (!ifNoneMatch.empty()) {
        const std::size_t comma = ifNoneMatch.find(',');
        std::string_view candidate = ifNoneMatch.substr(0, comma);
        ifNoneMatch =
            comma == std::string_view::npos ? std::string_view() : ifNoneMatch.substr(comma + 1);
        while (!candidate.empty() && (candidate.front() == ' ' || candidate.front() == '\t')) {
            candidate.remove_prefix(1);
        }
        while (!candidate.empty() && (candidate.back() == ' ' || candidate.back() == '\t')) {
            candidate.remove_suffix(1);
        }
        if (candidate.substr(0, 2) == "W/") {
            candidate.remove_prefix(2);
        }
        if (candidate == "*" || (!candidate.empty() && candidate == tag)) {
            return true;
        }
    }
    return false;
}

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

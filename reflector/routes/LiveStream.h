#pragma once

#include "core/HoldLimit.h"
#include "core/Http.h"
#include "core/Notifier.h"
#include "routes/Asked.h"
#include "stores/Frames.h"
#include "stores/Visitors.h"

#include <string>
#include <vector>

namespace reflector {

// The boundary between the frames of a live stream.
constexpr const char* kStreamBoundary = "kestrovaframe";

// A camera's live stream (multipart/x-mixed-replace, the "MJPEG" of browsers and players):
// the latest frame at once, then each new frame as it is stored. A viewer that reads slower
// than frames arrive skips frames instead of queueing them. Frame bytes are shared with the
// frame store and every other stream, never copied. While it runs, the camera has a visitor.
// It runs on a network thread: a frame that is no longer in the store's memory is asked for
// (FrameStore::frameAsync) and sent once the store has it.
class CameraStream : public AnswerStream {
  public:
    CameraStream(FrameStore& frames, VisitorTracker& visitors, std::string camera,
                 HoldLimit::Permit permit);
    ~CameraStream() override;

    void start(Wake wake) override;
    std::vector<Piece> next(bool& ended) override;

  private:
    FrameStore& frames_;
    VisitorTracker& visitors_;
    std::string camera_;
    HoldLimit::Permit permit_;
    Subscription subscription_;
    Asked<std::shared_ptr<const Frame>> fetched_;
    std::string sentTag_; // of the last frame sent
};

} // namespace reflector

#pragma once

// The viewers' pictures: the latest frame, the live stream, snapshots, the live list's
// thumbnails and archive frames. The first four are quick: they run on the network threads
// while the stores they ask answer from memory.

#include "core/Config.h"
#include "core/HoldLimit.h"
#include "core/Http.h"
#include "routes/Shared.h"
#include "stores/Archive.h"
#include "stores/CameraOptions.h"
#include "stores/Frames.h"
#include "stores/Registry.h"
#include "stores/Visitors.h"

#include <string>

namespace reflector {

class PictureRoutes {
  public:
    PictureRoutes(const RelayConfig& config, Registry& registry, FrameStore& frames,
                  OptionStore& options, VisitorTracker& visitors, ArchiveStore& archive,
                  ViewerGate& gate);
    PictureRoutes(const PictureRoutes&) = delete;
    PictureRoutes& operator=(const PictureRoutes&) = delete;

    void addRoutes(Router& router);
    // Live streams open now.
    std::size_t openStreams() const { return streams_.held(); }

  private:
    HttpAnswer live(const HttpRequest& req);
    HttpAnswer stream(const HttpRequest& req);
    HttpAnswer snapshot(const HttpRequest& req);
    HttpAnswer thumbnail(const HttpRequest& req);
    HttpAnswer archiveFrame(const HttpRequest& req);

    TimeSource clock_;
    Registry& registry_;
    FrameStore& frames_;
    OptionStore& options_;
    VisitorTracker& visitors_;
    ArchiveStore& archive_;
    ViewerGate& gate_;
    HoldLimit streams_;
    AnswerBudget archiveAnswers_;
};

} // namespace reflector

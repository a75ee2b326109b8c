// The archive: while it is switched on, one frame at the chosen rate (every 10 minutes to once a
// day) goes to "/webcams/Archive" on the relay, on a socket of its own, and the minutes left to
// the next upload are shown.
#pragma once

#include "core/Controls.h"
#include "service/Upload.h"

#include <memory>

namespace kestrova {

class ServiceSocket;
class SettingsSync;

// The minutes each entry of the archive rate list stands for.
constexpr int kArchiveRateMinutes[] = {10, 30, 60, 180, 360, 720, 1440};
// The rate used when the archive is switched on without a rate chosen: "Every 30 minutes".
constexpr int kDefaultArchiveRateIndex = 1;

class ArchiveUploader {
  public:
    // Installs the handlers of the archive's controls: the on/off box, the rate list and the
    // display-archive box (which synchronises the options through `sync`).
    explicit ArchiveUploader(SettingsSync& sync);
    ~ArchiveUploader();
    ArchiveUploader(const ArchiveUploader&) = delete;
    ArchiveUploader& operator=(const ArchiveUploader&) = delete;

    void chkEnableArchive_Click();
    void cboArchive_Click();
    void chkDisplayArchive_Click();

    // The minute tick of tmrArchive: counts down and uploads when the interval is over.
    void tmrArchive_Timer();

    // Uploads the current frame, unless a camera change is under way or there is no frame.
    void UploadArchive();

    void CloseArchiveSocket();

    // Where frames come from; the station connects it to the camera.
    void setFrameSource(FrameSource source) { source_ = std::move(source); }
    void setTimeouts(const UploadTimeouts& timeouts) { timeouts_ = timeouts; }

  private:
    void ShowCountdown();

    SettingsSync& sync_;
    std::unique_ptr<ServiceSocket> archiveSocket_;
    FrameSource source_;
    UploadTimeouts timeouts_;
    bool uploading_ = false;
    HandlerOwner alive_ = std::make_shared<int>();
};

} // namespace kestrova

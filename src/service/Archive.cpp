#include "service/Archive.h"

#include "core/AppState.h"
#include "core/EventLog.h"
#include "core/Text.h"
#include "core/Wait.h"
#include "service/KeyRefusal.h"
#include "service/Reflector.h"
#include "service/ServiceSocket.h"
#include "service/Sync.h"

#include <iterator>

namespace kestrova {

namespace {

// The relay's answer is kept for the record only: what a faulty relay sends beyond its start
// is thrown away.
constexpr qsizetype kArchiveAnswerKept = 64 * 1024;

} // namespace

ArchiveUploader::ArchiveUploader(SettingsSync& sync)
    : sync_(sync),
      archiveSocket_(std::make_unique<ServiceSocket>(ServiceSocket::Handlers{
          [] { App().ArchiveConnected = kTrue; },
          [](const QByteArray& piece) {
              QByteArray& kept = App().ArchiveResponse;
              if (kept.size() < kArchiveAnswerKept)
                  kept.append(piece.left(kArchiveAnswerKept - kept.size()));
          },
          [] {
              App().ArchiveDone = kTrue;
              App().ArchiveConnected = kFalse;
          },
          [](const QString& description) {
              WriteLog(StampedLine(QStringLiteral(" ArchiveSocket Error:") + description));
              App().ArchiveResponse = QByteArrayLiteral("IO Error");
              App().ArchiveDone = kTrue;
              App().ArchiveConnected = kFalse;
          }})) {
    Controls& ui = Ui();
    ui.chkEnableArchive.onChange(alive_, [this] { chkEnableArchive_Click(); });
    ui.cboArchive.onChange(alive_, [this] { cboArchive_Click(); });
    ui.chkDisplayArchive.onChange(alive_, [this] { chkDisplayArchive_Click(); });
}

ArchiveUploader::~ArchiveUploader() = default;

void ArchiveUploader::ShowCountdown() {
    const AppState& s = App();
    Ui().lblArcUpload.set(QString::number(s.ArchiveInterval - s.ArchiveElapsed) +
                          QStringLiteral(" minutes"));
}

void ArchiveUploader::chkEnableArchive_Click() {
    AppState& s = App();
    Controls& ui = Ui();
    s.Settings.ArchiveEnabled = ui.chkEnableArchive.value();
    if (ui.chkEnableArchive.value() != 1) {
        ui.cboArchive.setEnabled(true);
        Timers().tmrArchive.stop();
        return;
    }
    Timers().tmrArchive.start();
    s.ArchiveElapsed = 0;
    // Without a rate chosen the stored one is used, or else every 30 minutes, so that the
    // countdown always comes to an upload.
    int rate = ui.cboArchive.value();
    if (rate < 0)
        rate = s.Archive.ArchiveRateIndex;
    if (rate < 0 || rate >= static_cast<int>(std::size(kArchiveRateMinutes)))
        rate = kDefaultArchiveRateIndex;
    s.ArchiveInterval = static_cast<std::int16_t>(kArchiveRateMinutes[rate]);
    ui.cboArchive.setEnabled(false);
    ShowCountdown();
}

void ArchiveUploader::cboArchive_Click() {
    if (Ui().cboArchive.value() >= 0)
        App().Archive.ArchiveRateIndex = static_cast<std::int16_t>(Ui().cboArchive.value());
}

void ArchiveUploader::chkDisplayArchive_Click() {
    App().Archive.DisplayArchive = Ui().chkDisplayArchive.value();
    sync_.Synchronize();
}

void ArchiveUploader::tmrArchive_Timer() {
    AppState& s = App();
    ++s.ArchiveElapsed;
    ShowCountdown();
    if (s.ArchiveElapsed < s.ArchiveInterval)
        return;
    s.ArchiveElapsed = 0;
    // A tick during an upload that still waits only counts.
    if (!uploading_)
        UploadArchive();
    ShowCountdown();
}

void ArchiveUploader::UploadArchive() {
    AppState& s = App();
    if (s.CameraChanging == kTrue)
        return;
    const QString id = CameraIdForRequest();
    const QByteArray frame = source_ ? source_(false) : QByteArray();
    // No frame (no camera, capture failed) or no relay known yet: nothing to send this time.
    if (frame.isEmpty() || id.isEmpty() || s.ReflectorHost.trimmed().isEmpty() ||
        s.ReflectorPort <= 0) {
        WriteLog(QStringLiteral("Archive: no frame uploaded this time"));
        return;
    }
    uploading_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{uploading_};

    s.ArchiveResponse.clear();
    s.ArchiveConnected = kFalse;
    s.ArchiveDone = kFalse;
    ServiceSocket& socket = *archiveSocket_;
    socket.connectTo(s.ReflectorHost.trimmed(), static_cast<quint16>(s.ReflectorPort));
    const WaitResult connected =
        WaitUntil([] { return App().ArchiveConnected == kTrue || App().ArchiveDone == kTrue; },
                  timeouts_.connectMs);
    if (connected != WaitResult::Done || App().ArchiveConnected != kTrue) {
        socket.closeQuietly();
        WriteLog(QStringLiteral("Archive Connection failed: Time out"));
        return;
    }

    const MultipartPost post =
        BuildFramePost(QByteArrayLiteral("/webcams/Archive"), s.ReflectorHost,
                       static_cast<std::uint16_t>(s.ReflectorPort), id, RandomAlphaNumeric(32),
                       RandomAlphaNumeric(8) + QStringLiteral(".jpg"), frame);
    socket.write(post.header);
    socket.write(post.body);

    // The relay answers and closes; one that never does is cut off, so that the minute tick
    // is never held.
    if (WaitUntil([] { return App().ArchiveDone == kTrue; }, timeouts_.answerMs) !=
        WaitResult::Done) {
        if (App().ArchiveDone != kTrue)
            WriteLog(QStringLiteral("Archive: no answer from the relay"));
        socket.closeQuietly();
        App().ArchiveDone = kTrue;
    }
    if (IsKeyRefusal(App().ArchiveResponse))
        ReportKeyRefused();
    else if (App().ArchiveResponse.contains("Archive: true"))
        NoteKeyAccepted();
}

void ArchiveUploader::CloseArchiveSocket() {
    archiveSocket_->closeQuietly();
}

} // namespace kestrova

// The station's life: the start-up sequence that runs while the main window is loaded, the
// close check that winds everything down in stages, and the unload. The station owns the parts
// that do its work (camera, service client, pan-tilt-zoom control, posting helper channel) and
// connects them: the timers' ticks, the buttons whose work spans several parts, and the calls
// that one part makes into another above it. The windows are reached only through hooks, so
// the whole sequence runs in tests without a window.
#pragma once

#include "camera/Camera.h"
#include "posting/HelperProcess.h"
#include "posting/Posting.h"
#include "ptz/Ptz.h"
#include "service/ServiceClient.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowLogic.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace kestrova {

// What the station asks of its windows. Each hook may be left empty.
struct WindowHooks {
    std::function<void()> showMainWindow;    // at the end of start-up
    std::function<void()> hideSplash;        // with the main window shown
    std::function<void()> closeSplash;       // once start-up is over
    std::function<void()> requestClose;      // asks the main window to close (close event)
    std::function<void()> closeOtherWindows; // the unload closes every other window
    std::function<void()> dismissDialogs;    // a close asked for during a start-up dialog
};

class Station : public QObject, public CloseGate {
    Q_OBJECT
  public:
    // `arguments` is the command line after the program name. The station's shared state
    // (StationState) must exist already and outlive the station.
    explicit Station(QStringList arguments, QObject* parent = nullptr);
    ~Station() override;

    void setHooks(WindowHooks hooks) { hooks_ = std::move(hooks); }

    // Runs the start-up sequence. Returns true when it reached its end; false when it ended
    // the program early (the close follows through InstallFinished).
    bool Load();

    // A request to close the main window: through the window when it has hooks, else the
    // close check and the unload directly.
    void RequestClose();

    // The close check: true lets the close go ahead; false cancels it and arms InstallFinished.
    bool CloseCheck() override;

    // Writes the settings, stops timers and sockets, closes windows, then emits terminated().
    void Unload() override;

    // "Change Camera": stops the broadcast, lets the user choose again, connects the new camera
    // and its motor, and starts the broadcast again.
    void ChangeCamera();

    bool unloaded() const override { return unloaded_; }
    int exitCode() const { return exitCode_; }
    QString debugWord() const { return debugWord_; }

    CameraModule& camera() { return camera_; }
    ServiceClient& service() { return service_; }
    PtzControl& ptz() { return ptz_; }
    PostingClient& posting() { return posting_; }
    HelperProcess& postingHelper() { return helper_; }
    // The handlers of the main window's own controls and the hooks they call.
    MainWindowLogic& windowLogic() { return windowLogic_; }

  signals:
    void terminated(int exitCode);

  private:
    void RunSequence();
    void SetLaunchFlags();
    void ShowVersion();
    void ResolvePaths();
    void OpenEventLog();
    void ReadDebugSwitch();
    void ReadStationIdentity();
    void HoldTimers();
    void FillArchiveRates();
    void RetrieveSettings();
    void EndEarly();
    void OpenCommandListener();
    void RunWizardOnFirstStart();
    void ReadStationKey();
    void StartPostingHelper();
    void LaunchPostingService();
    void ApplyArchiveSwitches();
    void ShowMainWindow();
    void StartBroadcasting();
    void FailStartup(const QString& description, int number, const QString& source);
    void ShutdownServer();

    QStringList arguments_;
    WindowHooks hooks_;
    CameraModule camera_;
    ServiceClient service_;
    PtzControl ptz_;
    PostingClient posting_;
    HelperProcess helper_;
    MainWindowLogic windowLogic_;
    QString debugWord_ = QStringLiteral("false");
    bool startupRunning_ = false;
    bool closePending_ = false;
    bool changingCamera_ = false;
    bool unloaded_ = false;
    int exitCode_ = 0;
    QElapsedTimer shutdownClock_;
    HandlerOwner alive_ = std::make_shared<int>();
};

} // namespace kestrova

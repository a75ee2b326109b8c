#include "app/Station.h"

#include "camera/CaptureControl.h"
#include "camera/FrameCapture.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "core/Dialogs.h"
#include "core/EventLog.h"
#include "core/StationState.h"
#include "core/Version.h"
#include "core/Wait.h"
#include "settings/DataFolder.h"
#include "settings/Deployment.h"
#include "settings/Password.h"
#include "settings/RecordFile.h"
#include "settings/Settings.h"
#include "settings/StationKey.h"
#include "settings/TypeNumber.h"
#include "ui/Passwords.h"
#include "ui/Wizard.h"

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>

namespace kestrova {

namespace {

// A posting helper that has not closed its channel this long after "shutdown" counts as
// closed, so that a helper that is gone or hung cannot hold the station open for ever.
constexpr int kShutdownGraceMs = 10000;

} // namespace

Station::Station(QStringList arguments, QObject* parent)
    : QObject(parent), arguments_(std::move(arguments)), ptz_(camera_.CamSrc()) {
    UiHooks& ui = windowLogic_.hooks();
    ui.synchronize = [this] { service_.sync.Synchronize(); };
    ui.editPasswords = [this] { ShowPasswordDialog(camera_.window(), service_.sync); };
    Ui().cmdDebug.onClick(
        alive_, [this] { posting_.SendJavaRequest(QStringLiteral("thread_dump"), QString()); });
    StationTimers& t = Timers();
    connect(&t.tmrWatchdog, &QTimer::timeout, this, [this] { service_.uploader.WatchdogTick(); });
    connect(&t.SlowTimer, &QTimer::timeout, this, [this] { posting_.SlowTimerTick(); });
    connect(&t.tmrMovePoller, &QTimer::timeout, this, [this] { posting_.tmrMovePoller_Timer(); });
    connect(&t.tmrCheckVisitor, &QTimer::timeout, this,
            [this] { posting_.tmrCheckVisitor_Timer(); });
    connect(&t.InstallFinished, &QTimer::timeout, this, [this] { RequestClose(); });
    Ui().cmdChangeCam.onClick(alive_, [this] { ChangeCamera(); });

    connect(&t.tmrArchive, &QTimer::timeout, this, [this] { service_.archive.tmrArchive_Timer(); });
    const auto frames = [this](bool localImage) { return camera_.Frame(localImage); };
    service_.uploader.setFrameSource(frames);
    service_.archive.setFrameSource(frames);
    service_.sync.setAnswerHandler(
        [this](const QByteArray& piece) { return posting_.HandleAnswer(piece); });
    helper_.setOnRestarted([this] {
        posting_.ResumeWithNewHelper([this] { return service_.reflector.relaySideOn(); });
    });
    service_.reflector.setJobs(RelayJobs{
        [this] { posting_.StartVisitorCheck(); },
        [this] { posting_.StopVisitorCheck(); },
        [this] { posting_.StartMovePolling(); },
        [this] { posting_.StopMovePolling(); },
    });
}

Station::~Station() = default;

bool Station::Load() {
    startupRunning_ = true;
    SetStartupFailureText(QString());
    Timers().InstallFinished.stop();
    try {
        RunSequence();
    } catch (const AppError& e) {
        FailStartup(e.description(), e.number(), e.source());
    } catch (const std::exception& e) {
        FailStartup(QString::fromLocal8Bit(e.what()), 0, QStringLiteral("webcam"));
    }
    startupRunning_ = false;
    const bool reachedEnd = exitCode_ == 0 && !Timers().InstallFinished.isActive();
    if (closePending_)
        Timers().InstallFinished.start();
    return reachedEnd;
}

void Station::RunSequence() {
    SetLaunchFlags();
    ShowVersion();
    ResolvePaths();
    OpenEventLog();
    ReadDebugSwitch();
    ReadStationIdentity();
    HoldTimers();
    FillArchiveRates();
    RetrieveSettings();
    if (!camera_.DetectAndConnectCamera()) {
        EndEarly();
        return;
    }
    ptz_.ReadMotorRanges();
    ptz_.ConnectMotorAtStartup();
    OpenCommandListener();
    RunWizardOnFirstStart();
    ReadStationKey();
    StartPostingHelper();
    ApplyArchiveSwitches();
    service_.reflector.StartReflector();
    ShowMainWindow();
    StartBroadcasting();
}

// The flags of a station that has launched nothing: what the close check expects of it.
void Station::SetLaunchFlags() {
    AppState& s = App();
    s.PostingActive = kFalse;
    s.WebRequestDone = kTrue;
    s.ReflectorRunning = kFalse;
    s.UploadReady = kTrue;
    s.PostingServerRunning = kFalse;
}

void Station::ShowVersion() {
    Ui().lblVersion.set(
        QStringLiteral("v- %1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision));
    Ui().lblLoading.set(QStringLiteral("Initialise path variables."));
}

void Station::ResolvePaths() {
    AppState& s = App();
    s.DataFolder =
        GetDataFolder(QStringLiteral("Webcam_%1_%2").arg(kVersionMajor).arg(kVersionMinor));
    RemoveInterruptedSaves(s.DataFolder);
    const QString program = ProgramFolder();
    s.JavaPath = program + QStringLiteral("/jre/bin/java");
    s.JavawPath = program + QStringLiteral("/jre/bin/javaw");
    s.InstallFolder = program + QLatin1Char('/');
    s.PostingServiceJar = program + QStringLiteral("/BeaconServer.jar");
}

// Empties Log.txt, writes its header and the four paths of the program's files.
void Station::OpenEventLog() {
    const AppState& s = App();
    SetStartupFailureText(QStringLiteral("Failed to create Log.txt"));
    CreateEventLog();
    WriteLog(s.JavaPath);
    WriteLog(s.JavawPath);
    WriteLog(s.InstallFolder);
    WriteLog(s.PostingServiceJar);
}

// "debug", exactly and alone, starts the posting helper in debug mode, shows its button and
// logs every packet the PTZ listener carries out.
void Station::ReadDebugSwitch() {
    AppState& s = App();
    const bool debug = arguments_.join(QLatin1Char(' ')) == QLatin1String("debug");
    debugWord_ = debug ? QStringLiteral("true") : QStringLiteral("false");
    s.LogPtzPackets = debug ? kTrue : kFalse;
    Ui().cmdDebug.setVisible(debug);
    s.PostingServiceCommand = s.JavaPath + QStringLiteral(" -jar \"") + s.PostingServiceJar +
                              QStringLiteral("\" %1 ").arg(PostingHelperPort()) + debugWord_;
}

// The type number, and the camera's identifier on the service: one that may not be sent ends
// the start-up.
void Station::ReadStationIdentity() {
    SetStartupFailureText(QStringLiteral("Error loading type number from file"));
    App().TypeNumber = ReadTypeNumber();
    SetStartupFailureText(QStringLiteral("Failed to get the camera identifier"));
    ProvideCameraId();
}

// The station key that goes with the camera's identifier, which the posting helper and every
// request to the relay carry.
void Station::ReadStationKey() {
    SetStartupFailureText(QStringLiteral("Failed to get the station key"));
    ProvideStationKey();
}

// Nothing may tick into the rest of the sequence: the posting tick and the close timer wait
// until start-up has ended.
void Station::HoldTimers() {
    AppState& s = App();
    Timers().SlowTimer.stop();
    Timers().InstallFinished.stop();
    s.PostingActive = kFalse;
    s.WebRequestDone = kTrue;
    s.ReflectorRunning = kFalse;
}

// The archive rates: 10, 30, 60, 180, 360, 720 and 1440 minutes.
void Station::FillArchiveRates() {
    ComboBox& rates = Ui().cboArchive;
    rates.items = {QStringLiteral("Every 10 minutes"), QStringLiteral("Every 30 minutes"),
                   QStringLiteral("Every hour"),       QStringLiteral("Every 3 hours"),
                   QStringLiteral("Every 6 hours"),    QStringLiteral("Every 12 hours"),
                   QStringLiteral("Every 24 hours")};
    rates.force(rates.value());
}

void Station::RetrieveSettings() {
    SetStartupFailureText(QStringLiteral("Failed to get settings"));
    WriteLog(QStringLiteral("Launching Software: Retrieving Settings"));
    Ui().lblLoading.set(QStringLiteral("Loading saved settings."));
    LoadSettings();
}

// Start-up cannot go on: the program closes through InstallFinished.
void Station::EndEarly() {
    exitCode_ = 1;
    Timers().InstallFinished.start();
}

void Station::OpenCommandListener() {
    App().PtzListening = kFalse;
    ptz_.OpenPtzListener();
}

void Station::RunWizardOnFirstStart() {
    if (App().Cam.WizardDone != 0)
        return;
    Ui().lblLoading.set(QStringLiteral("Launching broadcast wizard."));
    SetStartupFailureText(QStringLiteral("Error launching broadcast wizard"));
    WriteLog(QStringLiteral("Launching Software: Launching Broadcast Wizard"));
    ShowBroadcastWizard();
    SaveCamFile();
}

// Launches the posting helper and gives it two seconds to come up; whether it listens is not
// tested here (its channel copes with a helper that does not answer).
void Station::StartPostingHelper() {
    SetStartupFailureText(QStringLiteral("Failed to start posting server"));
    LaunchPostingService();
    PauseWithEvents(2000);
    App().PostingServerRunning = kTrue;
}

// The helper runs in the data folder (its log goes there). It is told the station's process,
// so that it can end itself once the station has gone without a word, and the station key,
// which it shows the relay with each request; the key is never put on a command line. A helper
// that ends while the station runs is started again with the same command line and
// environment.
void Station::LaunchPostingService() {
    const AppState& s = App();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KESTROVA_STATION_PID"),
                       QString::number(QCoreApplication::applicationPid()));
    if (!s.StationKey.isEmpty())
        environment.insert(QStringLiteral("KESTROVA_STATION_KEY"), s.StationKey);
    else
        environment.remove(QStringLiteral("KESTROVA_STATION_KEY"));
    const HelperLaunch launch{s.JavaPath,
                              {QStringLiteral("-jar"), s.PostingServiceJar,
                               QString::number(PostingHelperPort()), debugWord_},
                              s.DataFolder,
                              environment.toStringList()};
    QString error;
    if (!helper_.Start(launch, &error))
        throw AppError(QStringLiteral("Cannot start ") + s.JavaPath + QStringLiteral(": ") + error,
                       53, QStringLiteral("webcam"));
    WriteLog(
        QStringLiteral("Launching Software: Posting helper started (pid %1)").arg(helper_.pid()));
}

void Station::ApplyArchiveSwitches() {
    Ui().chkDisplayArchive.set(App().Archive.DisplayArchive);
    Ui().chkEnableArchive.set(App().Settings.ArchiveEnabled);
    Ui().lblPassword.set(getPassword());
}

void Station::ShowMainWindow() {
    const AppState& s = App();
    Ui().lblLoading.set(QStringLiteral("Launching Kestrova Software."));
    WriteLog(QStringLiteral("Launching Software: Launching Kestrova"));
    Ui().pctSettings.set(s.InstallFolder + QStringLiteral("interface.jpg"));
    if (hooks_.hideSplash)
        hooks_.hideSplash();
    if (hooks_.showMainWindow)
        hooks_.showMainWindow();
}

// The posting tick runs now and every 30 seconds; the first frame goes out at once.
void Station::StartBroadcasting() {
    Timers().SlowTimer.start();
    posting_.SlowTimerTick();
    service_.uploader.UploadImage(true);
    if (hooks_.closeSplash)
        hooks_.closeSplash();
}

void Station::FailStartup(const QString& description, int number, const QString& source) {
    exitCode_ = 1;
    const QString text = StartupFailureText() + QStringLiteral("\r\n") + description +
                         QStringLiteral("\r\nNo. = ") + QString::number(number) +
                         QStringLiteral("\r\nSource = ") + source;
    dialogs::MessageBox(text, dialogs::Icon::Critical);
    dialogs::MessageBox(QStringLiteral("Software will now shut down."), dialogs::Icon::None);
    Timers().InstallFinished.start();
}

void Station::RequestClose() {
    if (unloaded_)
        return;
    if (hooks_.requestClose) {
        hooks_.requestClose();
        return;
    }
    if (CloseCheck())
        Unload();
}

bool Station::CloseCheck() {
    AppState& s = App();
    StationTimers& timers = Timers();
    const auto retry = [&timers] {
        timers.InstallFinished.start();
        return false;
    };
    if (unloaded_)
        return false;
    if (startupRunning_) {
        // The sequence is inside one of its waits or dialogs: end its network waits and close
        // once it has returned.
        closePending_ = true;
        s.AbortRequested = kTrue;
        if (hooks_.dismissDialogs)
            hooks_.dismissDialogs();
        return false;
    }
    if (s.ReflectorRunning == kTrue) {
        s.ReflectorActive = kFalse;
        timers.tmrCheckVisitor.stop();
        timers.tmrWatchdog.stop();
        s.ReflectorRunning = kFalse;
        return retry();
    }
    if (s.PostingServerRunning == kTrue) {
        if (s.ShutdownRequested == kFalse)
            ShutdownServer();
        else if (shutdownClock_.isValid() && shutdownClock_.elapsed() > kShutdownGraceMs)
            s.PostingServerRunning = kFalse;
        return retry();
    }
    if (s.UploadReady == kFalse)
        return retry();
    if (s.WebRequestDone == kFalse) {
        s.AbortRequested = kTrue;
        return retry();
    }
    return true;
}

void Station::ShutdownServer() {
    AppState& s = App();
    s.ShutdownRequested = kTrue;
    // The helper's end is expected from now on: it is not started again.
    helper_.StopWatching();
    shutdownClock_.start();
    s.RequestAnswered = kFalse;
    // The request is part of the close: it goes out even when the close has already ended the
    // other exchanges.
    posting_.SendJavaRequest(QStringLiteral("shutdown"), QString(), OnClose::KeepWaiting);
    // A helper that did not answer (not running, or the channel could not be opened) will
    // never close its channel: count it as closed.
    if (s.RequestAnswered == kFalse)
        s.PostingServerRunning = kFalse;
    if (s.PtzListening == kTrue)
        ptz_.ClosePtzListener();
}

void Station::Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    AppState& s = App();
    // The program ends: a wait that runs below this call (a handler that was waiting when
    // the close came) ends at its next turn.
    s.AbortRequested = kTrue;
    StationTimers& timers = Timers();

    WriteLog(QStringLiteral("Shutdown: Close application called"));
    helper_.Release();
    // A file that cannot be written is reported, and the others are still saved.
    for (const auto save : {SaveSettingsFile, SaveCamFile, SaveChatFile, SaveArchiveFile}) {
        try {
            save();
        } catch (const AppError& e) {
            WriteLog(QStringLiteral("Shutdown: Saving settings failed: ") + e.description());
            std::fprintf(stderr, "Kestrova: saving settings failed: %s\n",
                         qPrintable(e.description()));
        }
    }
    timers.tmrCheckVisitor.stop();
    s.ReflectorActive = kFalse;
    timers.tmrWatchdog.stop();
    timers.tmrMovePoller.stop();
    service_.uploader.CloseReflectorSocket();
    timers.SlowTimer.stop();
    timers.InstallFinished.stop();
    timers.tmrArchive.stop();
    Ui().chkEnableArchive.setEnabled(false);
    posting_.CloseClientSocket();
    service_.CloseServiceSockets();
    camera_.DisconnectCamera();
    if (hooks_.closeOtherWindows)
        hooks_.closeOtherWindows();
    WriteLog(QStringLiteral("Shutdown: Ending application"));
    emit terminated(exitCode_);
}

void Station::ChangeCamera() {
    // The waits below let events run: a second click must not start a second change.
    if (changingCamera_)
        return;
    changingCamera_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{changingCamera_};

    AppState& s = App();
    // The station may close during one of the waits; the change then ends without connecting
    // anything or starting the broadcast again. The close need not have finished: once it has
    // sent the posting helper its "shutdown" or ended the exchanges under way, the station is
    // on its way out, and the relay must not be looked up and registered with again.
    const auto closing = [] {
        const AppState& now = App();
        if (now.ShutdownRequested != kTrue && now.AbortRequested != kTrue)
            return false;
        App().CameraChanging = kFalse;
        return true;
    };

    s.CameraChanging = kTrue;
    service_.reflector.StopReflector();
    PauseWithEvents(1000);
    if (closing())
        return;

    camera_.ReleaseForChange();
    camera_.ChooseCamera();
    if (closing())
        return;

    camera_.ConnectChosenCamera();
    camera_.CheckCamera();
    ShowPtzPanelForCamera();
    ptz_.ReadMotorRanges();
    ptz_.OpenPtzListener();
    if (Ui().chkTimeStamp.value() == 1)
        ApplyTimeStampOverlay(camera_.CamSrc());

    PauseWithEvents(3000);
    if (closing())
        return;
    s.CameraChanging = kFalse;
    service_.reflector.StartReflector();
}

} // namespace kestrova

#include "app/Station.h"

#include "app/AppError.h"
#include "app/AppState.h"
#include "app/Controls.h"
#include "app/EventLog.h"
#include "app/Timers.h"
#include "app/Version.h"
#include "app/Wait.h"
#include "camera/Camera.h"
#include "posting/Posting.h"
#include "ptz/Motor.h"
#include "ptz/PtzListener.h"
#include "service/Reflector.h"
#include "service/Upload.h"
#include "settings/DataFolder.h"
#include "settings/Deployment.h"
#include "settings/Settings.h"
#include "settings/TypeNumber.h"
#include "ui/Dialogs.h"
#include "ui/Options.h"
#include "ui/Wizard.h"

#include <QProcess>

#include <cstdio>

namespace kestrova {

namespace {

QString& FailureText() {
    static QString text;
    return text;
}

// A posting helper that has not closed its channel this long after "shutdown" counts as
// closed, so that a helper that is gone or hung cannot hold the station open for ever.
constexpr int kShutdownGraceMs = 10000;

} // namespace

void SetStartupFailureText(const QString& text) {
    FailureText() = text;
}
QString StartupFailureText() {
    return FailureText();
}

Station::Station(QStringList arguments, QObject* parent)
    : QObject(parent), arguments_(std::move(arguments)) {
    InstallOptionHandlers();
    StationTimers& t = Timers();
    connect(&t.tmrWatchdog, &QTimer::timeout, this, [] { WatchdogTick(); });
    connect(&t.SlowTimer, &QTimer::timeout, this, [] { SlowTimerTick(); });
    connect(&t.InstallFinished, &QTimer::timeout, this, [this] { RequestClose(); });
}

Station::~Station() = default;

bool Station::Load() {
    startupRunning_ = true;
    FailureText().clear();
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
    AppState& s = App();
    Controls& ui = Ui();
    StationTimers& timers = Timers();

    // 2. Flags of a station that has launched nothing.
    s.PostingActive = kFalse;
    s.WebRequestDone = kTrue;
    s.ReflectorRunning = kFalse;
    s.UploadReady = kTrue;
    s.PostingServerRunning = kFalse;

    // 3, 4.
    ui.lblVersion.set(
        QStringLiteral("v- %1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision));
    ui.lblLoading.set(QStringLiteral("Initialise path variables."));

    // 5. Paths.
    s.DataFolder =
        GetDataFolder(QStringLiteral("Webcam_%1_%2").arg(kVersionMajor).arg(kVersionMinor));
    const QString program = ProgramFolder();
    s.JavaPath = program + QStringLiteral("/jre/bin/java");
    s.JavawPath = program + QStringLiteral("/jre/bin/javaw");
    s.InstallFolder = program + QLatin1Char('/');
    s.PostingServiceJar = program + QStringLiteral("/BeaconServer.jar");

    // 6. The event log.
    SetStartupFailureText(QStringLiteral("Failed to create Log.txt"));
    CreateEventLog();
    WriteLog(s.JavaPath);
    WriteLog(s.JavawPath);
    WriteLog(s.InstallFolder);
    WriteLog(s.PostingServiceJar);

    // 7. Debug switch.
    const bool debug = arguments_.join(QLatin1Char(' ')) == QLatin1String("debug");
    debugWord_ = debug ? QStringLiteral("true") : QStringLiteral("false");
    ui.cmdDebug.setVisible(debug);
    s.PostingServiceCommand = s.JavaPath + QStringLiteral(" -jar \"") + s.PostingServiceJar +
                              QStringLiteral("\" 11111 ") + debugWord_;

    // 8. Type number.
    SetStartupFailureText(QStringLiteral("Error loading type number from file"));
    s.TypeNumber = ReadTypeNumber();

    // The camera's identifier on the service; one that may not be sent ends the start-up.
    SetStartupFailureText(QStringLiteral("Failed to get the camera identifier"));
    ProvideCameraId();

    // 9.
    timers.SlowTimer.stop();
    timers.InstallFinished.stop();
    s.PostingActive = kFalse;
    s.WebRequestDone = kTrue;
    s.ReflectorRunning = kFalse;

    // 10. Archive rates (10, 30, 60, 180, 360, 720 and 1440 minutes).
    ui.cboArchive.items = {QStringLiteral("Every 10 minutes"), QStringLiteral("Every 30 minutes"),
                           QStringLiteral("Every hour"),       QStringLiteral("Every 3 hours"),
                           QStringLiteral("Every 6 hours"),    QStringLiteral("Every 12 hours"),
                           QStringLiteral("Every 24 hours")};
    ui.cboArchive.force(ui.cboArchive.value());

    // 11. Settings.
    SetStartupFailureText(QStringLiteral("Failed to get settings"));
    WriteLog(QStringLiteral("Launching Software: Retrieving Settings"));
    ui.lblLoading.set(QStringLiteral("Loading saved settings."));
    LoadSettings();

    // 12 to 18. The camera.
    if (!DetectAndConnectCamera()) {
        exitCode_ = 1;
        timers.InstallFinished.start();
        return;
    }
    // 19 to 21. Motor and command listener.
    ReadMotorRanges();
    ConnectMotorAtStartup();
    s.PtzListening = kFalse;
    OpenPtzListener();

    // 22. First run: the broadcast wizard.
    if (s.Cam.WizardDone == 0) {
        ui.lblLoading.set(QStringLiteral("Launching broadcast wizard."));
        SetStartupFailureText(QStringLiteral("Error launching broadcast wizard"));
        WriteLog(QStringLiteral("Launching Software: Launching Broadcast Wizard"));
        ShowBroadcastWizard();
        SaveCamFile();
    }

    // 23 to 25. The posting helper.
    SetStartupFailureText(QStringLiteral("Failed to start posting server"));
    LaunchPostingService();
    PauseWithEvents(2000);
    s.PostingServerRunning = kTrue;

    // 26. Archive switches.
    ui.chkDisplayArchive.set(s.Archive.DisplayArchive);
    ui.chkEnableArchive.set(s.Settings.ArchiveEnabled);

    // 27. The relay.
    StartReflector();

    // 28 to 32.
    ui.lblLoading.set(QStringLiteral("Launching Kestrova Software."));
    WriteLog(QStringLiteral("Launching Software: Launching Kestrova"));
    ui.pctSettings = s.InstallFolder + QStringLiteral("interface.jpg");
    if (hooks_.hideSplash)
        hooks_.hideSplash();
    if (hooks_.showMainWindow)
        hooks_.showMainWindow();
    timers.SlowTimer.start();
    SlowTimerTick();
    UploadImage(true);
    if (hooks_.closeSplash)
        hooks_.closeSplash();
}

void Station::LaunchPostingService() {
    const AppState& s = App();
    const QStringList args{QStringLiteral("-jar"), s.PostingServiceJar, QStringLiteral("11111"),
                           debugWord_};
    if (!QProcess::startDetached(s.JavaPath, args, App().DataFolder))
        throw AppError(QStringLiteral("Cannot start ") + s.JavaPath, 53, QStringLiteral("webcam"));
}

void Station::FailStartup(const QString& description, int number, const QString& source) {
    exitCode_ = 1;
    const QString text = FailureText() + QStringLiteral("\r\n") + description +
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
    shutdownClock_.start();
    s.RequestAnswered = kFalse;
    // A close asked for during start-up has set AbortRequested; "shutdown" must still go out.
    s.AbortRequested = kFalse;
    SendJavaRequest(QStringLiteral("shutdown"), QString());
    // A helper that did not answer (not running, or the channel could not be opened) will
    // never close its channel: count it as closed.
    if (s.RequestAnswered == kFalse)
        s.PostingServerRunning = kFalse;
    if (s.PtzListening == kTrue)
        ClosePtzListener();
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
    CloseReflectorSocket();
    timers.SlowTimer.stop();
    timers.InstallFinished.stop();
    Ui().chkEnableArchive.setEnabled(false);
    CloseClientSocket();
    CloseServiceSockets();
    DisconnectCamera();
    if (hooks_.closeOtherWindows)
        hooks_.closeOtherWindows();
    WriteLog(QStringLiteral("Shutdown: Ending application"));
    emit terminated(exitCode_);
}

} // namespace kestrova

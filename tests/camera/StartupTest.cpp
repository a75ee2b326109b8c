// The camera step of the start-up, the whole start-up around it, and "Change Camera".
#include "CameraTestSupport.h"

#include "app/Station.h"
#include "camera/Camera.h"
#include "camera/CaptureControl.h"
#include "camera/FrameCapture.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "settings/DataFolder.h"
#include "settings/Records.h"

#include <QComboBox>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace kestrova::test {
namespace {

const QString kConnecting = QStringLiteral("Launching Software: Connecting to: ");
const QString kFormat = QStringLiteral("Launching Software: Setting Video Format 320x240 = ");
const QString kNoCamera =
    QStringLiteral("There is no web cam hardware/software installed on your computer");

SettingsRecord SavedSettings(const QString& folder) {
    return DecodeSettingsRecord(ReadFile(folder + QStringLiteral("/settings.dat")));
}

int Count(const std::vector<dialogs::Request>& shown, const QString& text) {
    return static_cast<int>(
        std::count_if(shown.begin(), shown.end(), [&](const dialogs::Request& r) {
            return r.text == text && r.icon == dialogs::Icon::Critical;
        }));
}

// The chooser window, answered by picking a list entry and closing it.
std::function<void(QWidget*)> PickCamera(int index) {
    return [index](QWidget* chooser) {
        auto* list = chooser->findChild<QComboBox*>(QStringLiteral("cboCameras"));
        list->setCurrentIndex(index);
        emit list->activated(index);
        chooser->close();
    };
}

class DetectTest : public CameraTest {};

TEST_F(DetectTest, TheChosenCameraIsClassifiedSavedConnectedAndLogged) {
    const QString folder = prepareStartup();
    useCameras("Alpha Cam;3 Axis (Webcam)");
    App().Settings.CameraIndex = 1;
    App().IsLogitechPtz = kTrue; // left from before: the step clears all four flags
    WindowWatch chooser(QStringLiteral("frmCamWizard"), [](QWidget* w) { w->close(); });

    ASSERT_TRUE(camera().DetectAndConnectCamera());
    EXPECT_EQ(0, chooser.seen());
    EXPECT_EQ(0, VisibleWindows(QStringLiteral("frmCamWizard")));
    EXPECT_EQ(QStringLiteral("Detecting available webcams."), Ui().lblLoading.value());
    EXPECT_EQ(QStringLiteral("Failed to detect webcam(s)"), StartupFailureText());
    EXPECT_EQ(kTrue, App().IsPantiltCamera);
    EXPECT_EQ(kFalse, App().IsLogitechPtz);
    EXPECT_EQ(1, SavedSettings(folder).CameraIndex);

    CaptureControl& cam = camera().CamSrc();
    EXPECT_TRUE(cam.Connected());
    EXPECT_TRUE(cam.Preview());
    EXPECT_EQ(QStringLiteral("3 Axis (Webcam)"), cam.ConnectedName());
    EXPECT_EQ(0, App().CameraSourceKind);
    EXPECT_EQ(QStringLiteral("3 Axis (Webcam)"), Ui().lblCameraName.value());
    EXPECT_EQ((QStringList{QStringLiteral("Launching Software: Detecting Webcam(s)"),
                           kConnecting + QStringLiteral("3 Axis (Webcam)"),
                           kFormat + QStringLiteral("True")}),
              LogMessages(folder));
    EXPECT_EQ(QSize(320, 240), DecodeWithQt(GetLatestImage(camera().CamSrc())).size());
}

TEST_F(DetectTest, WithNoCameraChosenYetTheChooserDecides) {
    const QString folder = prepareStartup();
    ASSERT_EQ(-1, App().Settings.CameraIndex);
    useCameras("Alpha Cam;Bravo Cam");
    WindowWatch chooser(QStringLiteral("frmCamWizard"), [&](QWidget* w) {
        // The chooser comes before anything is connected.
        EXPECT_FALSE(camera().CamSrc().Connected());
        PickCamera(1)(w);
    });

    ASSERT_TRUE(camera().DetectAndConnectCamera());
    EXPECT_EQ(1, chooser.seen());
    EXPECT_EQ(1, App().Settings.CameraIndex);
    EXPECT_EQ(1, SavedSettings(folder).CameraIndex);
    EXPECT_EQ(QStringLiteral("Bravo Cam"), camera().CamSrc().ConnectedName());
    EXPECT_TRUE(LogMessages(folder).contains(kConnecting + QStringLiteral("Bravo Cam")));
}

TEST_F(DetectTest, AChosenCameraThatIsNotThereStaysChosenWithoutTheChooser) {
    const QString folder = prepareStartup();
    useCameras("Alpha Cam;Bravo Cam");
    App().Settings.CameraIndex = 4; // a camera unplugged since the last run
    WindowWatch chooser(QStringLiteral("frmCamWizard"), [](QWidget* w) { w->close(); });

    ASSERT_TRUE(camera().DetectAndConnectCamera());
    EXPECT_EQ(0, chooser.seen());
    EXPECT_EQ(4, App().Settings.CameraIndex);
    EXPECT_EQ(4, SavedSettings(folder).CameraIndex);
    EXPECT_FALSE(camera().CamSrc().HasDevice());
    EXPECT_TRUE(LogMessages(folder).contains(QStringLiteral(
        "Launching Software: No webcam at index 4; \"Change Camera\" chooses another")));
}

TEST_F(DetectTest, ACameraThatRefusesTheFormatIsLoggedAndStillUsed) {
    const QString folder = prepareStartup();
    useCameras("Old Cam|640x480");
    unattended_.set("1");

    ASSERT_TRUE(camera().DetectAndConnectCamera());
    EXPECT_TRUE(LogMessages(folder).contains(kFormat + QStringLiteral("False")));
    EXPECT_TRUE(camera().CamSrc().Connected());
    EXPECT_TRUE(camera().CamSrc().Preview());
    EXPECT_EQ(QSize(320, 240), DecodeWithQt(GetLatestImage(camera().CamSrc())).size());
}

TEST_F(DetectTest, WithoutAnyCameraTheStepSaysSoAndEndsTheStartUp) {
    const QString folder = prepareStartup();
    useCameras("");
    App().IsPantiltCamera = kTrue;

    EXPECT_FALSE(camera().DetectAndConnectCamera());
    EXPECT_EQ(1, Count(station_.dialogsShown(), kNoCamera));
    EXPECT_EQ(QStringLiteral("Launching Software: No webcam(s) found"), LogMessages(folder).last());
    EXPECT_EQ(kFalse, App().IsPantiltCamera);
    EXPECT_FALSE(camera().CamSrc().Connected());
    EXPECT_EQ(-1, App().Settings.CameraIndex);
}

// Waits for the station's unload. Not WaitUntil: that one gives up as soon as the close sets
// AbortRequested, long before the unload.
bool WaitForEnd(QSignalSpy& terminated) {
    return !terminated.isEmpty() || terminated.wait(10000);
}

class StationStartupTest : public CameraTest {
  protected:
    StationStartupTest() : program_(MakeProgramFolder(station_.tempPath())) {
        station_.useProgramFolder(program_.path);
    }

    // Runs the station until it has unloaded; returns its exit code.
    int runToEnd(Station& station) {
        QSignalSpy terminated(&station, &Station::terminated);
        if (station.Load())
            station.RequestClose();
        EXPECT_TRUE(WaitForEnd(terminated));
        EXPECT_EQ(1, terminated.count());
        return terminated.isEmpty() ? -1 : terminated.first().first().toInt();
    }

    ProgramFolder program_;
};

TEST_F(StationStartupTest, WithoutAnyCameraTheStationClosesWithoutLaunchingTheHelper) {
    useCameras("");
    Station station({});
    EXPECT_EQ(1, runToEnd(station));

    EXPECT_EQ(1, Count(station_.dialogsShown(), kNoCamera));
    const QString folder = App().DataFolder;
    const QStringList log = LogMessages(folder);
    const int found =
        static_cast<int>(log.indexOf(QStringLiteral("Launching Software: No webcam(s) found")));
    ASSERT_GE(found, 0);
    EXPECT_EQ((QStringList{QStringLiteral("Shutdown: Close application called"),
                           QStringLiteral("Shutdown: Ending application")}),
              log.mid(found + 1));
    EXPECT_FALSE(program_.javaLaunched());

    // The unload saved the first-run settings.
    const SettingsRecord saved = SavedSettings(folder);
    EXPECT_EQ(1, saved.SettingsSaved);
    EXPECT_EQ(-1, saved.CameraIndex);
    EXPECT_EQ(75, saved.JpegQuality);
    EXPECT_EQ(1, saved.PresetsEnabled);
}

TEST_F(StationStartupTest, AFirstUnattendedStartConnectsTheFirstCameraAndItsPictureFollowsThePan) {
    useCameras("Logitech QuickCam Orbit");
    unattended_.set("1");
    Station station({});
    QSignalSpy terminated(&station, &Station::terminated);
    ASSERT_TRUE(station.Load());

    const QString folder = App().DataFolder;
    const QStringList log = LogMessages(folder);
    const int settings =
        static_cast<int>(log.indexOf(QStringLiteral("Launching Software: Retrieving Settings")));
    ASSERT_GE(settings, 0);
    EXPECT_EQ((QStringList{QStringLiteral("Launching Software: Detecting Webcam(s)"),
                           kConnecting + QStringLiteral("Logitech QuickCam Orbit"),
                           kFormat + QStringLiteral("True")}),
              log.mid(settings + 1, 3));
    EXPECT_EQ(0, SavedSettings(folder).CameraIndex);
    // Classified as a motor camera; whether the motion library finds a motor to drive depends on
    // the machine (a virtual camera has none).
    EXPECT_EQ(kTrue, App().IsPtzCamera);
    EXPECT_TRUE(log.contains(QStringLiteral("Launching Software: Connecting to lvcam.dll")));
    // The helper is a process of its own, with no event to wait for.
    EXPECT_TRUE(QTest::qWaitFor([&] { return program_.javaLaunched(); }, 5000));

    const QImage centre = DecodeWithQt(GetLatestImage(station.camera().CamSrc()));
    ASSERT_EQ(QSize(320, 240), centre.size());
    ControlRange pan;
    ASSERT_TRUE(station.camera().CamSrc().GetCameraControlRange(CameraProperty::Pan, pan));
    ASSERT_TRUE(station.camera().CamSrc().SetCameraControl(CameraProperty::Pan, pan.max));
    const QImage right = DecodeWithQt(GetLatestImage(station.camera().CamSrc()));
    EXPECT_GT(MeanDifference(centre, right), 10);
    station.camera().CamSrc().SetCameraControl(CameraProperty::Pan, pan.def);

    station.RequestClose();
    ASSERT_TRUE(WaitForEnd(terminated));
    EXPECT_FALSE(station.camera().CamSrc().Connected());
}

// The station as the start-up leaves it: no exchange under way (a fresh state would make the
// relay's look-up first wait ten seconds for one to end), "Logitech QuickCam Orbit" connected
// with the time stamp on. The program folder's directory is a stand-in that hangs up at once
// and counts the look-ups.
class ChangeCameraTest : public CameraTest {
  protected:
    ChangeCameraTest() : program_(MakeProgramFolder(station_.tempPath())) {
        station_.useProgramFolder(program_.path);
        App().WebRequestDone = kTrue;
        // The start-up opened the command listener: the change leaves it as it is.
        App().PtzListening = kTrue;
    }

    CameraModule& camera() { return station.camera(); }

    void SetUp() override {
        folder_ = prepareStartup();
        useCameras("Logitech QuickCam Orbit;USB Camera");
        App().Settings.CameraIndex = 0;
        ASSERT_TRUE(camera().DetectAndConnectCamera());
        Ui().chkTimeStamp.set(1);
        ASSERT_EQ(kTrue, App().IsLogitechPtz);
        ASSERT_TRUE(directory_.listening());
        directory_.serve(program_);
    }

    ProgramFolder program_;
    Station station{{}};
    DirectoryStandIn directory_;
    QString folder_;
};

TEST_F(ChangeCameraTest, ChangeCameraConnectsTheNewChoiceAndClassifiesIt) {
    bool changingDuringChoice = false;
    bool disconnectedDuringChoice = false;
    WindowWatch chooser(QStringLiteral("frmCamWizard"), [&](QWidget* w) {
        changingDuringChoice = App().CameraChanging == kTrue;
        disconnectedDuringChoice = !camera().CamSrc().Connected();
        Ui().cmdChangeCam.click(); // a second click while the first change runs does nothing
        PickCamera(1)(w);
    });
    Ui().cmdChangeCam.click();

    EXPECT_EQ(1, chooser.seen());
    EXPECT_TRUE(changingDuringChoice);
    EXPECT_TRUE(disconnectedDuringChoice);
    EXPECT_EQ(kFalse, App().CameraChanging);
    EXPECT_EQ(1, App().Settings.CameraIndex);
    EXPECT_EQ(QStringLiteral("USB Camera"), Ui().lblCameraName.value());
    EXPECT_EQ(QStringLiteral("USB Camera"), camera().CamSrc().ConnectedName());
    EXPECT_TRUE(camera().CamSrc().Preview());
    EXPECT_EQ(kFalse, App().IsPtzCamera);
    EXPECT_EQ(kFalse, App().IsLogitechPtz);
    EXPECT_FALSE(Ui().cmdPtuAdmin.enabled());
    EXPECT_EQ(QStringLiteral("TIME"), camera().CamSrc().Overlay().text);
    EXPECT_EQ(QSize(320, 240), DecodeWithQt(GetLatestImage(camera().CamSrc())).size());
    // The relay was started again: its directory was asked for it once.
    EXPECT_EQ(1, directory_.lookups());
}

TEST_F(ChangeCameraTest, AStationClosingDuringTheChoiceNeitherReconnectsNorRestartsTheRelay) {
    WindowWatch chooser(QStringLiteral("frmCamWizard"), [](QWidget* w) {
        // The close has begun meanwhile: the posting helper was told "shutdown" and has not
        // gone yet, so the station is still loaded.
        App().ShutdownRequested = kTrue;
        PickCamera(1)(w);
    });
    Ui().cmdChangeCam.click();

    EXPECT_EQ(1, chooser.seen());
    EXPECT_FALSE(camera().CamSrc().Connected());
    EXPECT_EQ(QStringLiteral("Logitech QuickCam Orbit"), Ui().lblCameraName.value());
    EXPECT_EQ(kFalse, App().CameraChanging);
    EXPECT_EQ(0, directory_.lookups());
    EXPECT_TRUE(station_.dialogsShown().empty()); // no "Failed to register" box either
}

TEST_F(ChangeCameraTest, AnAbortDuringTheFirstPauseEndsTheChangeBeforeTheChooser) {
    WindowWatch chooser(QStringLiteral("frmCamWizard"), [](QWidget* w) { w->close(); });
    // The close check asks the exchanges under way to end while the change waits.
    QObject closeCheck;
    QTimer::singleShot(0, &closeCheck, [] { App().AbortRequested = kTrue; });
    Ui().cmdChangeCam.click();

    EXPECT_EQ(0, chooser.seen());
    EXPECT_EQ(0, VisibleWindows(QStringLiteral("frmCamWizard")));
    EXPECT_EQ(kTrue, App().AbortRequested);
    EXPECT_EQ(kFalse, App().CameraChanging);
    EXPECT_EQ(0, directory_.lookups());
    // Left as it was; the unload disconnects it.
    EXPECT_EQ(QStringLiteral("Logitech QuickCam Orbit"), camera().CamSrc().ConnectedName());
}

TEST_F(ChangeCameraTest, AnAbortDuringTheLastPauseLeavesTheRelayStoppedAndTheAbortSet) {
    // Once the new camera is connected, the close check asks the exchanges under way to end
    // while the change waits for the camera to settle.
    QObject closeCheck;
    QObject::connect(
        &camera().CamSrc(), &CaptureControl::connectionChanged, &closeCheck, [&](bool on) {
            if (on)
                QTimer::singleShot(0, &closeCheck, [] { App().AbortRequested = kTrue; });
        });
    WindowWatch chooser(QStringLiteral("frmCamWizard"), PickCamera(1));
    Ui().cmdChangeCam.click();

    EXPECT_EQ(1, chooser.seen());
    EXPECT_EQ(QStringLiteral("USB Camera"), camera().CamSrc().ConnectedName());
    EXPECT_EQ(QStringLiteral("USB Camera"), Ui().lblCameraName.value());
    EXPECT_EQ(kTrue, App().AbortRequested);
    EXPECT_EQ(kFalse, App().CameraChanging);
    EXPECT_EQ(0, directory_.lookups());
    EXPECT_TRUE(station_.dialogsShown().empty());
}

} // namespace
} // namespace kestrova::test

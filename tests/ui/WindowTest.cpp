// The main window's widgets, and a first start that shows the wizard and then the window.
#include "UiTestSupport.h"

#include "app/Station.h"
#include "camera/CameraPreview.h"
#include "core/AppState.h"
#include "core/Controls.h"
#include "settings/Records.h"
#include "ui/MainWindow.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QToolBar>

namespace kestrova::test {
namespace {

struct OpenGate : CloseGate {
    bool unloaded() const override { return false; }
    bool CloseCheck() override { return true; }
    void Unload() override {}
};

QWidget* Child(const QWidget& window, const char* name) {
    auto* w = window.findChild<QWidget*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void Press(const QWidget& window, const char* name) {
    auto* button = window.findChild<QPushButton*>(QLatin1String(name));
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

QAction* ToolbarAction(const QWidget& window, const char* toolbar, const char* key) {
    auto* bar = window.findChild<QToolBar*>(QLatin1String(toolbar));
    return bar ? bar->findChild<QAction*>(QLatin1String(key)) : nullptr;
}

// Which of the four panels' widgets are visible, as a string of 0 and 1.
QString VisiblePanels(const QWidget& window) {
    QString shown;
    for (const char* name : {"Settings0", "Settings1", "Settings2", "Settings3"})
        shown += Child(window, name)->isVisible() ? QLatin1Char('1') : QLatin1Char('0');
    return shown;
}

class WindowTest : public UiTest {};

TEST_F(WindowTest, TheWidgetsSwitchViewsAndPanelsAsTheirControlsSay) {
    App().IsPtzCamera = kTrue;
    OpenGate gate;
    MainWindow window(gate);
    window.show();
    EXPECT_TRUE(Child(window, "settingsView")->isVisible());
    EXPECT_FALSE(Child(window, "cameraView")->isVisible());
    EXPECT_EQ(VisiblePanels(window), QStringLiteral("0000"));

    QAction* view = ToolbarAction(window, "MenuBar", "cam_sett");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->text(), QStringLiteral("Camera"));
    EXPECT_EQ(view->toolTip(), QStringLiteral("View Camera"));
    view->trigger();
    EXPECT_TRUE(Child(window, "cameraView")->isVisible());
    EXPECT_TRUE(Child(window, "pctControls")->isVisible());
    EXPECT_EQ(view->toolTip(), QStringLiteral("Settings view."));
    // The picture keeps 4:3 whatever shape the window takes.
    for (const QSize size : {QSize(1000, 600), QSize(700, 800)}) {
        window.resize(size);
        QApplication::processEvents();
        const QSize area = window.cameraArea()->size();
        EXPECT_NEAR(area.width() * 3.0 / area.height(), 4.0, 0.05);
    }
    Press(window, "butControls");
    EXPECT_FALSE(Child(window, "pctControls")->isVisible());
    view->trigger();

    Press(window, "butSettings");
    EXPECT_EQ(VisiblePanels(window), QStringLiteral("1000"));
    Press(window, "butOptions");
    EXPECT_EQ(VisiblePanels(window), QStringLiteral("0010"));
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("Settings2"));
    tabs->setCurrentIndex(1);
    EXPECT_EQ(Ui().Settings[2].value(), 1);
    EXPECT_EQ(Child(window, "lblPassword")->property("text").toString(), QStringLiteral("vorda"));
    Press(window, "butMobile");
    EXPECT_EQ(VisiblePanels(window), QStringLiteral("0001"));
    EXPECT_TRUE(window.findChild<QPushButton*>(QStringLiteral("butMobile"))->isChecked());
    EXPECT_FALSE(window.findChild<QPushButton*>(QStringLiteral("butOptions"))->isChecked());
    Press(window, "butSettings");
    Press(window, "butSettings");
    EXPECT_EQ(VisiblePanels(window), QStringLiteral("1000"));

    // The settings picture opens the live list.
    Ui().pctSettings.set(QStringLiteral(KESTROVA_STATION_DIR "/interface.jpg"));
    auto* picture = window.findChild<PictureBox*>(QStringLiteral("pctSettings"));
    EXPECT_TRUE(picture->hasPicture());
    picture->clicked();
    EXPECT_EQ(opened_, QStringList{QStringLiteral("http://list.example:81/livelist.php")});
}

// A first start with an empty data folder, as the program makes its windows.
TEST(FirstStart, ShowsTheCameraChooserAndTheWizardThenTheLivePicture) {
    StationFixture fixture;
    const ProgramFolder program = MakeProgramFolder(fixture.tempPath());
    fixture.useProgramFolder(program.path);
    qputenv("KESTROVA_VIRTUAL_CAMERAS", "Logitech QuickCam Orbit");
    struct Unset {
        ~Unset() { qunsetenv("KESTROVA_VIRTUAL_CAMERAS"); }
    } unset;

    WindowWatch chooser(QStringLiteral("frmCamWizard"), [](QWidget* w) { w->close(); });
    QString offered;
    WindowWatch wizard(QStringLiteral("frmWizard"), [&offered](QWidget* w) {
        Press(*w, "cmdNext");
        offered = w->findChild<QLineEdit*>(QStringLiteral("txtCamName"))->text();
        Press(*w, "cmdNext");
        Press(*w, "cmdFinish");
    });

    Station station({});
    MainWindow window(station);
    station.camera().ShowPreviewIn(window.cameraArea());
    WindowHooks hooks;
    hooks.showMainWindow = [&window] { window.show(); };
    hooks.requestClose = [&window] { window.close(); };
    station.setHooks(hooks);
    QSignalSpy terminated(&station, &Station::terminated);
    ASSERT_TRUE(station.Load());

    EXPECT_EQ(chooser.seen(), 1);
    EXPECT_EQ(wizard.seen(), 1);
    EXPECT_EQ(offered, QStringLiteral("Kestrova Webcam"));
    const CamRecord cam = DecodeCamRecord(ReadFile(App().DataFolder + QStringLiteral("/cam.dat")));
    EXPECT_EQ(cam.CameraName.trimmed(), QStringLiteral("Kestrova Webcam"));
    EXPECT_EQ(cam.WizardDone, kTrue);
    EXPECT_TRUE(LogMessages(App().DataFolder)
                    .contains(QStringLiteral("Launching Software: Launching Broadcast Wizard")));

    // The window opens on the settings area; the toolbar shows the live picture.
    ASSERT_TRUE(window.isVisible());
    EXPECT_FALSE(window.cameraArea()->isVisible());
    ToolbarAction(window, "MenuBar", "cam_sett")->trigger();
    EXPECT_TRUE(window.cameraArea()->isVisible());
    EXPECT_TRUE(Child(window, "pctControls")->isVisible()); // a motorised camera
    auto* preview = window.cameraArea()->findChild<CameraPreview*>();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(WaitFor([preview] { return preview->showsPicture(); }, 5000));

    station.RequestClose();
    EXPECT_TRUE(!terminated.isEmpty() || terminated.wait(10000));
}

} // namespace
} // namespace kestrova::test

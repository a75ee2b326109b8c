// The camera chooser: its list, its preview device and the choice it records.
#include "CameraTestSupport.h"

#include "camera/CameraChooser.h"
#include "camera/CameraPreview.h"
#include "camera/CaptureControl.h"
#include "core/AppState.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace kestrova::test {
namespace {

class ChooserTest : public CameraTest {
  protected:
    ChooserTest() { useCameras("Alpha Cam;Bravo Cam;Charlie Cam"); }
};

TEST_F(ChooserTest, ListsTheDevicesInOrderAndPreviewsTheStartDevice) {
    for (const auto& [index, start] :
         std::vector<std::pair<int, int>>{{-1, 0}, {2, 2}, {3, 0}, {99, 0}}) {
        SCOPED_TRACE(index);
        App().Settings.CameraIndex = static_cast<std::int16_t>(index);
        CaptureControl control;
        CameraChooser chooser(control);
        chooser.Open();
        EXPECT_EQ((QStringList{"Alpha Cam", "Bravo Cam", "Charlie Cam"}), chooser.Items());
        EXPECT_TRUE(control.Connected());
        EXPECT_TRUE(control.Preview());
        EXPECT_EQ(control.DeviceName(start), control.ConnectedName());
        EXPECT_FALSE(control.CurrentFrame().isNull());
        // Closed without a click: the device it opened with is the choice.
        chooser.Finish();
        EXPECT_EQ(start, App().Settings.CameraIndex);
        EXPECT_FALSE(control.Connected());
    }
}

TEST_F(ChooserTest, AClickSwitchesThePreviewAndDecidesTheChoice) {
    App().Settings.CameraIndex = 0;
    CaptureControl control;
    int connections = 0;
    QObject::connect(&control, &CaptureControl::connectionChanged,
                     [&](bool on) { connections += on ? 1 : 0; });
    CameraChooser chooser(control);
    chooser.Open();
    EXPECT_EQ(1, connections);

    chooser.Click(2);
    EXPECT_EQ(QStringLiteral("Charlie Cam"), control.ConnectedName());
    // The same entry again connects again.
    chooser.Click(2);
    EXPECT_EQ(3, connections);
    chooser.Click(1);
    EXPECT_EQ(QStringLiteral("Bravo Cam"), control.ConnectedName());

    chooser.Finish();
    EXPECT_EQ(1, App().Settings.CameraIndex);
    EXPECT_FALSE(control.Connected());
    EXPECT_FALSE(control.Preview());
}

TEST_F(ChooserTest, WithoutAnyDeviceTheChoiceStaysAsItWas) {
    useCameras("");
    App().Settings.CameraIndex = 1;
    CaptureControl control;
    CameraChooser chooser(control);
    chooser.Open();
    EXPECT_TRUE(chooser.Items().isEmpty());
    EXPECT_FALSE(control.Connected());
    chooser.Finish();
    EXPECT_EQ(1, App().Settings.CameraIndex);
}

TEST_F(ChooserTest, TheWindowShowsItsTextsAndEveryWayOfClosingRecordsTheChoice) {
    enum class Close { OkButton, WindowButton, Escape };
    for (const Close how : {Close::OkButton, Close::WindowButton, Close::Escape}) {
        SCOPED_TRACE(static_cast<int>(how));
        App().Settings.CameraIndex = -1;
        auto* dialog = new frmCamWizard;
        dialog->show();
        EXPECT_EQ(QStringLiteral("Camera wizard"), dialog->windowTitle());
        EXPECT_EQ(QStringLiteral("Choose your webcam from the list"),
                  dialog->findChild<QLabel*>(QStringLiteral("Label1"))->text());
        auto* list = dialog->findChild<QComboBox*>(QStringLiteral("cboCameras"));
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(QStringLiteral("Choose a webcam from the list"), list->placeholderText());
        ASSERT_EQ(3, list->count());
        EXPECT_EQ(QStringLiteral("Bravo Cam"), list->itemText(1));
        auto* preview = dialog->findChild<CameraPreview*>();
        ASSERT_NE(nullptr, preview);
        EXPECT_TRUE(preview->showsPicture());
        auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"));
        EXPECT_EQ(QStringLiteral("OK"), ok->text());

        // The user picks the last camera.
        list->setCurrentIndex(2);
        emit list->activated(2);
        EXPECT_EQ(QStringLiteral("Charlie Cam"), dialog->camSrc().ConnectedName());

        switch (how) {
        case Close::OkButton:
            ok->click();
            break;
        case Close::WindowButton:
            dialog->close();
            break;
        case Close::Escape:
            dialog->reject();
            break;
        }
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(2, App().Settings.CameraIndex);
        EXPECT_FALSE(dialog->camSrc().Connected());
        delete dialog;
    }
}

TEST_F(ChooserTest, UnattendedTheChooserTakesItsStartDeviceWithoutShowing) {
    unattended_.set("1");
    // A chooser run modally would be met (and closed) by the watch inside its own loop; one
    // merely shown would still be among the windows afterwards.
    WindowWatch watch(QStringLiteral("frmCamWizard"), [](QWidget* w) { w->close(); });
    for (const auto& [index, chosen] : std::vector<std::pair<int, int>>{{-1, 0}, {1, 1}, {7, 0}}) {
        SCOPED_TRACE(index);
        App().Settings.CameraIndex = static_cast<std::int16_t>(index);
        ShowCameraChooser(nullptr);
        EXPECT_EQ(chosen, App().Settings.CameraIndex);
        EXPECT_EQ(0, VisibleWindows(QStringLiteral("frmCamWizard")));
    }
    EXPECT_EQ(0, watch.seen());
}

} // namespace
} // namespace kestrova::test

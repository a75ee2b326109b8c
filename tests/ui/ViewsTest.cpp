// Switching between the camera and the settings area, the tab panels and the PTZ panel.
#include "UiTestSupport.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "settings/Password.h"
#include "ui/MainWindowLogic.h"

namespace kestrova::test {
namespace {

class ViewsTest : public UiTest {
  protected:
    void clickToolbar() { Ui().MenuBar.ButtonClick(Ui().MenuBar.Buttons[0]); }
    ToolButton& viewButton() { return Ui().MenuBar.Buttons[0]; }
    // Which panels are shown, as a string of 0 and 1.
    static QString shownPanels() {
        QString shown;
        for (const TabControl& panel : Ui().Settings)
            shown += panel.visible() ? QLatin1Char('1') : QLatin1Char('0');
        return shown;
    }
    static QString tabStates() {
        QString states;
        for (const TabButton* b :
             {&Ui().butBroadcast, &Ui().butCamera, &Ui().butOptions, &Ui().butMobile})
            states += QString::number(b->state());
        return states;
    }
};

TEST_F(ViewsTest, TheToolbarButtonSwitchesViewsAndAPlainWebcamNeverShowsThePtzPanel) {
    App().IsPtzCamera = kFalse;
    Controls& ui = Ui();
    // The window opens on the settings area; the button offers the camera.
    EXPECT_EQ(viewButton().value(), QStringLiteral("Camera"));
    EXPECT_EQ(viewButton().toolTip(), QStringLiteral("View Camera"));
    EXPECT_EQ(viewButton().key, QStringLiteral("cam_sett"));
    EXPECT_TRUE(ui.pctSettings.visible());
    EXPECT_FALSE(ui.camSrc.visible());

    for (int round = 0; round < 2; ++round) {
        clickToolbar();
        EXPECT_TRUE(ui.camSrc.visible());
        EXPECT_FALSE(ui.pctSettings.visible());
        EXPECT_EQ(viewButton().value(), QStringLiteral("Settings"));
        EXPECT_EQ(viewButton().toolTip(), QStringLiteral("Settings view."));
        EXPECT_EQ(viewButton().image(), 0);
        EXPECT_FALSE(ui.butControls.visible());
        EXPECT_FALSE(ui.pctControls.visible());

        clickToolbar();
        EXPECT_FALSE(ui.camSrc.visible());
        EXPECT_TRUE(ui.pctSettings.visible());
        EXPECT_EQ(viewButton().value(), QStringLiteral("Camera"));
        EXPECT_EQ(viewButton().toolTip(), QStringLiteral("Camera View."));
        EXPECT_EQ(viewButton().image(), 1);
    }
    // Whatever else showed them, the toolbar leaves them alone for a plain webcam.
    ui.butControls.setVisible(true);
    clickToolbar();
    EXPECT_TRUE(ui.butControls.visible());
}

TEST_F(ViewsTest, ThePtzPanelComesBackOnlyWhenItWasOpen) {
    App().IsPtzCamera = kTrue;
    Controls& ui = Ui();
    EXPECT_EQ(ui.butControls.value(), QStringLiteral("hide"));
    clickToolbar(); // camera view: the panel was open
    EXPECT_TRUE(ui.butControls.visible());
    EXPECT_TRUE(ui.pctControls.visible());

    ui.butControls.click(); // closed
    EXPECT_EQ(ui.butControls.value(), QStringLiteral("controls"));
    EXPECT_FALSE(ui.pctControls.visible());
    clickToolbar(); // settings: both hidden
    EXPECT_FALSE(ui.butControls.visible());
    EXPECT_FALSE(ui.pctControls.visible());
    clickToolbar(); // camera again: the button, not the closed panel
    EXPECT_TRUE(ui.butControls.visible());
    EXPECT_FALSE(ui.pctControls.visible());

    ui.butControls.click(); // open again
    EXPECT_EQ(ui.butControls.value(), QStringLiteral("hide"));
    EXPECT_TRUE(ui.pctControls.visible());
    clickToolbar();
    clickToolbar();
    EXPECT_TRUE(ui.pctControls.visible());

    // Changed to a plain webcam in the camera view, and back to the motorised one.
    App().IsPtzCamera = kFalse;
    ShowPtzPanelForCamera();
    EXPECT_FALSE(ui.butControls.visible());
    EXPECT_FALSE(ui.pctControls.visible());
    App().IsPtzCamera = kTrue;
    ShowPtzPanelForCamera();
    EXPECT_TRUE(ui.butControls.visible());
    EXPECT_TRUE(ui.pctControls.visible());
}

TEST_F(ViewsTest, TheSettingsAlwaysReopenOnTheBroadcastPanel) {
    Controls& ui = Ui();
    EXPECT_EQ(shownPanels(), QStringLiteral("0000"));
    EXPECT_FALSE(ui.butBroadcast.visible());
    EXPECT_TRUE(ui.pctSettings.customPointer());

    ui.butSettings.click();
    EXPECT_EQ(ui.butSettings.value(), QStringLiteral("Hide Settings"));
    EXPECT_EQ(shownPanels(), QStringLiteral("1000"));
    EXPECT_EQ(tabStates(), QStringLiteral("3000"));
    EXPECT_TRUE(ui.butMobile.visible());
    EXPECT_FALSE(ui.pctSettings.customPointer());

    const std::pair<TabButton*, QString> tabs[] = {{&ui.butMobile, QStringLiteral("0001")},
                                                   {&ui.butOptions, QStringLiteral("0010")},
                                                   {&ui.butCamera, QStringLiteral("0100")}};
    for (const auto& [button, shown] : tabs) {
        button->click();
        EXPECT_EQ(shownPanels(), shown);
        QString states = shown;
        EXPECT_EQ(tabStates(), states.replace(QLatin1Char('1'), QLatin1Char('3')));
    }

    ui.butSettings.click();
    EXPECT_EQ(ui.butSettings.value(), QStringLiteral("View Settings"));
    EXPECT_EQ(shownPanels(), QStringLiteral("0000"));
    EXPECT_FALSE(ui.butCamera.visible());
    EXPECT_TRUE(ui.pctSettings.customPointer());

    ui.butSettings.click();
    EXPECT_EQ(shownPanels(), QStringLiteral("1000"));
    EXPECT_EQ(tabStates(), QStringLiteral("3000"));
}

TEST_F(ViewsTest, TheOptionsSubTabsShowTheStoredPasswordAndChatNames) {
    Controls& ui = Ui();
    setPassword(QStringLiteral("first"));
    ui.Settings[2].set(1);
    EXPECT_EQ(ui.lblPassword.value(), QStringLiteral("first"));
    // Changed elsewhere: the tab reads it again when it is selected again.
    setPassword(QStringLiteral("second"));
    ui.Settings[2].set(0);
    ui.Settings[2].set(1);
    EXPECT_EQ(ui.lblPassword.value(), QStringLiteral("second"));

    App().Chat.ChatUserName = QStringLiteral("  Ann  ");
    App().Chat.ChatRoomName = QStringLiteral("Kestrova%20Chat");
    ui.Settings[2].set(3);
    EXPECT_EQ(ui.lblChatUsername.value(), QStringLiteral("Ann"));
    EXPECT_EQ(ui.lblRoomName.value(), QStringLiteral("Kestrova Chat"));

    // Other panels have no sub-tabs that react.
    ui.lblPassword.set(QString());
    ui.Settings[0].set(1);
    EXPECT_TRUE(ui.lblPassword.value().isEmpty());
}

} // namespace
} // namespace kestrova::test

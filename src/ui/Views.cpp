// The main window's views: the camera picture or the settings area, the tab panels of the
// settings area and the PTZ panel. The view state is held by the controls themselves: the
// toolbar button's caption names the view it switches to, butSettings' caption says whether
// the panels are shown and butControls' caption whether the PTZ panel is open.
#include "core/AppState.h"
#include "core/Controls.h"
#include "settings/Password.h"
#include "ui/Chat.h"
#include "ui/MainWindowLogic.h"

namespace kestrova {

namespace {

const QString kCamera = QStringLiteral("Camera");
const QString kHide = QStringLiteral("hide");
const QString kViewSettings = QStringLiteral("View Settings");

// The images of the toolbar's image list.
constexpr int kSettingsImage = 0;
constexpr int kCameraImage = 1;

// The sub-tabs of the Options panel that show stored values.
constexpr int kOptionsPanel = 2;
constexpr int kPasswordTab = 1;
constexpr int kChatTab = 3;

std::array<TabButton*, 4> TabButtons() {
    Controls& ui = Ui();
    return {&ui.butBroadcast, &ui.butCamera, &ui.butOptions, &ui.butMobile};
}

void SwitchView() {
    Controls& ui = Ui();
    ToolButton& button = ui.MenuBar.Buttons[0];
    const bool ptz = App().IsPtzCamera != kFalse;
    if (button.value() != kCamera) {
        if (ptz) {
            ui.butControls.setVisible(false);
            ui.pctControls.setVisible(false);
        }
        ui.pctSettings.setVisible(true);
        ui.camSrc.setVisible(false);
        button.set(kCamera);
        button.setImage(kCameraImage);
        button.setToolTip(QStringLiteral("Camera View."));
    } else {
        if (ptz) {
            ui.butControls.setVisible(true);
            ui.pctControls.setVisible(ui.butControls.value() == kHide);
        }
        ui.pctSettings.setVisible(false);
        ui.camSrc.setVisible(true);
        button.set(QStringLiteral("Settings"));
        button.setImage(kSettingsImage);
        button.setToolTip(QStringLiteral("Settings view."));
    }
}

void HidePanels() {
    for (TabControl& panel : Ui().Settings)
        panel.setVisible(false);
}

void ShowPanel(std::size_t index) {
    const auto buttons = TabButtons();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        buttons[i]->setState(i == index ? 3 : 0);
    HidePanels();
    Ui().Settings[index].setVisible(true);
}

void ToggleSettings() {
    Controls& ui = Ui();
    if (ui.butSettings.value() == kViewSettings) {
        ui.pctSettings.setCustomPointer(false);
        for (TabButton* tab : TabButtons())
            tab->setVisible(true);
        ui.Settings[0].setVisible(true);
        ui.butBroadcast.click();
        ui.butSettings.set(QStringLiteral("Hide Settings"));
    } else {
        ui.pctSettings.setCustomPointer(true);
        for (TabButton* tab : TabButtons())
            tab->setVisible(false);
        HidePanels();
        ui.butSettings.set(kViewSettings);
    }
}

void TogglePtzPanel() {
    Controls& ui = Ui();
    if (ui.butControls.value() != kHide) {
        ui.pctControls.setVisible(true);
        ui.butControls.set(kHide);
    } else {
        ui.pctControls.setVisible(false);
        ui.butControls.set(QStringLiteral("controls"));
    }
}

void SubTabChanged(std::size_t panel) {
    if (panel != kOptionsPanel)
        return;
    Controls& ui = Ui();
    const int tab = ui.Settings[panel].value();
    if (tab == kPasswordTab) {
        // The password file is read each time, so that an edit made elsewhere shows at once.
        ui.lblPassword.set(getPassword());
    } else if (tab == kChatTab) {
        ui.lblRoomName.set(ShownRoomName());
        ui.lblChatUsername.set(App().Chat.ChatUserName.trimmed());
    }
}

} // namespace

void ShowPtzPanelForCamera() {
    Controls& ui = Ui();
    // The toolbar button names the view it switches to: "Camera" while the settings show.
    if (ui.MenuBar.Buttons[0].value() == kCamera)
        return;
    const bool ptz = App().IsPtzCamera != kFalse;
    ui.butControls.setVisible(ptz);
    ui.pctControls.setVisible(ptz && ui.butControls.value() == kHide);
}

void InstallViewHandlers(const HandlerOwner& owner) {
    Controls& ui = Ui();
    ui.MenuBar.onButtonClick(owner, [](const ToolButton&) { SwitchView(); });
    ui.butSettings.onClick(owner, ToggleSettings);
    const auto buttons = TabButtons();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        buttons[i]->onClick(owner, [i] { ShowPanel(i); });
    ui.butControls.onClick(owner, TogglePtzPanel);
    for (std::size_t i = 0; i < ui.Settings.size(); ++i)
        ui.Settings[i].onChange(owner, [i] { SubTabChanged(i); });
}

} // namespace kestrova

// The handlers of the main window's own controls: switching between the camera and the
// settings area, the tab panels, the option switches, the chat room, the web pages and the
// broadcast wizard's button. They work on the controls model only; the window mirrors it.
#pragma once

#include "core/Controls.h"

#include <QString>

#include <functional>
#include <memory>

namespace kestrova {

// What the handlers need from the rest of the station. Each hook may be left empty: the step
// that needs it is then skipped (openUrl falls back to the desktop's browser).
struct UiHooks {
    // Sends the viewer-facing options to the relay while it runs (SettingsSync::Synchronize).
    std::function<void()> synchronize;
    // Shows the viewer password dialog modally ("Edit " on the "Password" sub-tab).
    std::function<void()> editPasswords;
    // Opens a web address in the user's browser.
    std::function<void(const QString&)> openUrl;
};

class MainWindowLogic {
  public:
    // Installs the handlers on the station's controls (Ui()); they run while this object lives.
    MainWindowLogic();
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    UiHooks& hooks() { return *hooks_; }

  private:
    // Shared with the handlers, which outlive no owner token but may be copied around.
    std::shared_ptr<UiHooks> hooks_ = std::make_shared<UiHooks>();
    HandlerOwner alive_ = std::make_shared<int>();
};

// The handlers of each group, installed by MainWindowLogic.
void InstallViewHandlers(const HandlerOwner& owner);
void InstallOptionHandlers(const HandlerOwner& owner, const std::shared_ptr<UiHooks>& hooks);
void InstallChatHandlers(const HandlerOwner& owner, const std::shared_ptr<UiHooks>& hooks);
void InstallWebPageHandlers(const HandlerOwner& owner, const std::shared_ptr<UiHooks>& hooks);

// After a camera change in the camera view: the PTZ panel and its button show for a camera
// with a motor only (the panel still only when it was open).
void ShowPtzPanelForCamera();

// Runs a hook when it is set.
void Synchronize(const UiHooks& hooks);
void OpenAddress(const UiHooks& hooks, const QString& address);

} // namespace kestrova

#include "ui/MainWindowLogic.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/EventLog.h"
#include "ui/WebPages.h"
#include "ui/Wizard.h"

#include <QApplication>

namespace kestrova {

namespace {

// "Edit Cam Name": the broadcast wizard again, over the main window.
void EditCameraName() {
    try {
        ShowBroadcastWizard(QApplication::activeWindow());
    } catch (const AppError& e) {
        const QString text =
            QStringLiteral("The camera name could not be saved: ") + e.description();
        WriteLog(text);
        dialogs::MessageBox(text, dialogs::Icon::Warning);
    }
}

} // namespace

MainWindowLogic::MainWindowLogic() {
    InstallViewHandlers(alive_);
    InstallOptionHandlers(alive_, hooks_);
    InstallChatHandlers(alive_, hooks_);
    InstallWebPageHandlers(alive_, hooks_);
    Ui().cmdEditCamName.onClick(alive_, EditCameraName);
}

void Synchronize(const UiHooks& hooks) {
    if (hooks.synchronize)
        hooks.synchronize();
}

void OpenAddress(const UiHooks& hooks, const QString& address) {
    if (hooks.openUrl)
        hooks.openUrl(address);
    else
        OpenInBrowser(address);
}

} // namespace kestrova

#include "ui/Options.h"

#include "core/AppState.h"
#include "core/Controls.h"

namespace kestrova {

void InstallOptionHandlers() {
    Controls& ui = Ui();
    ui.chkPublic.onChange([] { App().Settings.LiveListing = Ui().chkPublic.value(); });
    ui.chkThumb.onChange([] { App().Settings.HideThumbnail = Ui().chkThumb.value(); });
    ui.chkEnableZoom.onChange([] { App().Settings.ZoomEnabled = Ui().chkEnableZoom.value(); });
    ui.chkEnableSnap.onChange([] { App().Settings.SnapshotEnabled = Ui().chkEnableSnap.value(); });
    ui.chkEnablePasswords.onChange(
        [] { App().Settings.PasswordsEnabled = Ui().chkEnablePasswords.value(); });
    ui.chkEnablePresets.onChange(
        [] { App().Settings.PresetsEnabled = Ui().chkEnablePresets.value(); });
    ui.chkChatOnOff.onChange([] { App().Settings.ChatEnabled = Ui().chkChatOnOff.value(); });
}

} // namespace kestrova

// The option switches of the settings tabs. Each copies its value into its settings field;
// the options the service enforces are then sent to the relay at once (Synchronize), while
// the live-listing ones reach the posting helper with its next tick, which compares them with
// what it posted last.
#include "core/AppState.h"
#include "core/Controls.h"
#include "ui/MainWindowLogic.h"

namespace kestrova {

namespace {

// A switch that is copied into `field` and, when `synchronise` says so, sent to the relay.
void Switch(const HandlerOwner& owner, const std::shared_ptr<UiHooks>& hooks, CheckBox& box,
            std::int16_t& field, bool synchronise) {
    box.onChange(owner, [hooks, &box, &field, synchronise] {
        field = box.value();
        if (synchronise)
            Synchronize(*hooks);
    });
}

} // namespace

void InstallOptionHandlers(const HandlerOwner& owner, const std::shared_ptr<UiHooks>& hooks) {
    Controls& ui = Ui();
    // The handlers hold references into the station's state, which outlives them.
    SettingsRecord& settings = App().Settings;
    ArchiveRecord& archive = App().Archive;

    Switch(owner, hooks, ui.chkPublic, settings.LiveListing, false);
    Switch(owner, hooks, ui.chkThumb, settings.HideThumbnail, false);
    Switch(owner, hooks, ui.chkEnablePasswords, settings.PasswordsEnabled, true);
    Switch(owner, hooks, ui.chkEnableSnap, settings.SnapshotEnabled, true);
    Switch(owner, hooks, ui.chkEnableZoom, settings.ZoomEnabled, true);
    Switch(owner, hooks, ui.chkEnablePresets, settings.PresetsEnabled, true);
    Switch(owner, hooks, ui.chkDisplayArchive, archive.DisplayArchive, true);
    // The archive's own switch and rate are stored here; the archive starts and counts on
    // handlers of its own.
    Switch(owner, hooks, ui.chkEnableArchive, settings.ArchiveEnabled, false);
    ui.cboArchive.onChange(owner, [&archive] {
        if (Ui().cboArchive.value() >= 0)
            archive.ArchiveRateIndex = static_cast<std::int16_t>(Ui().cboArchive.value());
    });

    // "Edit ": the password dialog; whether it stored a new password or was cancelled, the
    // label shows the password now in force and the relay is told.
    ui.cmdEditPasswords.onClick(owner, [hooks] {
        if (!hooks->editPasswords)
            return;
        hooks->editPasswords();
        if (hooks->readPassword)
            Ui().lblPassword.set(hooks->readPassword());
        Synchronize(*hooks);
    });
}

} // namespace kestrova

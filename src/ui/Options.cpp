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

    Switch(owner, hooks, ui.chkPublic, settings.LiveListing, false);
    Switch(owner, hooks, ui.chkThumb, settings.HideThumbnail, false);
    Switch(owner, hooks, ui.chkEnablePasswords, settings.PasswordsEnabled, true);
    Switch(owner, hooks, ui.chkEnableSnap, settings.SnapshotEnabled, true);
    Switch(owner, hooks, ui.chkEnableZoom, settings.ZoomEnabled, true);
    Switch(owner, hooks, ui.chkEnablePresets, settings.PresetsEnabled, true);
    // The archive's switches and rate have their handlers in the archive itself.

    // "Edit ": the password dialog, which refreshes the password label and tells the relay
    // whether it stored a new password or was cancelled.
    ui.cmdEditPasswords.onClick(owner, [hooks] {
        if (hooks->editPasswords)
            hooks->editPasswords();
    });
}

} // namespace kestrova

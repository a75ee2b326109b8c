// The option switches: where each stores its value and whether the relay is told at once.
#include "UiTestSupport.h"

#include "core/AppState.h"
#include "core/Controls.h"

#include <functional>

namespace kestrova::test {
namespace {

struct SwitchCase {
    const char* name;
    std::function<CheckBox&()> box;
    std::function<std::int16_t()> stored;
    bool synchronises;
};

class OptionsTest : public UiTest {};

TEST_F(OptionsTest, EachSwitchStoresItsValueAndOnlyEnforcedOptionsSynchronise) {
    AppState& s = App();
    const SwitchCase cases[] = {
        {"live listing", []() -> CheckBox& { return Ui().chkPublic; },
         [&s] { return s.Settings.LiveListing; }, false},
        {"hide thumbnail", []() -> CheckBox& { return Ui().chkThumb; },
         [&s] { return s.Settings.HideThumbnail; }, false},
        {"passwords", []() -> CheckBox& { return Ui().chkEnablePasswords; },
         [&s] { return s.Settings.PasswordsEnabled; }, true},
        {"snapshot", []() -> CheckBox& { return Ui().chkEnableSnap; },
         [&s] { return s.Settings.SnapshotEnabled; }, true},
        {"zoom", []() -> CheckBox& { return Ui().chkEnableZoom; },
         [&s] { return s.Settings.ZoomEnabled; }, true},
        {"presets", []() -> CheckBox& { return Ui().chkEnablePresets; },
         [&s] { return s.Settings.PresetsEnabled; }, true},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.name);
        CheckBox& box = c.box();
        for (const short value : {short(1 - box.value()), box.value()}) {
            syncs_ = 0;
            box.set(value);
            EXPECT_EQ(c.stored(), value);
            EXPECT_EQ(syncs_, c.synchronises ? 1 : 0);
        }
    }
    // Nothing of this opens a page or asks anything.
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(OptionsTest, EditPasswordShowsTheDialog) {
    Ui().cmdEditPasswords.click();
    EXPECT_EQ(passwordDialogs_, 1);
    // Without a dialog connected the button does nothing at all.
    logic_->hooks().editPasswords = nullptr;
    Ui().cmdEditPasswords.click();
    EXPECT_EQ(passwordDialogs_, 1);
}

} // namespace
} // namespace kestrova::test

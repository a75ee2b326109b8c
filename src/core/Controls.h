// The values of the main window's controls as the logic reads and writes them. The window
// mirrors these objects; the logic never touches a widget, so every module runs without one.
//
// Setting a control to a value that differs from its current one runs the control's change
// handlers (the module's handler and the window's mirror), as a click would.
#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace kestrova {

// What an object that installs handlers on controls holds while it lives: its handlers run
// only as long as the object's token does, so the controls may outlive it.
using HandlerOwner = std::shared_ptr<const void>;

inline std::function<void()> OwnedHandler(const HandlerOwner& owner, std::function<void()> h) {
    return [alive = std::weak_ptr<const void>(owner), h = std::move(h)] {
        if (!alive.expired())
            h();
    };
}

template <typename T> class ControlValue {
  public:
    explicit ControlValue(T initial = T()) : value_(initial) {}

    const T& value() const { return value_; }
    void set(const T& v) {
        if (v == value_)
            return;
        value_ = v;
        Notify(true);
    }
    // Runs the handlers even when the value did not change (a label's caption written again).
    void force(const T& v) {
        value_ = v;
        Notify(true);
    }
    // Shows a value without running the change handlers (a value handed to the control that
    // is not read back from it).
    void setQuietly(const T& v) {
        value_ = v;
        Notify(false);
    }

    bool enabled() const { return enabled_; }
    void setEnabled(bool on) {
        if (on == enabled_)
            return;
        enabled_ = on;
        Notify(false);
    }
    bool visible() const { return visible_; }
    void setVisible(bool on) {
        if (on == visible_)
            return;
        visible_ = on;
        Notify(false);
    }

    // Change handlers run in the order they were added, after the value changed.
    void onChange(std::function<void()> handler) { handlers_.push_back(std::move(handler)); }
    void onChange(const HandlerOwner& owner, std::function<void()> handler) {
        handlers_.push_back(OwnedHandler(owner, std::move(handler)));
    }
    // Observers (the window's mirror) run after any change: value, enabled or visible state.
    void observe(std::function<void()> observer) { observers_.push_back(std::move(observer)); }

  protected:
    // Lets the window's mirror show a change of a property of a derived control.
    void ShowChange() { Notify(false); }

  private:
    void Notify(bool valueChanged) {
        // Copies: a handler may add another.
        if (valueChanged) {
            const auto handlers = handlers_;
            for (const auto& h : handlers)
                h();
        }
        const auto observers = observers_;
        for (const auto& o : observers)
            o();
    }
    T value_;
    bool enabled_ = true;
    bool visible_ = true;
    std::vector<std::function<void()>> handlers_;
    std::vector<std::function<void()>> observers_;
};

using CheckBox = ControlValue<short>; // 0 unchecked, 1 checked
using Label = ControlValue<QString>;  // caption

// A push button: its caption, enabled and visible state, and what a click does.
struct Button : ControlValue<QString> {
    using ControlValue<QString>::ControlValue;
    void onClick(std::function<void()> handler) { clickHandlers_.push_back(std::move(handler)); }
    void onClick(const HandlerOwner& owner, std::function<void()> handler) {
        clickHandlers_.push_back(OwnedHandler(owner, std::move(handler)));
    }
    // A click of the user (or a test): runs the click handlers when the button is enabled.
    void click() {
        if (!enabled())
            return;
        const auto handlers = clickHandlers_;
        for (const auto& h : handlers)
            h();
    }

  private:
    std::vector<std::function<void()>> clickHandlers_;
};

// A slider keeps its value within its range, as a track-bar does: a value outside it is taken to
// the nearer end, and a range whose maximum lies below its minimum holds the minimum only.
struct Slider : ControlValue<int> {
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    void setRange(int minimum, int maximum) {
        minimum_ = minimum;
        maximum_ = std::max(minimum, maximum);
        setQuietly(value());
    }
    void set(int v) { ControlValue<int>::set(Clamped(v)); }
    void force(int v) { ControlValue<int>::force(Clamped(v)); }
    void setQuietly(int v) { ControlValue<int>::setQuietly(Clamped(v)); }

  private:
    int Clamped(int v) const { return std::clamp(v, minimum_, maximum_); }
    int minimum_ = 0;
    int maximum_ = 100;
};

struct ComboBox : ControlValue<int> { // selected index, -1 none
    ComboBox() : ControlValue<int>(-1) {}
    QStringList items;
};

// ---- Controls of the main window's views, tabs and feature options ----

// An area of the window that the logic only shows or hides (its value is not used).
using Area = ControlValue<int>;

// One panel of the settings area. Its value is the selected sub-tab; selecting another one
// runs the change handlers, as a click on the tab does.
using TabControl = ControlValue<int>;

// A flat button of the settings area's tab row; its appearance state is 3 while its panel is
// shown (pressed) and 0 otherwise.
struct TabButton : Button {
    using Button::Button;
    int state() const { return state_; }
    void setState(int state) {
        if (state == state_)
            return;
        state_ = state;
        ShowChange();
    }

  private:
    int state_ = 0;
};

// A picture box: the picture file it shows (its value), what a click on it does, and whether
// the pointer over it is the custom one (the picture may be clicked) or the default one.
struct Picture : Button {
    using Button::Button;
    bool customPointer() const { return customPointer_; }
    void setCustomPointer(bool on) {
        if (on == customPointer_)
            return;
        customPointer_ = on;
        ShowChange();
    }

  private:
    bool customPointer_ = true;
};

// A button of a toolbar: its key, caption (the value), tool-tip and the index of its image in
// the toolbar's image list.
struct ToolButton : Button {
    using Button::Button;
    QString key;
    const QString& toolTip() const { return toolTip_; }
    void setToolTip(const QString& text) {
        if (text == toolTip_)
            return;
        toolTip_ = text;
        ShowChange();
    }
    int image() const { return image_; }
    void setImage(int index) {
        if (index == image_)
            return;
        image_ = index;
        ShowChange();
    }

  private:
    QString toolTip_;
    int image_ = 0;
};

// A toolbar of N buttons. A click on one of them runs the toolbar's handlers with the clicked
// button, which dispatch on its key or caption.
template <std::size_t N> struct Toolbar {
    std::array<ToolButton, N> Buttons;

    void onButtonClick(const HandlerOwner& owner, std::function<void(const ToolButton&)> handler) {
        handlers_.push_back([alive = std::weak_ptr<const void>(owner),
                             handler = std::move(handler)](const ToolButton& button) {
            if (!alive.expired())
                handler(button);
        });
    }
    // A click of the user (or a test) on a button; a disabled button does nothing.
    void ButtonClick(const ToolButton& button) {
        if (!button.enabled())
            return;
        const auto handlers = handlers_;
        for (const auto& h : handlers)
            h(button);
    }

  private:
    std::vector<std::function<void(const ToolButton&)>> handlers_;
};

// ---- end of the views, tabs and feature options' control types ----

struct Controls {
    Controls();

    // Splash window.
    Label lblLoading;

    // Main window.
    Label lblVersion;
    Label lblCameraName;
    Label lblReflectorStatus;
    Label txtStatus;
    Button cmdDebug;
    Button cmdChangeCam;
    Button cmdCamSource;
    Button cmdPtuAdmin;

    CheckBox chkPublic;
    CheckBox chkThumb;
    CheckBox chkEnableZoom;
    CheckBox chkEnableSnap;
    CheckBox chkEnablePresets;
    CheckBox chkEnablePasswords;
    CheckBox chkChatOnOff;
    CheckBox chkTimeStamp;
    CheckBox chkEnableArchive;
    CheckBox chkDisplayArchive;

    ComboBox cboArchive;
    Label lblJPEGQuality; // title of the quality slider
    Slider sldJPEGQuality;
    Slider sldFocus; // the zoom slider

    // ---- The main window's views, tabs and feature options ----
    // MenuBar switches between the camera view (camSrc and the PTZ panel) and the settings
    // area (pctSettings, which holds butSettings, the tab buttons and the four panels).
    Toolbar<1> MenuBar;  // "cam_sett"
    Toolbar<2> MenuBar2; // "live", "help"
    Area camSrc;         // the place of the live picture
    Picture pctSettings; // the settings area; its value is the picture file
    Button butSettings;
    TabButton butBroadcast;
    TabButton butCamera;
    TabButton butOptions;
    TabButton butMobile;
    std::array<TabControl, 4> Settings; // the panels; panel 2 has four sub-tabs
    Button butControls;                 // opens and closes the PTZ panel
    Area pctControls;                   // the PTZ panel: move buttons and zoom slider

    // Broadcast panel.
    Button cmdEditCamName;
    Button cmdSetProfile;
    // Options panel: "Skin ", "Password", "Presets" (cmdPtuAdmin) and "Chat" sub-tabs.
    Button cmdSkin;
    Label lblPassword;
    Button cmdEditPasswords;
    Button cmdLaunchChatBox;
    Button butEditChatName;
    Button butEditRoomName;
    Label lblChatUsername;
    Label lblRoomName;
    // Archive panel.
    Button cmdViewArchive;
    // ---- end of the views, tabs and feature options ----

    // ---- The archive panel's countdown ----
    Label lblArcUpload; // minutes until the next archive upload
    // ---- end of the archive panel's countdown ----

    // ---- The move buttons of the camera controls panel ----
    // A click sends the button's packet to the pan-tilt-zoom dispatcher while the camera has a
    // motor.
    std::array<Button, 5> butMove; // left, right, up, down, home; the window adds tool-tips
    // ---- end of the move buttons of the camera controls panel ----
};

// The timers of the main window. They drive everything after start-up.
struct StationTimers {
    StationTimers();
    QTimer tmrWatchdog;     // 1000 ms: live frame upload
    QTimer SlowTimer;       // 30000 ms: posting tick
    QTimer tmrMovePoller;   // 2000 ms: re-sends "start_polling" until confirmed
    QTimer tmrCheckVisitor; // 5000 ms: re-sends "start_reflector" until confirmed
    QTimer tmrArchive;      // 60000 ms: archive countdown
    QTimer InstallFinished; // 250 ms: requests the close of the main window again
};

// The controls and timers of the station that runs in this process (its StationState).
Controls& Ui();
StationTimers& Timers();

} // namespace kestrova

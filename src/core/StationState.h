// The owner of the station's shared state: the named variables (App()), the controls model of
// the main window with its timers (Ui(), Timers()), the start-up's failure text and the answers
// to dialogs. The program makes one before anything else and keeps it to the end; a test makes
// a fresh one for each case. While it lives it is the state every module reads and writes.
#pragma once

#include "core/AppState.h"
#include "core/Controls.h"
#include "core/Dialogs.h"

#include <QString>

namespace kestrova {

class StationState {
  public:
    // Becomes the state of the station from now on.
    StationState();
    // The state made before this one (if any) is the station's state again.
    ~StationState();
    StationState(const StationState&) = delete;
    StationState& operator=(const StationState&) = delete;

    static StationState& Current();

    AppState app;
    Controls ui;
    StationTimers timers;

    // The start-up's failure text: names the most recent risky step.
    QString startupFailureText;

    // Who answers dialogs: a test's responder, or nobody at the screen (unattended).
    dialogs::Responder dialogResponder;
    bool unattended = false;

    // Where the program's own files are; empty: next to the executable. Tests lay out their own.
    QString programFolder;

  private:
    StationState* previous_;
};

// The start-up's failure text (see StationState::startupFailureText).
void SetStartupFailureText(const QString& text);
QString StartupFailureText();

} // namespace kestrova

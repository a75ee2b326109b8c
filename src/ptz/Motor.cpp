#include "ptz/Ptz.h"

#include "core/AppState.h"
#include "core/Controls.h"

namespace kestrova {

void PtzControl::ReadMotorRanges() {
    // A newly connected camera gets the time stamp back (the box's handler sets the overlay).
    Ui().chkTimeStamp.set(App().Settings.TimeStampOn);
}

void PtzControl::ConnectMotorAtStartup() {}

} // namespace kestrova

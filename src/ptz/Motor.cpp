#include "ptz/Motor.h"

#include "app/AppState.h"
#include "app/Controls.h"

namespace kestrova {

void ReadMotorRanges() {
    // A newly connected camera gets the time stamp back (the box's handler sets the overlay).
    Ui().chkTimeStamp.set(App().Settings.TimeStampOn);
}

void ConnectMotorAtStartup() {}

} // namespace kestrova

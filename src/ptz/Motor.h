// Motor back-ends of the pan-tilt-zoom cameras.
#pragma once

namespace kestrova {

// Step sizes, ranges and direction codes of the connected camera's motor; the zoom slider.
void ReadMotorRanges();

// Connects the motor library of the camera's back-end at start-up.
void ConnectMotorAtStartup();

} // namespace kestrova

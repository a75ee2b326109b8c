// Finding, choosing and connecting the capture device; classifying the camera model.
#pragma once

namespace kestrova {

// The camera step of the start-up sequence: detection, the chooser when no device was chosen
// yet, classification, saving the choice, connection at 320 x 240 and preview. Returns false
// when start-up must end here (no capture device).
bool DetectAndConnectCamera();

// Switches the preview off and disconnects the capture device (the unload).
void DisconnectCamera();

} // namespace kestrova

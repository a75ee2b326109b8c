#include "camera/Camera.h"

namespace kestrova {

bool DetectAndConnectCamera() {
    return true;
}

void DisconnectCamera() {}

} // namespace kestrova

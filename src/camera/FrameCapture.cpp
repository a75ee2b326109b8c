#include "camera/FrameCapture.h"

namespace kestrova {

QByteArray GetLatestImage() {
    return {};
}

QByteArray GetLocalImage() {
    return {};
}

} // namespace kestrova

// The exported C interface over the process-wide motion state.
#include "lvcam.h"

#include "device_ops.h"
#include "motion.h"

namespace {

lvcam::V4l2DeviceOps g_ops;
lvcam::Motion g_motion(g_ops);

} // namespace

extern "C" {

int32_t Function1(void) {
    return g_motion.Connect() ? 1 : 0;
}

int32_t Function4(void) {
    return g_motion.Home();
}

int32_t Function5(int16_t direction, int32_t amount) {
    return g_motion.Move(direction, amount);
}

} // extern "C"

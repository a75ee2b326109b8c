// The exported C interface over the process-wide motor context.
#include "pantilt.h"

#include "hidraw_discovery.h"
#include "motor_context.h"

#include <new>

namespace {

using pantilt::Axis;
using pantilt::MotorContext;

// The process-wide context; null when it could not be created or has been released.
MotorContext* g_motor = nullptr;

// Creates the context when the library is loaded and releases it, closing the unit, when the
// library is unloaded (dlclose or process exit).
struct ContextLifetime {
    ContextLifetime() { g_motor = new (std::nothrow) MotorContext(); }
    ~ContextLifetime() {
        delete g_motor;
        g_motor = nullptr;
    }
    ContextLifetime(const ContextLifetime&) = delete;
    ContextLifetime& operator=(const ContextLifetime&) = delete;
};

const ContextLifetime g_lifetime;

int32_t Move(Axis axis, int32_t position, int32_t speed) {
    if (g_motor == nullptr) {
        return 0;
    }
    return g_motor->Move(axis, position, speed) ? 1 : 0;
}

} // namespace

extern "C" {

int32_t HID_OpenMotor(void) {
    if (g_motor == nullptr) {
        return 0;
    }
    return g_motor->Open(pantilt::kMotorVendorId, pantilt::kMotorProductId) ? 1 : 0;
}

int32_t HID_CloseMotor(void) {
    if (g_motor == nullptr) {
        return 1;
    }
    return g_motor->Close() ? 1 : 0;
}

int32_t HID_OpenMotorOEM(int32_t vendorId, int32_t productId) {
    if (g_motor == nullptr) {
        return 0;
    }
    return g_motor->Open(static_cast<uint16_t>(vendorId), static_cast<uint16_t>(productId)) ? 1 : 0;
}

int32_t HID_IsMotorOpened(void) {
    return g_motor != nullptr && g_motor->IsOpen() ? 1 : 0;
}

int32_t HID_InitMotor(void) {
    if (g_motor == nullptr) {
        return 0;
    }
    return g_motor->Init() ? 1 : 0;
}

int32_t HID_XMoveTo(int32_t position, int32_t speed) {
    return Move(Axis::X, position, speed);
}

int32_t HID_YMoveTo(int32_t position, int32_t speed) {
    return Move(Axis::Y, position, speed);
}

int32_t HID_ZMoveTo(int32_t position, int32_t speed) {
    return Move(Axis::Z, position, speed);
}

int32_t HID_GetStatus(int32_t axis, AxisStatus* status) {
    if (g_motor == nullptr || status == nullptr || axis < 0 || axis > 2) {
        return 0;
    }
    const pantilt::AxisState& state = g_motor->axis(static_cast<Axis>(axis));
    status->position = state.position;
    status->speed = state.speed;
    status->home = state.home;
    status->limit = state.limit;
    return 1;
}

int32_t HID_InitMotor2(int32_t mode) {
    if (g_motor == nullptr) {
        return 0;
    }
    g_motor->setReportMode(static_cast<int16_t>(static_cast<uint16_t>(mode)));
    g_motor->Init();
    return mode;
}

} // extern "C"

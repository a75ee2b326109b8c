/*
 * pantilt: drives the USB HID pan-and-tilt motor base (vendor 0x07B3, product 0x0A02).
 *
 * The library keeps one motor context per process. It is created when the library is loaded and
 * released when it is unloaded; closing the context closes the unit if it is still open. The unit
 * is never read: positions and speeds reported by HID_GetStatus are the last commanded values.
 *
 * Every argument and result is a 32-bit integer, except the AxisStatus record that HID_GetStatus
 * fills in memory owned by the caller. All calls are expected from one thread.
 *
 * The exports below are listed in their fixed order (1 to 10). pantilt.map lists them in the
 * same order; keep both in step when the interface changes.
 */
#ifndef PANTILT_H
#define PANTILT_H

#include <stdint.h>

#if defined(__GNUC__)
#define PANTILT_API __attribute__((visibility("default")))
#else
#define PANTILT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Last commanded state of one motor axis. */
typedef struct AxisStatus {
    int32_t position;
    int32_t speed;
    int32_t home;
    int32_t limit;
} AxisStatus;

/* Axis numbers accepted by HID_GetStatus. */
enum { PANTILT_AXIS_X = 0, PANTILT_AXIS_Y = 1, PANTILT_AXIS_Z = 2 };

/* 1: finds and opens the motor base (0x07B3:0x0A02). A unit that is still open is closed first.
 * Result 1 when a unit was found and opened, else 0 (and no unit is open). */
PANTILT_API int32_t HID_OpenMotor(void);

/* 2: closes the unit. Result 1 when nothing was open or the close succeeded, else 0. */
PANTILT_API int32_t HID_CloseMotor(void);

/* 3: as HID_OpenMotor with other IDs; only the low 16 bits of each argument are compared. */
PANTILT_API int32_t HID_OpenMotorOEM(int32_t vendorId, int32_t productId);

/* 4: 1 while a unit is open, else 0. */
PANTILT_API int32_t HID_IsMotorOpened(void);

/* 5: sends the initialisation reports for the current report mode with the current state.
 * Long form (mode other than 1): always 1. Short form (mode 1): 1 when all four reports were
 * written, else 0. */
PANTILT_API int32_t HID_InitMotor(void);

/* 6 to 8: store the axis' new position and speed, then send one move report carrying the state
 * of all three axes. Result 1 when the report was written completely, else 0. The new values are
 * kept even when the write fails. A speed of 0 is sent as the slowest speed (byte 0xFF). */
PANTILT_API int32_t HID_XMoveTo(int32_t position, int32_t speed);
PANTILT_API int32_t HID_YMoveTo(int32_t position, int32_t speed);
PANTILT_API int32_t HID_ZMoveTo(int32_t position, int32_t speed);

/* 9: copies the state of axis 0 (X), 1 (Y) or 2 (Z) into *status and returns 1. Any other axis,
 * or a null status, returns 0 and leaves the record untouched. */
PANTILT_API int32_t HID_GetStatus(int32_t axis, AxisStatus* status);

/* 10: sets the report mode to the low 16 bits of mode (1 selects the short form), runs the
 * initialisation and returns mode itself, whatever the initialisation gave. */
PANTILT_API int32_t HID_InitMotor2(int32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* PANTILT_H */

/*
 * KestrovaLVCam: moves a motorised UVC webcam (Logitech QuickCam PTZ, Orbit, Sphere) through the
 * relative pan and tilt controls and the pan and tilt reset controls of V4L2.
 *
 * Amounts are in the controls' unit, 1/64 degree: 320 is 5 degrees. Directions follow V4L2's
 * signs: right and up are positive pan and tilt, left and down negative.
 *
 * The library remembers the camera that Function1 found and opens its device node for each call.
 * When that node can no longer be opened or has lost its pan and tilt controls (the camera was
 * plugged in again), Function4 and Function5 look for the camera once more before they give up.
 * All calls are expected from one thread.
 *
 * Environment, read at each search:
 *   LVCAM_DEV_ROOT    folder holding the videoN nodes instead of /dev
 *   LVCAM_SYSFS_ROOT  folder used instead of /sys (USB IDs of the nodes)
 *   LVCAM_DEBUG=1     explains failures on standard error; nothing is ever written to standard
 *                     output
 *
 * lvcam.map lists the exports in the same order as this header; keep both in step.
 */
#ifndef LVCAM_H
#define LVCAM_H

#include <stdint.h>

#if defined(__GNUC__)
#define LVCAM_API __attribute__((visibility("default")))
#else
#define LVCAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Looks for the camera: the first videoN node, in the numeric order of N, that is a capture
 * device offering relative pan and tilt controls. A Logitech motor camera (USB 046d:08c2, 08cc,
 * 0994) whose motor controls are not mapped yet gets them mapped from its extension unit first.
 * Result 1 when a camera was found (and is remembered), else 0 (and none is remembered). */
LVCAM_API int32_t Function1(void);

/* Resets pan and tilt together, which brings the camera back to its home position; the motors
 * take a few seconds to get there. Result 1 when the reset was sent, 0 when the camera has no
 * reset controls, -1 when no camera is remembered or it cannot be reached. */
LVCAM_API int32_t Function4(void);

/* Moves the camera from where it is: direction 0 left, 1 right, 2 up, 3 down, by amount in
 * 1/64 degree; a negative amount moves the other way, 0 moves nothing. An amount beyond what
 * the control accepts in one move is split into moves of at most the control's limit, no more
 * than 8 of them; anything beyond 8 full moves is dropped. Result 1 when every move was sent,
 * 0 for an unknown direction or when the control's range allows no move that way, -1 when no
 * camera is remembered, it cannot be reached or a move fails. */
LVCAM_API int32_t Function5(int16_t direction, int32_t amount);

#ifdef __cplusplus
}
#endif

#endif /* LVCAM_H */

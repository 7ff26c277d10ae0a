#pragma once
// vesk_sim --camera: the camera after every tick, without a window.  The
// frame update runs once per tick on a clock that advances one tick's worth
// of milliseconds per tick (100 ms every 3 ticks), so the same run prints the
// same lines.

#include <cstdint>

// Before the first tick: the camera's clock becomes the tick clock.
void start_camera_trace(void);
// After tick `tick` ended: one frame of the camera (handle_camera_control
// with one game tick), then "camera TICK X Y YAW PITCH ZOOM" on standard
// output: x and y in cells, yaw and pitch in radians, the zoom factor.
void print_camera_after_tick(int32_t tick);
// After the run: the machine clock again.
void stop_camera_trace(void);

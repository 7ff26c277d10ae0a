// vesk_sim --camera.  See camera_trace.h.

#include "camera_trace.h"

#include <cstdio>

#include "camera_control.h"
#include "observer.h"

static struct camera_trace_globals
{
    uint32_t ticks; // frames run
} camera_trace_globals;

static uint32_t tick_clock(void)
{
    return camera_trace_globals.ticks * 100 / 3;
}

void start_camera_trace(void)
{
    camera_trace_globals.ticks = 0;
    set_observer_clock(tick_clock);
}

void print_camera_after_tick(int32_t tick)
{
    camera_trace_globals.ticks++;
    handle_camera_control(1);
    const observer_physics_variables *camera = get_observer_physics_variables();
    printf("camera %d %.3f %.3f %.4f %.4f %.4f\n", (int)tick, (double)camera->x, (double)camera->y, (double)camera->yaw,
           (double)camera->pitch, (double)camera->zoom_factor);
}

void stop_camera_trace(void)
{
    set_observer_clock(nullptr);
}

// Who moves the camera.

#include "camera_control.h"

static struct camera_control_globals
{
    uint32_t flags;
} camera_control_globals;

uint32_t get_camera_control_flags(void)
{
    return camera_control_globals.flags;
}

void set_camera_control_flags(uint32_t flags)
{
    camera_control_globals.flags = flags;
}

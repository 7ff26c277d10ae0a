// The software rasterizer's display device.  See setup_software_sdl.h.

#include "setup_software_sdl.h"

#include "screen.h"
#include "screen_setup.h"

void query_software_device(void)
{
    display_device_query_and_report_modes(_rasterizer_software, "Software", nullptr);
}

// The record of the display in use.  See screen.h.

#include "screen.h"

#include "cseries/cseries.h"

active_color_environment initial_active_screen(void)
{
    active_color_environment screen = {};
    screen.screen_initialized = false;
    screen.rasterizer_initialized = false;
    screen.flags = 0;
    screen.encoding = NONE;
    screen.device_index = NONE;
    screen.mode_index = NONE;
    screen.gamma = NONE;
    screen.in_game = 0;
    screen.in_game_type = 255;
    screen.rasterizer_code = NONE;
    screen.width = screen.height = NONE;
    screen.bit_depth = NONE;
    screen.refresh_rate = 0;
    screen.physical_pixel_width = screen.physical_pixel_height = NONE;
    screen.dpi = 96;
    screen.device = nullptr;
    screen.offscreen_pixels_structure = nullptr;
    screen.prefs = nullptr;
    return screen;
}

active_color_environment active_screen = initial_active_screen();

#pragma once
// The record of the display in use (`active_screen`).  This module will own
// the display; for now it declares the record with its values before any
// screen is opened, which the collections read to choose the sprite encoding.
// Without an open screen (`screen_initialized` false: headless simulations,
// the film checker, the tools) sprites are prepared in 32 bits.
//
// Main thread only.

#include <cstdint>

#include "world.h"

struct device_info;
struct screen_parameters;
struct bitmap_data;

enum screen_flags
{
    _screen_landscape_filtering_flag = 1,
    _screen_windowed_mode_flag = 2,
    _screen_render_in_window_flag = 4,
};

enum rasterizer_code
{
    _rasterizer_software = 0,
    _rasterizer_direct3d,
    _rasterizer_rave,
    _rasterizer_3dfx,
    _rasterizer_opengl,
    _rasterizer_dx11,
};

struct active_color_environment
{
    int32_t screen_initialized; // boolean
    int32_t rasterizer_initialized; // boolean, the renderer's
    uint16_t flags; // screen_flags
    int16_t encoding; // of the back buffer: 2 (565) for 16 bits, else 3
    int16_t device_index, mode_index; // NONE on both: the main-menu mode
    short_fixed gamma;
    uint8_t in_game; // 1 while a game runs
    uint8_t in_game_type; // 255 outside a game
    int16_t rasterizer_code; // rasterizer_code
    int16_t width, height;
    int16_t bit_depth, refresh_rate;
    int16_t physical_pixel_width, physical_pixel_height;
    int16_t dpi;
    device_info *device;
    bitmap_data *offscreen_pixels_structure;
    screen_parameters *prefs;
};

extern active_color_environment active_screen;

// The values before any screen is opened (what active_screen starts with).
active_color_environment initial_active_screen(void);

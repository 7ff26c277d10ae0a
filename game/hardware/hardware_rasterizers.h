#pragma once
// The OpenGL back end's table of hardware procedures (game/hardware_rasterizer.h):
// its capability answers for each display device, the 2D drawers routed by
// the target's frame-buffer encoding, the screen's frame buffer, dialogs and
// bars, the read-back and a map's life.  Every drawing call whose target is
// not the OpenGL frame buffer, and every screen call while the active screen
// is not OpenGL's, logs "halt" and does nothing.
//
// Main thread only.

#include <cstdint>

struct device_info;
struct preallocated_texture;
struct render_surface_list;
struct view_data;

// The capability flags (rasterizer_capability_flags) of `device` (null: none):
// 32 bits always; fog for codes 3 and 4; high resolution, extended zoom and
// multithread mode for an OpenGL 2 device; vsync for code 4; gamma for codes
// 0, 4 and 5 when the display supports it; multithread mode for no device and
// every code but 1, 3 and 4; never direct dialog rasterization.
uint32_t opengl_device_capabilities(const device_info *device);

// The alpha-76 transparency translucent bars are drawn with.
enum
{
    TRANSLUCENT_BAR_TRANSPARENCY_OPENGL = 45875,
};
// The bars' transparency: 45875 with the game preference for translucent bars, else 0.
uint16_t opengl_bar_transparency(void);

// Whether the bars of this map were drawn and handed over since the map's
// rasterizer started.
bool opengl_status_bars_downloaded(void);

// Each bar is drawn from one resident texture of its whole bitmap, made on
// the map's first scene and loaded again in place when the bar is redrawn.
enum
{
    _opengl_status_bar_texture,
    _opengl_control_bar_texture,
    NUMBER_OF_OPENGL_BARS
};
// The bar's texture record (one of the above); null before the map's first
// scene, without the bar, and once the map's textures are gone.
const preallocated_texture *opengl_bar_texture(int32_t which);

// The scene of `view` through OpenGL: first, once per map, both bars drawn
// into their bitmaps and put on the frame (which loads their textures), then
// the scene when the view's screen is the OpenGL frame buffer ("halt" otherwise).
void rasterize_scene_hardware_opengl(view_data *view, render_surface_list *list);

// Registers the table (from register_opengl_hooks).
void register_opengl_hardware_rasterizer(void);

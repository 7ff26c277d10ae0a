#pragma once
// The OpenGL window and context through the screen's SDL window, the device
// query, the per-map settings, buffer swaps and the swap interval.
//
// Main thread only.

#include <cstdint>

#include "utilities_opengl.h"

// Opens a 640 x 480 OpenGL window to read the device; reports it to the
// screen's device table when it is usable.  Nothing is reported otherwise.
void query_opengl_devices_opengl(void);

// The per-map set-up: the settings from the device, the section
// "Renderer.OpenGL" and the screen preferences (each forcing logged), the
// window and context, the looked-up functions, swap interval, pixel
// alignment, anisotropy.  False, with "OpenGL: Context setup failed!" logged,
// when the window cannot be opened.
bool SetupOpenGLContext(void);

// The SDL attributes (accelerated, double-buffered, depth 24 or none) and the
// window at the active screen's size; false when SDL refuses the mode.
bool setup_opengl_context(const device_info_opengl *device);

// The window belongs to the screen layer: these do nothing here.
void create_opengl_window(void);
void dispose_opengl_window(void);
void dispose_opengl_context(void);
// The exit handler (registered once).
void my_opengl_shutdown(void);

// Shows the back buffer.
void copy_opengl_world_to_screen(void);
// The swap interval for the next window opened.
void platform_set_vsync_interval_opengl(int32_t interval);
// -1: from the vsync screen flag (1 or 0); any other value as it is.
void set_vsync_interval_opengl(int32_t interval);

// With `forced`, every later SetupOpenGLContext forces UseShaders off
// (logged: a program failed to link), until called again without.
void force_opengl_shaders_off(bool forced);

// The log lines of the last SetupOpenGLContext (forcings and the summary).
const opengl_settings_result *last_opengl_settings(void);

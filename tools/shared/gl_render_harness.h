#pragma once
// Frames of a running map drawn through the OpenGL back end, for the render
// tool, the frame comparison and the benchmark: over a map started for a
// 32-bit software screen (render_harness.h), an OpenGL window of the frame's
// size is opened on the current display and the rasterizer is started for
// the map; a camera's view is then drawn into the back buffer and read back.
// The software frames of the same map can be drawn before the OpenGL start
// (the rasterizer's start may switch the terrain to its tile cache).
//
// Main thread only.

#include <cstdint>
#include <vector>

struct screen_parameters;
struct view_data;

// Opens the window and starts the rasterizer.  `prefs` must outlive the
// harness (its flags choose fog, 32-bit textures, detail maps).  False with a
// one-line reason when no usable OpenGL device is found.
bool start_gl_render_harness(int16_t width, int16_t height, screen_parameters *prefs, const char **reason);
// Ends the rasterizer's map, closes the window and puts the screen record
// back as it was.
void stop_gl_render_harness(void);
// Starts the rasterizer again (after the power-user settings changed).
bool restart_gl_render_harness(void);

// Draws `view` (built by build_render_camera_view) through OpenGL into the
// back buffer, cleared to black first, and waits until the driver has
// finished it.
bool draw_camera_view_opengl(view_data *view);
// The same, then reads the frame back as red, green, blue bytes, rows
// width x 3 apart.
bool render_camera_view_opengl(view_data *view, std::vector<uint8_t> *rgb);

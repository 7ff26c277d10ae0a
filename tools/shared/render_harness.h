#pragma once
// Headless frames of a running map for the render tool, the golden frames and
// the renderer's benchmark: the screen record is set to a back buffer depth
// before the map starts (so collections and terrain tables are built for it),
// a camera is turned into a view the way the observer's is, and the scene is
// rendered into an in-memory back buffer of the screen's encoding.
//
// Main thread only.

#include <cstddef>
#include <cstdint>
#include <vector>

struct bitmap_data;
struct view_data;

// A free camera: the eye in cells (x growing westward, y southward, z up; 1 cell = 512
// world units), its yaw (degrees, 0 along +x, growing towards +y) and pitch
// (degrees, negative looking down), and its horizontal field of view
// (degrees; 0 takes the observer's for the frame's aspect).
struct render_camera
{
    double x, y, z;
    double yaw, pitch;
    double field_of_view;
};

struct render_frame_options
{
    int16_t width, height;
    bool filter;       // bilinear filtering of the terrain
    bool omit_objects; // draws neither objects nor models
};

// Parses "X,Y,Z,YAW,PITCH" into `camera` (field of view left as it was).
// False for anything else.
bool parse_render_camera(const char *text, render_camera *camera);

// Sets the screen record for a software back buffer of `depth` bits (16:
// 565, 32: 32-bit) at width x height.  False, changing nothing, for any other
// depth or a size outside 1..4095.  Call before start_simulation.
bool set_render_harness_screen(int32_t depth, int16_t width, int16_t height);

// False with a one-line reason when the camera cannot be used on the running
// map: off the map, under the terrain, looking straight up or down past the
// vertical, or a field of view outside 1..170 degrees.
bool render_camera_is_usable(const render_camera *camera, char *reason, size_t reason_size);

// Fills `view` as the observer's view is filled (flags, resolution, field of
// view, offsets, software rasterizer) but from `camera`, with `screen` as the
// destination.
void build_render_camera_view(view_data *view, const render_camera *camera, const render_frame_options *options,
                              bitmap_data *screen);

// A back buffer of the screen record's encoding, cleared to black; null when
// it cannot be made.  Free with free().
bitmap_data *new_render_back_buffer(int16_t width, int16_t height);

// Renders `view` (filled by build_render_camera_view) into its screen.
void render_camera_view(view_data *view);

// The pixels of a flat 565 or 32-bit bitmap as red, green, blue bytes, rows
// width x 3 apart; false for any other bitmap.
bool render_back_buffer_to_rgb(const bitmap_data *bitmap, std::vector<uint8_t> *rgb);

// Writes red, green, blue bytes as a PNG at `path` (replaced; nothing is left
// behind on failure).  False with a one-line reason.
bool write_rgb_png(const char *path, const uint8_t *rgb, int32_t width, int32_t height, char *reason,
                   size_t reason_size);

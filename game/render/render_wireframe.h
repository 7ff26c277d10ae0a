#pragma once
// Line overlays over the frame: flag contesting ranges and debug drawings.
//
// Everything here draws lines in screen space from world coordinates over
// the finished frame.  Only the flag contesting ranges are part of the frame
// (a post-rasterization effect of priority 3, registered by
// initialize_scene); the rest are debug drawings that nothing in the frame
// calls.
//
// A world segment is taken into viewer space by the view's rotation; a
// segment wholly at depth -34 or nearer (MINIMUM_VIEW_DISTANCE, both ends
// z >= -34) draws nothing, and one that crosses that plane is cut at it
// before projection, so no part behind the viewer is ever projected (which
// would flip it across the screen).  Projected ends are clamped to 16 bits;
// the segment is drawn when at least one end lies on the screen ([0, width]
// x [0, height], edges included), clipped to the bitmap pixel by pixel.
//
// Main thread only.

#include <cstdint>

#include "flags.h"
#include "rgb_color.h"
#include "world.h"

struct bitmap_data;
struct mesh_region;
struct view_data;

enum
{
    MINIMUM_CIRCLE_SEGMENTS = 16,
    MAXIMUM_LINEAR_SEPARATION = 512, // world units between circle points, at most about
    MINIMUM_VIEW_DISTANCE = 34,
    FLAG_CONTESTING_RANGES_PRIORITY = 3,
};

enum wireframe_mode
{
    WIREFRAME_TRIANGLES = 0,
    WIREFRAME_CELLS = 1,
    WIREFRAME_SUBMESHES = 2,
    TERRAIN_FILLED_TRIANGLES = 3,
    WIREFRAME_MESH_TRIANGLES = 4,
    WIREFRAME_MODEL_TRIANGLES = 5,
    WIREFRAME_REFLECTION_TRIANGLES = 6,
    REFLECTION_FILLED_TRIANGLES = 7,
};

extern const rgb_color wireframe_color;       // red
extern const rgb_color model_wireframe_color; // blue
extern const rgb_color selection_color;       // yellow

// Draws the world segment p0-p1 on the view's screen (opaque).  True when a
// line was handed to the drawer.
bool draw_line3d(const view_data *view, const world_point3d *p0, const world_point3d *p1, const rgb_color *color);

// The 12 edges of the axis-aligned box with opposite corners p0 and p1.
void draw_cube(const view_data *view, const world_point3d *p0, const world_point3d *p1, const rgb_color *color);

// A circle of `radius` around `centre` laid on the terrain, in 16 segments,
// or 6 * radius / 512 once that is 17 or more: its points are
// clamped into the map and take the terrain's height there; a segment with an
// end on no terrain is left out.  Returns the number of segments drawn.
int32_t rasterize_circle(const view_data *view, const world_point2d *centre, int32_t radius, const rgb_color *color);

// Empties the visible-flag list, then, when the game preference to show the
// contesting radius is set, records every flag object (owner flag, neither
// invisible nor excluded from rendering) in the cells of the region's rows
// y0..y1 and their spans, at most MAXIMUM_FLAGS_PER_MAP.
void record_visible_flags(const mesh_region *region);
int32_t visible_flag_count(void);
int16_t visible_flag(int32_t index);

// The post-effect: records the visible flags from the view's region, then
// draws a red circle of the scoring's contesting radius around each.
void rasterize_flag_contesting_ranges(view_data *view);

// The model's bounds as a box in the last rendered view, yellow when
// selected, else blue.  Nothing for a free model or without a view.
void rasterize_model_bounds(int32_t model_index, bool selected);

// Edges of the last frame's triangles (those without any of exclusion_flags,
// not discarded and not reflections) by `wireframe_mode`, then, when the
// pointer is in the window and over a mesh vertex, the vertex's cell, height
// and flags as text.  Nothing without a last frame.
void rasterize_wireframe_over_surfaces(bitmap_data *destination, uint32_t exclusion_flags, int32_t wireframe_mode);

// Registers the flag contesting ranges as a post-rasterization effect.
void initialize_render_wireframe(void);

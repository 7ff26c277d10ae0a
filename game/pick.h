#pragma once
// Picking: which object, terrain point or model point of the last rendered
// frame lies under a screen point or inside a screen rectangle.  It judges
// the frame's own surfaces (render/render_surfaces.h), not the world, so what
// is picked is what the player saw.  A pick is an iterator: each call of
// `pick` returns the next hit and remembers where it stopped.
//
// The renderer is a later subsystem: it hands over its last frame through its
// table (render_procedures.h).  Until then (and in tests, through
// install_test_render_frame) no frame exists and every pick finds nothing.
// Local and main thread only; nothing here is read by the simulation.

#include <cstdint>

#include "point2d.h"
#include "render/render_surfaces.h"
#include "world.h"

enum pick_flag_bits
{
    _pick_by_point_bit = 0,
    _pick_by_rectangle_bit = 1,
    _pick_with_slop_bit = 2,
    _pick_only_solid_objects_bit = 3,
    _pick_mesh_vertices_bit = 4,
    _pick_mesh_triangles_bit = 5,
    _pick_model_vertices_bit = 6,
    _pick_model_triangles_bit = 7,
    _pick_objects_bit = 8,
    _pick_initialized_bit = 9,

    _pick_by_point_flag = 1 << _pick_by_point_bit,
    _pick_by_rectangle_flag = 1 << _pick_by_rectangle_bit,
    _pick_with_slop_flag = 1 << _pick_with_slop_bit,
    _pick_only_solid_objects_flag = 1 << _pick_only_solid_objects_bit,
    _pick_mesh_vertices_flag = 1 << _pick_mesh_vertices_bit,
    _pick_mesh_triangles_flag = 1 << _pick_mesh_triangles_bit,
    _pick_model_vertices_flag = 1 << _pick_model_vertices_bit,
    _pick_model_triangles_flag = 1 << _pick_model_triangles_bit,
    _pick_objects_flag = 1 << _pick_objects_bit,
    _pick_initialized_flag = 1 << _pick_initialized_bit,

    _pick_triangle_flags = _pick_mesh_triangles_flag | _pick_model_triangles_flag, // 160
};

enum
{
    PICK_SLOP = 15,           // pixels around a sprite that still count, with the slop flag
    PICK_VERTEX_RADIUS = 5,   // pixels on each axis
};

struct pick_state
{
    uint32_t flags;         // pick_flag_bits asked for
    point2d point;
    rectangle2d rectangle;
    uint32_t return_flags;  // the kind hit (one request flag), 0 for nothing
    point2d mesh_vertex;    // a picked vertex's cell (or geometry index)
    world_point2d mesh_location; // a picked terrain point
    int16_t object_index;
    bool sloppy_object_pick; // hit only within the slop margin
    int16_t model_index;
    int16_t model_triangle_index;
    world_point3d model_location;
    const render_surface *surface; // the next surface to examine
    int16_t surface_vertex_index;  // the next vertex of the current triangle, 0..3
    int16_t slop;
};

// Starts a pick at `point`, clamped to the last view's screen (0 .. width,
// 0 .. height).  The by-point flag replaces the by-point, by-rectangle and
// initialized bits of `flags`.
void new_pick_by_point_state(pick_state *state, point2d point, uint32_t flags);
// Starts a pick of `rectangle`, its left and top raised to 0, its right and
// bottom lowered to the screen's width and height.
void new_pick_by_rectangle_state(pick_state *state, const rectangle2d *rectangle, uint32_t flags);

// The next hit from where the state stopped: fills the result fields and
// returns `return_flags` (0 once nothing more is hit).  Exact hits win in
// list order; a sprite hit only within the slop waits as a candidate (the
// smallest overshoot, the earlier on ties) and is returned at the end of the
// list, or instead of a later triangle.  Degenerate triangles and objects at
// or behind the eye are skipped.  Asking for triangles by rectangle, or for a
// point and a rectangle at once, is refused (assertion) and finds nothing.
uint32_t pick(pick_state *state);

// Whether one of the remaining vertices (from `surface_vertex_index`) of the
// triangle `surface` is hit; a hit stores its cell in `mesh_vertex` and moves
// `surface_vertex_index` past it, a miss sets it back to 0.
bool pick_vertex(const render_surface *surface, pick_state *state);

// ---- the last rendered frame ----------------------------------------------------------

// The view of the last frame, or null while none was drawn.
const rendered_view_data *get_last_render_view(void);
// The first surface of the last frame's list, or null.
const render_surface *get_last_render_surface_list(void);

// Tests and tools: a frame that stands in for the renderer's while set (the
// records must outlive it); null view removes it.
void install_test_render_frame(const rendered_view_data *view, const render_surface *first_surface);

#pragma once
// The records of a rendered frame that both the renderer and its readers use:
// the surface list the renderer builds each frame (its common surface header
// with the packed flags/type/subtype word, and the triangle and rectangle
// records picking looks into), and the facts of the last view that picking
// and the selection read.  Header-only and free of the renderer's own types,
// so the renderer (which fills them) and player control (which reads them)
// both include it.  In memory only: nothing here crosses a disk or a socket.

#include <cstdint>

#include "point2d.h"
#include "world.h"

// ---- surfaces -------------------------------------------------------------------------

enum render_surface_flag_bits
{
    _surface_discarded_bit = 0,   // the clipper found it invisible
    _surface_media_bit = 1,
    _surface_reflection_bit = 2,  // drawn in the reflection pass
    _surface_transparent_bit = 3,
    _surface_filtered_bit = 4,
    _surface_mirror_horizontal_bit = 5,
    _surface_mirror_vertical_bit = 6,
    _surface_transparent_overlay_bit = 7,
    _surface_not_dithered_bit = 8,
    _surface_precise_z_bit = 9,
    _surface_debug_bit = 10,
    NUMBER_OF_SURFACE_FLAG_BITS = 11,

    _surface_discarded_flag = 1 << _surface_discarded_bit,
    _surface_media_flag = 1 << _surface_media_bit,
    _surface_reflection_flag = 1 << _surface_reflection_bit,
    _surface_transparent_flag = 1 << _surface_transparent_bit,
};

enum render_surface_type
{
    _surface_type_triangle = 0,
    _surface_type_polygon = 1,
    _surface_type_rectangle = 2,
};

enum render_surface_subtype
{
    _surface_subtype_mesh_triangle = 0,
    _surface_subtype_model_triangle = 1,
    _surface_subtype_object_triangle = 2,
    _surface_subtype_object_rectangle = 3,
    _surface_subtype_filled_rectangle = 4,
    _surface_subtype_text_rectangle = 5,
};

// The packed word: flags in bits 0-10, the type in 11-12, the subtype in 13-15.
inline uint16_t pack_surface_word(uint32_t flags, int32_t type, int32_t subtype)
{
    return (uint16_t)((flags & 0x7FF) | ((uint32_t)(type & 3) << 11) | ((uint32_t)(subtype & 7) << 13));
}
inline uint32_t surface_word_flags(uint16_t word) { return word & 0x7FFu; }
inline int32_t surface_word_type(uint16_t word) { return (word >> 11) & 3; }
inline int32_t surface_word_subtype(uint16_t word) { return (word >> 13) & 7; }

enum
{
    VERTICES_PER_TRIANGLE = 3,
};

struct render_vertex
{
    uint16_t flags;
    point2d mesh_vertex; // a terrain vertex's mesh cell, or a model vertex's geometry index
    world_point3d p;     // viewer space
    point2d screen;      // projected, in screen pixels
};

struct render_corner
{
    render_vertex *vertex;
    int16_t interpolants[2]; // texture u, v
};

// The header every surface begins with.
struct render_surface
{
    render_surface *previous_surface;
    render_surface *next_surface;
    int32_t precise_z;
    int32_t obj_view_y;
    int32_t z; // viewer-space depth: negative in front of the viewer
    uint16_t transparency;
    uint16_t packed; // pack_surface_word
};

// Mesh triangles (subtype 0) and object triangles (subtype 2).
struct render_triangle
{
    render_surface header;
    render_corner corners[VERTICES_PER_TRIANGLE];
    uint32_t bitmap_identifier;
    uint32_t detail;
};

// Model triangles (subtype 1).
struct render_model_triangle
{
    render_surface header;
    render_corner corners[VERTICES_PER_TRIANGLE];
    uint32_t bitmap_identifier;
    uint16_t model_index;
    uint16_t triangle_index;
};

struct rectangle2d_32
{
    int32_t left, top, right, bottom;
};

// Object rectangles (subtype 3): sprites.  x1 and y1 are the far edges.
struct render_rectangle
{
    render_surface header;
    int16_t x0, y0, x1, y1;
    int16_t clip_top, clip_bottom;
    rectangle2d_32 viewer_rect;
    int16_t viewer_clip_top, viewer_clip_bottom;
    uint32_t bitmap_identifier;
    int16_t object_index;
};

struct render_surface_list
{
    render_surface *first_surface; // nearest, once the frame is sorted
    render_surface *last_surface;
    int32_t surface_count;
    int32_t override_precise_z;
};

// ---- the last view --------------------------------------------------------------------

// What readers of the last frame need of its view.  A world point p lies at
// viewer-space x = (m[0][0]dx + m[1][0]dy + m[2][0]dz) >> 14 (and likewise y
// with column 1, z with column 2), d = p - origin; in front of the viewer
// z < 0, and it is drawn at screen x = centre.x - x * world_to_screen / z,
// screen y = centre.y + y * world_to_screen / z.
struct rendered_view_data
{
    int16_t screen_width, screen_height;
    point2d centre;                 // the projection centre on the screen (xk, yk)
    world_point3d origin;           // the viewer's position
    int16_t world_to_viewer_rotation[3][3]; // 2.14 fixed (16384 = 1.0)
    int32_t world_to_screen;        // the focal length in pixels
};

// ---- the view to draw -------------------------------------------------------------------

// The camera's view of one frame.  The camera (build_observer_view) fills the
// first group; the renderer's update_view_data derives the rest.  In memory
// only.
//
// Flags: the camera sets filtering (1), and 16 in demo games and 32 on maps
// whose media reflects; the renderer reads the same bits by their effect
// (render/render.h: _render_view_*).
enum view_data_flag_bits
{
    _view_filtering_bit = 0,
    _view_demo_bit = 4,
    _view_media_bit = 5,

    _view_filtering_flag = 1u << _view_filtering_bit,
    _view_demo_flag = 1u << _view_demo_bit,
    _view_media_flag = 1u << _view_media_bit,
};

struct bitmap_data;
struct mesh_region;
struct render_map_overlay;

// A rectangle in the plane at distance 1 in front of the viewer (y up).
struct view_perspective
{
    float top, left, bottom, right;
};

struct view_data
{
    // ---- filled by the caller
    uint32_t flags;                 // view_data_flag_bits, render_view_flag_bits
    int16_t resolution_width, resolution_height; // what the projection is computed for
    int16_t half_resolution_width, half_resolution_height;
    world_location3d location;      // the eye: position, velocity, height in world units; yaw and pitch
    int32_t tick_count;             // the animation clock of this frame (the game's local time)
    int32_t game_ticks_elapsed;     // game ticks since the previous view (drives local projectiles)
    float tangent_of_half_field_of_view; // of the horizontal field of view
    float horizontal_offset;        // off-centre projection, in fractions of the resolution
    float vertical_offset;
    int16_t rasterizer_code;        // rasterizer_code (screen.h): 0 software, 4 OpenGL
    bitmap_data *screen;            // the destination

    // ---- tiled rendering (render_screenshot)
    bool tile_rendering;
    uint32_t x_tile_size, y_tile_size, x_tile, y_tile;

    // ---- derived by update_view_data
    view_perspective perspective;   // the view window on the plane at distance 1
    rectangle2d hole;               // the screen less the interface bars over it
    rectangle2d viewport;           // where the picture lands on the device
    float fworld_to_screen;         // half_resolution_width / tangent_of_half_field_of_view
    int16_t iworld_to_screen;       // fworld_to_screen + 0.5, truncated
    int16_t clip_left, clip_right, clip_top, clip_bottom;
    int16_t xk, yk;                 // the projection centre on the screen
    int16_t screen_width, screen_height, half_screen_width, half_screen_height;
    // 2.14 fixed (16384 = 1.0); column c turns a world offset d into viewer
    // coordinate c: x = (m[0][0]dx + m[1][0]dy + m[2][0]dz) >> 14, and so on.
    int16_t world_to_viewer_rotation[3][3];

    // ---- the frame's lists (in the render memory pool)
    mesh_region *region;            // the visible terrain
    render_surface_list *main_surface_list;
    render_map_overlay *shadow_map_overlays, *light_map_overlays;
};

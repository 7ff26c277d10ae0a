#pragma once
// The records of a rendered frame that both the renderer and its readers use:
// the surface list the renderer builds each frame (its common surface header
// with the packed flags/type/subtype word, and the triangle and rectangle
// records picking looks into), and the facts of the last view that picking
// and the selection read.  Header-only and free of the renderer's own types,
// so the renderer (which fills them) and player control (which reads them)
// both include it.  In memory only: nothing here crosses a disk or a socket.

#include <cstddef>
#include <cstdint>

#include "point2d.h"
#include "rgb_color.h"
#include "world.h"

// ---- surfaces -------------------------------------------------------------------------

enum render_surface_flag_bits
{
    _surface_discarded_bit = 0,   // the clipper found it invisible
    _surface_media_bit = 1,       // a media surface; on anything but terrain, a reflective model surface
    _surface_reflection_bit = 2,  // drawn in the reflection pass
    _surface_transparent_bit = 3,
    _surface_filtered_bit = 4,
    _surface_mirror_horizontal_bit = 5,
    _surface_mirror_vertical_bit = 6,
    _surface_transparent_overlay_bit = 7, // the overlay transparency mode
    _surface_not_dithered_bit = 8,
    _surface_precise_z_bit = 9,   // the builder has set precise_z itself
    _surface_debug_bit = 10,
    NUMBER_OF_SURFACE_FLAG_BITS = 11,

    _surface_discarded_flag = 1 << _surface_discarded_bit,
    _surface_media_flag = 1 << _surface_media_bit,
    _surface_reflection_flag = 1 << _surface_reflection_bit,
    _surface_transparent_flag = 1 << _surface_transparent_bit,
    _surface_filtered_flag = 1 << _surface_filtered_bit,
    _surface_mirror_horizontal_flag = 1 << _surface_mirror_horizontal_bit,
    _surface_mirror_vertical_flag = 1 << _surface_mirror_vertical_bit,
    _surface_transparent_overlay_flag = 1 << _surface_transparent_overlay_bit,
    _surface_not_dithered_flag = 1 << _surface_not_dithered_bit,
    _surface_precise_z_flag = 1 << _surface_precise_z_bit,
    _surface_debug_flag = 1 << _surface_debug_bit,
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
    _surface_subtype_object_shadow = 6,
};

// The packed word: flags in bits 0-10, the type in 11-12, the subtype in 13-15.
inline uint16_t pack_surface_word(uint32_t flags, int32_t type, int32_t subtype)
{
    return (uint16_t)((flags & 0x7FF) | ((uint32_t)(type & 3) << 11) | ((uint32_t)(subtype & 7) << 13));
}
inline uint32_t surface_word_flags(uint16_t word) { return word & 0x7FFu; }
inline int32_t surface_word_type(uint16_t word) { return (word >> 11) & 3; }
inline int32_t surface_word_subtype(uint16_t word) { return (word >> 13) & 7; }

// The bitmap identifier of triangles and rectangles, one 32-bit word:
// collection index in bits 0-7, bitmap index in 8-21, colour table index in
// 22-28, colour table permutation in 29-31.  Every value names a bitmap: 0 is
// bitmap 0 of collection 0, colour table 0, never "no bitmap".  Kept as a
// plain word (not C bit fields) so its layout does not depend on the compiler;
// the sorts key on the whole word.
enum
{
    BITMAP_IDENTIFIER_COLLECTION_SHIFT = 0,
    BITMAP_IDENTIFIER_COLLECTION_BITS = 8,
    BITMAP_IDENTIFIER_BITMAP_SHIFT = 8,
    BITMAP_IDENTIFIER_BITMAP_BITS = 14,
    BITMAP_IDENTIFIER_COLOR_TABLE_SHIFT = 22,
    BITMAP_IDENTIFIER_COLOR_TABLE_BITS = 7,
    BITMAP_IDENTIFIER_PERMUTATION_SHIFT = 29,
    BITMAP_IDENTIFIER_PERMUTATION_BITS = 3,
};

// Fields out of range are cut to their width.
inline uint32_t make_bitmap_identifier(int32_t collection_index, int32_t bitmap_index, int32_t color_table_index,
                                       int32_t color_table_permutation)
{
    return ((uint32_t)collection_index & 0xFFu) | (((uint32_t)bitmap_index & 0x3FFFu) << 8) |
           (((uint32_t)color_table_index & 0x7Fu) << 22) | (((uint32_t)color_table_permutation & 7u) << 29);
}
inline int32_t bitmap_identifier_collection_index(uint32_t identifier) { return (int32_t)(identifier & 0xFFu); }
inline int32_t bitmap_identifier_bitmap_index(uint32_t identifier) { return (int32_t)((identifier >> 8) & 0x3FFFu); }
inline int32_t bitmap_identifier_color_table_index(uint32_t identifier) { return (int32_t)((identifier >> 22) & 0x7Fu); }
inline int32_t bitmap_identifier_color_table_permutation(uint32_t identifier) { return (int32_t)(identifier >> 29); }

enum
{
    VERTICES_PER_TRIANGLE = 3,
};

enum render_vertex_flag_bits
{
    _vertex_out_left_bit = 0,
    _vertex_on_left_bit = 1, // a builder placed it exactly on the left edge
    _vertex_out_right_bit = 2,
    _vertex_on_right_bit = 3,
    _vertex_out_top_bit = 4,
    _vertex_on_top_bit = 5,
    _vertex_out_bottom_bit = 6,
    _vertex_on_bottom_bit = 7,
    _vertex_discarded_bit = 8,          // behind the viewer or not projectable
    _vertex_screen_transformed_bit = 9, // `screen` is valid
    _vertex_clipped_bit = 10,           // classified this frame

    _vertex_out_left_flag = 1 << _vertex_out_left_bit,
    _vertex_on_left_flag = 1 << _vertex_on_left_bit,
    _vertex_out_right_flag = 1 << _vertex_out_right_bit,
    _vertex_on_right_flag = 1 << _vertex_on_right_bit,
    _vertex_out_top_flag = 1 << _vertex_out_top_bit,
    _vertex_on_top_flag = 1 << _vertex_on_top_bit,
    _vertex_out_bottom_flag = 1 << _vertex_out_bottom_bit,
    _vertex_on_bottom_flag = 1 << _vertex_on_bottom_bit,
    _vertex_discarded_flag = 1 << _vertex_discarded_bit,
    _vertex_screen_transformed_flag = 1 << _vertex_screen_transformed_bit,
    _vertex_clipped_flag = 1 << _vertex_clipped_bit,

    _vertex_out_flags = _vertex_out_left_flag | _vertex_out_right_flag | _vertex_out_top_flag | _vertex_out_bottom_flag,
};
static_assert(_vertex_out_flags == 85);

struct render_vertex
{
    uint16_t flags;      // render_vertex_flag_bits
    point2d mesh_vertex; // a terrain vertex's mesh cell, or a model vertex's geometry index
    world_point3d p;     // viewer space
    point2d screen;      // projected, in screen pixels (with _vertex_screen_transformed_flag)
};

enum
{
    _texture_u = 0,
    _texture_v = 1,
    NUMBER_OF_TEXTURE_INTERPOLANTS = 2,
};

struct render_corner
{
    render_vertex *vertex;
    int16_t interpolants[NUMBER_OF_TEXTURE_INTERPOLANTS]; // texture u, v
};

// The header every surface begins with.
struct render_surface
{
    render_surface *previous_surface;
    render_surface *next_surface;
    int32_t precise_z;  // the sort key, compared unsigned: larger is nearer
    int32_t obj_view_y; // viewer-space y of the owning object (rectangles)
    int32_t z;          // viewer-space depth: negative in front of the viewer, larger is nearer
    uint16_t transparency; // 0 opaque, 65535 fully transparent
    uint16_t packed;       // pack_surface_word
};

// Mesh triangles (subtype 0) and object triangles (subtype 2).
struct render_triangle
{
    render_surface header;
    render_corner corners[VERTICES_PER_TRIANGLE];
    uint32_t bitmap_identifier;
    // The detail layer word: bits 0-8 the layers' corner masks, 9-15, 16-22
    // and 23-29 the three detail entry numbers, bit 30 the blend bit.
    uint32_t detail;
};

// Model triangles (subtype 1).
struct render_model_triangle
{
    render_surface header;
    render_corner corners[VERTICES_PER_TRIANGLE];
    uint32_t bitmap_identifier;
    uint16_t model_index;
    uint16_t triangle_index; // the geometry surface
};

// The categories that sort by bitmap hold both kinds of triangle, and picking
// reads the corners of either through render_triangle.
static_assert(offsetof(render_triangle, corners) == offsetof(render_model_triangle, corners));
static_assert(offsetof(render_triangle, bitmap_identifier) == offsetof(render_model_triangle, bitmap_identifier));

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
    rectangle2d_32 viewer_rect; // world distances in viewer space
    int16_t viewer_clip_top, viewer_clip_bottom;
    uint32_t bitmap_identifier;
    int16_t object_index;
};

// Filled rectangles (subtype 4): the rectangle fields, then a colour.
struct render_filled_rectangle
{
    render_surface header;
    int16_t x0, y0, x1, y1;
    int16_t clip_top, clip_bottom;
    rectangle2d_32 viewer_rect;
    int16_t viewer_clip_top, viewer_clip_bottom;
    rgb_color color;
};

// Text (subtype 5): the rectangle fields, then the style and the text, which
// is stored zero-terminated in the record itself; allocate
// render_text_rectangle_size(length) bytes.
struct render_text_rectangle
{
    render_surface header;
    int16_t x0, y0, x1, y1;
    int16_t clip_top, clip_bottom;
    rectangle2d_32 viewer_rect;
    int16_t viewer_clip_top, viewer_clip_bottom;
    int16_t style;
    int16_t font_index;
    rgb_color color;
    uint32_t text_flags; // draw-string flags
    char string[];
};

inline size_t render_text_rectangle_size(size_t string_length)
{
    return offsetof(render_text_rectangle, string) + string_length + 1;
}

// A sprite's shadow (subtype 6): the rectangle fields, then the sprite's
// bitmap and the parallelogram its silhouette covers when laid on the ground
// away from the light.  The sprite's bottom row lies along the foot edge,
// its top row along the top edge; every row between runs level on the screen
// and is interpolated linearly.  Edge columns and rows are 16.16 screen
// pixels.  The opaque texels darken what lies beneath by `transparency`
// (0 black, 65535 no shadow).
struct render_shadow_rectangle
{
    render_surface header;
    int16_t x0, y0, x1, y1; // the parallelogram's bounds
    int16_t clip_top, clip_bottom;
    rectangle2d_32 viewer_rect;
    int16_t viewer_clip_top, viewer_clip_bottom;
    uint32_t bitmap_identifier;
    int32_t foot_left, foot_right, foot_row;
    int32_t top_left, top_right, top_row;
};

static_assert(offsetof(render_filled_rectangle, viewer_clip_bottom) == offsetof(render_rectangle, viewer_clip_bottom));
static_assert(offsetof(render_shadow_rectangle, bitmap_identifier) == offsetof(render_rectangle, bitmap_identifier));
static_assert(offsetof(render_text_rectangle, viewer_clip_bottom) == offsetof(render_rectangle, viewer_clip_bottom));

struct render_surface_list
{
    render_surface *first_surface; // nearest, once the frame is sorted
    render_surface *last_surface;  // farthest, once the frame is sorted
    int32_t surface_count;
    int32_t override_precise_z; // 0 none; else the key of every surface added
};

// ---- surface categories ---------------------------------------------------------------

// The sorted frame split by how it is drawn; the rasterizers walk these.
enum surface_category_index
{
    _surface_category_media = 0,
    _surface_category_mesh = 1,
    _surface_category_reflective_objects = 2,
    _surface_category_opaque_objects = 3,
    _surface_category_reflections = 4,
    _surface_category_text_rectangles = 5,
    _surface_category_translucent_objects = 6,
    _surface_category_discarded = 7,
    NUMBER_OF_SURFACE_CATEGORIES = 8,
};

struct surface_category
{
    const char *name;
    int32_t sort_offset;  // byte offset of the 32-bit key in the surface record; -1 no key
    uint32_t sort_mask;
    bool sorted;          // sorted by key this frame
    render_surface **surfaces; // in the render pool, far to near until sorted by key
    uint32_t count;
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
    int32_t tick_count;             // the animation clock of this frame (local time, stopped while paused)
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

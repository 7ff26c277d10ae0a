#pragma once
// Surfaces made of a collection's bitmaps: quads, rectangles and oriented quads.
//
// Three builders turn one bitmap of a collection into surfaces of the frame:
// a textured quad split into two object triangles (shockwaves, connectors), a
// screen-aligned object rectangle (particles) and a quad drawn along a
// direction (streaks, lightning segments, local projectiles, oriented object
// bitmaps).  Each takes its records from the render pool and adds them with
// add_surface_to_surface_list, so a surface the screen test discards is never
// listed.  Texture corners lie 1/1024 of the texture inside each edge (64 and
// 65472) so that sampling never wraps onto the opposite edge.  Main thread only.

#include <cstdint>

#include "render/render_surfaces.h"
#include "world.h"

struct bitmap_instance_data;
struct view_data;

enum
{
    BITMAP_SURFACE_TEXTURE_NEAR = 64,
    BITMAP_SURFACE_TEXTURE_FAR = 65536 - 64,
};

struct quad_triangle_data
{
    uint32_t flags; // its low 11 bits become the surface flags
    bool is_reflection; // colour table permutation 3
    int16_t collection_index;
    int16_t color_table_index;
    fixed_fraction transparency;
    const bitmap_instance_data *bitmap_instance;
    render_vertex *vertices[4]; // the quad's corners in order
    int32_t surface_z;          // the depth of both triangles
};

enum build_bitmap_triangles_flag_bits
{
    _is_reflection_bit = 0,
    _orient_about_bitmap_center_bit = 1,

    _is_reflection_flag = 1u << _is_reflection_bit,
    _orient_about_bitmap_center_flag = 1u << _orient_about_bitmap_center_bit,
};

struct build_bitmap_triangles_data
{
    uint32_t flags; // build_bitmap_triangles_flag_bits
    int16_t collection_index;
    int16_t color_table_index;
    fixed_fraction transparency;
    int16_t horizontal_scale, vertical_scale; // 8.8 fixed
    int32_t overlap_amount; // world distance added to the streak's length
};

// Two object triangles over the quad: (v0, v3, v2) and (v2, v1, v0), the
// texture's right edge on v0 and v1, its top on v0 and v3.  `surfaces`, when
// not null, receives the two records (listed or not).
void quad_into_triangles(view_data *view, const quad_triangle_data *data, render_triangle *surfaces[2] = nullptr);

// One object rectangle at the screen rectangle (x0, y0)-(x1, y1), at the
// depth of the viewer-space `transformed` position; `viewer_rectangle` is its
// extent in viewer space.  The instance's flag bits 0 and 1 mirror it
// horizontally and vertically, bit 2 draws it in the overlay transparency
// mode; a non-zero transparency makes it transparent.  Returns the record.
render_rectangle *build_bitmap_surface_rectangle(const bitmap_instance_data *instance, view_data *view,
                                                 int16_t collection_index, int16_t color_table_index,
                                                 fixed_fraction transparency, const world_point3d *transformed,
                                                 const rectangle2d_32 *viewer_rectangle, int16_t x0, int16_t x1,
                                                 int16_t y0, int16_t y1);

// Two object triangles drawn along the world-space `direction` from the
// viewer-space `transformed` position: the bitmap's width runs across the
// direction, and the streak reaches back by the direction's length plus the
// overlap (or, about the bitmap's centre, by its left and right extents).
// The direction is normalised in 64 bits, so any world vector is safe; a zero
// direction makes a degenerate quad that the screen test discards.  With the
// reflection flag the quad is flipped in z and drawn mirrored in the
// reflection pass (flags 76).  `surfaces`, when not null, receives the two
// records (listed or not).
void build_extended_bitmap_surface_triangles(const bitmap_instance_data *instance, const world_point3d *transformed,
                                             const world_vector3d *direction, view_data *view,
                                             render_triangle *surfaces[2], const build_bitmap_triangles_data *data);

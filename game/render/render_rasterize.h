#pragma once
// The software rasterizer: draws a frame's sorted surface list into the
// view's screen bitmap when no hardware back end is active.  There is no
// depth buffer; visibility comes from drawing far to near.
//
// One procedure per surface kind (model triangle, mesh triangle, object
// triangle, rectangle, filled rectangle), each instantiated for the three
// back-buffer encodings (16-bit 555, 16-bit 565, 32-bit).  Texels are 8-bit
// colour indexes drawn through the bitmap's shading table; blending works on
// 5-bit channels through a 32 x 32 level of a transparency table; terrain is
// drawn from the volatile colour and shadow maps through the colour-map
// shading table.
//
// Every procedure clips to the destination itself and never fails: missing
// bitmaps or tables draw nothing, broken invariants are logged and the
// offending row or surface is skipped.  Pixel pairs on 16-bit destinations
// are formed from the byte offset within the pixel block (never from an
// address), so a frame does not depend on where the allocator put it.
//
// Main thread only.

#include <cstdint>

#include "render/render_surfaces.h"

struct bitmap_data;
struct view_data;

// ---- procedure tables --------------------------------------------------------------------

// Draws one surface of the matching subtype into `destination`.
typedef void (*rasterize_surface_procedure)(bitmap_data *destination, render_surface *surface);

struct rasterization_procs
{
    rasterize_surface_procedure rasterize_model_triangle;
    rasterize_surface_procedure rasterize_mesh_triangle;
    rasterize_surface_procedure rasterize_triangle;
    rasterize_surface_procedure rasterize_rectangle;
    rasterize_surface_procedure rasterize_filled_rectangle;
    rasterize_surface_procedure rasterize_shadow_rectangle;
};

extern const rasterization_procs procs_16bit_555;
extern const rasterization_procs procs_16bit_565;
extern const rasterization_procs procs_32bit;

// The table of a destination encoding (1, 2, 3); for any other encoding
// "halt" is logged and the result is null: nothing may be drawn, since the
// 16-bit writers would run past rows of another pixel size.
const rasterization_procs *get_rasterization_procs(int16_t encoding);

// ---- the five procedures, per encoding -----------------------------------------------------

// Model triangles (render_model_triangle): a power-of-two texture of the
// bitmap identifier, 16-bit fraction u/v; a texture without the power-of-two
// flag logs "texture->flags&_power_of_two_flag" and draws nothing.
void rasterize_model_triangle_16bit_555(bitmap_data *destination, render_surface *surface);
void rasterize_model_triangle_16bit_565(bitmap_data *destination, render_surface *surface);
void rasterize_model_triangle_32bit(bitmap_data *destination, render_surface *surface);

// Terrain triangles (render_triangle): u/v in mesh cells of the volatile
// window, sampled from rasterizer_globals' maps (filtered with the surface's
// filtered flag); nothing without the maps or the shading table.
void rasterize_mesh_triangle_16bit_555(bitmap_data *destination, render_surface *surface);
void rasterize_mesh_triangle_16bit_565(bitmap_data *destination, render_surface *surface);
void rasterize_mesh_triangle_32bit(bitmap_data *destination, render_surface *surface);

// Object triangles (render_triangle): as model triangles; 4-bit light-mask
// textures draw nothing.
void rasterize_triangle_16bit_555(bitmap_data *destination, render_surface *surface);
void rasterize_triangle_16bit_565(bitmap_data *destination, render_surface *surface);
void rasterize_triangle_32bit(bitmap_data *destination, render_surface *surface);

// Sprites (render_rectangle): a run-length texture scaled to [x0, x1) x
// [y0, y1), mirrored by the surface's flags, drawn only in rows
// [clip_top, clip_bottom) (clamped to the destination and written back).
void rasterize_rectangle_16bit_555(bitmap_data *destination, render_surface *surface);
void rasterize_rectangle_16bit_565(bitmap_data *destination, render_surface *surface);
void rasterize_rectangle_32bit(bitmap_data *destination, render_surface *surface);

// Filled rectangles (render_filled_rectangle): the record's colour blended
// through the normal transparency table at the surface's level (level 0
// included), stored directly only when there is no table.
void rasterize_filled_rectangle_16bit_555(bitmap_data *destination, render_surface *surface);
void rasterize_filled_rectangle_16bit_565(bitmap_data *destination, render_surface *surface);
void rasterize_filled_rectangle_32bit(bitmap_data *destination, render_surface *surface);

// Sprite shadows (render_shadow_rectangle): every opaque texel of the
// run-length texture, laid into the record's parallelogram (mirrored by the
// surface's flags), darkens the destination toward black through the normal
// transparency table at the surface's level; rows outside [clip_top,
// clip_bottom) and the destination are skipped.  Nothing for a texture that
// is not run-length encoded or a parallelogram without height.
void rasterize_shadow_rectangle_16bit_555(bitmap_data *destination, render_surface *surface);
void rasterize_shadow_rectangle_16bit_565(bitmap_data *destination, render_surface *surface);
void rasterize_shadow_rectangle_32bit(bitmap_data *destination, render_surface *surface);

// ---- scenes --------------------------------------------------------------------------------

// Draws the sorted list into view->screen with the table of the screen's own
// encoding, in three passes from the farthest surface toward the nearest:
// media surfaces, then reflections, then every other surface; discarded
// surfaces and text rectangles are skipped (the frame draws text).  Takes the
// terrain maps of the frame from the terrain-map module first.
void rasterize_scene_software(view_data *view, render_surface_list *list);

// ---- the module record -----------------------------------------------------------------------

enum
{
    VOLATILE_MAP_TEXELS_PER_ROW = 512, // 8 texels per cell, 64 cells
    VOLATILE_MAP_TEXELS_PER_CELL = 8,
    NUMBER_OF_SECONDARY_ADDRESS_OFFSETS = 16,
};

// The filter's second texel, relative to the first, by
// u quarter + 4 x v quarter of the first texel's sub-texel position.
extern const int16_t secondary_address_offset_table[NUMBER_OF_SECONDARY_ADDRESS_OFFSETS];

// What mesh triangles read: the volatile colour and shadow maps (512 texels
// a row, with a guard row before and after the 512 rows), the colour-map
// shading table (16-bit destinations: 64 levels of 256 16-bit pixels, index
// (shadow >> 2) x 256 + colour; 32-bit: 256 levels of 256 32-bit pixels,
// index shadow x 256 + colour) and the 256 x 256 blend table of colour
// indexes.  rasterize_scene_software fills them from the terrain maps each
// frame; tests may set them directly.
struct rasterizer_terrain_maps
{
    const uint8_t *color_map, *shadow_map;
    const void *shading_table;
    const void *media_shading_table; // the water's surface; null: as the terrain
    const uint8_t *blend_table;
};

// How terrain spans find their texels: in the scalar loop, or eight pairs at
// a time in vector registers when the processor has them (the same pixels).
// Decided at the first terrain triangle; tests set it to compare the two.
enum rasterizer_span_method : int8_t
{
    _spans_undecided,
    _spans_scalar,
    _spans_vector,
};

struct rasterizer_globals_data
{
    rasterizer_terrain_maps terrain;
    rasterizer_span_method span_method;
    bool unsupported_encoding_logged; // "halt" once per encoding change, not per frame
    int16_t last_unsupported_encoding;
};
extern rasterizer_globals_data rasterizer_globals;

// ---- life cycle ------------------------------------------------------------------------------

void initialize_rasterizer(void);
bool initialize_rasterizer_for_new_map(void);
void dispose_rasterizer_from_old_map(void);

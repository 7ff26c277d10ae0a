#pragma once
// The 2D drawing primitives: rectangle and point arithmetic, pixel
// addressing, mirroring, lines, polygon outlines and fills, rectangle frames
// and fills in a solid colour (optionally blended through a transparency
// table), and the general bitmap copier with the sprite drawers built on it.
//
// Every drawer works in software on 16-bit 555, 16-bit 565 and 32-bit
// bitmaps (lines also on 8-bit ones) and hands a bitmap of a hardware encoding
// to the back end's drawer (hardware_rasterizer.h).  The drawers never fail
// loudly: an unsupported bitmap or mode is a "halt" or "vpause" log line and
// the bitmap is left untouched.
//
// Transparency is a fixed_fraction: 0 opaque, level = transparency >> 12, 15
// invisible; a transparency table holds 16 levels of 32 x 32 five-bit
// components (bitmaps.h).
//
// Main thread only.

#include <cstdint>
#include <cstring>

#include "bitmaps.h"
#include "point2d.h"
#include "rgb_color.h"
#include "world.h"

enum
{
    MAXIMUM_EDGES_PER_POLYGON = 32,
};

// Shared constant colours.
extern const rgb_color rgb_white, rgb_red, rgb_green, rgb_blue, rgb_black;
// Half of each channel: the grey of a side or player without a colour of its own.
extern const rgb_color rgb_neutral_grey;

// ---- pixel access -------------------------------------------------------------------------
// Rows of run-length sprites are only 2-byte aligned, so wide pixels are
// moved with memcpy, which the compiler turns into plain loads and stores.

inline uint16_t load_pixel16(const uint8_t *p)
{
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}
inline uint32_t load_pixel32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}
inline void store_pixel16(uint8_t *p, uint16_t v) { memcpy(p, &v, 2); }
inline void store_pixel32(uint8_t *p, uint32_t v) { memcpy(p, &v, 4); }

// ---- rectangles and points ----------------------------------------------------------------

rectangle2d *inset_rectangle2d(rectangle2d *r, int16_t dx, int16_t dy);
rectangle2d *offset_rectangle2d(rectangle2d *r, int16_t dx, int16_t dy);
// The smallest rectangle holding both (empty inputs are not special).
rectangle2d *union_rectangles2d(const rectangle2d *a, const rectangle2d *b, rectangle2d *out);
// The common part; false with `out` all zero when it is empty.
bool intersect_rectangles2d(const rectangle2d *a, const rectangle2d *b, rectangle2d *out);
bool point2d_in_rectangle2d(const rectangle2d *r, const point2d *p);
bool interior_rectangle2d(const rectangle2d *outer, const rectangle2d *inner);
bool equal_rectangle2d(const rectangle2d *a, const rectangle2d *b);
bool equal_point2d(const point2d *a, const point2d *b);
// The largest rectangle of the source's proportions inside `bounds`, scaled
// by `scale` (256 = 1) and centred in bounds.
rectangle2d *scale_rectangle2d(const rectangle2d *bounds, const rectangle2d *source, rectangle2d *destination,
                               short_fixed scale);

enum adjust_rectangle_mode
{
    _adjust_rectangle_center = 0,
    _adjust_rectangle_hcenter,
    _adjust_rectangle_vcenter,
    _adjust_rectangle_alert, // a third of the way down, centred across
};
// The source moved relative to `bounds` by `mode`; another mode is a "vpause"
// line and the source unchanged.
rectangle2d *adjust_rectangle2d(const rectangle2d *bounds, const rectangle2d *source, rectangle2d *destination,
                                int32_t mode);

// ---- pixels ------------------------------------------------------------------------------------

// Pixel (x, y); for x = 0 the row start (a run-length row's span header).
// Null, after an assertion, for a point outside the bitmap or an x > 0 on a
// run-length row.
uint8_t *bitmap_address(const bitmap_data *bitmap, int16_t x, int16_t y);

// Reverses the first `width` pixels of every row of an 8- or 16-bit bitmap
// with a row size; any other is a "vpause" line and left alone.
void mirror_bitmap_horizontally(bitmap_data *bitmap);

// ---- solid drawing -----------------------------------------------------------------------------
// `clip` null means the whole bitmap.  A destination with any of the flags 4,
// 8, 16 or 128 is refused.  `fill_rectangle_clipped` with a null table takes
// the normal transparency table; the others need one whenever transparency
// is not 0 (refused otherwise).

// Both endpoints drawn; points outside the clip are skipped one by one.
void draw_line(bitmap_data *destination, const rgb_color *color, fixed_fraction transparency,
               const uint8_t *transparency_table, const rectangle2d *clip, const point2d *p0, const point2d *p1);
void frame_polygon(bitmap_data *destination, const rgb_color *color, const rectangle2d *clip,
                   fixed_fraction transparency, const uint8_t *transparency_table, const point2d *vertices,
                   int16_t vertex_count);
void frame_rectangle_clipped(bitmap_data *destination, const rgb_color *color, const rectangle2d *rectangle,
                             const rectangle2d *clip, fixed_fraction transparency, const uint8_t *transparency_table);
// Even-odd fill; more than MAXIMUM_EDGES_PER_POLYGON vertices draws nothing
// (logged).
void fill_polygon(bitmap_data *destination, const rgb_color *color, const rectangle2d *clip,
                  fixed_fraction transparency, const uint8_t *transparency_table, const point2d *vertices,
                  int16_t vertex_count);
void fill_rectangle_clipped(bitmap_data *destination, const rgb_color *color, const rectangle2d *rectangle,
                            const rectangle2d *clip, fixed_fraction transparency, const uint8_t *transparency_table);

// ---- copying -------------------------------------------------------------------------------------

enum copy_bitmap_mode
{
    _copy_to_hardware = 0,
    _copy_8bit_to_8bit,
    _copy_8bit_to_16bit,
    _copy_16bit_to_16bit,
    _copy_16bit_555_to_32bit,
    _copy_16bit_565_to_32bit,
    _copy_32bit_to_16bit_555,
    _copy_32bit_to_16bit_565,
    _copy_16bit_555_to_16bit_565,
    _copy_16bit_565_to_16bit_555,
    _copy_16bit_transparency_to_16bit_565,
    _copy_16bit_transparency_to_16bit_555,
    _copy_8bit_transparency_to_16bit_555,
    _copy_8bit_encoded_transparency_to_16bit_555,
    _copy_8bit_to_16bit_color_key,
    _copy_8bit_transparency_to_16bit_555_color_key,
    _copy_8bit_constant_and_encoded_transparency_to_16bit_555,
    _copy_8bit_transparency_to_16bit_565,
    _copy_8bit_transparency_to_16bit_565_color_key,
    _copy_8bit_encoded_transparency_to_16bit_565,
    _copy_8bit_constant_and_encoded_transparency_to_16bit_565,
    _copy_8bit_to_32bit,
    _copy_8bit_to_32bit_color_key,
    _copy_32bit_to_32bit,
    _copy_32bit_transparency_to_32bit,
    _copy_8bit_transparency_to_32bit,
    _copy_8bit_transparency_to_32bit_color_key,
    _copy_8bit_encoded_transparency_to_32bit,
    _copy_8bit_constant_and_encoded_transparency_to_32bit,
    _copy_16bit_555_to_24bit,
    _copy_16bit_565_to_24bit,
    _copy_32bit_to_24bit,
    NUMBER_OF_COPY_BITMAP_MODES
};

// The mode copy_bitmap takes for these bitmaps, or NONE when it refuses them
// (without logging).  For tests and the back end.
int32_t choose_copy_bitmap_mode(const bitmap_data *destination, const bitmap_data *source, bool has_color_table,
                                fixed_fraction transparency);

// Copies `source` (flat or run-length) with its top-left corner at
// `destination_point` (null: 0, 0), clipped to the destination and `clip`.
// 8-bit sources are coloured through `source_color_table` (256 pixels of the
// destination's encoding; required for them).  The transparency table is
// required when transparency is not 0 or the source has per-pixel
// transparency.  Refused (logged, nothing drawn): a destination with any of
// the flags 2, 4, 8, 16, 128, an 8-bit destination with a source that is
// not 8-bit, and every pair no mode covers.
void copy_bitmap(bitmap_data *destination, const point2d *destination_point, const bitmap_data *source,
                 const rectangle2d *clip, const void *source_color_table, fixed_fraction transparency,
                 const uint8_t *transparency_table);

enum draw_bitmap_flags
{
    _draw_bitmap_left_justified_flag = 1,
    _draw_bitmap_right_justified_flag = 2,
    _draw_bitmap_top_justified_flag = 4,
    _draw_bitmap_bottom_justified_flag = 8,
    _draw_bitmap_respect_registration_point_flag = 16,
    _draw_bitmap_explicit_shading_table_provided_flag = 32,
    _draw_bitmap_return_adjusted_bounds_flag = 64,
    _draw_bitmap_crossfade_flag = 128, // not acted on here
};

// Bitmap `bitmap_index` of a sequence's view placed in `frame` (justified
// by `flags`, `inset` pixels in from a justified edge, centred otherwise).
// `replacement_colors_or_shading_table` is a shading table (256 pixels) with
// the explicit flag, else the collection's replacement colours (or null)
// made into a temporary table in the screen's encoding.  With the adjusted
// bounds flag `frame` becomes the rectangle drawn.
void draw_bitmap_from_sequence(bitmap_data *destination, int32_t collection_index, int32_t sequence_index,
                               int32_t view_index, int32_t bitmap_index, rectangle2d *frame, const rectangle2d *clip,
                               const void *replacement_colors_or_shading_table, fixed_fraction transparency,
                               int32_t transparency_mode, uint32_t flags, int16_t inset);

enum tile_rectangle_state
{
    _tile_rectangle_center = 0,
    _tile_rectangle_top_left_corner,
    _tile_rectangle_top_right_corner,
    _tile_rectangle_bottom_left_corner,
    _tile_rectangle_bottom_right_corner,
    _tile_rectangle_top_bevel,
    _tile_rectangle_left_bevel,
    _tile_rectangle_bottom_bevel,
    _tile_rectangle_right_bevel,
    NUMBER_OF_TILE_RECTANGLE_STATES
};
enum tile_rectangle_flag_bits
{
    _tile_rectangle_left_justified_flag = 1,
    _tile_rectangle_right_justified_flag = 2,
    _tile_rectangle_top_justified_flag = 4,
    _tile_rectangle_bottom_justified_flag = 8,
    _tile_rectangle_set_bevel_inset_flag = 16,
    _tile_rectangle_respect_bevel_inset_flag = 32,
};
extern const uint8_t tile_rectangle_flags[NUMBER_OF_TILE_RECTANGLE_STATES];

// Fills `bounds` with the sequence's nine-part frame: bitmap s of the view is
// the tile of state s (or of the state tile_state_map[i] names; NONE skips
// it).  The centre first, then the corners, then the bevels, which stop at
// the corners.  `replacement_colors` (or null) has one colour per hue change
// of the collection.
void tile_and_bevel_rectangle(bitmap_data *destination, int32_t collection_index, int32_t sequence_index,
                              int32_t view_index, const rectangle2d *bounds, const rectangle2d *clip,
                              const rgb_color *replacement_colors, fixed_fraction transparency,
                              int32_t transparency_mode, const int16_t *tile_state_map);

#pragma once
// The interface's 2D layer through OpenGL: whole bitmaps (dialogs) in tiles
// of the texture cache or (the bars) from one resident texture each,
// stretched copies, filled rectangles and polygons, lines and glyphs of the
// font texture.  Everything is drawn in
// screen pixels with the orthographic projection and no depth test.
// Coordinates given against a target bitmap are offset by its origin (x0,
// y0); colours are 0xAARRGGBB; transparencies are 0 (opaque) .. 65535.
//
// Main thread only; nothing is drawn while the rasterizer has no map started.

#include <cstdint>

#include "point2d.h"

struct bitmap_data;
struct font_character;
struct preallocated_texture;

enum
{
    // The side of the tiles a whole bitmap is cut into.
    OPENGL_BITMAP_TILE_SIZE = 256,
    // The most points of one polygon: the shared vertex array.
    MAXIMUM_OPENGL_POLYGON_POINTS = 24576,
};

// The alpha a 16-bit transparency draws a whole bitmap with (255 for 0).
uint8_t opengl_bitmap_alpha(uint16_t transparency);

// `bitmap` pixel for pixel at `destination`'s top-left (the rectangle gives
// the place and the area drawn, not a scale), cut into tiles of 256 x 256
// that the texture cache keeps under their first row's address and reloads
// when the bitmap carries _bitmap_changed_flag (cleared here).  Replaces the
// frame's pixels when `transparency` is 0, else blends.  A tile that cannot be
// had is left out.
void draw_bitmap_opengl(bitmap_data *bitmap, const rectangle2d *destination, uint16_t transparency);

// The resident texture of a whole bitmap drawn as draw_bitmap_opengl draws
// that bitmap, in one quad.  False, drawing nothing, when it has no texture
// or no bitmap (the caller then draws the bitmap in tiles).
bool draw_resident_bitmap_opengl(const preallocated_texture *texture, const rectangle2d *destination,
                                 uint16_t transparency);

// `source_rectangle` of `source` scaled onto `destination_rectangle` (+ the
// destination's origin), through `shading_table` (null for none).  A source
// rectangle reaching past the source is cut at its edge in texture space;
// the quad keeps the destination's size.  Nothing when the texture cannot be had.
void stretch_copy_bitmap_opengl(bitmap_data *destination, bitmap_data *source, const void *shading_table,
                                const rectangle2d *source_rectangle, const rectangle2d *destination_rectangle,
                                uint16_t transparency);

void fill_rectangle_opengl(bitmap_data *destination, uint32_t color, int16_t left, int16_t right, int16_t top,
                           int16_t bottom);
// Three points are one triangle, more a fan; fewer than one draws nothing.
// More than MAXIMUM_OPENGL_POLYGON_POINTS is refused with a log line.
void fill_polygon_opengl(bitmap_data *destination, uint32_t color, const point2d *points, int32_t count);
void draw_line_opengl(bitmap_data *destination, uint32_t color, const point2d *from, const point2d *to);

// `width` x `height` texels of the font texture from (glyph_x, glyph_y)
// drawn at (x, y) in `color`.  The texture is uploaded again first when the
// glyph atlas changed; nothing without a font texture.
void draw_character_to_opengl_frame_buffer(bitmap_data *destination, const font_character *glyph, uint32_t color,
                                           int16_t x, int16_t y, int16_t glyph_x, int16_t glyph_y, int16_t width,
                                           int16_t height);

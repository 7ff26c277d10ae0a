#pragma once
// The lookup tables through which drawers and the rasterizer colour and blend
// pixels: the two transparency tables, shading tables (a palette darkened in
// levels and optionally tinted), coloured shading tables (a palette pulled
// toward a dark and a light colour), the 8-byte tinting shader of hardware
// drawing and the 256 x 256 blend table.  The builders keep no state.
//
// Luminance here is (2 red + 3 green + blue) / 5, or 0.4 red + 0.6 green +
// 0.2 blue in floating point: the weights add up to 1.2 on purpose, and tables
// others compare against depend on it.

#include <cstdint>

#include "bitmaps.h"
#include "world.h"

// 16 levels x 32 destination x 32 source 5-bit components (bitmaps.h).
void build_transparency_table(int32_t transparency_mode, uint8_t *transparency_table);

// `shading_levels` levels of 256 pixels of `encoding` (1, 2: 2 bytes; 3: 4
// bytes), level 0 darkest; entries at or past the colour count are not
// written.  `mode` is a shading_table_mode (tint, blend, tint and blend with
// the media's reflection colour, untinted) applied with tint_fraction1 (8.8)
// and tint_color1; the second tint colourizes once more unless untinted.
void build_shading_table(int16_t encoding, int32_t shading_levels, const color_table *colors, void *shading_table,
                         int32_t mode, short_fixed tint_fraction1, const rgb_color *tint_color1,
                         short_fixed tint_fraction2, const rgb_color *tint_color2);

// Levels pulled toward `dark_color` below the transition level
// T = (levels - 1) x transition_point (16.16) >> 16 and toward `light_color`
// above it.  With T at 0, level 0 takes the full dark fraction.
void build_colored_shading_table(int16_t encoding, int32_t shading_levels, const color_table *colors,
                                 void *shading_table, short_fixed dark_color_fraction, const rgb_color *dark_color,
                                 fixed transition_point, short_fixed light_color_fraction,
                                 const rgb_color *light_color);

// out = [0] x pixel + [1..3] + luminance(pixel) x [4..6], each / 255.
void build_tinting_shader(uint8_t tint_shader[8], int32_t mode, short_fixed fraction, const rgb_color *color,
                          short_fixed global_tint_fraction, const rgb_color *global_tint_color);

// entry [a x 256 + b]: the palette index nearest the average of colours a and
// b; index 0 blends to the other colour.  Entries past the colour count are
// not written.
void build_blend_table(const color_table *colors, uint8_t *blend_table);

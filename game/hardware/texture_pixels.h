#pragma once
// The texture cache's pixel converter: turns a bitmap into the texels of a
// texture encoding.  Indexed bitmaps (8-bit, opaque or with a transparency
// nibble, flat or span-encoded rows) go through their shading table into
// argb1555, argb4444, argb8888 or an 8-bit alpha; overlays take their alpha
// from the brightness of their palette colours; an optional transparent
// one-texel frame surrounds the bitmap; colours are premultiplied on request,
// and otherwise transparent texels take the colour of an opaque neighbour so
// filtering never bleeds black into an edge.
//
// Span rows come from plug-in collections too, so they are never trusted: a
// row whose spans do not ascend, run past the row, or claim more pixels than
// its header holds refuses the whole bitmap before anything is read outside
// the row's own header, spans and pixels.
//
// Pure functions over caller-owned memory; no allocation.

#include <cstddef>
#include <cstdint>

struct bitmap_data;
struct color_table;
struct shading_table_header;
struct cached_texture_data;

enum texture_conversion_result
{
    _texture_conversion_done = 0,
    _texture_conversion_no_decoder, // an encoding or request this converter cannot turn into texels
    _texture_conversion_corrupt_rows, // rows or sizes the bitmap's own fields contradict
};

// Texel layouts.
// a in bits 31-24; each 8-bit component x of c becomes (x * (a + 1)) >> 8.
inline uint32_t PremultiplyXRGB8888ToARGB8888(uint32_t c, uint32_t a)
{
    const uint32_t scale = a + 1;
    const uint32_t red_blue = (((c & 0x00FF00FFu) * scale) >> 8) & 0x00FF00FFu;
    const uint32_t green = (((c & 0x0000FF00u) * scale) >> 8) & 0x0000FF00u;
    return a << 24 | red_blue | green;
}
// a4 = a >> 4 in bits 15-12; each 5-bit component x of c becomes
// (x * (a4 + 1)) >> 5 (red to bits 11-8, green 7-4, blue 3-0).
inline uint16_t PremultiplyXRGB1555ToARGB4444(uint32_t c, uint32_t a)
{
    const uint32_t a4 = a >> 4, scale = a4 + 1;
    const uint32_t red = (((c >> 10) & 31) * scale) >> 5, green = (((c >> 5) & 31) * scale) >> 5,
                   blue = ((c & 31) * scale) >> 5;
    return (uint16_t)(a4 << 12 | red << 8 | green << 4 | blue);
}

// Converts all of `bitmap` (8-bit indexed, one- or two-byte elements, flat or
// span rows) into the block at `dest` (row pitch `dest_stride` bytes,
// `dest_size` bytes in all) in texture encoding `dest_encoding` (7-11, 13)
// through `shading_table` (256 xrgb1555 entries for 16-bit encodings, 256
// xrgb8888 for 32-bit ones; unused for 13).  `colors` (may be null) makes an
// overlay bitmap take its alpha from its palette.  With `border` the bitmap
// goes one texel in and the frame is transparent.  The shading header is
// carried for the back end and not read.
// Refused, with the block possibly part-written, for another encoding, a
// block too small or a pitch that is not whole texels (no decoder), and for
// rows the bitmap's fields contradict (corrupt rows).
texture_conversion_result decompress_and_copy_pixels(const bitmap_data *bitmap, const color_table *colors,
                                                     const void *shading_table,
                                                     const shading_table_header *shading_header, uint8_t *dest,
                                                     int32_t dest_encoding, int32_t dest_stride, size_t dest_size,
                                                     bool premultiply_alpha, bool border);

// Fills the block at `block` (`block_size` bytes, pitch adjusted width x bytes
// per texel) with the texels of `texture` (its header already computed) for
// a bitmap that is not passed through: an alpha mask (8-bit flat bitmap
// without shading table: white, the byte as alpha), a plain copy of pixels
// already in a texture layout, or a conversion as above.  With a border
// every form is framed by transparent texels; texels past the bitmap's area
// are cleared.  Not done (nothing to upload) when no form applies.
texture_conversion_result convert_texture_pixels(const cached_texture_data *texture, const bitmap_data *bitmap,
                                                 const color_table *colors, const void *shading_table,
                                                 uint32_t usage_flags, uint8_t *block, size_t block_size);

// The start of row `y` of `bitmap` (its row table, or the first row plus y
// pitches without one); null when the bitmap cannot say.
const uint8_t *bitmap_row_address(const bitmap_data *bitmap, int32_t y);

// Whether the bitmap's pixels are 8-bit colour indices: `_8bit_encoding`, or
// a collection's bitmap stored without an extended encoding, which names no
// encoding (0) and is indexed all the same.
bool bitmap_is_indexed(const bitmap_data *bitmap);

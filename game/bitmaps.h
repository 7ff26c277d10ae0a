#pragma once
// Bitmaps: the one 2D image record of the game (sprites of collections, glyph
// pages, the back buffer, off-screen dialogs, terrain colour maps), its pixel
// encodings and flags, the run-length rows of sprites, the colour types shared
// by every drawer, and the small colour utilities: allocation, row addressing,
// post-processing, byte swapping, HSV conversion, nearest colour and palette
// remapping.
//
// A bitmap in memory is a host record: its row table holds host pointers.  In
// a collection tag the same header is a 52-byte big-endian record
// (`stored_bitmap_header`) whose run-time words are rebuilt at load.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "point2d.h"
#include "rgb_color.h"

// ---- colours ------------------------------------------------------------------------

enum rgb_color_flags
{
    _color_reversed_flag = 1,
    _color_use_global_tint_flag = 2,
    _color_unused_flag = 4,
};

// Hue 65536 to the full turn (0 = red); saturation and value 0..65535.
struct hsv_color
{
    uint16_t hue, saturation, value, flags;
};

enum
{
    MAXIMUM_COLORS_PER_TABLE = 256,
    COLOR_TABLE_FILE_SIZE = 2080,
};

// Also a file record inside collections (2080 bytes big-endian, "color table").
struct color_table
{
    int32_t color_count; // 0..256
    int32_t seed;
    uint32_t acceleration_cookie;
    uint8_t unused[20]; // not swapped
    rgb_color colors[MAXIMUM_COLORS_PER_TABLE];
};
static_assert(sizeof(color_table) == COLOR_TABLE_FILE_SIZE);
static_assert(offsetof(color_table, unused) == 12);
static_assert(offsetof(color_table, colors) == 32);

extern const byte_swap_code color_table_byte_swapping_data[];

// The bytes a table of `n` colours needs.
inline int32_t sizeof_color_table(int32_t n) { return 32 + 8 * n; }

// ---- the bitmap record -----------------------------------------------------------------

enum bitmap_flags
{
    _power_of_two_flag = 1,
    _bitmap_color_key_transparency_flag = 2,
    _1bit_transparency_encoded_flag = 4, // run-length rows
    _4bit_light_mask_encoded_flag = 8, // obsolete
    _4bit_transparency_encoded_flag = 16, // two-byte pixels: index, then a transparency nibble
    _no_row_address_table_flag = 32,
    _word_aligned_encoding_flag = 64,
    _grayscale_bitmap_flag = 128,
    _pixel_free_flag = 256, // obsolete
    _postprocessed_bitmap_flag = 512,
    _protected_bitmap_flag = 1024, // obsolete
    _bitmap_is_overlay_flag = 2048,
    _bitmap_changed_flag = 4096,
    _bitmap_in_collection_flag = 8192,
    _bitmap_extended_encoding_flag = 16384,

    _bitmap_mask_flags = 16,
    _bitmap_obsolete_flags = 1288,
    _bitmap_postprocessed_flags = 12801,
};

// The flags that give a bitmap transparent pixels (colour key, 1-bit and 4-bit
// transparency): what it draws has holes.
constexpr uint16_t TRANSPARENT_BITMAP_FLAGS =
    _bitmap_color_key_transparency_flag | _1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag;
static_assert(TRANSPARENT_BITMAP_FLAGS == 0x16);

enum bitmap_encoding
{
    _no_encoding = 0,
    _16bit_555_encoding = 1,
    _16bit_565_encoding,
    _32bit_encoding,
    _16bit_88_encoding,
    _8bit_encoding,
    _24bit_encoding,
    _16bit_xrgb_1555_texture_encoding,
    _16bit_argb_1555_texture_encoding,
    _16bit_argb_4444_texture_encoding,
    _32bit_xrgb_8888_texture_encoding,
    _32bit_argb_8888_texture_encoding,
    _24bit_rgb_888_texture_encoding,
    _8bit_alpha_texture_encoding,
    _r8g8b8a5h3_sprite_rle_bitmap_encoding,
    _3dfx_frame_buffer_encoding,
    _direct3d_frame_buffer_encoding,
    _rave_frame_buffer_encoding,
    _opengl_frame_buffer_encoding,
    _dx11_frame_buffer_encoding,
    NUMBER_OF_BITMAP_ENCODINGS
};
static_assert(NUMBER_OF_BITMAP_ENCODINGS == 20);

// Byte depth of each encoding; index 0 holds -1, 0 for encodings without one.
extern const int8_t encoding_byte_depths[NUMBER_OF_BITMAP_ENCODINGS];

// True for the frame-buffer encodings owned by a hardware rasterizer (15-19).
bool is_hardware_encoding(int16_t encoding);

// The bitmap record.  `row_addresses` runs on past the struct: one pointer per
// row, or only the first with _no_row_address_table_flag.
struct bitmap_data
{
    int16_t width, height;
    int16_t bytes_per_row; // NONE only with a row table
    int16_t flags; // bitmap_flags
    int16_t logical_bit_depth; // 8 x byte depth; 0 without one
    int16_t width_bits, height_bits; // log2 when a power of two, else 0
    int16_t pixel_upshift; // pixel count << upshift = bytes
    int16_t encoding;
    int16_t hardware_texture_cache_index;
    uint32_t hardware_address;
    void *hardware_format;
    int16_t hardware_width_bits, hardware_height_bits;
    int16_t hardware_height, hardware_width;
    int16_t x0, y0;
    int16_t collection_index, bitmap_index;
    int16_t shaded_hardware_addresses[2];
    uint8_t *row_addresses[1];
};
static_assert(sizeof(bitmap_data) >= 52); // byte_swap_bitmap walks the stored description over it

// Bytes of the header and row table of a bitmap of `height` rows with `flags`:
// what new_bitmap puts before the pixels.
size_t sizeof_bitmap(int32_t height, int32_t flags);

// The header as stored in collection tags: 52 bytes, big-endian ("bitmap
// data"): the nine words width .. encoding swapped, the rest run time.
struct stored_bitmap_header
{
    int16_t width, height, bytes_per_row, flags, logical_bit_depth, width_bits, height_bits, pixel_upshift, encoding;
    uint8_t runtime[30]; // hardware words, x0, y0, indexes: not swapped, rebuilt at load
    uint32_t first_row; // not swapped, rebuilt at load
};
static_assert(sizeof(stored_bitmap_header) == 52);
static_assert(offsetof(stored_bitmap_header, runtime) == 18);
static_assert(offsetof(stored_bitmap_header, first_row) == 48);

extern const byte_swap_code stored_bitmap_header_byte_swapping_data[];

// Run-length rows (_1bit_transparency_encoded_flag with
// _word_aligned_encoding_flag): a header, span_count spans, then the pixels of
// every span back to back; the row takes 4 + 4 x spans + (pixels << upshift)
// bytes, rounded up to even.  Stored big-endian ("span header", "encoded span").
struct encoded_span_header
{
    int16_t span_count; // >= 0
    int16_t pixel_count; // 0..width: the sum of end - start
};
struct encoded_span
{
    int16_t start, end; // start < end <= width, increasing
};
static_assert(sizeof(encoded_span_header) == 4 && sizeof(encoded_span) == 4);

// The bytes of a run-length row whose header is `header`.
int32_t encoded_row_size(const encoded_span_header *header, int16_t pixel_upshift, bool word_aligned);

// ---- transparency tables ----------------------------------------------------------

enum
{
    uOPAQUE = 0,
    uTRANSPARENT = 15,
    NUMBER_OF_TRANSPARENCY_LEVELS = 16,
    TRANSPARENCY_TABLE_SIZE = 16 * 32 * 32, // entry [level * 1024 + destination * 32 + source]
};
enum transparency_mode
{
    _transparency_normal = 0,
    _transparency_overlay = 1,
    NUMBER_OF_TRANSPARENCY_MODES
};

// ---- operations -----------------------------------------------------------------------

// A new bitmap in one block (header, row table, pixels; free it with one
// free()).  bytes_per_row <= 0 means width x depth.  Null when the allocation
// fails, for an encoding outside 1..19 (asserted), for a positive
// bytes_per_row below width x depth, for a negative size, and for rows wider
// than 32767 bytes, which the 16-bit field cannot hold.  Pixels are not cleared.
bitmap_data *new_bitmap(int16_t width, int16_t height, int16_t bytes_per_row, int16_t encoding, int16_t flags);

// Frees a bitmap made by new_bitmap (or any bitmap in one malloc'd block)
// after telling the registered disposal procedure, so that nothing keyed by
// its address (the texture cache) outlives it.  Null does nothing.  Every
// bitmap block is freed through here, never with a bare free().
void dispose_bitmap(bitmap_data *bitmap);

// Told of every bitmap dispose_bitmap is about to free, while its record and
// pixels are still readable.  One procedure; a second, or null, is refused
// (assertion).  Default: nothing is told.
typedef void (*bitmap_disposed_procedure)(const bitmap_data *bitmap);
bool register_bitmap_disposed_procedure(bitmap_disposed_procedure procedure);

// Describes pixels owned by somebody else in a header the caller provides
// (with room for one row address).  No post-processing.
void initialize_bitmap_data_lite(bitmap_data *bitmap, void *pixels, int16_t width, int16_t height,
                                 int16_t bytes_per_row, int16_t encoding);

void set_bitmap_encoding(bitmap_data *bitmap, int16_t encoding);
int32_t get_encoding_byte_depth(int16_t encoding);

// Fills the row table from row_addresses[0]: flat rows bytes_per_row apart,
// run-length rows walked by their sizes (headers in host order).
void precalculate_bitmap_row_addresses(bitmap_data *bitmap);

// Bit counts, flag clean-up, power of two and hardware sizes.
void postprocess_extracted_bitmap(bitmap_data *bitmap);

// Clears width x depth bytes of every row (flat bitmaps).
void zero_bitmap_pixels(bitmap_data *bitmap);

// Between file order and host order, in place.  The header swap touches the
// nine words; the pixel swap walks run-length rows (reading each header in
// host order: after swapping it when `to_host`, before when not) and swaps
// 16-bit pixels; 8-bit and two-byte index/nibble pixels stay.
void byte_swap_bitmap(bitmap_data *bitmap);
void byte_swap_color_table(color_table *table);
void byte_swap_bitmap_pixels(bitmap_data *bitmap, bool to_host = true);

// The nearest colour by 2 dr^2 + 5 dg^2 + db^2 (differences >> 4); the lower
// index on ties.  NONE for an empty table.
int32_t closest_color_in_color_table(const color_table *table, const rgb_color *color);

hsv_color *rgb_color_to_hsv_color(const rgb_color *rgb, hsv_color *hsv);
rgb_color *hsv_color_to_rgb_color(const hsv_color *hsv, rgb_color *rgb);

// Re-indexes a flat 8-bit bitmap from one palette to another; index 0 and
// indexes at or past the source's colour count keep their value.  Any other
// bitmap is left as it is.
void remap_bitmap(bitmap_data *bitmap, const color_table *source, const color_table *target);

int32_t next_highest_power_of_two(int32_t n);
int32_t find_first_one(int32_t n);

enum decompress_bitmap_mode
{
    _decompress_bitmap_8 = 0, // one byte a pixel: the colour index
    _decompress_bitmap_88 = 1, // two bytes: alpha << 8 | index
};
// Expands `bitmap` into a flat buffer of `height` rows of `bytes_per_row`
// bytes (rows past the bitmap cleared).  With `postprocess` in mode 1 every
// empty pixel takes the index of its first non-empty neighbour (right, below,
// left, above; wrapping).  False when a row does not fit.
bool decompress_bitmap(const color_table *table, const bitmap_data *bitmap, void *buffer, int16_t width,
                       int16_t height, int16_t bytes_per_row, int32_t mode, bool postprocess);

// Packing of a colour as a pixel of the drawers' encodings.
inline uint16_t rgb_color_to_pixel16_555(const rgb_color *c)
{
    return (uint16_t)(((c->red >> 1) & 0x7C00) | ((c->green >> 6) & 0x3E0) | (c->blue >> 11));
}
inline uint16_t rgb_color_to_pixel16_565(const rgb_color *c)
{
    return (uint16_t)((c->red & 0xF800) | ((c->green >> 5) & 0x7E0) | (c->blue >> 11));
}
inline uint32_t rgb_color_to_pixel32(const rgb_color *c)
{
    return ((uint32_t)(c->red & 0xFF00) << 8) | (uint32_t)(c->green & 0xFF00) | (uint32_t)(c->blue >> 8);
}

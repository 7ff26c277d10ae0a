// The pixel converter of the texture cache.  One routine over three small
// policy types (the texel encoder, the element decoder and the overlay rule),
// combined at compile time and chosen once per bitmap, so the per-texel work
// is a table lookup and a few shifts.  See texture_pixels.h.

#include "texture_pixels.h"

#include <algorithm>
#include <cstring>

#include "bitmaps.h"
#include "texture_cache.h"

// ---- encoders: (palette index, 8-bit alpha) -> texel -------------------------------------------

namespace
{
struct encode_32bit_argb_8888
{
    typedef uint32_t pixel_type;
    static constexpr bool dilates = true;
    static constexpr pixel_type alpha_mask = 0xFF000000u;
    const uint32_t *shades;
    pixel_type operator()(uint32_t index, uint32_t alpha) const { return alpha << 24 | (shades[index] & 0xFFFFFFu); }
};
struct encode_32bit_argb_8888_premultiply_alpha
{
    typedef uint32_t pixel_type;
    static constexpr bool dilates = false;
    static constexpr pixel_type alpha_mask = 0xFF000000u;
    const uint32_t *shades;
    pixel_type operator()(uint32_t index, uint32_t alpha) const
    {
        return PremultiplyXRGB8888ToARGB8888(shades[index] & 0xFFFFFFu, alpha);
    }
};
struct encode_16bit_argb_1555
{
    typedef uint16_t pixel_type;
    static constexpr bool dilates = true;
    static constexpr pixel_type alpha_mask = 0x8000;
    const uint16_t *shades;
    pixel_type operator()(uint32_t index, uint32_t alpha) const
    {
        return (pixel_type)((alpha & 0x80) << 8 | (shades[index] & 0x7FFF));
    }
};
struct encode_16bit_argb_1555_premultiply_alpha
{
    typedef uint16_t pixel_type;
    static constexpr bool dilates = false;
    static constexpr pixel_type alpha_mask = 0x8000;
    const uint16_t *shades;
    pixel_type operator()(uint32_t index, uint32_t alpha) const
    {
        return (alpha & 0x80) ? (pixel_type)(0x8000 | (shades[index] & 0x7FFF)) : (pixel_type)0;
    }
};
struct encode_16bit_argb_4444
{
    typedef uint16_t pixel_type;
    static constexpr bool dilates = true;
    static constexpr pixel_type alpha_mask = 0xF000;
    const uint16_t *shades;
    pixel_type operator()(uint32_t index, uint32_t alpha) const
    {
        const uint32_t c = shades[index];
        return (pixel_type)((alpha >> 4) << 12 | ((c >> 11) & 15) << 8 | ((c >> 6) & 15) << 4 | ((c >> 1) & 15));
    }
};
struct encode_16bit_argb_4444_premultiply_alpha
{
    typedef uint16_t pixel_type;
    static constexpr bool dilates = false;
    static constexpr pixel_type alpha_mask = 0xF000;
    const uint16_t *shades;
    pixel_type operator()(uint32_t index, uint32_t alpha) const
    {
        return PremultiplyXRGB1555ToARGB4444(shades[index], alpha);
    }
};
struct encode_alpha8
{
    typedef uint8_t pixel_type;
    static constexpr bool dilates = false;
    static constexpr pixel_type alpha_mask = 0xFF;
    pixel_type operator()(uint32_t, uint32_t alpha) const { return (pixel_type)alpha; }
};

// ---- element decoders: one pixel element -> (index, alpha) ---------------------------------------

struct decompress_opaque
{
    static constexpr int32_t element_size = 1;
    static uint32_t index(const uint8_t *element) { return element[0]; }
    // Index 0 is the key colour.
    static uint32_t alpha(const uint8_t *element) { return element[0] ? 255 : 0; }
};
struct decompress_masked
{
    static constexpr int32_t element_size = 2;
    static uint32_t index(const uint8_t *element) { return element[0]; }
    static uint32_t alpha(const uint8_t *element) { return (uint32_t)(15 - (element[1] & 15)) * 17; }
};

// ---- overlay rules -------------------------------------------------------------------------------

struct overlay_none
{
    uint32_t operator()(uint32_t, uint32_t alpha) const { return alpha; }
};
// The brightest component of the palette colour is the alpha.
struct overlay_maxrgb
{
    const rgb_color *colors;
    uint32_t operator()(uint32_t index, uint32_t) const
    {
        const rgb_color &c = colors[index];
        return (uint32_t)std::max({c.red, c.green, c.blue}) >> 8;
    }
};
} // namespace

const uint8_t *bitmap_row_address(const bitmap_data *bitmap, int32_t y)
{
    if (!bitmap || y < 0 || y >= bitmap->height) return nullptr;
    if (bitmap->flags & _no_row_address_table_flag)
    {
        if (!bitmap->row_addresses[0] || bitmap->bytes_per_row <= 0) return nullptr;
        return bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row;
    }
    return bitmap->row_addresses[y];
}

static int16_t read_int16(const uint8_t *at)
{
    int16_t value;
    memcpy(&value, at, sizeof(value));
    return value;
}

// Spreads the colour of opaque texels into the transparent ones of their 3 x 3
// neighbourhood (first opaque neighbour, row by row from the top left), in
// place: a texel coloured here keeps alpha 0, so it never serves as a source.
template <typename pixel_type>
static void dilate_nonpremultiplied_colors(int32_t width, int32_t height, uint8_t *dest_row, int32_t dest_stride,
                                           pixel_type alpha_mask)
{
    for (int32_t y = 0; y < height; ++y)
    {
        pixel_type *row = (pixel_type *)(dest_row + (ptrdiff_t)y * dest_stride);
        for (int32_t x = 0; x < width; ++x)
        {
            if (row[x] & alpha_mask) continue;
            for (int32_t ny = std::max(y - 1, 0); ny <= std::min(y + 1, height - 1); ++ny)
            {
                const pixel_type *neighbours = (const pixel_type *)(dest_row + (ptrdiff_t)ny * dest_stride);
                for (int32_t nx = std::max(x - 1, 0); nx <= std::min(x + 1, width - 1); ++nx)
                {
                    if (neighbours[nx] & alpha_mask)
                    {
                        row[x] = (pixel_type)(neighbours[nx] & ~alpha_mask);
                        goto next_texel;
                    }
                }
            }
        next_texel:;
        }
    }
}

// The worker: every texel of the bitmap (and its frame) in one pass.
template <class encoder, class mode, class overlay>
static texture_conversion_result decompress_and_copy_pixels_template(const bitmap_data *bitmap, uint8_t *dest_start,
                                                                     int32_t dest_stride, bool border,
                                                                     const encoder &encode, const overlay &apply)
{
    typedef typename encoder::pixel_type pixel_type;
    const int32_t width = bitmap->width, height = bitmap->height;
    if (width < 1 || height < 1) return _texture_conversion_done;
    const int32_t inset = border ? 1 : 0;
    const bool span_rows = bitmap->flags & _1bit_transparency_encoded_flag;
    if (border)
    {
        memset(dest_start, 0, (size_t)dest_stride);
        memset(dest_start + (ptrdiff_t)(height + 1) * dest_stride, 0, (size_t)dest_stride);
    }
    for (int32_t y = 0; y < height; ++y)
    {
        const uint8_t *source = bitmap_row_address(bitmap, y);
        if (!source) return _texture_conversion_corrupt_rows;
        // out[-inset .. width + inset) is the row with its frame texels.
        pixel_type *out = (pixel_type *)(dest_start + (ptrdiff_t)(y + inset) * dest_stride) + inset;
        if (!span_rows)
        {
            if (border) out[-1] = out[width] = 0;
            for (int32_t x = 0; x < width; ++x, source += mode::element_size)
            {
                const uint32_t index = mode::index(source);
                out[x] = encode(index, apply(index, mode::alpha(source)));
            }
            continue;
        }

        // A span row: its header, its spans, then the elements of every span.
        const int32_t span_count = read_int16(source), pixel_count = read_int16(source + 2);
        if (span_count < 0 || span_count > width || pixel_count < 0 || pixel_count > width)
            return _texture_conversion_corrupt_rows;
        const uint8_t *spans = source + 4;
        const uint8_t *elements = spans + 4 * span_count;
        const int32_t row_end = width + inset;
        int32_t x = -inset, last_end = 0, used = 0;
        pixel_type last_fill = 0;
        for (int32_t i = 0; i < span_count; ++i)
        {
            const int32_t start = read_int16(spans + 4 * i), end = read_int16(spans + 4 * i + 2);
            if (start < last_end || end <= start || end > width || used + (end - start) > pixel_count)
                return _texture_conversion_corrupt_rows;
            const uint8_t *first = elements + (ptrdiff_t)used * mode::element_size;
            const uint8_t *last = first + (ptrdiff_t)(end - start - 1) * mode::element_size;
            const pixel_type lead_fill = encode(mode::index(first), 0);
            while (x < start) out[x++] = lead_fill;
            const uint8_t *element = first;
            for (x = start; x < end; ++x, element += mode::element_size)
            {
                const uint32_t index = mode::index(element);
                out[x] = encode(index, apply(index, mode::alpha(element)));
            }
            last_fill = encode(mode::index(last), 0);
            if (x < row_end) out[x++] = last_fill;
            used += end - start;
            last_end = end;
        }
        if (span_count == 0) last_fill = 0; // a row without spans is all zero texels
        while (x < row_end) out[x++] = last_fill;
    }
    if (encoder::dilates && !span_rows)
        dilate_nonpremultiplied_colors<pixel_type>(width + 2 * inset, height + 2 * inset, dest_start, dest_stride,
                                                   encoder::alpha_mask);
    return _texture_conversion_done;
}

// Over encoder and mode: the overlay.
template <class encoder, class mode>
static texture_conversion_result decompress_and_copy_pixels_template(const bitmap_data *bitmap,
                                                                     const color_table *colors, uint8_t *dest_row,
                                                                     int32_t dest_stride, bool border,
                                                                     const encoder &encode, const mode &)
{
    if (colors && (bitmap->flags & _bitmap_is_overlay_flag))
        return decompress_and_copy_pixels_template<encoder, mode, overlay_maxrgb>(bitmap, dest_row, dest_stride,
                                                                                  border, encode, {colors->colors});
    return decompress_and_copy_pixels_template<encoder, mode, overlay_none>(bitmap, dest_row, dest_stride, border,
                                                                            encode, {});
}

// Over the encoder: the element decoder.
template <class encoder>
static texture_conversion_result decompress_and_copy_pixels_template(const bitmap_data *bitmap,
                                                                     const color_table *colors, uint8_t *dest_row,
                                                                     int32_t dest_stride, bool border,
                                                                     const encoder &encode)
{
    if (bitmap->flags & _4bit_transparency_encoded_flag)
        return decompress_and_copy_pixels_template(bitmap, colors, dest_row, dest_stride, border, encode,
                                                   decompress_masked{});
    return decompress_and_copy_pixels_template(bitmap, colors, dest_row, dest_stride, border, encode,
                                               decompress_opaque{});
}

texture_conversion_result decompress_and_copy_pixels(const bitmap_data *bitmap, const color_table *colors,
                                                     const void *shading_table, const shading_table_header *,
                                                     uint8_t *dest, int32_t dest_encoding, int32_t dest_stride,
                                                     size_t dest_size, bool premultiply_alpha, bool border)
{
    if (!bitmap || !dest || !bitmap_is_indexed(bitmap)) return _texture_conversion_no_decoder;
    if (bitmap->width < 1 || bitmap->height < 1) return _texture_conversion_done;
    const int32_t depth = dest_encoding >= 1 && dest_encoding < NUMBER_OF_BITMAP_ENCODINGS
                              ? encoding_byte_depths[dest_encoding]
                              : 0;
    const int32_t inset = border ? 1 : 0;
    if (depth <= 0 || dest_stride % depth != 0 ||
        (int64_t)dest_stride < (int64_t)(bitmap->width + 2 * inset) * depth ||
        (int64_t)dest_size < (int64_t)dest_stride * (bitmap->height + 2 * inset))
        return _texture_conversion_no_decoder;
    if (dest_encoding != _8bit_alpha_texture_encoding && !shading_table) return _texture_conversion_no_decoder;
    if (!(bitmap->flags & _1bit_transparency_encoded_flag))
    {
        const int32_t element = (bitmap->flags & _4bit_transparency_encoded_flag) ? 2 : 1;
        if ((bitmap->flags & _no_row_address_table_flag) && bitmap->bytes_per_row < bitmap->width * element)
            return _texture_conversion_corrupt_rows;
    }
    else if (bitmap->flags & _no_row_address_table_flag)
    {
        return _texture_conversion_corrupt_rows; // span rows of several lengths need their row table
    }
    const uint16_t *shade16 = (const uint16_t *)shading_table;
    const uint32_t *shade32 = (const uint32_t *)shading_table;
    switch (dest_encoding)
    {
    case _16bit_xrgb_1555_texture_encoding:
    case _16bit_argb_1555_texture_encoding:
        if (premultiply_alpha)
            return decompress_and_copy_pixels_template(bitmap, colors, dest, dest_stride, border,
                                                       encode_16bit_argb_1555_premultiply_alpha{shade16});
        return decompress_and_copy_pixels_template(bitmap, colors, dest, dest_stride, border,
                                                   encode_16bit_argb_1555{shade16});
    case _16bit_argb_4444_texture_encoding:
        if (premultiply_alpha)
            return decompress_and_copy_pixels_template(bitmap, colors, dest, dest_stride, border,
                                                       encode_16bit_argb_4444_premultiply_alpha{shade16});
        return decompress_and_copy_pixels_template(bitmap, colors, dest, dest_stride, border,
                                                   encode_16bit_argb_4444{shade16});
    case _32bit_xrgb_8888_texture_encoding:
    case _32bit_argb_8888_texture_encoding:
        if (premultiply_alpha)
            return decompress_and_copy_pixels_template(bitmap, colors, dest, dest_stride, border,
                                                       encode_32bit_argb_8888_premultiply_alpha{shade32});
        return decompress_and_copy_pixels_template(bitmap, colors, dest, dest_stride, border,
                                                   encode_32bit_argb_8888{shade32});
    case _8bit_alpha_texture_encoding:
        // An alpha texture has no colour, so the palette's brightness never applies.
        if (bitmap->flags & _4bit_transparency_encoded_flag)
            return decompress_and_copy_pixels_template<encode_alpha8, decompress_masked, overlay_none>(
                bitmap, dest, dest_stride, border, encode_alpha8{}, {});
        return decompress_and_copy_pixels_template<encode_alpha8, decompress_opaque, overlay_none>(
            bitmap, dest, dest_stride, border, encode_alpha8{}, {});
    default:
        return _texture_conversion_no_decoder;
    }
}

// ---- the forms of a texture's pixels ----------------------------------------------------------

// Flat rows of `row_bytes` each, readable for every row; false when the
// bitmap's fields cannot promise it.
static bool flat_rows_readable(const bitmap_data *bitmap, int32_t row_bytes)
{
    if (bitmap->flags & (_1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag)) return false;
    if ((bitmap->flags & _no_row_address_table_flag) && bitmap->bytes_per_row < row_bytes) return false;
    for (int32_t y = 0; y < bitmap->height; ++y)
        if (!bitmap_row_address(bitmap, y)) return false;
    return true;
}

texture_conversion_result convert_texture_pixels(const cached_texture_data *texture, const bitmap_data *bitmap,
                                                 const color_table *colors, const void *shading_table,
                                                 uint32_t usage_flags, uint8_t *block, size_t block_size)
{
    const int32_t width = bitmap->width, height = bitmap->height;
    const int32_t texel_bytes = texture->encoding_bytes_per_pixel;
    const int32_t stride = texture->adjusted_width * texel_bytes;
    const bool border = usage_flags & _texture_border_flag;
    const int32_t inset = border ? 1 : 0;
    if (width < 1 || height < 1 || texel_bytes < 1 || width + 2 * inset > texture->adjusted_width ||
        height + 2 * inset > texture->adjusted_height ||
        (int64_t)block_size < (int64_t)stride * texture->adjusted_height)
        return _texture_conversion_corrupt_rows;
    // Texels past the bitmap's area (a block as large as the texture) are
    // uploaded too: never leave them as whatever the block held.
    if (width + 2 * inset < texture->adjusted_width || height + 2 * inset < texture->adjusted_height)
        memset(block, 0, (size_t)stride * texture->adjusted_height);

    if (!shading_table && bitmap_is_indexed(bitmap))
    {
        // An alpha mask: white, the byte as alpha, inside a clear frame.
        if (!flat_rows_readable(bitmap, width)) return _texture_conversion_no_decoder;
        if (texture->encoding != _32bit_argb_8888_texture_encoding &&
            texture->encoding != _16bit_argb_4444_texture_encoding)
            return _texture_conversion_no_decoder;
        if (border) memset(block, 0, (size_t)stride * texture->adjusted_height);
        for (int32_t y = 0; y < height; ++y)
        {
            const uint8_t *source = bitmap_row_address(bitmap, y);
            uint8_t *row = block + (ptrdiff_t)(y + inset) * stride + inset * texel_bytes;
            if (texture->encoding == _32bit_argb_8888_texture_encoding)
            {
                for (int32_t x = 0; x < width; ++x)
                {
                    const uint32_t texel = 0x00FFFFFFu | (uint32_t)source[x] << 24;
                    memcpy(row + 4 * x, &texel, 4);
                }
            }
            else
            {
                for (int32_t x = 0; x < width; ++x)
                {
                    const uint16_t texel = (uint16_t)(0x0FFF | (source[x] >> 4) << 12);
                    memcpy(row + 2 * x, &texel, 2);
                }
            }
        }
        return _texture_conversion_done;
    }

    if (!texture->bitmap_compressed)
    {
        // Pixels already in the texture's layout that cannot be handed over
        // as they are (a frame or a wider block): copied inside a clear frame.
        const int32_t row_bytes = width * texel_bytes;
        if (get_encoding_byte_depth(bitmap->encoding) != texel_bytes || !flat_rows_readable(bitmap, row_bytes))
            return _texture_conversion_no_decoder;
        if (border) memset(block, 0, (size_t)stride * texture->adjusted_height);
        for (int32_t y = 0; y < height; ++y)
            memcpy(block + (ptrdiff_t)(y + inset) * stride + inset * texel_bytes, bitmap_row_address(bitmap, y),
                   (size_t)row_bytes);
        return _texture_conversion_done;
    }

    if (!bitmap_is_indexed(bitmap) || !shading_table) return _texture_conversion_no_decoder;
    return decompress_and_copy_pixels(bitmap, colors, shading_table, texture->shading_header, block,
                                      texture->encoding, stride, block_size,
                                      usage_flags & _texture_premultiply_flag, border);
}

bool bitmap_is_indexed(const bitmap_data *bitmap)
{
    return bitmap->encoding == _8bit_encoding ||
           (bitmap->encoding == _no_encoding && !(bitmap->flags & _bitmap_extended_encoding_flag));
}

// Bitmaps and pixel encodings.  See bitmaps.h.

#include "bitmaps.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cseries/log.h"
#include "cseries/registration.h"
#include "hardware_rasterizer.h"

const int8_t encoding_byte_depths[NUMBER_OF_BITMAP_ENCODINGS] = {
    -1, 2, 2, 4, 2, 1, 3, 2, 2, 2, 4, 4, 3, 1, 0, 0, 0, 0, 0, 0,
};

const byte_swap_code color_table_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, _4byte, 20,
    _begin_bs_array, MAXIMUM_COLORS_PER_TABLE, _2byte, _2byte, _2byte, _2byte, _end_bs_array,
    _end_bs_array};

const byte_swap_code stored_bitmap_header_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, 30, 4,
    _end_bs_array};

static const byte_swap_code span_header_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte, _end_bs_array};

size_t sizeof_bitmap(int32_t height, int32_t flags)
{
    const int32_t rows = (flags & _no_row_address_table_flag) || height < 1 ? 1 : height;
    return offsetof(bitmap_data, row_addresses) + sizeof(uint8_t *) * (size_t)rows;
}

int32_t encoded_row_size(const encoded_span_header *header, int16_t pixel_upshift, bool word_aligned)
{
    int32_t size = 4 + 4 * (int32_t)header->span_count + ((int32_t)header->pixel_count << pixel_upshift);
    if (word_aligned) size = (size + 1) & ~1;
    return size;
}

static int16_t upshift_of_depth(int32_t depth) { return (int16_t)((depth & 1) ? 0 : depth >> 1); }

bool is_hardware_encoding(int16_t encoding)
{
    return encoding >= _3dfx_frame_buffer_encoding && encoding <= _dx11_frame_buffer_encoding;
}

int32_t get_encoding_byte_depth(int16_t encoding)
{
    if (!VASSERT(encoding >= 0 && encoding < NUMBER_OF_BITMAP_ENCODINGS,
                 "encoding>=0 && encoding<NUMBER_OF_BITMAP_ENCODINGS"))
        return 0;
    return encoding_byte_depths[encoding];
}

void set_bitmap_encoding(bitmap_data *bitmap, int16_t encoding)
{
    if (!bitmap) return;
    if (!VASSERT(encoding > 0 && encoding < NUMBER_OF_BITMAP_ENCODINGS,
                 "encoding>0 && encoding<NUMBER_OF_BITMAP_ENCODINGS"))
        return;
    const int32_t depth = encoding_byte_depths[encoding];
    bitmap->encoding = encoding;
    bitmap->logical_bit_depth = (int16_t)(8 * depth);
    bitmap->pixel_upshift = upshift_of_depth(depth);
}

static procedure_slot<bitmap_disposed_procedure> bitmap_disposed_slot("bitmap disposed");

bool register_bitmap_disposed_procedure(bitmap_disposed_procedure procedure)
{
    return bitmap_disposed_slot.fill(procedure);
}

void dispose_bitmap(bitmap_data *bitmap)
{
    if (!bitmap) return;
    if (const bitmap_disposed_procedure disposed = bitmap_disposed_slot.get()) disposed(bitmap);
    free(bitmap);
}

bitmap_data *new_bitmap(int16_t width, int16_t height, int16_t bytes_per_row, int16_t encoding, int16_t flags)
{
    if (!VASSERT(encoding > 0 && encoding < NUMBER_OF_BITMAP_ENCODINGS,
                 "encoding>0 && encoding<NUMBER_OF_BITMAP_ENCODINGS"))
        return nullptr;
    if (!VASSERT(width >= 0 && height >= 0, "bitmap->width>=0 && bitmap->height>=0")) return nullptr;
    const int32_t depth = encoding_byte_depths[encoding];
    const int32_t row_bytes = (int32_t)width * depth;
    // The row size lives in a 16-bit field: wider rows would wrap negative.
    if (row_bytes > INT16_MAX) return nullptr;
    if (bytes_per_row <= 0) bytes_per_row = (int16_t)row_bytes;
    else if (bytes_per_row < row_bytes) return nullptr;
    const size_t header_size = sizeof_bitmap(height, flags);
    bitmap_data *bitmap = (bitmap_data *)malloc(header_size + (size_t)height * (size_t)bytes_per_row + 1);
    if (!bitmap) return nullptr;
    memset(bitmap, 0, header_size);
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bytes_per_row = bytes_per_row;
    bitmap->flags = (int16_t)(flags | _bitmap_extended_encoding_flag);
    bitmap->logical_bit_depth = (int16_t)(8 * depth);
    bitmap->encoding = encoding;
    bitmap->pixel_upshift = upshift_of_depth(depth);
    bitmap->row_addresses[0] = (uint8_t *)bitmap + header_size;
    precalculate_bitmap_row_addresses(bitmap);
    postprocess_extracted_bitmap(bitmap);
    return bitmap;
}

void initialize_bitmap_data_lite(bitmap_data *bitmap, void *pixels, int16_t width, int16_t height,
                                 int16_t bytes_per_row, int16_t encoding)
{
    memset(bitmap, 0, sizeof(bitmap_data));
    const int32_t depth = encoding >= 0 && encoding < NUMBER_OF_BITMAP_ENCODINGS ? encoding_byte_depths[encoding] : 0;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bytes_per_row = bytes_per_row <= 0 ? (int16_t)(width * (depth > 0 ? depth : 0)) : bytes_per_row;
    bitmap->encoding = encoding;
    bitmap->logical_bit_depth = (int16_t)(8 * (depth > 0 ? depth : 0));
    const int32_t bits = bitmap->logical_bit_depth;
    bitmap->pixel_upshift = bits > 0 && (bits & (bits - 1)) == 0 ? (int16_t)(depth >> 1) : 0;
    bitmap->flags = _no_row_address_table_flag;
    bitmap->row_addresses[0] = (uint8_t *)pixels;
}

void precalculate_bitmap_row_addresses(bitmap_data *bitmap)
{
    if (!VASSERT(bitmap->width >= 0 && bitmap->height >= 0, "bitmap->width>=0 && bitmap->height>=0")) return;
    const bool encoded = bitmap->flags & _1bit_transparency_encoded_flag;
    if (bitmap->flags & _no_row_address_table_flag)
    {
        ASSERT(!encoded);
        ASSERT(bitmap->bytes_per_row >= 0);
        return;
    }
    uint8_t *row = bitmap->row_addresses[0];
    for (int32_t y = 0; y < bitmap->height; ++y)
    {
        bitmap->row_addresses[y] = row;
        if (!encoded)
        {
            row += bitmap->bytes_per_row;
            continue;
        }
        encoded_span_header header;
        memcpy(&header, row, sizeof(header));
        if (!VASSERT(header.span_count >= 0, "header->span_count>=0") ||
            !VASSERT(header.pixel_count >= 0 && header.pixel_count <= bitmap->width,
                     "header->pixel_count>=0 && header->pixel_count<=bitmap->width"))
        {
            // Later rows cannot be found: they all start here, as empty as this one is read.
            for (int32_t rest = y + 1; rest < bitmap->height; ++rest) bitmap->row_addresses[rest] = row;
            return;
        }
        row += encoded_row_size(&header, bitmap->pixel_upshift, bitmap->flags & _word_aligned_encoding_flag);
    }
}

static int16_t floor_log2(int32_t n)
{
    int16_t bits = 0;
    while (n >= 2)
    {
        n >>= 1;
        ++bits;
    }
    return bits;
}

int32_t next_highest_power_of_two(int32_t n)
{
    if (n < 2) return 1;
    int32_t power = 1;
    while (power < n && power < (1 << 30)) power <<= 1;
    return power;
}

int32_t find_first_one(int32_t n)
{
    if (n < 2) return 0;
    return floor_log2(n);
}

void postprocess_extracted_bitmap(bitmap_data *bitmap)
{
    bitmap->width_bits = floor_log2(bitmap->width);
    bitmap->height_bits = floor_log2(bitmap->height);
    bitmap->flags &= (int16_t) ~(_bitmap_postprocessed_flags | _bitmap_obsolete_flags);
    if (!(bitmap->flags & _1bit_transparency_encoded_flag) && bitmap->width == (1 << bitmap->width_bits) &&
        bitmap->height == (1 << bitmap->height_bits))
    {
        bitmap->flags |= _power_of_two_flag;
        bitmap->flags &= (int16_t)~_bitmap_is_overlay_flag;
    }
    else
        bitmap->width_bits = bitmap->height_bits = 0;
    if (!(bitmap->flags & _bitmap_extended_encoding_flag)) bitmap->encoding = _no_encoding;
    // Texture sizes are 16-bit fields: no texture is wider than 2^14.
    const int32_t largest_texture = 1 << 14;
    int32_t hardware_width = std::min(next_highest_power_of_two(bitmap->width), largest_texture);
    int32_t hardware_height = std::min(next_highest_power_of_two(bitmap->height), largest_texture);
    if (rasterizer_requires_square_textures())
        hardware_width = hardware_height = hardware_width > hardware_height ? hardware_width : hardware_height;
    bitmap->hardware_width = (int16_t)hardware_width;
    bitmap->hardware_height = (int16_t)hardware_height;
    bitmap->hardware_width_bits = (int16_t)find_first_one(hardware_width);
    bitmap->hardware_height_bits = (int16_t)find_first_one(hardware_height);
    bitmap->hardware_format = nullptr;
    bitmap->shaded_hardware_addresses[0] = bitmap->shaded_hardware_addresses[1] = 0;
    ASSERT(bitmap->hardware_width == (1 << bitmap->hardware_width_bits));
    ASSERT(bitmap->hardware_height == (1 << bitmap->hardware_height_bits));
}

void zero_bitmap_pixels(bitmap_data *bitmap)
{
    const size_t row_bytes = (size_t)bitmap->width * (size_t)(bitmap->logical_bit_depth / 8);
    for (int32_t y = 0; y < bitmap->height; ++y)
        memset(bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row, 0, row_bytes);
}

void byte_swap_bitmap(bitmap_data *bitmap)
{
    byte_swap_data("bitmap data", bitmap, (int32_t)sizeof(stored_bitmap_header), 1,
                   stored_bitmap_header_byte_swapping_data);
}

void byte_swap_color_table(color_table *table)
{
    byte_swap_data("color table", table, (int32_t)sizeof(color_table), 1, color_table_byte_swapping_data);
}

void byte_swap_bitmap_pixels(bitmap_data *bitmap, bool to_host)
{
    const bool sixteen = bitmap->logical_bit_depth == 16 && !(bitmap->flags & _4bit_transparency_encoded_flag);
    if (bitmap->flags & _1bit_transparency_encoded_flag)
    {
        uint8_t *row = bitmap->row_addresses[0];
        for (int32_t y = 0; y < bitmap->height; ++y)
        {
            encoded_span_header header;
            if (!to_host) memcpy(&header, row, sizeof(header));
            byte_swap_data("span header", row, 4, 1, span_header_byte_swapping_data);
            if (to_host) memcpy(&header, row, sizeof(header));
            if (!VASSERT(header.span_count >= 0, "span_header->span_count>=0")) return;
            if (header.pixel_count < 0 || header.pixel_count > bitmap->width)
            {
                log_message(__FILE__, __LINE__, "bitmap @%p span @%p #%d not in [#0,#%d]", (void *)bitmap,
                            (void *)row, (int)header.pixel_count, (int)bitmap->width);
                return;
            }
            byte_swap_memory("encoded span", row + 4, 2 * header.span_count, _2byte);
            if (sixteen) byte_swap_memory("bitmap pixels", row + 4 + 4 * header.span_count, header.pixel_count, _2byte);
            row += encoded_row_size(&header, bitmap->pixel_upshift, true);
        }
        return;
    }
    if (!sixteen) return;
    if (!VASSERT(bitmap->bytes_per_row > 0, "bitmap->bytes_per_row>0")) return;
    for (int32_t y = 0; y < bitmap->height; ++y)
        byte_swap_memory("bitmap pixels", bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row,
                         bitmap->width, _2byte);
}

// ---- colours ---------------------------------------------------------------------------

static int32_t color_distance(const rgb_color *a, const rgb_color *b)
{
    const int32_t dr = ((int32_t)a->red - (int32_t)b->red) >> 4;
    const int32_t dg = ((int32_t)a->green - (int32_t)b->green) >> 4;
    const int32_t db = ((int32_t)a->blue - (int32_t)b->blue) >> 4;
    return 2 * dr * dr + 5 * dg * dg + db * db;
}

int32_t closest_color_in_color_table(const color_table *table, const rgb_color *color)
{
    int32_t best = NONE, best_distance = 0;
    const int32_t count = table->color_count < MAXIMUM_COLORS_PER_TABLE ? table->color_count : MAXIMUM_COLORS_PER_TABLE;
    for (int32_t i = 0; i < count; ++i)
    {
        const int32_t distance = color_distance(color, &table->colors[i]);
        if (best == NONE || distance < best_distance)
        {
            best = i;
            best_distance = distance;
            if (distance == 0) break; // nothing later is nearer: ties go to the lowest index
        }
    }
    return best;
}

hsv_color *rgb_color_to_hsv_color(const rgb_color *rgb, hsv_color *hsv)
{
    const double r = rgb->red / 65535.0, g = rgb->green / 65535.0, b = rgb->blue / 65535.0;
    const double max = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const double min = r < g ? (r < b ? r : b) : (g < b ? g : b);
    double h = 0, s = 0;
    if (max > 0)
    {
        const double delta = max - min;
        s = delta / max;
        if (s > 0)
        {
            if (max == r) h = (g - b) / delta;
            else if (max == g) h = 2 + (b - r) / delta;
            else h = 4 + (r - g) / delta;
            h /= 6;
            if (h < 0) h += 1;
        }
    }
    hsv->hue = (uint16_t)(int32_t)(h * 65536);
    hsv->saturation = (uint16_t)(s * 65535);
    hsv->value = (uint16_t)(max * 65535);
    hsv->flags = rgb->flags;
    return hsv;
}

rgb_color *hsv_color_to_rgb_color(const hsv_color *hsv, rgb_color *rgb)
{
    const double s = hsv->saturation / 65535.0, v = hsv->value / 65535.0;
    double r = v, g = v, b = v;
    if (s != 0)
    {
        const double h6 = hsv->hue / 65536.0 * 6;
        const int32_t i = (int32_t)std::floor(h6);
        const double f = h6 - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
        switch (i)
        {
        case 0: r = v, g = t, b = p; break;
        case 1: r = q, g = v, b = p; break;
        case 2: r = p, g = v, b = t; break;
        case 3: r = p, g = q, b = v; break;
        case 4: r = t, g = p, b = v; break;
        case 5: r = v, g = p, b = q; break;
        default: HALT("hsv_color_to_rgb_color: hue sector out of range"); break;
        }
    }
    rgb->red = (uint16_t)(r * 65535);
    rgb->green = (uint16_t)(g * 65535);
    rgb->blue = (uint16_t)(b * 65535);
    rgb->flags = hsv->flags;
    return rgb;
}

void remap_bitmap(bitmap_data *bitmap, const color_table *source, const color_table *target)
{
    if (bitmap->logical_bit_depth != 8 ||
        (bitmap->flags & (_1bit_transparency_encoded_flag | _4bit_light_mask_encoded_flag |
                          _4bit_transparency_encoded_flag | _grayscale_bitmap_flag)))
        return;
    // Only the indexes the bitmap uses are looked up in the target (a search
    // of the whole table each): a stain uses a few dozen of the 256.
    bool used[256] = {};
    for (int32_t y = 0; y < bitmap->height; ++y)
    {
        const uint8_t *row = bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row;
        for (int32_t x = 0; x < bitmap->width; ++x) used[row[x]] = true;
    }
    uint8_t map[256];
    for (int32_t i = 0; i < 256; ++i) map[i] = (uint8_t)i; // indexes past the source's colours keep theirs
    const int32_t count = source->color_count < 256 ? source->color_count : 256;
    for (int32_t i = 1; i < count; ++i)
        if (used[i]) map[i] = (uint8_t)closest_color_in_color_table(target, &source->colors[i]);
    for (int32_t y = 0; y < bitmap->height; ++y)
    {
        uint8_t *row = bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row;
        for (int32_t x = 0; x < bitmap->width; ++x) row[x] = map[row[x]];
    }
}

// ---- decompression ---------------------------------------------------------------------

static uint8_t overlay_alpha(const color_table *table, uint8_t index)
{
    const rgb_color &c = table->colors[index];
    uint16_t m = c.red > c.green ? c.red : c.green;
    if (c.blue > m) m = c.blue;
    return (uint8_t)(m >> 8);
}

// Writes one source pixel at `out` in the mode's form.
static void put_pixel(const color_table *table, const bitmap_data *bitmap, const uint8_t *source, uint8_t *out,
                      int32_t mode)
{
    const uint8_t index = source[0];
    if (mode == _decompress_bitmap_8)
    {
        out[0] = index;
        return;
    }
    uint8_t alpha;
    if (bitmap->flags & _4bit_transparency_encoded_flag) alpha = (uint8_t)((15 - (source[1] & 15)) * 17);
    else alpha = index ? 255 : 0;
    if ((bitmap->flags & _bitmap_is_overlay_flag) && table) alpha = overlay_alpha(table, index);
    const uint16_t value = (uint16_t)(alpha << 8 | index);
    memcpy(out, &value, 2);
}

bool decompress_bitmap(const color_table *table, const bitmap_data *bitmap, void *buffer, int16_t width,
                       int16_t height, int16_t bytes_per_row, int32_t mode, bool postprocess)
{
    const int32_t out_size = mode == _decompress_bitmap_88 ? 2 : 1;
    const int32_t row_length = bitmap->width * out_size;
    const int32_t slop = bytes_per_row - row_length;
    if (slop < 0)
    {
        log_message(__FILE__, __LINE__, "(#%d,#%d) won't fit in #%d bytes per row", (int)bitmap->width,
                    (int)out_size, (int)bytes_per_row);
        return false;
    }
    const int32_t source_size = (bitmap->flags & _4bit_transparency_encoded_flag) ? 2 : 1 << bitmap->pixel_upshift;
    const bool encoded = bitmap->flags & _1bit_transparency_encoded_flag;
    uint8_t *out = (uint8_t *)buffer;
    for (int32_t y = 0; y < height; ++y)
    {
        uint8_t *row_out = out + (ptrdiff_t)y * bytes_per_row;
        if (y >= bitmap->height)
        {
            memset(row_out, 0, (size_t)bytes_per_row);
            continue;
        }
        const uint8_t *row = encoded ? bitmap->row_addresses[y]
                                     : bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row;
        if (encoded)
        {
            encoded_span_header header;
            memcpy(&header, row, sizeof(header));
            const uint8_t *pixels = row + 4 + 4 * header.span_count;
            int32_t x = 0;
            for (int32_t s = 0; s < header.span_count; ++s)
            {
                encoded_span span;
                memcpy(&span, row + 4 + 4 * s, sizeof(span));
                if (span.start > x) memset(row_out + x * out_size, 0, (size_t)(span.start - x) * out_size);
                for (int32_t p = span.start; p < span.end; ++p, pixels += source_size)
                    put_pixel(table, bitmap, pixels, row_out + p * out_size, mode);
                x = span.end;
            }
            if (x < bitmap->width) memset(row_out + x * out_size, 0, (size_t)(bitmap->width - x) * out_size);
        }
        else
            for (int32_t x = 0; x < bitmap->width; ++x)
                put_pixel(table, bitmap, row + x * source_size, row_out + x * out_size, mode);
        if (slop) memset(row_out + row_length, 0, (size_t)slop);
        if (!VWARN(row_out + bytes_per_row <= out + (ptrdiff_t)height * bytes_per_row,
                   "row decompressed outside bounds"))
            return false;
    }
    if (postprocess && mode == _decompress_bitmap_88 && width > 0 && height > 0)
    {
        auto at = [&](int32_t x, int32_t y) { return (uint16_t *)(out + (ptrdiff_t)y * bytes_per_row + 2 * x); };
        auto value = [&](int32_t x, int32_t y) {
            uint16_t v;
            memcpy(&v, at(x, y), 2);
            return v;
        };
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
            {
                if (value(x, y) != 0) continue;
                const int32_t neighbours[4][2] = {{(x + 1) % width, y},
                                                  {x, (y + 1) % height},
                                                  {(x + width - 1) % width, y},
                                                  {x, (y + height - 1) % height}};
                for (const auto &n : neighbours)
                {
                    const uint16_t v = value(n[0], n[1]);
                    if (v == 0) continue;
                    const uint16_t filled = (uint16_t)(v & 0xFF);
                    memcpy(at(x, y), &filled, 2);
                    break;
                }
            }
    }
    return true;
}

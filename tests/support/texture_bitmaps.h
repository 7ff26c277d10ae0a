#pragma once
// Bitmaps built in memory for the texture cache and its converter (the
// tests, the fuzz target and the benchmark share them), and a fake back end
// whose callbacks hand out numbered handles and record what they were asked.
// Header only and free of the test framework, so the fuzz target and the
// benchmark can include it.

#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "bitmaps.h"
#include "hardware/texture_cache.h"

// A bitmap record with its row table, and its pixels, owned by vectors.
struct test_bitmap
{
    std::vector<uint8_t> record;
    std::vector<uint8_t> pixels;
    bitmap_data *get(void) { return (bitmap_data *)record.data(); }
};

inline void initialize_test_bitmap_record(test_bitmap *b, int16_t width, int16_t height, int16_t flags,
                                          int16_t encoding, int16_t bytes_per_row)
{
    b->record.assign(sizeof(bitmap_data) + sizeof(uint8_t *) * (size_t)(height > 0 ? height : 1), 0);
    bitmap_data *bitmap = b->get();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->flags = flags;
    bitmap->encoding = encoding;
    bitmap->bytes_per_row = bytes_per_row;
    bitmap->logical_bit_depth = (int16_t)(8 * get_encoding_byte_depth(encoding));
}

// Flat rows of `element_size`-byte elements, one row table entry per row.
inline test_bitmap make_flat_test_bitmap(int16_t width, int16_t height, int16_t flags, int16_t encoding,
                                         int32_t element_size, const std::vector<uint8_t> &elements)
{
    test_bitmap b;
    const int16_t pitch = (int16_t)(width * element_size);
    initialize_test_bitmap_record(&b, width, height, flags, encoding, pitch);
    b.pixels = elements;
    b.pixels.resize((size_t)pitch * height);
    b.pixels.shrink_to_fit(); // a read past the last row is a read past the block
    for (int32_t y = 0; y < height; ++y) b.get()->row_addresses[y] = b.pixels.data() + (size_t)y * pitch;
    return b;
}

struct test_span_row
{
    std::vector<std::pair<int16_t, int16_t>> spans; // start, end (exclusive)
    std::vector<uint8_t> elements; // of every span, in order
    int32_t pixel_count = -1; // -1: the sum of the spans' lengths
};

// Span-encoded rows (`_1bit_transparency_encoded_flag` is added), each with
// its header, spans and elements in host order, two bytes aligned.
inline test_bitmap make_span_test_bitmap(int16_t width, int16_t height, int16_t flags,
                                         const std::vector<test_span_row> &rows)
{
    test_bitmap b;
    initialize_test_bitmap_record(&b, width, height, (int16_t)(flags | _1bit_transparency_encoded_flag),
                                  _8bit_encoding, -1);
    std::vector<size_t> offsets;
    for (const test_span_row &row : rows)
    {
        offsets.push_back(b.pixels.size());
        int32_t sum = 0;
        for (const auto &span : row.spans) sum += span.second - span.first;
        const int16_t header[2] = {(int16_t)row.spans.size(), (int16_t)(row.pixel_count < 0 ? sum : row.pixel_count)};
        const size_t at = b.pixels.size();
        b.pixels.resize(at + 4 + 4 * row.spans.size());
        memcpy(&b.pixels[at], header, 4);
        for (size_t i = 0; i < row.spans.size(); ++i)
        {
            const int16_t span[2] = {row.spans[i].first, row.spans[i].second};
            memcpy(&b.pixels[at + 4 + 4 * i], span, 4);
        }
        b.pixels.insert(b.pixels.end(), row.elements.begin(), row.elements.end());
        if (b.pixels.size() & 1) b.pixels.push_back(0);
    }
    b.pixels.shrink_to_fit(); // a read past the last row is a read past the block
    for (int32_t y = 0; y < height && y < (int32_t)offsets.size(); ++y)
        b.get()->row_addresses[y] = b.pixels.data() + offsets[y];
    return b;
}

// A random 8-bit indexed bitmap: opaque or masked elements, flat or span
// rows, as `flags` says.  Spans ascend inside the row.
inline test_bitmap make_random_indexed_bitmap(std::mt19937 &random, int16_t width, int16_t height, int16_t flags)
{
    const int32_t element_size = (flags & _4bit_transparency_encoded_flag) ? 2 : 1;
    auto element = [&](std::vector<uint8_t> *out) {
        out->push_back((uint8_t)(random() % 4 == 0 ? 0 : random() % 256));
        if (element_size == 2) out->push_back((uint8_t)(random() % 16));
    };
    if (!(flags & _1bit_transparency_encoded_flag))
    {
        std::vector<uint8_t> elements;
        for (int32_t i = 0; i < width * height; ++i) element(&elements);
        return make_flat_test_bitmap(width, height, flags, _8bit_encoding, element_size, elements);
    }
    std::vector<test_span_row> rows((size_t)height);
    for (test_span_row &row : rows)
    {
        int32_t x = (int32_t)(random() % 3);
        while (x < width && random() % 5 != 0)
        {
            const int32_t end = x + 1 + (int32_t)(random() % (uint32_t)(width - x));
            row.spans.push_back({(int16_t)x, (int16_t)end});
            for (int32_t i = x; i < end; ++i) element(&row.elements);
            x = end + (int32_t)(random() % 4);
        }
    }
    return make_span_test_bitmap(width, height, (int16_t)(flags & ~_1bit_transparency_encoded_flag), rows);
}

// A shading table of 256 random colours in both depths.
struct test_shading_table
{
    uint16_t shade16[256];
    uint32_t shade32[256];
};
inline test_shading_table make_test_shading_table(uint32_t seed)
{
    test_shading_table table;
    std::mt19937 random(seed);
    for (int32_t i = 0; i < 256; ++i)
    {
        table.shade16[i] = (uint16_t)(random() & 0x7FFF);
        table.shade32[i] = random() & 0xFFFFFF;
    }
    return table;
}

// The fake back end: handles 1, 2, ... in order of creation.
struct fake_texture_back_end
{
    intptr_t next_handle = 1;
    int32_t news = 0, updates = 0;
    int32_t failures_to_come = 0; // the next n callbacks fail
    std::vector<intptr_t> deleted; // in order
    std::vector<const bitmap_data *> created_for; // the bitmap of each new
    std::vector<uint8_t> last_pixels; // the block the last new callback was handed

    static void *on_new(void *context, bitmap_data *bitmap, cached_texture_data *texture)
    {
        fake_texture_back_end *self = (fake_texture_back_end *)context;
        ++self->news;
        if (self->failures_to_come > 0 && self->failures_to_come--) return nullptr;
        self->created_for.push_back(bitmap);
        const uint8_t *pixels = (const uint8_t *)texture->pixels;
        self->last_pixels.assign(pixels, pixels + (size_t)texture->adjusted_width * texture->adjusted_height *
                                                      texture->encoding_bytes_per_pixel);
        return (void *)self->next_handle++;
    }
    static void *on_update(void *context, bitmap_data *, cached_texture_data *texture)
    {
        fake_texture_back_end *self = (fake_texture_back_end *)context;
        ++self->updates;
        if (self->failures_to_come > 0 && self->failures_to_come--) return nullptr;
        return texture->user_data;
    }
    static void on_delete(void *context, void *handle)
    {
        ((fake_texture_back_end *)context)->deleted.push_back((intptr_t)handle);
    }
    bool start_cache(int64_t budget, bool _32bit = true, bool npo2 = false, bool client_storage = false)
    {
        return initialize_texture_cache_for_new_map(this, on_new, on_update, on_delete, _32bit, npo2, client_storage,
                                                    budget);
    }
};

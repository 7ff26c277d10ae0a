// The 2D primitives that sit in every frame: a 64 x 64 run-length sprite
// copied into a 32-bit back buffer.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmap_drawing.h"

// A 64 x 64 run-length 8-bit sprite: a disc, two spans on the rows a hole cuts.
static bitmap_data *disc_sprite(std::vector<uint8_t> *storage)
{
    std::vector<uint8_t> rows;
    for (int32_t y = 0; y < 64; ++y)
    {
        std::vector<encoded_span> spans;
        for (int32_t x = 0; x < 64; ++x)
        {
            const int32_t dx = x - 32, dy = y - 32;
            const bool inside = dx * dx + dy * dy < 30 * 30 && dx * dx + dy * dy > 6 * 6;
            if (!inside) continue;
            if (spans.empty() || spans.back().end != x) spans.push_back({(int16_t)x, (int16_t)(x + 1)});
            else spans.back().end = (int16_t)(x + 1);
        }
        int16_t pixels = 0;
        for (const encoded_span &s : spans) pixels = (int16_t)(pixels + s.end - s.start);
        const encoded_span_header header = {(int16_t)spans.size(), pixels};
        const size_t start = rows.size();
        rows.resize(start + 4 + 4 * spans.size() + (size_t)pixels);
        memcpy(rows.data() + start, &header, 4);
        if (!spans.empty()) memcpy(rows.data() + start + 4, spans.data(), 4 * spans.size());
        for (int16_t i = 0; i < pixels; ++i) rows[start + 4 + 4 * spans.size() + (size_t)i] = (uint8_t)(1 + i % 200);
        if (rows.size() & 1) rows.push_back(0);
    }
    const int16_t flags = _1bit_transparency_encoded_flag | _word_aligned_encoding_flag;
    const size_t header_size = sizeof_bitmap(64, flags);
    storage->assign(header_size + rows.size() + 8, 0);
    bitmap_data *b = (bitmap_data *)storage->data();
    b->width = b->height = 64;
    b->bytes_per_row = NONE;
    b->flags = flags;
    b->encoding = _8bit_encoding;
    b->logical_bit_depth = 8;
    b->row_addresses[0] = storage->data() + header_size;
    memcpy(b->row_addresses[0], rows.data(), rows.size());
    precalculate_bitmap_row_addresses(b);
    return b;
}

static void copy_bitmap_rle_64_to_32bit(benchmark::State &state)
{
    std::vector<uint8_t> storage;
    bitmap_data *sprite = disc_sprite(&storage);
    bitmap_data *screen = new_bitmap(640, 480, 0, _32bit_encoding, 0);
    std::vector<uint32_t> colors(256, 0xFF336699u);
    const point2d at = {300, 200};
    for (auto _ : state)
    {
        copy_bitmap(screen, &at, sprite, nullptr, colors.data(), 0, nullptr);
        benchmark::ClobberMemory();
    }
    free(screen);
}
BENCHMARK(copy_bitmap_rle_64_to_32bit);

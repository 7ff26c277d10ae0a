// A screenshot's encoding: a 640 x 480 back buffer (565 and 32-bit) made
// into a PNG or a JPEG in memory, the 24-bit copy included, as the
// high-level writer does before it writes the file.  The counter gives the
// encoded size in bytes.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "image_files.h"

namespace {

// A frame with gradients and edges, so the encoders meet both.
bitmap_data *frame(int16_t encoding)
{
    bitmap_data *b = new_bitmap(640, 480, 0, encoding, 0);
    for (int16_t y = 0; y < 480; y += 16)
        for (int16_t x = 0; x < 640; x += 16)
        {
            const rgb_color c = {(uint16_t)(x * 100), (uint16_t)(y * 130), (uint16_t)((x ^ y) * 60), 0};
            const rectangle2d r = {y, x, (int16_t)(y + 16), (int16_t)(x + 16)};
            fill_rectangle_clipped(b, &c, &r, nullptr, 0, nullptr);
        }
    return b;
}

void encode(benchmark::State &state, int16_t encoding, bool jpeg)
{
    bitmap_data *b = frame(encoding);
    bitmap_data *copy = new_bitmap(640, 480, 0, _24bit_encoding, _bitmap_extended_encoding_flag);
    int32_t size = 0;
    for (auto _ : state)
    {
        copy_bitmap(copy, nullptr, b, nullptr, nullptr, 0, nullptr);
        uint8_t *out = jpeg ? compress_image_to_jpeg_file_in_memory(copy->row_addresses[0], 640, 480, 3, 95, &size)
                            : compress_image_to_png_file_in_memory(copy->row_addresses[0], 640, 480,
                                                                   copy->bytes_per_row, &size);
        if (!out) state.SkipWithError("the encoder failed");
        benchmark::DoNotOptimize(out);
        free(out);
    }
    state.counters["bytes"] = size;
    free(copy);
    free(b);
}

void png_565(benchmark::State &state) { encode(state, _16bit_565_encoding, false); }
void png_32(benchmark::State &state) { encode(state, _32bit_encoding, false); }
void jpeg_565(benchmark::State &state) { encode(state, _16bit_565_encoding, true); }
void jpeg_32(benchmark::State &state) { encode(state, _32bit_encoding, true); }

} // namespace

BENCHMARK(png_565)->Unit(benchmark::kMillisecond);
BENCHMARK(png_32)->Unit(benchmark::kMillisecond);
BENCHMARK(jpeg_565)->Unit(benchmark::kMillisecond);
BENCHMARK(jpeg_32)->Unit(benchmark::kMillisecond);

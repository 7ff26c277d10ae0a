// The image codec on a detail texture's sizes: decoding is what a map start
// pays for each detail texture, encoding what the data tool pays.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "quarn1/quarn1.h"

// A textured picture: a gradient with a little noise, as detail textures are.
static std::vector<uint8_t> texture(int32_t size)
{
    std::vector<uint8_t> pixels((size_t)size * size * 3);
    uint32_t state = 12345;
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x)
            for (int32_t c = 0; c < 3; ++c)
            {
                state = state * 1664525u + 1013904223u;
                pixels[((size_t)y * size + x) * 3 + (size_t)c] = (uint8_t)(60 + c * 40 + (x + y) / 4 + (state >> 28));
            }
    return pixels;
}

static void quarn1_decode_texture(benchmark::State &state)
{
    const int32_t size = (int32_t)state.range(0);
    const std::vector<uint8_t> pixels = texture(size);
    uint8_t *stream;
    int32_t length;
    if (!quarn1_encode(pixels.data(), size, size, &stream, &length)) return state.SkipWithError("encode failed");
    for (auto _ : state)
    {
        uint8_t *decoded;
        int32_t width, height;
        if (!quarn1_decode(&decoded, &width, &height, stream, length)) return state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(decoded);
        free(decoded);
    }
    free(stream);
    state.SetBytesProcessed(state.iterations() * (int64_t)pixels.size());
    state.counters["stream_bytes"] = length;
}
BENCHMARK(quarn1_decode_texture)->Arg(64)->Arg(256);

static void quarn1_encode_texture(benchmark::State &state)
{
    const int32_t size = (int32_t)state.range(0);
    const std::vector<uint8_t> pixels = texture(size);
    for (auto _ : state)
    {
        uint8_t *stream;
        int32_t length;
        if (!quarn1_encode(pixels.data(), size, size, &stream, &length)) return state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(stream);
        free(stream);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)pixels.size());
}
BENCHMARK(quarn1_encode_texture)->Arg(64)->Arg(256);

// The texture cache's hit path (a lookup of a bitmap already cached: one
// probe sequence and a move to the list head) and the converter's rate per
// target encoding on a 256 x 256 sprite, span-encoded or flat.

#include <benchmark/benchmark.h>

#include <random>

#include "../tests/support/texture_bitmaps.h"
#include "hardware/texture_pixels.h"

namespace
{

void texture_cache_hit(benchmark::State &state)
{
    fake_texture_back_end back_end;
    if (!back_end.start_cache(int64_t(1) << 30))
    {
        state.SkipWithError("no cache");
        return;
    }
    const test_shading_table shades = make_test_shading_table(1);
    std::vector<test_bitmap> bitmaps;
    for (int32_t i = 0; i < 512; ++i)
        bitmaps.push_back(make_flat_test_bitmap(8, 8, 0, _8bit_encoding, 1, std::vector<uint8_t>(64, 1)));
    std::vector<cached_texture_descriptor> descriptors(bitmaps.size());
    for (size_t i = 0; i < bitmaps.size(); ++i)
    {
        initialize_cached_texture_descriptor(&descriptors[i], 0, bitmaps[i].get(), nullptr, shades.shade32, 0);
        texture_cache_lookup(&descriptors[i]);
    }
    size_t next = 0;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(texture_cache_lookup(&descriptors[next]));
        next = (next + 97) % descriptors.size();
    }
    if (back_end.news != (int32_t)bitmaps.size()) state.SkipWithError("a hit converted again");
    dispose_texture_cache_from_old_map();
}
BENCHMARK(texture_cache_hit);

// Arguments: the texture encoding, and 1 for span rows.
void convert_sprite(benchmark::State &state)
{
    const int32_t encoding = (int32_t)state.range(0);
    const bool spans = state.range(1);
    std::mt19937 random(5);
    test_bitmap sprite = make_random_indexed_bitmap(random, 256, 256, spans ? _1bit_transparency_encoded_flag : 0);
    const test_shading_table shades = make_test_shading_table(2);
    const int32_t depth = encoding == 13 ? 1 : encoding <= 9 ? 2 : 4;
    std::vector<uint8_t> block((size_t)258 * 258 * depth);
    const void *table = depth == 4 ? (const void *)shades.shade32 : (const void *)shades.shade16;
    for (auto _ : state)
    {
        if (decompress_and_copy_pixels(sprite.get(), nullptr, table, nullptr, block.data(), encoding, 258 * depth,
                                       block.size(), false, true) != _texture_conversion_done)
            state.SkipWithError("not converted");
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 256 * 256);
}
BENCHMARK(convert_sprite)
    ->ArgsProduct({{8, 9, 11, 13}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

} // namespace

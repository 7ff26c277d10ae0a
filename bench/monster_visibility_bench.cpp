// Cost of the local player's fog of war on the largest mesh: one scan period's
// footprints, the swap that ends it, and the queries of the visible units.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "mesh.h"
#include "bench_mesh.h"
#include "monster_visibility.h"

// A flat map of the largest size, with buffers made once.
static bool load_largest_map(void)
{
    static bool loaded = false;
    if (loaded) return true;
    const int32_t size = MAXIMUM_MESH_SIZE;
    std::vector<mesh_cell> cells((size_t)size * size);
    for (mesh_cell &cell : cells) cell = {0, 0, 0, NONE, NONE, 0};
    loaded = load_bench_mesh_cells(cells, (int16_t)size, 0) && initialize_monster_visibility() &&
             initialize_monster_visibility_for_new_map();
    return loaded;
}

// 400 units scattered over the map (the most a map holds).
static std::vector<world_point2d> unit_cells(void)
{
    std::vector<world_point2d> cells(400);
    uint32_t seed = 7;
    for (world_point2d &c : cells)
    {
        seed = seed * 1664525u + 1013904223u;
        c.x = (int32_t)((seed >> 8) % MAXIMUM_MESH_SIZE);
        seed = seed * 1664525u + 1013904223u;
        c.y = (int32_t)((seed >> 8) % MAXIMUM_MESH_SIZE);
    }
    return cells;
}

// Every unit's footprint of the given type: what one whole scan period writes.
static void bench_rasterize_visibility_period(benchmark::State &state)
{
    if (!load_largest_map())
    {
        state.SkipWithError("the map could not be made");
        return;
    }
    const std::vector<world_point2d> cells = unit_cells();
    const int32_t type = (int32_t)state.range(0);
    for (auto _ : state)
        for (const world_point2d &c : cells) rasterize_visibility_bitmap(type, c.x, c.y, false);
    state.SetItemsProcessed(state.iterations() * (int64_t)cells.size());
}
BENCHMARK(bench_rasterize_visibility_period)->Arg(_visibility_type_normal)->Arg(_visibility_type_far);

// The swap every 64 ticks: a new back buffer and the centre of the front one.
static void bench_swap_visibility_buffers(benchmark::State &state)
{
    if (!load_largest_map())
    {
        state.SkipWithError("the map could not be made");
        return;
    }
    const std::vector<world_point2d> cells = unit_cells();
    for (const world_point2d &c : cells) rasterize_visibility_bitmap(_visibility_type_normal, c.x, c.y, false);
    for (auto _ : state) swap_visibility_buffers();
    state.SetBytesProcessed(state.iterations() * (int64_t)MAXIMUM_MESH_SIZE * visibility_buffer_row_words() * 4);
}
BENCHMARK(bench_swap_visibility_buffers);

// The renderer and the interface ask for one cell at a time.
static void bench_get_cell_visibility(benchmark::State &state)
{
    if (!load_largest_map())
    {
        state.SkipWithError("the map could not be made");
        return;
    }
    const std::vector<world_point2d> cells = unit_cells();
    for (auto _ : state)
    {
        uint32_t seen = 0;
        for (const world_point2d &c : cells)
            seen += visibility_is_visible(get_cell_visibility(visibility_front_buffer(), c.x, c.y));
        benchmark::DoNotOptimize(seen);
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)cells.size());
}
BENCHMARK(bench_get_cell_visibility);

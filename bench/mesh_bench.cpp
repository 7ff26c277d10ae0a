// Cost of the mesh queries every unit makes each tick.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "mesh.h"
#include "bench_mesh.h"

// A 256 x 256 map with relief and a lake, loaded once.
static void load_benchmark_mesh(void)
{
    static bool loaded = false;
    if (loaded) return;
    const int32_t size = 256;
    std::vector<mesh_cell> cells((size_t)size * size);
    for (int32_t y = 0; y < size; y++)
        for (int32_t x = 0; x < size; x++)
        {
            mesh_cell &cell = cells[x + y * size];
            cell = {(uint16_t)((x + y) & 0x77), (int16_t)((x * 37 + y * 91) % 700 - 100), 0, NONE, NONE, 0};
            if (cell.height < 0) cell.flags |= _mesh_cell_carries_media_flags;
        }
    loaded = load_bench_mesh_cells(cells, (int16_t)size, 0);
}

static std::vector<world_point2d> unit_positions(void)
{
    std::vector<world_point2d> points(1024);
    uint32_t seed = 99;
    for (world_point2d &p : points)
    {
        seed = seed * 1664525u + 1013904223u;
        p.x = (int32_t)((seed >> 8) % (256 * WORLD_ONE));
        seed = seed * 1664525u + 1013904223u;
        p.y = (int32_t)((seed >> 8) % (256 * WORLD_ONE));
    }
    return points;
}

static void bench_get_mesh_height(benchmark::State &state)
{
    load_benchmark_mesh();
    const std::vector<world_point2d> points = unit_positions();
    const int32_t type = (int32_t)state.range(0);
    for (auto _ : state)
    {
        int64_t sum = 0;
        for (const world_point2d &p : points) sum += get_mesh_height(&p, type);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)points.size());
}
BENCHMARK(bench_get_mesh_height)->Arg(_mesh_surface_height)->Arg(_mesh_ground_height)->Arg(_media_height);

static void bench_get_mesh_terrain_type(benchmark::State &state)
{
    load_benchmark_mesh();
    const std::vector<world_point2d> points = unit_positions();
    for (auto _ : state)
    {
        int32_t sum = 0;
        for (const world_point2d &p : points) sum += get_mesh_terrain_type(&p);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)points.size());
}
BENCHMARK(bench_get_mesh_terrain_type);

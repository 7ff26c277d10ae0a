// The visible terrain of one frame: build_mesh_region on the demo map at
// 1024 x 768, seen from the observer's start as the game builds the view,
// turned through a full circle in 16 steps (the region differs with the
// heading); also with the eye raised 16 cells, as a zoomed-out camera sees
// the map.  The demo map is 32 x 32 cells, so a second benchmark builds the
// largest region software rendering makes (64 x 64 cells) on a synthetic
// 256 x 256 map with relief and a lake.  The demo data is read from the build's program directory
// (scripts/build_demo_data.sh); without it the benchmark is skipped.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bitmaps.h"
#include "mesh.h"
#include "mesh_builder.h"
#include "determinism_harness.h"
#include "observer.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_surfaces.h"
#include "demo_map_bench.h"


static void build_mesh_region_on_the_demo_map(benchmark::State &state)
{
    if (!start_demo_map_or_skip(state, 1)) return;
    const int16_t width = 1024, height = 768;
    bitmap_data *screen = new_bitmap(width, height, 0, _32bit_encoding, 0);
    const int16_t saved_mode = global_maps_mode;
    global_maps_mode = (int16_t)state.range(0);

    std::vector<view_data> views;
    view_data base;
    build_observer_view(&base, 0, width, height);
    base.screen = screen;
    for (int32_t step = 0; step < 16; step++)
    {
        view_data view = base;
        view.location.yaw = (angle)(base.location.yaw + step * 4096);
        view.location.position.z += (int32_t)state.range(1) * WORLD_ONE;
        update_view_data(&view);
        views.push_back(view);
    }

    int64_t cells = 0;
    for (auto _ : state)
    {
        for (view_data &view : views)
        {
            const mesh_region *region = build_mesh_region(&view);
            benchmark::DoNotOptimize(region);
            for (int32_t y = region->y0; y <= region->y1; y++)
                cells += span_cell_count_inclusive(get_mesh_region_span(region, y));
        }
    }
    const int64_t regions = state.iterations() * (int64_t)views.size();
    state.SetItemsProcessed(regions);
    state.counters["cells_per_region"] = (double)cells / (double)regions;
    state.counters["time_per_region"] =
        benchmark::Counter((double)regions, benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                           benchmark::Counter::OneK::kIs1000);

    global_maps_mode = saved_mode;
    free(screen);
    stop_simulation();
}
BENCHMARK(build_mesh_region_on_the_demo_map)
    ->Args({_maps_mode_volatile, 0})
    ->Args({_maps_mode_volatile, 16})
    ->Args({_maps_mode_tiles, 0})
    ->Args({_maps_mode_tiles, 16})
    ->ArgNames({"tiles0_volatile1", "raised_cells"})
    ->Unit(benchmark::kMicrosecond);

static void build_mesh_region_of_64_cells_on_a_large_map(benchmark::State &state)
{
    const int32_t size = 256;
    std::vector<mesh_cell> cells((size_t)size * size);
    for (int32_t y = 0; y < size; y++)
    {
        for (int32_t x = 0; x < size; x++)
        {
            mesh_cell &cell = cells[(size_t)(x + y * size)];
            cell = {0, (int16_t)(600.0 * std::sin(x * 0.2) + 400.0 * std::cos(y * 0.15)), -200, NONE, NONE, 0};
            if (cell.height < -200) cell.flags = _mesh_vertex_is_media_flag | _mesh_cell_carries_media_flags;
        }
    }
    mesh_builder_input input = {};
    input.header.mesh_width = input.header.mesh_height = size;
    input.header.reverb_environment = NONE;
    input.header.media_tag = NONE;
    input.cells = cells.data();
    int32_t bytes = 0;
    uint8_t *data = build_mesh_tag_data(&input, &bytes);
    const bool loaded = data && load_mesh_from_memory(data, bytes);
    free(data);
    if (!loaded)
    {
        state.SkipWithError("the synthetic map could not be loaded");
        return;
    }
    const int16_t width = 1024, height = 768;
    bitmap_data *screen = new_bitmap(width, height, 0, _32bit_encoding, 0);
    const int16_t saved_mode = global_maps_mode;
    global_maps_mode = _maps_mode_volatile;
    std::vector<view_data> views;
    for (int32_t step = 0; step < 16; step++)
    {
        view_data view = {};
        view.screen = screen;
        view.resolution_width = width;
        view.resolution_height = height;
        view.half_resolution_width = width / 2;
        view.half_resolution_height = height / 2;
        view.tangent_of_half_field_of_view = 1.0f;
        view.location.position = {128 * WORLD_ONE, 128 * WORLD_ONE, 40 * WORLD_ONE};
        view.location.yaw = (angle)(step * 4096);
        view.location.pitch = (angle)(65536 - 10000); // about 55 degrees down
        update_view_data(&view);
        views.push_back(view);
    }
    int64_t cells_in_spans = 0;
    for (auto _ : state)
    {
        for (view_data &view : views)
        {
            const mesh_region *region = build_mesh_region(&view);
            benchmark::DoNotOptimize(region);
            for (int32_t y = region->y0; y <= region->y1; y++)
                cells_in_spans += span_cell_count_inclusive(get_mesh_region_span(region, y));
        }
    }
    const int64_t regions = state.iterations() * (int64_t)views.size();
    state.SetItemsProcessed(regions);
    state.counters["cells_per_region"] = (double)cells_in_spans / (double)regions;
    state.counters["time_per_region"] =
        benchmark::Counter((double)regions, benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                           benchmark::Counter::OneK::kIs1000);
    global_maps_mode = saved_mode;
    free(screen);
    dispose_mesh_from_old_map();
}
BENCHMARK(build_mesh_region_of_64_cells_on_a_large_map)->Unit(benchmark::kMicrosecond);

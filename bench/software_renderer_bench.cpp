// The software renderer on the demo map, frame by frame: a fixed orbit round
// the map's centre (pitch -45 degrees, yaw +0.5 degrees a frame, so the
// volatile maps are rebuilt every frame) and the same view held still, at
// 640 x 480, 1024 x 768 and 1920 x 1080 in 32-bit and at 1024 x 768 in 565,
// filtering on, objects omitted.  Each run renders 60 warm-up frames and then
// 600, and reports the median, 95th and 99th percentile frame times, frames
// per second, the median of each phase (region, build, map update, sort,
// rasterization) and the cost per pixel of the frame against a plain memory
// fill of the same back buffer measured in the same run.  One thread; times
// are the thread's CPU time.  The
// demo data is read from the build's program directory
// (scripts/build_demo_data.sh); without it the benchmark is skipped.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmaps.h"
#include "determinism_harness.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_sort.h"
#include "render/terrain_maps.h"
#include "render_harness.h"

#ifndef VESK_DEMO_DATA_DIRECTORY
#define VESK_DEMO_DATA_DIRECTORY "."
#endif

namespace
{
// Frames are timed in the thread's CPU time, so that other processes on a
// shared machine do not count against the renderer.
struct frame_clock
{
    typedef double time_point; // milliseconds
    static time_point now(void)
    {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return (double)t.tv_sec * 1000.0 + (double)t.tv_nsec / 1.0e6;
    }
};

double milliseconds_since(frame_clock::time_point start) { return frame_clock::now() - start; }

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, (size_t)(fraction * (double)(values.size() - 1) + 0.5));
    return values[index];
}

enum phase
{
    _phase_region,
    _phase_build,
    _phase_maps,
    _phase_sort,
    _phase_rasterize,
    NUMBER_OF_PHASES
};
const char *const phase_names[NUMBER_OF_PHASES] = {"region_ms", "build_ms", "maps_ms", "sort_ms", "raster_ms"};

const int WARM_UP_FRAMES = 60, MEASURED_FRAMES = 600;
const double ORBIT_HEIGHT = 12, ORBIT_CENTRE = 16; // cells; the demo map is 32 x 32

// Renders one frame as render_scene does, timing each phase.  The map update
// runs on its own first, so that build_scene's own call finds the maps
// current and the build phase holds only the surface builders.
void render_frame_in_phases(view_data *view, double phases[NUMBER_OF_PHASES])
{
    frame_clock::time_point t = frame_clock::now();
    update_view_data(view);
    view->region = build_mesh_region(view);
    render_surface_list *list = view->region ? render_new<render_surface_list>() : nullptr;
    phases[_phase_region] = milliseconds_since(t);
    if (!list) return;
    new_surface_list(list);

    t = frame_clock::now();
    update_maps(view);
    view->flags &= ~(uint32_t)_render_view_moved_flag;
    phases[_phase_maps] = milliseconds_since(t);

    t = frame_clock::now();
    build_scene(view, list);
    phases[_phase_build] = milliseconds_since(t);

    t = frame_clock::now();
    postprocess_scene(view, list);
    phases[_phase_sort] = milliseconds_since(t);

    t = frame_clock::now();
    rasterize_scene(view, list);
    phases[_phase_rasterize] = milliseconds_since(t);
}

// range(0) x range(1) pixels, range(2) bits, range(3) 1 for the orbit, 0 held still.
void render_demo_map_frames(benchmark::State &state)
{
    const int16_t width = (int16_t)state.range(0), height = (int16_t)state.range(1);
    const int32_t depth = (int32_t)state.range(2);
    const bool orbit = state.range(3) != 0;
    set_render_harness_screen(depth, width, height);
    char reason[512];
    if (!start_simulation(VESK_DEMO_DATA_DIRECTORY, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 1, reason,
                          sizeof(reason)))
    {
        char text[768];
        snprintf(text, sizeof(text), "%s (build the demo data: scripts/build_demo_data.sh %s)", reason,
                 VESK_DEMO_DATA_DIRECTORY);
        state.SkipWithError(text);
        return;
    }
    bitmap_data *buffer = new_render_back_buffer(width, height);
    render_frame_options options = {width, height, true, true};
    std::vector<double> frames, fills, phases[NUMBER_OF_PHASES];
    int32_t tick = 0;
    for (auto _ : state)
    {
        for (int32_t frame = 0; frame < WARM_UP_FRAMES + MEASURED_FRAMES; ++frame)
        {
            const double yaw = orbit ? 0.5 * frame : 0;
            const double radians = yaw * 3.14159265358979323846 / 180.0;
            render_camera camera = {ORBIT_CENTRE - ORBIT_HEIGHT * std::cos(radians),
                                    ORBIT_CENTRE - ORBIT_HEIGHT * std::sin(radians), ORBIT_HEIGHT, yaw, -45, 0};
            view_data view;
            build_render_camera_view(&view, &camera, &options, buffer);
            // The local clock advances every second frame: a 60 Hz display
            // of a 30 Hz game.
            view.tick_count = tick;
            if (frame & 1) ++tick;
            double phase_times[NUMBER_OF_PHASES] = {};
            const frame_clock::time_point start = frame_clock::now();
            render_frame_in_phases(&view, phase_times);
            const double frame_time = milliseconds_since(start);

            // A plain fill of the same back buffer, for the cost per pixel.
            const frame_clock::time_point fill_start = frame_clock::now();
            const size_t row_bytes = (size_t)width * (depth == 16 ? 2 : 4);
            for (int32_t y = 0; y < height; ++y) memset(buffer->row_addresses[y], frame & 0xFF, row_bytes);
            benchmark::ClobberMemory();
            const double fill_time = milliseconds_since(fill_start);
            if (frame < WARM_UP_FRAMES) continue;
            frames.push_back(frame_time);
            fills.push_back(fill_time);
            for (int p = 0; p < NUMBER_OF_PHASES; ++p) phases[p].push_back(phase_times[p]);
        }
    }
    const double median = percentile(frames, 0.5);
    state.counters["median_ms"] = median;
    state.counters["p95_ms"] = percentile(frames, 0.95);
    state.counters["p99_ms"] = percentile(frames, 0.99);
    state.counters["fps"] = median > 0 ? 1000.0 / median : 0;
    for (int p = 0; p < NUMBER_OF_PHASES; ++p) state.counters[phase_names[p]] = percentile(phases[p], 0.5);
    const double fill = percentile(fills, 0.5);
    state.counters["fill_ms"] = fill;
    state.counters["frame_per_fill"] = fill > 0 ? median / fill : 0;
    free(buffer);
    stop_simulation();
}
} // namespace

BENCHMARK(render_demo_map_frames)
    ->Args({640, 480, 32, 1})
    ->Args({1024, 768, 32, 1})
    ->Args({1920, 1080, 32, 1})
    ->Args({1024, 768, 16, 1})
    ->Args({640, 480, 32, 0})
    ->Args({1024, 768, 32, 0})
    ->Args({1920, 1080, 32, 0})
    ->Args({1024, 768, 16, 0})
    ->ArgNames({"width", "height", "depth", "orbit"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Game ticks per second on the demo map with its trees, watchtower and effects
// running (no units yet), started the way the game starts it.  The demo data
// is read from the build's program directory (scripts/build_demo_data.sh, as
// `make bench` runs it); without it the benchmark fails, and so does the
// program (bench_main.cpp).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "determinism_harness.h"
#include "game_time.h"
#include "models.h"
#include "objects.h"

#ifndef VESK_DEMO_DATA_DIRECTORY
#define VESK_DEMO_DATA_DIRECTORY "."
#endif

static void BM_demo_map_ticks(benchmark::State &state)
{
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
    if (get_object_count() == 0 || get_model_count() == 0)
    {
        stop_simulation();
        state.SkipWithError("the demo map's objects are missing: build the demo data first");
        return;
    }
    const int32_t objects = get_object_count(), models = get_model_count();
    // A few effects kept alive: a fire, shockwaves, damage counted, issued
    // again at the start of every batch of ticks (commands name absolute
    // ticks), so each batch measures a map where something happens.
    const simulation_command batch[] = {
        {0, _simulation_start_fire, 0, 0, 3, 3},         {0, _simulation_new_mesh_effect, 1, 0, 4000, 4000},
        {1, _simulation_damage, NONE, NONE, 5, 0},       {2, _simulation_new_mesh_effect, 2, 0, 9000, 2000},
        {150, _simulation_new_mesh_effect, 1, 0, 6000, 3000}, {150, _simulation_damage, NONE, NONE, 3, 0},
    };
    const int32_t batch_count = (int32_t)(sizeof(batch) / sizeof(batch[0]));
    std::vector<simulation_command> commands(batch, batch + batch_count);
    const simulation_pacing pacing = {MAXIMUM_GAME_TICKS_PER_FRAME, NORMAL_GAME_SPEED_INDEX, 0};
    const int32_t ticks_per_batch = 300;
    int64_t ticks = 0;
    for (auto _ : state)
    {
        for (int32_t i = 0; i < batch_count; ++i) commands[i].tick = game_->game_time + batch[i].tick;
        if (!run_simulation(ticks_per_batch, commands.data(), batch_count, &pacing, nullptr))
        {
            state.SkipWithError("the game stopped running ticks");
            break;
        }
        ticks += ticks_per_batch;
    }
    stop_simulation();
    state.counters["objects"] = objects;
    state.counters["models"] = models;
    state.counters["ticks_per_second"] = benchmark::Counter((double)ticks, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_demo_map_ticks)->Unit(benchmark::kMillisecond);

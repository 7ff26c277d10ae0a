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
#include "mesh_effects.h"
#include "models.h"
#include "objects.h"
#include "demo_map_bench.h"


static void BM_demo_map_ticks(benchmark::State &state)
{
    if (!start_demo_map_or_skip(state, 1)) return;
    if (get_object_count() == 0 || get_model_count() == 0)
    {
        stop_simulation();
        state.SkipWithError("the demo map's objects are missing: build the demo data first");
        return;
    }
    const int32_t objects = get_object_count(), models = get_model_count();
    // Every batch of ticks gets its own commands (they name absolute ticks):
    // shockwaves started every 10 ticks across the map, so some are always
    // growing, and damage counted every 30 ticks.  (The demo map cannot catch
    // fire.)
    const int32_t ticks_per_batch = 300;
    std::vector<simulation_command> commands;
    for (int32_t t = 0; t < ticks_per_batch; t += 10)
    {
        const int16_t type = (int16_t)(1 + (t / 10) % 2);
        commands.push_back({t, _simulation_new_mesh_effect, type, 0, 2000 + 250 * (t % 40), 2000 + 97 * (t % 70)});
        if (t % 30 == 0) commands.push_back({t, _simulation_damage, NONE, NONE, 5, 0});
    }
    const std::vector<simulation_command> batch = commands;
    const simulation_pacing pacing = {MAXIMUM_GAME_TICKS_PER_FRAME, NORMAL_GAME_SPEED_INDEX, 0};
    int64_t ticks = 0, effects_seen = 0, batches = 0;
    for (auto _ : state)
    {
        for (size_t i = 0; i < batch.size(); ++i) commands[i].tick = game_->game_time + batch[i].tick;
        if (!run_simulation(ticks_per_batch, commands.data(), (int32_t)commands.size(), &pacing, nullptr))
        {
            state.SkipWithError("the game stopped running ticks");
            break;
        }
        ticks += ticks_per_batch;
        effects_seen += get_mesh_effect_count();
        ++batches;
    }
    stop_simulation();
    state.counters["objects"] = objects;
    state.counters["models"] = models;
    // Shockwaves alive at the end of a batch: shows the commands took effect.
    state.counters["mesh_effects"] = batches ? (double)effects_seen / (double)batches : 0.0;
    state.counters["ticks_per_second"] = benchmark::Counter((double)ticks, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_demo_map_ticks)->Unit(benchmark::kMillisecond);

// Game ticks per second on the demo map with its trees, watchtower and effects
// running (no units yet), started the way the game starts it.  Run from the
// program directory after scripts/build_demo_data.sh.

#include <benchmark/benchmark.h>

#include "determinism_harness.h"
#include "game_time.h"
#include "models.h"
#include "objects.h"

static void BM_demo_map_ticks(benchmark::State &state)
{
    char reason[256];
    if (!start_simulation(nullptr, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 1, reason, sizeof(reason)))
    {
        state.SkipWithError(reason);
        return;
    }
    if (get_object_count() == 0 || get_model_count() == 0)
    {
        stop_simulation();
        state.SkipWithError("the demo map's objects are missing: build the demo data first");
        return;
    }
    const int32_t objects = get_object_count(), models = get_model_count();
    // A few effects alive all the time: a fire, shockwaves, damage counted.
    const simulation_command commands[] = {
        {0, _simulation_start_fire, 0, 0, 3, 3},         {0, _simulation_new_mesh_effect, 1, 0, 4000, 4000},
        {1, _simulation_damage, NONE, NONE, 5, 0},       {2, _simulation_new_mesh_effect, 2, 0, 9000, 2000},
    };
    const simulation_pacing pacing = {MAXIMUM_GAME_TICKS_PER_FRAME, NORMAL_GAME_SPEED_INDEX, 0};
    int64_t ticks = 0;
    for (auto _ : state)
    {
        if (!run_simulation(300, commands, (int32_t)(sizeof(commands) / sizeof(commands[0])), &pacing, nullptr))
        {
            state.SkipWithError("the game stopped running ticks");
            break;
        }
        ticks += 300;
    }
    stop_simulation();
    state.counters["objects"] = objects;
    state.counters["models"] = models;
    state.counters["ticks_per_second"] = benchmark::Counter((double)ticks, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_demo_map_ticks)->Unit(benchmark::kMillisecond);

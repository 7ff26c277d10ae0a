// Ticks per second a 400-unit battle film replays at in the out-of-sync
// check.  The film is recorded once per process and map from the battle map
// (data/maps/battle_field.map, 200 units a side) with every unit ordered to
// attack (data/orders/battle400.txt), 5400 ticks from seed 7: the run of
//     vesk_sim --map batt --seed 7 --ticks 5400 --orders data/orders/battle400.txt --record FILM
// and the same from the battle map with scenery (data/maps/assault_valley.map,
// 'assa': the same units, with the demo valley's trees and watchtower where
// the sides meet, so that the arrows cross the tower's cells).  It is then
// played to its end without a window and without a tick budget, as `vesk
// --oos_check` plays each film (target on one core: 6,000 ticks a second,
// 200 times real time, with or without scenery).  The demo data is read from
// the build's program directory (scripts/build_demo_data.sh); without it the
// benchmark fails.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "determinism_harness.h"
#include "game_time.h"
#include "recording.h"
#include "demo_map_bench.h"
#include "film_replay_pass.h"
#include "unit_orders.h"

#ifndef VESK_SOURCE_DIRECTORY
#define VESK_SOURCE_DIRECTORY "."
#endif

namespace {

enum
{
    FILM_TICKS = 5400,
    FILM_SEED = 7,
};
constexpr double TARGET_TICKS_PER_SECOND = 6000.0;

// The CPU time of this thread in seconds: other programs on a busy machine do
// not count.
double thread_seconds(void)
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1.0e9;
}

// The maps filmed: the benchmark's argument is the index.
struct filmed_map
{
    tag map;
    const char *name;
};
const filmed_map filmed_maps[] = {
    {FOUR_CHARACTER_CODE('b', 'a', 't', 't'), "battle field"},
    {FOUR_CHARACTER_CODE('a', 's', 's', 'a'), "with scenery"},
};

// Records the map's film once per process into a scratch file; "" when it cannot.
std::string record_battle_film(int32_t map_index, char *reason, size_t reason_size)
{
    static std::string paths[NUMBER_OF(filmed_maps)];
    std::string &path = paths[map_index];
    if (!path.empty()) return path;
    std::vector<unit_order> orders;
    if (!read_unit_orders(VESK_SOURCE_DIRECTORY "/data/orders/battle400.txt", &orders, reason, reason_size))
        return "";
    static bench_scratch_directory directory("battle_film_bench", false);
    if (!directory.ready())
    {
        snprintf(reason, reason_size, "no scratch directory");
        return "";
    }
    if (!start_bench_map(filmed_maps[map_index].map, FILM_SEED, reason, reason_size)) return "";
    set_simulation_tick_procedure(give_unit_orders_of_tick, &orders);
    const bool ran = run_simulation(FILM_TICKS, nullptr, 0, nullptr, nullptr);
    set_simulation_tick_procedure(nullptr, nullptr);
    stop_simulation();
    // One film per map: each map's film stays valid while the other is made.
    const std::string film = directory.path + "/battle" + std::to_string(map_index) + ".film";
    if (!ran || !save_simulation_film(film.c_str(), reason, reason_size)) return "";
    path = film;
    return path;
}

void BM_battle_film_replay_in_out_of_sync_check(benchmark::State &state)
{
    const int32_t map_index = (int32_t)state.range(0);
    state.SetLabel(filmed_maps[map_index].name);
    char reason[512] = "";
    const std::string film = record_battle_film(map_index, reason, sizeof(reason));
    if (film.empty())
    {
        skip_without_film(state, reason, VESK_DEMO_DATA_DIRECTORY);
        return;
    }
    int64_t ticks = 0;
    double seconds = 0;
    for (auto _ : state)
    {
        const double start = thread_seconds();
        const bool replayed = replay_film_in_out_of_sync_check(film.c_str(), FILM_TICKS, &ticks, reason, sizeof(reason));
        seconds += thread_seconds() - start;
        if (!replayed)
        {
            state.SkipWithError(reason);
            break;
        }
    }
    if (seconds <= 0) return;
    const double ticks_per_second = (double)ticks / seconds;
    state.counters["ticks_per_second"] = ticks_per_second;
    // The time a tick takes over the time it may take (1 / 6000 s).
    state.counters["time/target"] = TARGET_TICKS_PER_SECOND / ticks_per_second;
}
BENCHMARK(BM_battle_film_replay_in_out_of_sync_check)->Arg(0)->Arg(1)->ArgName("map")->Unit(benchmark::kMillisecond);

} // namespace

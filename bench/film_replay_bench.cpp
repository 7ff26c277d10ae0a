// Ticks per second a film replays at in the out-of-sync check: the demo map's
// recorded game (3000 ticks from seed 5, its sync commands every 170 ticks)
// played to its end without a window and without a tick budget, as
// `vesk --oos_check` plays each film.  The demo data is read from the build's
// program directory (scripts/build_demo_data.sh); without it the benchmark
// fails.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "determinism_harness.h"
#include "game_time.h"
#include "recording.h"
#include "demo_map_bench.h"
#include "film_replay_pass.h"

enum
{
    FILM_TICKS = 3000,
};

// Records the film once per process into a scratch file; "" when it cannot.
static std::string record_demo_film(char *reason, size_t reason_size)
{
    static std::string path;
    if (!path.empty()) return path;
    static bench_scratch_directory directory("film_bench", false);
    if (!directory.ready()) return "";
    if (!start_bench_map(FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 5, reason, reason_size)) return "";
    const bool ran = run_simulation(FILM_TICKS, nullptr, 0, nullptr, nullptr);
    stop_simulation();
    const std::string film = directory.path + "/demo.film";
    if (!ran || !save_simulation_film(film.c_str(), reason, reason_size)) return "";
    path = film;
    return path;
}

static void BM_film_replay_in_out_of_sync_check(benchmark::State &state)
{
    char reason[512] = "";
    const std::string film = record_demo_film(reason, sizeof(reason));
    if (film.empty())
    {
        skip_without_film(state, reason, VESK_DEMO_DATA_DIRECTORY);
        return;
    }
    int64_t ticks = 0;
    for (auto _ : state)
    {
        if (!replay_film_in_out_of_sync_check(film.c_str(), FILM_TICKS, &ticks, reason, sizeof(reason)))
        {
            state.SkipWithError(reason);
            break;
        }
    }
    state.counters["ticks_per_second"] = benchmark::Counter((double)ticks, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_film_replay_in_out_of_sync_check)->Unit(benchmark::kMillisecond);

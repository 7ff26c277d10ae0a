#pragma once
// Starting a map of the demo data in a benchmark, in the program's own data
// directory (bench_directories.h).  Without the demo data the benchmark is
// skipped with the command that builds it, rather than timing nothing.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>

#include "bench_directories.h"
#include "cseries/cseries.h"
#include "determinism_harness.h"
#include "interface_definitions.h"

// start_simulation of `map` from `seed` on this build's demo data, seen
// through the program's own data directory.
inline bool start_bench_map(tag map, uint32_t seed, char *reason, size_t reason_size)
{
    const char *data_directory = bench_data_directory();
    if (data_directory) return start_simulation(data_directory, map, seed, reason, reason_size);
    snprintf(reason, reason_size, "no data directory of the benchmark's own");
    return false;
}

inline bool start_demo_map_or_skip(benchmark::State &state, uint32_t seed)
{
    char reason[512];
    if (start_bench_map(FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), seed, reason, sizeof(reason))) return true;
    char text[768];
    snprintf(text, sizeof(text), "%s (build the demo data: scripts/build_demo_data.sh %s)", reason,
             VESK_DEMO_DATA_DIRECTORY);
    state.SkipWithError(text);
    return false;
}

// The game brought up headless on the demo data, between maps, with the
// menu's interface loaded, as the front end's dialogs find it.
inline bool start_menu_interface_or_skip(benchmark::State &state)
{
    if (!start_demo_map_or_skip(state, 1)) return false;
    stop_simulation();
    if (initialize_interface_without_map()) return true;
    state.SkipWithError("the interface cannot be loaded without a map");
    return false;
}

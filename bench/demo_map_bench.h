#pragma once
// Starting the demo map in a benchmark.  Without the demo data the benchmark
// is skipped with the command that builds it, rather than timing nothing.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>

#include "cseries/cseries.h"
#include "determinism_harness.h"

#ifndef VESK_DEMO_DATA_DIRECTORY
#define VESK_DEMO_DATA_DIRECTORY "."
#endif

inline bool start_demo_map_or_skip(benchmark::State &state, uint32_t seed)
{
    char reason[512];
    if (start_simulation(VESK_DEMO_DATA_DIRECTORY, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), seed, reason,
                         sizeof(reason)))
        return true;
    char text[768];
    snprintf(text, sizeof(text), "%s (build the demo data: scripts/build_demo_data.sh %s)", reason,
             VESK_DEMO_DATA_DIRECTORY);
    state.SkipWithError(text);
    return false;
}

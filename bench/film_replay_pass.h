#pragma once
// One replay of a recorded film as `vesk --oos_check` plays it: no window,
// no tick budget, local time handed over in the check's passes.  Shared by
// the film replay benchmarks.

#include <cstddef>
#include <cstdio>
#include <cstdint>

#include <benchmark/benchmark.h>

#include "determinism_harness.h"
#include "game_time.h"
#include "recording.h"

enum
{
    OOS_CHECK_LOCAL_TICKS_PER_PASS = 30 * 60, // as the game's check hands them
};

// Replays `film` to its end; true when it ended in step after `expected_ticks`
// ticks.  `*ticks` gains the game ticks played; `reason` says why not.
inline bool replay_film_in_out_of_sync_check(const char *film, int32_t expected_ticks, int64_t *ticks, char *reason,
                                             size_t reason_size)
{
    int32_t length = 0;
    if (!start_simulation_from_film(nullptr, film, &length, reason, reason_size)) return false;
    set_unbounded_game_ticks(true);
    int32_t passes = 0;
    while (!replay_over() && passes++ < 1000) update_vesk(OOS_CHECK_LOCAL_TICKS_PER_PASS);
    set_unbounded_game_ticks(false);
    const bool in_step = replay_over() && !replay_failed() && !(game_->flags.load() & _game_is_out_of_sync_flag);
    *ticks += game_->game_time;
    stop_simulation();
    if (in_step && length == expected_ticks) return true;
    snprintf(reason, reason_size, "the film did not replay in step to its end");
    return false;
}

// Marks the benchmark failed when its film could not be recorded, pointing at
// the demo data the recording needs.
inline void skip_without_film(benchmark::State &state, const char *reason, const char *data_directory)
{
    char text[768];
    snprintf(text, sizeof(text), "no film: %s (build the demo data: scripts/build_demo_data.sh %s)", reason,
             data_directory);
    state.SkipWithError(text);
}

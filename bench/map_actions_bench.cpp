// One script pass over a full block of 1024 actions, each a 'math' counter
// that reads its own result, adds one and writes it back (searches, the
// cache, an edit that moves its run and the engine's bookkeeping per action).

#include <benchmark/benchmark.h>

#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"

// state.range(0): 1 for 'math' counters (two edits per action and pass),
// 0 for actions without a procedure (the engine's own cost).
static void BM_script_pass_of_1024_actions(benchmark::State &state)
{
    if (!initialize_map_actions())
    {
        state.SkipWithError("the map actions could not start");
        return;
    }
    initialize_map_actions_for_new_map();
    current_gameplay_version = 1820;
    game_->type = _game_type_local;
    game_->game_time = 0;
    for (int32_t i = 0; i < MAXIMUM_MAP_ACTIONS_PER_MAP; i++)
    {
        const int32_t action = new_map_action(NONE);
        map_action *record = get_map_action(action);
        record->tag = state.range(0) ? FOUR_CHARACTER_CODE('m', 'a', 't', 'h') : NONE;
        record->flags = _map_action_initially_active_flag | _map_action_no_initial_delay_flag;
        record->deactivation_mode = _map_action_deactivates_never;
        const int16_t self = record->identifier;
        const int32_t field = FOUR_CHARACTER_CODE('r', 'e', 's', 'u'), one = 1;
        set_unique_map_action_parameter(action, FOUR_CHARACTER_CODE('l', 'a', 'c', 't'), _parameter_action_identifier, 1, &self);
        set_unique_map_action_parameter(action, FOUR_CHARACTER_CODE('l', 'f', 'l', 'd'), _parameter_field_name, 1, &field);
        set_unique_map_action_parameter(action, FOUR_CHARACTER_CODE('r', 'i', 'n', 't'), _parameter_integer, 1, &one);
        set_unique_map_action_parameter(action, FOUR_CHARACTER_CODE('+', '_', '_', '_'), _parameter_flag, 0, nullptr);
    }
    for (auto _ : state)
    {
        update_map_actions();
        game_->game_time += MAP_ACTION_FREQUENCY;
    }
    state.counters["buffer_bytes"] = get_map_action_parameter_buffer_size();
    // The pass of 'math' counters is held to 0.2 ms (the time column, in ms).
    if (state.range(0)) state.counters["ms_target"] = 0.2;
    dispose_map_actions_from_old_map();
}
BENCHMARK(BM_script_pass_of_1024_actions)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

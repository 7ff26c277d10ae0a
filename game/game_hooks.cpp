// The hook table's storage and registration.

#include "game_hooks.h"

#include <cstring>

#include "game_states.h"

static struct game_hooks_globals
{
    startup_procedure startup[NUMBER_OF_STARTUP_STEPS];
    map_initialize_procedure map_initialize[NUMBER_OF_MAP_STEPS];
    map_dispose_procedure map_dispose[NUMBER_OF_MAP_STEPS];
    map_initialize_procedure store_initialize[NUMBER_OF_STARTUP_STEPS];
    map_dispose_procedure store_dispose[NUMBER_OF_STARTUP_STEPS];
    tick_procedure tick[NUMBER_OF_TICK_STEPS];
    action_procedure action[NUMBER_OF_ACTION_CONSUMERS];
    game_state_procedure state_entry[NUMBER_OF_GAME_STATES];
    game_state_procedure state_exit[NUMBER_OF_GAME_STATES];
    core_procedures core;
} game_hooks_globals;

static const char *const startup_step_names[NUMBER_OF_STARTUP_STEPS] = {
    "definitions registry and error state", "preloading", "power-user settings", "screenshots", "cutscenes",
    "collections", "strings", "fonts", "game record", "plug-in component preferences", "tag files",
    "single-instance lock", "input definitions", "world tables", "renderer", "interface", "console",
    "overhead map", "fades", "media", "models", "markers", "objects", "scenery", "projectiles", "units",
    "explosions", "players", "statistics", "flags", "mesh effects", "map actions", "particles", "wind",
    "commands", "recording", "detail maps", "mesh", "lightning", "connectors", "fire", "local projectiles",
    "model animations", "key bindings", "game preferences", "screen", "actions", "observer", "formations",
    "sound manager", "sound lists", "game sounds", "model effects", "overhead text",
};

// Stores `procedure` into `*slot` unless another holds it.  The table is
// generic over the procedure type; every caller passes its own slot array.
template <typename P>
static bool store_hook(const char *table, int32_t index, int32_t count, P *slots, P procedure)
{
    if (index < 0 || index >= count)
    {
        log_message(__FILE__, __LINE__, "%s hook %d out of range (0..%d)", table, index, count - 1);
        return false;
    }
    if (procedure && slots[index] && slots[index] != procedure)
    {
        log_message(__FILE__, __LINE__, "%s hook %d is taken already", table, index);
        return false;
    }
    slots[index] = procedure;
    return true;
}

template <typename P>
static P load_hook(int32_t index, int32_t count, P const *slots)
{
    return (index >= 0 && index < count) ? slots[index] : nullptr;
}

bool register_startup_procedure(int32_t step, startup_procedure procedure)
{
    return store_hook("start-up", step, NUMBER_OF_STARTUP_STEPS, game_hooks_globals.startup, procedure);
}

// A pair of slots (initialize and dispose, entry and exit): both procedures
// belong to one owner, so neither is stored unless both may be.
template <typename A, typename B>
static bool store_hook_pair(const char *table, int32_t index, int32_t count, A *firsts, B *seconds, A first,
                            B second)
{
    if (index < 0 || index >= count || (first && firsts[index] && firsts[index] != first) ||
        (second && seconds[index] && seconds[index] != second))
    {
        log_message(__FILE__, __LINE__, "%s hook %d out of range or taken", table, index);
        return false;
    }
    firsts[index] = first;
    seconds[index] = second;
    return true;
}

bool register_map_procedures(int32_t step, map_initialize_procedure initialize, map_dispose_procedure dispose)
{
    return store_hook_pair("map", step, NUMBER_OF_MAP_STEPS, game_hooks_globals.map_initialize,
                           game_hooks_globals.map_dispose, initialize, dispose);
}

bool register_map_store_procedures(int32_t startup_step, map_initialize_procedure initialize,
                                   map_dispose_procedure dispose)
{
    return store_hook_pair("map store", startup_step, NUMBER_OF_STARTUP_STEPS, game_hooks_globals.store_initialize,
                           game_hooks_globals.store_dispose, initialize, dispose);
}

bool register_tick_procedure(int32_t step, tick_procedure procedure)
{
    return store_hook("tick", step, NUMBER_OF_TICK_STEPS, game_hooks_globals.tick, procedure);
}

bool register_action_procedure(int32_t consumer, action_procedure procedure)
{
    return store_hook("action", consumer, NUMBER_OF_ACTION_CONSUMERS, game_hooks_globals.action, procedure);
}

bool register_game_state_procedures(int16_t state, game_state_procedure entry, game_state_procedure exit)
{
    return store_hook_pair("game state", state, NUMBER_OF_GAME_STATES, game_hooks_globals.state_entry,
                           game_hooks_globals.state_exit, entry, exit);
}

void register_core_procedures(const core_procedures *procedures)
{
    // Field by field: a later subsystem fills only what it provides.
    core_procedures *core = &game_hooks_globals.core;
#define TAKE(field) if (procedures->field) core->field = procedures->field
    TAKE(set_keyboard_queue_task_state);
    TAKE(start_network_module_manager);
    TAKE(verify_required_patches);
    TAKE(close_all_dialogs);
    TAKE(platform_specific_update);
    TAKE(update_metaserver);
    TAKE(vesk_net_process);
    TAKE(flush_actions);
    TAKE(set_screen_parameters_for_new_state);
    TAKE(update_actions);
    TAKE(draw_frame);
    TAKE(update_sound_manager);
    TAKE(report_pending_error);
    TAKE(update_replay);
    TAKE(queue_local_commands);
    TAKE(queue_sync_command);
    TAKE(replay_over);
    TAKE(begin_film_from_path);
    TAKE(find_oos_checker_films);
    TAKE(begin_oos_checker_film);
    TAKE(out_of_sync);
    TAKE(map_exists);
    TAKE(print_to_console);
#undef TAKE
}

startup_procedure get_startup_procedure(int32_t step)
{
    return load_hook(step, NUMBER_OF_STARTUP_STEPS, game_hooks_globals.startup);
}

const char *startup_step_name(int32_t step)
{
    return (step >= 0 && step < NUMBER_OF_STARTUP_STEPS) ? startup_step_names[step] : "unknown";
}

map_initialize_procedure get_map_initialize_procedure(int32_t step)
{
    return load_hook(step, NUMBER_OF_MAP_STEPS, game_hooks_globals.map_initialize);
}

map_dispose_procedure get_map_dispose_procedure(int32_t step)
{
    return load_hook(step, NUMBER_OF_MAP_STEPS, game_hooks_globals.map_dispose);
}

map_initialize_procedure get_map_store_initialize_procedure(int32_t startup_step)
{
    return load_hook(startup_step, NUMBER_OF_STARTUP_STEPS, game_hooks_globals.store_initialize);
}

map_dispose_procedure get_map_store_dispose_procedure(int32_t startup_step)
{
    return load_hook(startup_step, NUMBER_OF_STARTUP_STEPS, game_hooks_globals.store_dispose);
}

tick_procedure get_tick_procedure(int32_t step)
{
    return load_hook(step, NUMBER_OF_TICK_STEPS, game_hooks_globals.tick);
}

action_procedure get_action_procedure(int32_t consumer)
{
    return load_hook(consumer, NUMBER_OF_ACTION_CONSUMERS, game_hooks_globals.action);
}

game_state_procedure get_game_state_entry_procedure(int16_t state)
{
    return load_hook<game_state_procedure>(state, NUMBER_OF_GAME_STATES, game_hooks_globals.state_entry);
}

game_state_procedure get_game_state_exit_procedure(int16_t state)
{
    return load_hook<game_state_procedure>(state, NUMBER_OF_GAME_STATES, game_hooks_globals.state_exit);
}

const core_procedures *get_core_procedures(void)
{
    return &game_hooks_globals.core;
}

void reset_game_hooks(void)
{
    memset(&game_hooks_globals, 0, sizeof(game_hooks_globals));
}

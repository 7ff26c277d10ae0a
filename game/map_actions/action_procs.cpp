// The table of action procedures and its lookup.

#include "action_procs.h"

#include "cseries/registration.h"
#include "effect_action_procs.h"
#include "harass_action_proc.h"
#include "invisible_and_lightning_action_procs.h"
#include "legion_action_proc.h"
#include "monster_ambient_life.h"
#include "netgame_action_procs.h"
#include "query_sound_suicide_action_procs.h"
#include "unit_behaviour_action_procs.h"
#include "world_knot_action_procs.h"

#include "flow_control_action_procs.h"
#include "gameplay_versions.h"
#include "geometry_filter_action_proc.h"
#include "group_action_procs.h"
#include "group_movement_action_procs.h"
#include "map_action_parameters.h"
#include "math_action_proc.h"
#include "platoon_movement_action_proc.h"
#include "test_units_action_proc.h"
#include "unit_control_action_proc.h"
#include "unit_order_action_procs.h"
#include "world_action_procs.h"

static procedure_slot<observer_movement_action_procedure> observer_movement_slot("observer movement action");

// The 'obmo' row: the camera's procedure once player control registered it.
static uint32_t observer_movement_row(int32_t action_index)
{
    const observer_movement_action_procedure procedure = observer_movement_slot.get();
    if (procedure) return procedure(action_index);
    map_action_debug(action_index, "no camera");
    return 0;
}

bool register_observer_movement_action_procedure(observer_movement_action_procedure procedure)
{
    return observer_movement_slot.fill(procedure);
}

// A row whose name is its procedure's own.
#define ACTION_PROC_ROW(a, b, c, d, procedure, version, flags) \
    {FOUR_CHARACTER_CODE(a, b, c, d), procedure, #procedure, version, flags}

// Sorted by tag as unsigned four-character codes, so a bisection finds a row.
static constexpr registered_map_action_proc registered_map_action_procs[] = {
    ACTION_PROC_ROW('a', 'c', 'l', 'i', action_list_action_proc, 0, 0),
    ACTION_PROC_ROW('a', 'm', 'b', 'i', ambient_sound_action_proc, 0, _map_action_proc_local_flag),
    ACTION_PROC_ROW('a', 'n', 'i', 'm', model_animation_action_proc, 0, 0),
    ACTION_PROC_ROW('a', 's', 's', 'a', assassin_action_proc, 0, 0),
    ACTION_PROC_ROW('a', 't', 't', 'a', attack_command_action_proc, 0, 0),
    ACTION_PROC_ROW('b', 'e', 'a', 'r', bear_action_proc, 1720, 0),
    ACTION_PROC_ROW('c', 'h', 'i', 'c', chicken_action_proc, 0, 0),
    ACTION_PROC_ROW('c', 't', 'r', 'l', unit_control_action_proc, 0, 0),
    ACTION_PROC_ROW('d', 'e', 'e', 'r', deer_action_proc, 0, 0),
    ACTION_PROC_ROW('d', 'e', 'l', 'a', delay_action_proc, 0, 0),
    ACTION_PROC_ROW('e', 'n', 'd', '2', custom_endgame_action_proc, 1720, 0),
    ACTION_PROC_ROW('e', 'n', 'd', 'g', endgame_action_proc, 0, 0),
    ACTION_PROC_ROW('f', 'a', 'd', 'e', ingame_fade_action_proc, 1600, _map_action_proc_local_flag),
    ACTION_PROC_ROW('f', 'o', 'l', 'l', follow_action_proc, 0, 0),
    ACTION_PROC_ROW('g', 'e', 'n', 'e', general_command_action_proc, 0, 0),
    ACTION_PROC_ROW('g', 'e', 'o', 'm', geometry_filter_action_proc, 0, 0),
    ACTION_PROC_ROW('g', 'i', 'r', 'l', harass_action_proc, 0, 0),
    ACTION_PROC_ROW('g', 'o', 'a', 'l', goal_action_proc, 0, 0),
    ACTION_PROC_ROW('g', 'r', 'o', 'u', group_action_proc, 0, 0),
    ACTION_PROC_ROW('g', 'u', 'a', 'r', guard_group_action_proc, 0, 0),
    ACTION_PROC_ROW('i', 'n', 'v', 'i', invisible_action_proc, 0, 0),
    ACTION_PROC_ROW('k', 'n', 'o', 't', world_knot_action_proc, 0, 0),
    ACTION_PROC_ROW('l', 'e', 'a', 'd', lead_action_proc, 0, 0),
    ACTION_PROC_ROW('l', 'e', 'g', 'i', legion_action_proc, 0, 0),
    ACTION_PROC_ROW('l', 'i', 'g', 'h', lightning_action_proc, 0, 0),
    ACTION_PROC_ROW('l', 'o', 'c', 'k', lock_action_proc, 0, 0),
    ACTION_PROC_ROW('l', 'o', 'o', 'k', look_action_proc, 0, 0),
    ACTION_PROC_ROW('l', 'p', 'g', 'r', local_projectile_group_action_proc, 0, _map_action_proc_local_flag),
    ACTION_PROC_ROW('m', 'a', 't', 'h', math_action_proc, 1600, 0),
    ACTION_PROC_ROW('m', 'e', 'a', 'n', meander_action_proc, 0, 0),
    ACTION_PROC_ROW('m', 'e', 'c', 'e', mesh_cell_action_proc, 0, 0),
    ACTION_PROC_ROW('m', 'e', 'l', 'e', melee_action_proc, 0, 0),
    ACTION_PROC_ROW('m', 'i', 's', 's', mission_action_proc, 0, 0),
    ACTION_PROC_ROW('m', 'o', 'e', 'f', model_effect_action_proc, 0, 0),
    ACTION_PROC_ROW('m', 'o', 'm', 'a', move_marker_action_proc, 0, 0),
    ACTION_PROC_ROW('m', 'o', 'v', 'e', movement_command_action_proc, 0, 0),
    ACTION_PROC_ROW('m', 'u', 'n', 'g', munger_action_proc, 0, 0),
    ACTION_PROC_ROW('n', 'g', 't', 'y', game_type_action_proc, 0, 0),
    ACTION_PROC_ROW('o', 'b', 'c', 'o', object_control_action_proc, 0, 0),
    {FOUR_CHARACTER_CODE('o', 'b', 'm', 'o'), observer_movement_row, "observer_movement_action_proc", 0, _map_action_proc_local_flag},
    ACTION_PROC_ROW('p', 'a', 'r', 't', particle_system_action_proc, 0, 0),
    ACTION_PROC_ROW('p', 'e', 'a', 's', peasant_action_proc, 0, 0),
    ACTION_PROC_ROW('p', 'i', 'c', 'k', pick_up_object_action_proc, 0, 0),
    ACTION_PROC_ROW('p', 'l', 'a', 'n', netgame_time_action_proc, 0, 0),
    ACTION_PROC_ROW('p', 'l', 'a', 't', platoon_action_proc, 0, 0),
    ACTION_PROC_ROW('p', 'l', 'm', 'o', platoon_movement_action_proc, 0, 0),
    ACTION_PROC_ROW('p', 'l', 's', 'c', platoon_movement_action_proc, 0, 0),
    ACTION_PROC_ROW('p', 'l', 'y', 'c', player_count_action_proc, 0, 0),
    ACTION_PROC_ROW('q', 'u', 'n', 'i', query_units_action_proc, 1720, 0),
    ACTION_PROC_ROW('r', 'o', 'u', 't', rout_action_proc, 0, 0),
    ACTION_PROC_ROW('s', 'c', 'o', 'r', custom_scoring_action_proc, 1720, 0),
    ACTION_PROC_ROW('s', 'h', 'a', 'm', shaman_action_proc, 0, 0),
    ACTION_PROC_ROW('s', 'n', 'i', 'f', sniffer_action_proc, 0, 0),
    ACTION_PROC_ROW('s', 'o', 'a', 'r', soaring_action_proc, 0, 0),
    ACTION_PROC_ROW('s', 'o', 'u', 'n', sound_action_proc, 0, _map_action_proc_local_flag),
    ACTION_PROC_ROW('s', 'p', 'u', 'p', split_up_group_action_proc, 0, 0),
    ACTION_PROC_ROW('s', 'q', 'u', 'a', squad_action_proc, 0, 0),
    ACTION_PROC_ROW('s', 'u', 'i', 'c', suicide_action_proc, 0, 0),
    ACTION_PROC_ROW('s', 'u', 'r', 'r', surround_action_proc, 0, 0),
    ACTION_PROC_ROW('t', 'u', 'n', 'i', test_units_action_proc, 0, 0),
    ACTION_PROC_ROW('u', 'i', 'n', 'd', unit_indicators_action_proc, 1720, _map_action_proc_local_flag),
    ACTION_PROC_ROW('w', 'a', 'n', 'd', wander_action_proc, 0, 0),
};
#undef ACTION_PROC_ROW
static_assert(NUMBER_OF(registered_map_action_procs) == NUMBER_OF_REGISTERED_MAP_ACTION_PROCS);

static constexpr bool rows_are_sorted(const registered_map_action_proc *rows, int32_t count)
{
    for (int32_t i = 1; i < count; i++)
        if ((uint32_t)rows[i - 1].tag >= (uint32_t)rows[i].tag) return false;
    return true;
}
static_assert(rows_are_sorted(registered_map_action_procs, NUMBER_OF_REGISTERED_MAP_ACTION_PROCS));

static struct action_proc_globals
{
    const registered_map_action_proc *rows;
    int32_t count;
    // A script pass asks for the same few tags over and over: the last
    // answer is kept for its tag and gameplay version, until the table changes.
    action_tag last_tag;
    int32_t last_gameplay_version;
    const registered_map_action_proc *last_row;
} action_proc_globals = {registered_map_action_procs, NUMBER_OF_REGISTERED_MAP_ACTION_PROCS, NONE, 0, nullptr};

void initialize_action_procs(void)
{
    action_proc_globals.rows = registered_map_action_procs;
    action_proc_globals.count = NUMBER_OF_REGISTERED_MAP_ACTION_PROCS;
    action_proc_globals.last_tag = NONE;
}

static const registered_map_action_proc *search_action_proc(action_tag tag)
{
    int32_t low = 0, high = action_proc_globals.count;
    while (low < high)
    {
        const int32_t middle = low + (high - low) / 2;
        if ((uint32_t)action_proc_globals.rows[middle].tag < (uint32_t)tag)
            low = middle + 1;
        else
            high = middle;
    }
    if (low >= action_proc_globals.count) return nullptr;
    const registered_map_action_proc *row = &action_proc_globals.rows[low];
    if (row->tag != tag) return nullptr;
    if (!(current_gameplay_version > row->implemented_after_gameplay_version)) return nullptr;
    return row;
}

const registered_map_action_proc *action_tag_to_action_proc(action_tag tag)
{
    if (tag == action_proc_globals.last_tag && current_gameplay_version == action_proc_globals.last_gameplay_version &&
        tag != NONE)
        return action_proc_globals.last_row;
    const registered_map_action_proc *row = search_action_proc(tag);
    action_proc_globals.last_tag = tag;
    action_proc_globals.last_gameplay_version = current_gameplay_version;
    action_proc_globals.last_row = row;
    return row;
}

const registered_map_action_proc *get_registered_map_action_procs(int32_t *count)
{
    if (count) *count = NUMBER_OF_REGISTERED_MAP_ACTION_PROCS;
    return registered_map_action_procs;
}

void set_action_proc_table_for_tests(const registered_map_action_proc *rows, int32_t count)
{
    if (!rows || count <= 0 || !VASSERT(rows_are_sorted(rows, count), "action procedure rows out of order"))
    {
        initialize_action_procs();
        return;
    }
    action_proc_globals.rows = rows;
    action_proc_globals.count = count;
    action_proc_globals.last_tag = NONE;
}

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

// Sorted by tag as unsigned four-character codes, so a bisection finds a row.
static constexpr registered_map_action_proc registered_map_action_procs[] = {
    {FOUR_CHARACTER_CODE('a', 'c', 'l', 'i'), action_list_action_proc, "action_list_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('a', 'm', 'b', 'i'), ambient_sound_action_proc, "ambient_sound_action_proc", 0, _map_action_proc_local_flag},
    {FOUR_CHARACTER_CODE('a', 'n', 'i', 'm'), model_animation_action_proc, "model_animation_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('a', 's', 's', 'a'), assassin_action_proc, "assassin_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('a', 't', 't', 'a'), attack_command_action_proc, "attack_command_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('b', 'e', 'a', 'r'), bear_action_proc, "bear_action_proc", 1720, 0},
    {FOUR_CHARACTER_CODE('c', 'h', 'i', 'c'), chicken_action_proc, "chicken_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('c', 't', 'r', 'l'), unit_control_action_proc, "unit_control_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('d', 'e', 'e', 'r'), deer_action_proc, "deer_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('d', 'e', 'l', 'a'), delay_action_proc, "delay_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('e', 'n', 'd', '2'), custom_endgame_action_proc, "custom_endgame_action_proc", 1720, 0},
    {FOUR_CHARACTER_CODE('e', 'n', 'd', 'g'), endgame_action_proc, "endgame_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('f', 'a', 'd', 'e'), ingame_fade_action_proc, "ingame_fade_action_proc", 1600, _map_action_proc_local_flag},
    {FOUR_CHARACTER_CODE('f', 'o', 'l', 'l'), follow_action_proc, "follow_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('g', 'e', 'n', 'e'), general_command_action_proc, "general_command_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('g', 'e', 'o', 'm'), geometry_filter_action_proc, "geometry_filter_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('g', 'i', 'r', 'l'), harass_action_proc, "harass_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('g', 'o', 'a', 'l'), goal_action_proc, "goal_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('g', 'r', 'o', 'u'), group_action_proc, "group_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('g', 'u', 'a', 'r'), guard_group_action_proc, "guard_group_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('i', 'n', 'v', 'i'), invisible_action_proc, "invisible_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('k', 'n', 'o', 't'), world_knot_action_proc, "world_knot_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('l', 'e', 'a', 'd'), lead_action_proc, "lead_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('l', 'e', 'g', 'i'), legion_action_proc, "legion_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('l', 'i', 'g', 'h'), lightning_action_proc, "lightning_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('l', 'o', 'c', 'k'), lock_action_proc, "lock_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('l', 'o', 'o', 'k'), look_action_proc, "look_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('l', 'p', 'g', 'r'), local_projectile_group_action_proc, "local_projectile_group_action_proc", 0, _map_action_proc_local_flag},
    {FOUR_CHARACTER_CODE('m', 'a', 't', 'h'), math_action_proc, "math_action_proc", 1600, 0},
    {FOUR_CHARACTER_CODE('m', 'e', 'a', 'n'), meander_action_proc, "meander_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('m', 'e', 'c', 'e'), mesh_cell_action_proc, "mesh_cell_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('m', 'e', 'l', 'e'), melee_action_proc, "melee_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('m', 'i', 's', 's'), mission_action_proc, "mission_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('m', 'o', 'e', 'f'), model_effect_action_proc, "model_effect_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('m', 'o', 'm', 'a'), move_marker_action_proc, "move_marker_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('m', 'o', 'v', 'e'), movement_command_action_proc, "movement_command_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('m', 'u', 'n', 'g'), munger_action_proc, "munger_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('n', 'g', 't', 'y'), game_type_action_proc, "game_type_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('o', 'b', 'c', 'o'), object_control_action_proc, "object_control_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('o', 'b', 'm', 'o'), observer_movement_row, "observer_movement_action_proc", 0, _map_action_proc_local_flag},
    {FOUR_CHARACTER_CODE('p', 'a', 'r', 't'), particle_system_action_proc, "particle_system_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'e', 'a', 's'), peasant_action_proc, "peasant_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'i', 'c', 'k'), pick_up_object_action_proc, "pick_up_object_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'l', 'a', 'n'), netgame_time_action_proc, "netgame_time_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'l', 'a', 't'), platoon_action_proc, "platoon_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'l', 'm', 'o'), platoon_movement_action_proc, "platoon_movement_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'l', 's', 'c'), platoon_movement_action_proc, "platoon_movement_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('p', 'l', 'y', 'c'), player_count_action_proc, "player_count_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('q', 'u', 'n', 'i'), query_units_action_proc, "query_units_action_proc", 1720, 0},
    {FOUR_CHARACTER_CODE('r', 'o', 'u', 't'), rout_action_proc, "rout_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('s', 'c', 'o', 'r'), custom_scoring_action_proc, "custom_scoring_action_proc", 1720, 0},
    {FOUR_CHARACTER_CODE('s', 'h', 'a', 'm'), shaman_action_proc, "shaman_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('s', 'n', 'i', 'f'), sniffer_action_proc, "sniffer_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('s', 'o', 'a', 'r'), soaring_action_proc, "soaring_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('s', 'o', 'u', 'n'), sound_action_proc, "sound_action_proc", 0, _map_action_proc_local_flag},
    {FOUR_CHARACTER_CODE('s', 'p', 'u', 'p'), split_up_group_action_proc, "split_up_group_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('s', 'q', 'u', 'a'), squad_action_proc, "squad_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('s', 'u', 'i', 'c'), suicide_action_proc, "suicide_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('s', 'u', 'r', 'r'), surround_action_proc, "surround_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('t', 'u', 'n', 'i'), test_units_action_proc, "test_units_action_proc", 0, 0},
    {FOUR_CHARACTER_CODE('u', 'i', 'n', 'd'), unit_indicators_action_proc, "unit_indicators_action_proc", 1720, _map_action_proc_local_flag},
    {FOUR_CHARACTER_CODE('w', 'a', 'n', 'd'), wander_action_proc, "wander_action_proc", 0, 0},
};
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
} action_proc_globals = {registered_map_action_procs, NUMBER_OF_REGISTERED_MAP_ACTION_PROCS};

void initialize_action_procs(void)
{
    action_proc_globals.rows = registered_map_action_procs;
    action_proc_globals.count = NUMBER_OF_REGISTERED_MAP_ACTION_PROCS;
}

const registered_map_action_proc *action_tag_to_action_proc(action_tag tag)
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
}

// 'mele': leads a band at the best enemy supergroup (nearest, or stronger and
// not much farther while approaching) and hands it to the attack AI once the
// supergroup is within the band's own radius.

#include "world_action_procs.h"

#include <cstddef>
#include <cstring>

#include "action_procs.h"
#include "attack_ai.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "monster_commands.h"
#include "monsters.h"
#include "players.h"
#include "spatial_groups.h"
#include "world_action_procs_internal.h"

enum
{
    MAXIMUM_MELEE_MONSTERS = 400,
    MINIMUM_MELEE_ATTACK_RADIUS = 512,
    DEFAULT_MELEE_POWER_OVER_DISTANCE_THRESHHOLD = 1536,
};

enum melee_state
{
    _melee_no_target = -1,
    _melee_approaching = 0,
    _melee_attacking = 1,
};

enum melee_flag_bits
{
    _melee_initialized_flag = 1,
};

// The run-time record stored in the action's '#glo' entry (host order).
struct melee_globals
{
    uint32_t flags; // melee_flag_bits
    int16_t action_index;
    int16_t state; // melee_state
    int32_t formation_index;
    world_distance power_over_distance_threshhold;
};
static_assert(sizeof(melee_globals) == 16);
static_assert(offsetof(melee_globals, action_index) == 4);
static_assert(offsetof(melee_globals, state) == 6);
static_assert(offsetof(melee_globals, formation_index) == 8);
static_assert(offsetof(melee_globals, power_over_distance_threshhold) == 12);

static void new_melee_globals(int32_t action_index, melee_globals *globals)
{
    memset(globals, 0, sizeof(*globals));
    globals->action_index = (int16_t)action_index;
    globals->state = _melee_approaching;
    if (!first_long(action_index, field('f', 'o', 'r', 'm'), _parameter_integer, &globals->formation_index))
        globals->formation_index = 0;
    if (!first_long(action_index, field('d', 'i', 't', 'h'), _parameter_world_distance,
                    &globals->power_over_distance_threshhold))
        globals->power_over_distance_threshhold = DEFAULT_MELEE_POWER_OVER_DISTANCE_THRESHHOLD;
}

// Whether one of the supergroup's groups (with units) holds one of the
// targets; below 1301 any such group will do.
static bool supergroup_holds_a_target(const spatial_supergroup *supergroup, const int16_t *targets,
                                      int32_t target_count)
{
    for (const spatial_group *group = first_spatial_group(); group; group = group->next_group)
    {
        if (!(group->flags & _spatial_group_in_supergroup) || group->owner_supergroup != supergroup ||
            group->monster_count < 1)
            continue;
        if (current_gameplay_version < 1301) return true;
        for (int32_t i = 0; i < group->monster_count; i++)
            if (list_holds(targets, target_count, group->monster_indexes[i])) return true;
    }
    return false;
}

// The distance the choice weighs: the larger axis and half the smaller,
// less the supergroup's radius.
static int32_t supergroup_distance(const spatial_supergroup *supergroup, const world_point2d *centre)
{
    int32_t dx = supergroup->center.x - centre->x, dy = supergroup->center.y - centre->y;
    if (dx < 0) dx = -dx;
    if (dy < 0) dy = -dy;
    return (dx > dy ? dx + dy / 2 : dy + dx / 2) - supergroup->radius;
}

uint32_t melee_action_proc(int32_t action_index)
{
    melee_globals globals;
    const field_tag globals_name = _common_internal_field_name_globals;
    if (!get_map_action_structure(action_index, globals_name, sizeof(globals), &globals))
        new_melee_globals(action_index, &globals);
    VASSERT(action_index == globals.action_index, "action_index==globals.action_index");

    int16_t band[MAXIMUM_MELEE_MONSTERS];
    const int32_t band_count = named_units(action_index, _common_field_name_subject, band, MAXIMUM_MELEE_MONSTERS);
    int16_t targets[MAXIMUM_MELEE_MONSTERS];
    const int32_t target_count = named_units(action_index, _common_field_name_object, targets, MAXIMUM_MELEE_MONSTERS);
    if (band_count < 1) return _map_action_proc_deactivate_flag;
    const int32_t team = get_monster_data(band[0])->owner_team_index;
    world_point2d centre;
    world_distance radius = get_centerpoint_of_monster_indexes(band_count, band, &centre);
    if (radius < MINIMUM_MELEE_ATTACK_RADIUS) radius = MINIMUM_MELEE_ATTACK_RADIUS;

    const spatial_supergroup *choice = nullptr;
    int32_t choice_distance = 0;
    for (const spatial_supergroup *supergroup = first_spatial_supergroup(); supergroup; supergroup = supergroup->next)
    {
        if (supergroup->team_index == team || teams_are_allied(team, supergroup->team_index)) continue;
        const int32_t distance = supergroup_distance(supergroup, &centre);
        const bool better =
            !choice || distance < choice_distance ||
            (globals.state != _melee_attacking && choice->power < supergroup->power &&
             (int64_t)distance - globals.power_over_distance_threshhold < choice_distance);
        if (better && (target_count == 0 || supergroup_holds_a_target(supergroup, targets, target_count)))
        {
            choice = supergroup;
            choice_distance = distance;
        }
    }

    if (!choice)
        globals.state = _melee_no_target;
    else if (choice_distance < radius)
    {
        attack_ai_configuration configuration;
        new_attack_ai_configuration(&configuration);
        attack_with_monster_indexes(&configuration, band_count, band);
        globals.state = _melee_attacking;
    }
    else
    {
        command_movement_data command;
        memset(&command, 0, sizeof(command));
        command.flags = _command_movement_formation_flag;
        command.formation_index = (int16_t)globals.formation_index;
        const int32_t limit = maximum_units_per_command();
        handle_movement_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &command,
                                band_count < limit ? band_count : limit, band, 1, &choice->center);
        globals.state = _melee_approaching;
    }
    globals.flags |= _melee_initialized_flag;
    set_unique_map_action_parameter(action_index, globals_name, _parameter_character, sizeof(globals), &globals);
    return 0;
}

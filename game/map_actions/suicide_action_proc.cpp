// 'suic': a band of units that blow themselves up among enemies.  They keep
// away from friends and from enemy missile units in range, close on the best
// enemy supergroup and detonate when enough enemies stand near.

#include "query_sound_suicide_action_procs.h"

#include <cstddef>
#include <cstring>

#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "map_actions.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_hiding.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "script_math.h"
#include "spatial_groups.h"
#include "tag_files/data.h"
#include "vesk_random.h"
#include "world_action_procs_internal.h"

enum
{
    MAXIMUM_SUICIDE_UNITS = 64,
    SUICIDE_COUNT_CELL_RADIUS = 2, // the 5 x 5 cells around the unit's cell
    MAXIMUM_MISSILE_THREAT_MARGIN = 16383,
};

enum suicide_globals_flags : uint32_t
{
    _globals_initialized_bit = 0,
    _globals_dumb_bit = 1,
};

enum suicide_mode
{
    _action_idle = -1,
    _action_avoid = 0,
    _action_avoid_friendly,
    _action_advance,
    _action_detonate,
};

enum suicide_field : field_tag
{
    _suicide_field_name_globals = _common_internal_field_name_globals,
    _suicide_field_name_subject = FOUR_CHARACTER_CODE('s', 'u', 'b', 'j'),
    _suicide_field_name_inhibition = FOUR_CHARACTER_CODE('s', 'u', 'i', 'n'),
    _suicide_field_name_delay = FOUR_CHARACTER_CODE('d', 'e', 'l', 'a'),
    _suicide_field_name_casualty = FOUR_CHARACTER_CODE('c', 'a', 's', 'u'),
    _suicide_field_name_dumb = FOUR_CHARACTER_CODE('d', 'u', 'm', 'b'),
    _suicide_field_name_visibility_radius = FOUR_CHARACTER_CODE('r', 'a', 'd', 'i'),
    _suicide_field_name_fear_duration = FOUR_CHARACTER_CODE('f', 'e', 'd', 'u'),
    _suicide_field_name_detonation_threshhold = FOUR_CHARACTER_CODE('d', 'e', 't', 'h'),
    _suicide_field_name_minimum_power_threshhold = FOUR_CHARACTER_CODE('m', 'i', 'p', 't'),
    _suicide_field_name_power_over_distance_threshhold = FOUR_CHARACTER_CODE('d', 'i', 't', 'h'),
    _suicide_field_name_detonation_radius = FOUR_CHARACTER_CODE('d', 'e', 'r', 'a'),
};

// The run-time record stored in the action's '#glo' entry (host order, as
// every script's run-time record).
struct suicide_unit_data
{
    int16_t monster_index; // NONE until placed
    int16_t monster_identifier; // the marker's until placed, then the unit's
    int16_t fear_countdown;
    int16_t delay; // triggers before the unit is placed
};
static_assert(sizeof(suicide_unit_data) == 8);

struct suicide_globals
{
    uint32_t flags;
    int16_t action_index;
    int16_t inhibition_action_index;
    world_distance visibility_radius;
    int32_t fear_duration;
    int32_t detonation_threshhold;
    fixed minimum_power_threshhold;
    world_distance power_over_distance_threshhold;
    world_distance detonation_radius;
    int16_t reserved;
    int16_t unit_count;
    suicide_unit_data units[MAXIMUM_SUICIDE_UNITS];
};
static_assert(sizeof(suicide_globals) == 548);
static_assert(offsetof(suicide_globals, inhibition_action_index) == 6);
static_assert(offsetof(suicide_globals, visibility_radius) == 8);
static_assert(offsetof(suicide_globals, minimum_power_threshhold) == 20);
static_assert(offsetof(suicide_globals, detonation_radius) == 28);
static_assert(offsetof(suicide_globals, unit_count) == 34);
static_assert(offsetof(suicide_globals, units) == 36);

static void read_long(int32_t action_index, field_tag name, int16_t type, int32_t *value)
{
    int32_t read;
    if (first_long(action_index, name, type, &read)) *value = read;
}

static void new_suicide_globals(int32_t action_index, suicide_globals *globals)
{
    memset(globals, 0, sizeof(*globals));
    globals->action_index = (int16_t)action_index;
    globals->inhibition_action_index = NONE;
    globals->visibility_radius = 25600;
    globals->fear_duration = 20;
    globals->detonation_threshhold = 3;
    globals->minimum_power_threshhold = 65536;
    globals->power_over_distance_threshhold = 3072;
    globals->detonation_radius = 4096;
    read_long(action_index, _suicide_field_name_visibility_radius, _parameter_world_distance,
              &globals->visibility_radius);
    read_long(action_index, _suicide_field_name_fear_duration, _parameter_integer, &globals->fear_duration);
    read_long(action_index, _suicide_field_name_detonation_threshhold, _parameter_integer,
              &globals->detonation_threshhold);
    read_long(action_index, _suicide_field_name_power_over_distance_threshhold, _parameter_world_distance,
              &globals->power_over_distance_threshhold);
    read_long(action_index, _suicide_field_name_detonation_radius, _parameter_world_distance,
              &globals->detonation_radius);
    read_long(action_index, _suicide_field_name_minimum_power_threshhold, _parameter_fixed,
              &globals->minimum_power_threshhold);
    int16_t inhibition;
    if (first_short(action_index, _suicide_field_name_inhibition, _parameter_action_identifier, &inhibition))
        globals->inhibition_action_index = (int16_t)action_identifier_to_action_index(inhibition);
    int32_t maximum_delay = 0;
    read_long(action_index, _suicide_field_name_delay, _parameter_integer, &maximum_delay);
    if (has_flag(action_index, _suicide_field_name_dumb))
    {
        globals->flags |= 1u << _globals_dumb_bit;
        map_action_debug(action_index, "these guys are dumb!");
    }

    int16_t identifiers[MAXIMUM_SUICIDE_UNITS];
    const int32_t count = get_combined_map_action_parameter(action_index, _suicide_field_name_subject,
                                                            _parameter_monster_identifier, identifiers,
                                                            MAXIMUM_SUICIDE_UNITS);
    for (int32_t i = 0; i < count; i++)
    {
        suicide_unit_data *unit = &globals->units[i];
        unit->monster_index = NONE;
        unit->monster_identifier = identifiers[i];
        unit->fear_countdown = 0;
        if (maximum_delay > 0) unit->delay = to_i16((int32_t)(((int64_t)vesk_random() * maximum_delay) >> 16));
    }
    globals->unit_count = (int16_t)count;
    map_action_debug(action_index, "#%d suicide monsters active", count);
}

static const object_data *unit_object(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    return monster ? get_object(monster->object_index) : nullptr;
}

static int32_t absolute(int32_t value) { return value < 0 ? (int32_t)(0u - (uint32_t)value) : value; }

// max(|dx|, |dy|) + min(|dx|, |dy|) / 2 - radius: the cheap distance to a
// supergroup's edge.
static int32_t distance_to_supergroup(const world_point2d *at, const spatial_supergroup *supergroup)
{
    const int32_t dx = absolute(supergroup->center.x - at->x), dy = absolute(supergroup->center.y - at->y);
    const int32_t larger = dx > dy ? dx : dy, smaller = dx > dy ? dy : dx;
    return larger + smaller / 2 - supergroup->radius;
}

// Visible units not allied with `team` in the 5 x 5 cells around `at`'s
// cell; the block is cut at the mesh's edges.
static int32_t count_nearby_enemies(const world_point2d *at, int32_t team)
{
    if (mesh_width < 1 || mesh_height < 1) return 0;
    const int32_t cell_x = asr32(at->x, 9), cell_y = asr32(at->y, 9);
    const int32_t left = clamp_cell(cell_x - SUICIDE_COUNT_CELL_RADIUS, mesh_width);
    const int32_t right = clamp_cell(cell_x + SUICIDE_COUNT_CELL_RADIUS, mesh_width);
    const int32_t top = clamp_cell(cell_y - SUICIDE_COUNT_CELL_RADIUS, mesh_height);
    const int32_t bottom = clamp_cell(cell_y + SUICIDE_COUNT_CELL_RADIUS, mesh_height);
    const datum_globals *objects = get_object_array();
    int32_t count = 0;
    for (int32_t y = top; y <= bottom; y++)
        for (int32_t x = left; x <= right; x++)
        {
            int32_t steps = 0; // a damaged chain cannot loop for ever
            for (int32_t index = get_mesh_cell(x, y)->first_object_index; index != NONE && steps <= objects->count;
                 steps++)
            {
                const object_data *object = get_object(index);
                if (!object) break;
                index = object->next_object_index;
                if (object->owner != _object_is_monster || (object->flags & _object_is_invisible_flag)) continue;
                const monster_data *monster = get_monster_data(object->owner_index);
                if (monster && !teams_are_allied(team, monster->owner_team_index)) count++;
            }
        }
    return count;
}

static void move_unit_to(int16_t monster_index, const world_point2d *destination)
{
    command_movement_data command;
    memset(&command, 0, sizeof(command));
    handle_movement_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &command, 1, &monster_index, 1, destination);
}

static void detonate_unit(int16_t monster_index)
{
    command_general_data command;
    memset(&command, 0, sizeof(command));
    command.type = _command_general_special_ability;
    handle_general_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &command, 1, &monster_index);
}

// A unit in deep media cannot set itself off: only when its object is not
// wholly under media and, partially under, its middle reaches the surface.
static bool unit_can_detonate(const object_data *object)
{
    if (object->flags & _object_wholly_under_media_flag) return false;
    if (!(object->flags & _object_partially_under_media_flag)) return true;
    const mesh_cell *cell = get_mesh_cell(asr32(object->location.position.x, 9), asr32(object->location.position.y, 9));
    return object->location.position.z + object->height1 / 2 >= cell->media_height;
}

struct suicide_choice
{
    const spatial_supergroup *friend_group, *enemy_group;
    int32_t friend_distance, enemy_distance;
    const spatial_group *missile_group;
    int32_t missile_margin;
};

static void choose_groups(const suicide_globals *globals, const world_point2d *at, int32_t team,
                          suicide_choice *choice)
{
    memset(choice, 0, sizeof(*choice));
    const int32_t minimum_power = globals->minimum_power_threshhold;
    for (const spatial_supergroup *group = first_spatial_supergroup(); group; group = group->next)
    {
        const int32_t d = distance_to_supergroup(at, group);
        if (teams_are_allied(team, group->team_index))
        {
            if (group->center.x == at->x && group->center.y == at->y) continue;
            if (!choice->friend_group || d < choice->friend_distance)
            {
                choice->friend_group = group;
                choice->friend_distance = d;
            }
            continue;
        }
        const spatial_supergroup *enemy = choice->enemy_group;
        bool take = !enemy || d < choice->enemy_distance;
        if (!take)
        {
            // As the band has always chosen: a strong group replaces a weak
            // target, or a stronger one not much farther away.
            if (group->power > (minimum_power >> 8) && minimum_power > enemy->power)
                take = true;
            else if (group->power > enemy->power && d - globals->power_over_distance_threshhold < choice->enemy_distance)
                take = true;
        }
        if (take)
        {
            choice->enemy_group = group;
            choice->enemy_distance = d;
        }
    }
    for (const spatial_group *group = first_spatial_group(); group; group = group->next_group)
    {
        if (teams_are_allied(team, group->team_index)) continue;
        const monster_definition *definition = get_monster_definition(group->monster_type);
        if (!definition || definition->monster_class != _monster_class_missile) continue;
        const int32_t m = distance2d(at, &group->center) - group->radius - group->range;
        if (m > MAXIMUM_MISSILE_THREAT_MARGIN) continue;
        if (!choice->missile_group || m < choice->missile_margin)
        {
            choice->missile_group = group;
            choice->missile_margin = m;
        }
    }
}

static void drive_unit(int32_t action_index, suicide_globals *globals, suicide_unit_data *unit, int32_t team)
{
    const object_data *object = unit_object(unit->monster_index);
    if (!object) return;
    const world_point2d at = {object->location.position.x, object->location.position.y};
    suicide_choice choice;
    choose_groups(globals, &at, team, &choice);
    const spatial_supergroup *enemy = choice.enemy_group;
    const spatial_supergroup *friendly = choice.friend_group;

    int32_t mode = _action_idle;
    world_point2d destination = at;
    world_point2d avoided = at;
    int32_t avoid_radius = 0;
    enum { advance, detonation_check, count } next = advance;
    if (enemy && (globals->flags & (1u << _globals_dumb_bit)))
        next = advance;
    else if (friendly && choice.friend_distance < globals->detonation_radius &&
             (!enemy || choice.friend_distance < choice.enemy_distance))
    {
        mode = _action_avoid_friendly;
        avoided = destination = friendly->center;
        avoid_radius = friendly->radius + globals->detonation_radius;
        next = enemy ? detonation_check : count;
    }
    else if (!enemy)
        next = count;
    else if (choice.missile_group && choice.missile_margin < 0 &&
             enemy->radius + choice.enemy_distance > globals->detonation_radius)
    {
        const spatial_group *missile = choice.missile_group;
        const int64_t facing_product = mul64(sine_rounded(missile->facing), at.y - missile->center.y) +
                                       mul64(cosine_rounded(missile->facing), at.x - missile->center.x);
        bool avoid = false;
        if (facing_product < 1)
            avoid = unit->fear_countdown != 0;
        else
        {
            unit->fear_countdown = to_i16(globals->fear_duration);
            avoid = unit->fear_countdown != 0;
        }
        if (avoid)
        {
            mode = _action_avoid;
            avoided = destination = missile->center;
            avoid_radius = missile->range + missile->radius;
            next = detonation_check;
        }
    }
    if (next == advance)
    {
        mode = _action_advance;
        destination = enemy->center;
        next = detonation_check;
    }
    if (next == detonation_check)
    {
        const int64_t closing = mul64(enemy->center.y - at.y, enemy->velocity.j) +
                                mul64(enemy->center.x - at.x, enemy->velocity.i);
        if (closing > 0 && enemy->radius + choice.enemy_distance < globals->detonation_radius - 512)
            mode = _action_detonate;
    }

    const int32_t nearby = count_nearby_enemies(&at, team);
    if (nearby >= globals->detonation_threshhold || (enemy && nearby >= enemy->monster_count) ||
        mode == _action_detonate)
    {
        if (unit_can_detonate(object))
            detonate_unit(unit->monster_index);
        else
            move_unit_to(unit->monster_index, &destination);
    }
    else if (mode == _action_idle)
        map_action_debug(action_index, "suicide unit #%d idle", unit->monster_index);
    else if (mode == _action_advance)
        move_unit_to(unit->monster_index, &destination);
    else
    {
        const int64_t scaled = (mul64(avoid_radius, 1608)) >> 8;
        if (avoid_radius != 0 && scaled != 0)
        {
            const int64_t turn = 67108864 / scaled;
            int32_t offset = 0;
            if (distance2d(&at, &avoided) >= globals->detonation_radius)
            {
                offset = (int32_t)(turn < 4096 ? turn : 4096);
                if (unit->monster_index & 1) offset = -offset;
            }
            const angle direction = (angle)(arctangent(at.x - avoided.x, at.y - avoided.y) + offset);
            destination.x = avoided.x + (int32_t)asr64(mul64(avoid_radius, cosine_rounded(direction)), 14);
            destination.y = avoided.y + (int32_t)asr64(mul64(avoid_radius, sine_rounded(direction)), 14);
        }
        else
            destination = avoided;
        move_unit_to(unit->monster_index, &destination);
    }
}

uint32_t suicide_action_proc(int32_t action_index)
{
    suicide_globals globals;
    if (!get_map_action_structure(action_index, _suicide_field_name_globals, sizeof(globals), &globals))
        new_suicide_globals(action_index, &globals);
    if (globals.action_index != action_index)
    {
        VASSERT(false, "action_index==globals.action_index");
        return _map_action_proc_deactivate_flag;
    }
    if (globals.unit_count < 0 || globals.unit_count > MAXIMUM_SUICIDE_UNITS) globals.unit_count = 0;

    int32_t team = NONE;
    int32_t kept = 0;
    for (int32_t i = 0; i < globals.unit_count; i++)
    {
        suicide_unit_data unit = globals.units[i];
        if (unit.delay <= 0 && unit.monster_index == NONE)
        {
            const int32_t placed = make_monster_visible(unit.monster_identifier, NONE);
            const monster_data *monster = get_monster_data(placed);
            if (!monster) continue;
            unit.monster_index = (int16_t)placed;
            unit.monster_identifier = monster->identifier;
        }
        if (unit.monster_index != NONE)
        {
            const monster_data *monster = get_monster_data(unit.monster_index);
            if (!monster || monster->identifier != unit.monster_identifier)
            {
                map_action_debug(action_index, "suicide unit #%d died", unit.monster_index);
                call_functions_with_actions_in_parameter(activate_map_action, action_index,
                                                         _suicide_field_name_casualty);
                continue;
            }
            team = monster->owner_team_index;
        }
        globals.units[kept++] = unit;
    }
    globals.unit_count = (int16_t)kept;
    if (kept == 0) return _map_action_proc_deactivate_flag;

    const map_action *inhibition = globals.inhibition_action_index != NONE
                                       ? get_map_action(globals.inhibition_action_index)
                                       : nullptr;
    const bool delays_run = globals.inhibition_action_index == NONE ||
                            (inhibition && (inhibition->flags & _map_action_succeeded_flag));
    for (int32_t i = 0; i < globals.unit_count; i++)
    {
        suicide_unit_data *unit = &globals.units[i];
        if (unit->delay > 0)
        {
            if (delays_run) unit->delay--;
            continue;
        }
        drive_unit(action_index, &globals, unit, team);
        if (unit->fear_countdown > 0) unit->fear_countdown--;
    }

    globals.flags |= 1u << _globals_initialized_bit;
    set_unique_map_action_parameter(action_index, _suicide_field_name_globals, _parameter_character, sizeof(globals),
                                    &globals);
    return 0;
}

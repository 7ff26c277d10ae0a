// Unit behaviours: assassins, shamans and scripted pick-ups.  All three run
// inside the synchronized tick; the assassin draws its delays from
// vesk_random, one per unit in list order, on its first run only.

#include "unit_behaviour_action_procs.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "action_procs.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "monster_commands.h"
#include "monster_hiding.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "spatial_groups.h"
#include "vesk_random.h"
#include "world_action_procs_internal.h"

enum
{
    MAXIMUM_MONSTERS_PER_ASSASSIN_GROUP = 10,
    DEFAULT_ASSASSIN_VISIBILITY_RADIUS = 12800,
    ASSASSIN_DANGER_DISTANCE = 3071, // a danger this near (or nearer) is avoided
    SUPERGROUP_AVOIDANCE_RADIUS = 3072,
    AVOIDANCE_CIRCUMFERENCE = 1024,
    MAXIMUM_SHAMAN_MONSTERS = 400,
    MAXIMUM_PICK_UP_MONSTERS = 400,
    MAXIMUM_OBJECTS_PER_PICK_UP_COMMAND = 20,
};

enum assassin_flag_bits
{
    _globals_initialized_flag = 1,
};

// One assassin: its unit (NONE until it is called in), its identifier (the
// unit marker's) and the runs it still waits.
struct assassin_unit
{
    int16_t monster_index;
    int16_t monster_identifier;
    int16_t delay;
};
static_assert(sizeof(assassin_unit) == 6);

// The run-time record stored in the action's '#glo' entry (host order).
struct assassin_globals
{
    uint32_t flags; // assassin_flag_bits
    world_distance visibility_radius;
    int16_t action_index;
    int16_t unit_count;
    assassin_unit units[MAXIMUM_MONSTERS_PER_ASSASSIN_GROUP];
};
static_assert(sizeof(assassin_globals) == 72);
static_assert(offsetof(assassin_globals, visibility_radius) == 4);
static_assert(offsetof(assassin_globals, action_index) == 8);
static_assert(offsetof(assassin_globals, unit_count) == 10);
static_assert(offsetof(assassin_globals, units) == 12);

static void new_assassin_globals(int32_t action_index, assassin_globals *globals)
{
    memset(globals, 0, sizeof(*globals));
    globals->action_index = (int16_t)action_index;
    if (!first_long(action_index, field('r', 'a', 'd', 'i'), _parameter_world_distance, &globals->visibility_radius))
        globals->visibility_radius = DEFAULT_ASSASSIN_VISIBILITY_RADIUS;
    int32_t delay_range = 0;
    if (!first_long(action_index, field('d', 'e', 'l', 'a'), _parameter_integer, &delay_range)) delay_range = 0;
    int16_t identifiers[MAXIMUM_MONSTERS_PER_ASSASSIN_GROUP];
    const int32_t count = get_combined_map_action_parameter(action_index, _common_field_name_subject,
                                                            _parameter_monster_identifier, identifiers,
                                                            MAXIMUM_MONSTERS_PER_ASSASSIN_GROUP);
    for (int32_t i = 0; i < count; i++)
    {
        assassin_unit *unit = &globals->units[i];
        unit->monster_index = NONE;
        unit->monster_identifier = identifiers[i];
        // The remainder takes the sign of the draw, so a negative 'dela' waits
        // as long as its magnitude; a wait beyond the record's 16 bits is held
        // at the longest one it can keep.
        if (delay_range != 0)
        {
            const int32_t delay = (int32_t)vesk_random() % delay_range;
            unit->delay = (int16_t)(delay > INT16_MAX ? INT16_MAX : delay);
        }
    }
    globals->unit_count = (int16_t)count;
    map_action_debug(action_index, "#%d assassin monsters active", (int)count);
}

// Whether the assassin's unit still stands under its identifier.
static bool assassin_unit_exists(const assassin_unit *unit)
{
    const monster_data *monster = get_monster_data(unit->monster_index);
    return monster && monster->identifier == unit->monster_identifier;
}

// Calls in the units whose wait is over; drops those that cannot be called in
// or are gone, keeping the order of the rest.
static void resolve_assassins(assassin_globals *globals)
{
    int32_t kept = 0;
    for (int32_t i = 0; i < globals->unit_count; i++)
    {
        assassin_unit unit = globals->units[i];
        if (unit.delay == 0)
        {
            if (unit.monster_index == NONE)
                unit.monster_index = (int16_t)make_monster_visible(unit.monster_identifier, NONE);
            if (unit.monster_index == NONE || !assassin_unit_exists(&unit)) continue;
        }
        globals->units[kept++] = unit;
    }
    globals->unit_count = (int16_t)kept;
}

static void attack_lone_target(int32_t action_index, int16_t monster_index, const spatial_supergroup *target)
{
    command_target_data command;
    memset(&command, 0, sizeof(command));
    const int16_t target_index = target->monster_index;
    handle_target_command((int16_t)action_index, &command, 1, &monster_index, 1, &target_index);
}

static void send_assassin(int16_t monster_index, const world_point2d *destination)
{
    command_movement_data command;
    memset(&command, 0, sizeof(command));
    handle_movement_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &command, 1, &monster_index, 1, destination);
}

// The point a unit steps to around a danger: an arc of about
// AVOIDANCE_CIRCUMFERENCE on the circle of radius R about the danger's
// centre, forwards for an even unit slot and backwards for an odd one.
static world_point2d avoidance_point(int16_t monster_index, const world_point2d *at,
                                     const spatial_supergroup *danger)
{
    const int32_t radius = danger->radius + SUPERGROUP_AVOIDANCE_RADIUS;
    int32_t circumference = (radius * 1608) >> 8; // 2 pi R
    if (circumference < 1) circumference = 1;
    const int32_t step = ((int32_t)NUMBER_OF_ANGLES * (int32_t)AVOIDANCE_CIRCUMFERENCE) / circumference;
    angle bearing = arctangent(at->x - danger->center.x, at->y - danger->center.y);
    bearing = (angle)((monster_index % 2 == 0 ? bearing + step : bearing - step) & (NUMBER_OF_ANGLES - 1));
    world_point2d destination;
    destination.x = danger->center.x + (int32_t)(((int64_t)radius * cosine_rounded(bearing)) >> TRIG_SHIFT);
    destination.y = danger->center.y + (int32_t)(((int64_t)radius * sine_rounded(bearing)) >> TRIG_SHIFT);
    return destination;
}

static void run_assassin(int32_t action_index, int16_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    world_point2d at;
    if (!monster || !monster_position(monster_index, &at)) return;
    const int16_t team = monster->owner_team_index;

    const spatial_supergroup *lone = nullptr, *danger = nullptr;
    int32_t lone_distance = 0, danger_distance = 0;
    for (const spatial_supergroup *supergroup = first_spatial_supergroup(); supergroup; supergroup = supergroup->next)
    {
        if (supergroup->team_index == team || teams_are_allied(team, supergroup->team_index)) continue;
        const int32_t distance = distance2d(&at, &supergroup->center) - supergroup->radius;
        if (supergroup->monster_count < 2)
        {
            if (!lone || distance < lone_distance) lone = supergroup, lone_distance = distance;
        }
        else if (!danger || distance < danger_distance)
            danger = supergroup, danger_distance = distance;
    }

    if (danger && danger_distance <= ASSASSIN_DANGER_DISTANCE)
    {
        if (lone && lone_distance < danger_distance)
        {
            const int64_t dot = (int64_t)(lone->center.x - at.x) * (danger->center.x - at.x) +
                                (int64_t)(lone->center.y - at.y) * (danger->center.y - at.y);
            if (dot < 1)
            {
                attack_lone_target(action_index, monster_index, lone);
                return;
            }
        }
        const world_point2d destination = avoidance_point(monster_index, &at, danger);
        send_assassin(monster_index, &destination);
    }
    else if (lone)
        attack_lone_target(action_index, monster_index, lone);
    else if (danger)
        send_assassin(monster_index, &danger->center);
    else
        map_action_debug(action_index, "assassin unit #%d idle", (int)monster_index);
}

uint32_t assassin_action_proc(int32_t action_index)
{
    assassin_globals globals;
    const field_tag globals_name = _common_internal_field_name_globals;
    if (!get_map_action_structure(action_index, globals_name, sizeof(globals), &globals))
        new_assassin_globals(action_index, &globals);
    VASSERT(action_index == globals.action_index, "action_index==globals.action_index");
    if (globals.unit_count < 0 || globals.unit_count > MAXIMUM_MONSTERS_PER_ASSASSIN_GROUP) globals.unit_count = 0;

    resolve_assassins(&globals);
    if (globals.unit_count == 0) return _map_action_proc_deactivate_flag;

    for (int32_t i = 0; i < globals.unit_count; i++)
    {
        assassin_unit *unit = &globals.units[i];
        if (unit->delay > 0)
            unit->delay--;
        else
            run_assassin(action_index, unit->monster_index);
    }
    globals.flags |= _globals_initialized_flag;
    set_unique_map_action_parameter(action_index, globals_name, _parameter_character, sizeof(globals), &globals);
    return 0;
}

// ---- shaman ---------------------------------------------------------------------------------

// The living units of `name` still on the mesh.
static int32_t units_on_the_mesh(int32_t action_index, field_tag name, int16_t *indexes)
{
    const int32_t count = named_units(action_index, name, indexes, MAXIMUM_SHAMAN_MONSTERS);
    return remove_monsters_that_have_left_the_mesh(indexes, count);
}

// The unit's vitality as a 16.16 fraction of its maximum; 0 when the maximum is 0.
static int64_t vitality_fraction(int16_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object || object->maximum_vitality == 0) return 0;
    return (int64_t)object->vitality * 65536 / object->maximum_vitality;
}

uint32_t shaman_action_proc(int32_t action_index)
{
    int16_t healers[MAXIMUM_SHAMAN_MONSTERS], allies[MAXIMUM_SHAMAN_MONSTERS];
    if (units_on_the_mesh(action_index, _common_field_name_subject, healers) == 0) return 0;
    const int32_t ally_count = units_on_the_mesh(action_index, field('a', 'l', 'l', 'y'), allies);
    if (ally_count == 0) return 0;
    int32_t threshold;
    if (!first_long(action_index, field('<', 'v', 'i', 't'), _parameter_fixed, &threshold))
    {
        map_action_debug(action_index, "No heal threshold!");
        return 0;
    }

    int32_t chosen = NONE;
    int64_t chosen_fraction = 0;
    for (int32_t i = 0; i < ally_count; i++)
    {
        const int64_t fraction = vitality_fraction(allies[i]);
        if (fraction >= FIXED_ONE || fraction >= threshold) continue;
        if (chosen == NONE || fraction < chosen_fraction) chosen = i, chosen_fraction = fraction;
    }
    if (chosen == NONE)
    {
        int16_t fallback;
        if (first_short(action_index, field('f', 'a', 'l', 'l'), _parameter_action_identifier, &fallback))
        {
            const int32_t fallback_index = action_identifier_to_action_index(fallback);
            if (fallback_index != NONE) trigger_map_action(fallback_index);
        }
        return 0;
    }
    command_target_data command;
    memset(&command, 0, sizeof(command));
    command.flags = _command_target_special_ability_flag;
    handle_target_command((int16_t)action_index, &command, 1, &healers[0], 1, &allies[chosen]);
    return _map_action_proc_succeeded_flag;
}

// ---- pick up --------------------------------------------------------------------------------

// The first object in use with that identifier; NONE when none.
static int32_t object_with_identifier(int16_t identifier)
{
    const int32_t object_count = get_object_count();
    for (int32_t index = 0; index < object_count; index++)
    {
        const object_data *object = get_object(index);
        if (object && object->identifier == identifier) return index;
    }
    return NONE;
}

uint32_t pick_up_object_action_proc(int32_t action_index)
{
    int16_t units[MAXIMUM_PICK_UP_MONSTERS];
    const int32_t unit_count = named_units(action_index, _common_field_name_subject, units, MAXIMUM_PICK_UP_MONSTERS);
    if (unit_count == 0)
    {
        map_action_debug(action_index, "no monsters to pick up anything");
        return 0;
    }
    int16_t identifiers[MAXIMUM_OBJECTS_PER_PICK_UP_COMMAND];
    const int32_t identifier_count =
        get_combined_map_action_parameter(action_index, _common_field_name_object, _parameter_object_identifier,
                                          identifiers, MAXIMUM_OBJECTS_PER_PICK_UP_COMMAND);
    int16_t objects[MAXIMUM_OBJECTS_PER_PICK_UP_COMMAND];
    int32_t object_count = 0;
    for (int32_t i = 0; i < identifier_count; i++)
    {
        const int32_t object_index = object_with_identifier(identifiers[i]);
        if (object_index != NONE) objects[object_count++] = (int16_t)object_index;
    }
    if (object_count == 0)
    {
        map_action_debug(action_index, "no objects found to pick up");
        return 0;
    }
    const int16_t identifier = get_map_action_identifier(action_index);
    for (int32_t k = 0; k < unit_count; k++)
    {
        const object_data *object = get_object(objects[k % object_count]);
        if (!object) continue;
        command_pick_up_data command;
        memset(&command, 0, sizeof(command));
        command.object_index = objects[k % object_count];
        command.object_identifier = object->identifier;
        handle_pick_up_command(identifier, &command, 1, &units[k]);
    }
    return 0;
}

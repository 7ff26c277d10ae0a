// 'mean': units wander between waypoints, each waiting a while before its
// next wander order, and flee from the nearest visible enemy close by.

#include "world_action_procs.h"

#include <cstddef>
#include <cstring>

#include "action_procs.h"
#include "map_action_engine.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monsters.h"
#include "objects.h"
#include "script_math.h"
#include "tag_files/data.h"
#include "unit_cell_scan.h"
#include "vesk_random.h"
#include "world_action_procs_internal.h"

enum
{
    MAXIMUM_MEANDER_MONSTERS = 64,
    MAXIMUM_MEANDER_WAYPOINTS = 32,
    MEANDER_WAYPOINT_RADIUS = 2560,
    DEFAULT_MEANDER_THREAT_SCAN_WIDTH = 3,
    MEANDER_FLEE_DISTANCE = 4096,
};

// The run-time record stored in the action's '#glo' entry (host order, as
// every script's run-time record).
struct meander_monster
{
    int16_t monster_index;
    int16_t monster_identifier;
    int16_t delay; // triggers until the next wander order
};
static_assert(sizeof(meander_monster) == 6);

struct meander_globals
{
    int16_t action_index;
    int16_t unit_count;
    meander_monster units[MAXIMUM_MEANDER_MONSTERS];
    int16_t reserved;
    int16_t waypoint_count;
    world_point2d waypoints[MAXIMUM_MEANDER_WAYPOINTS];
    world_distance waypoint_radius; // MEANDER_WAYPOINT_RADIUS with waypoints, else 0
    int32_t threat_scan_width; // cells scanned each side of the unit
};
static_assert(sizeof(meander_globals) == 656);
static_assert(offsetof(meander_globals, units) == 4);
static_assert(offsetof(meander_globals, waypoint_count) == 390);
static_assert(offsetof(meander_globals, waypoints) == 392);
static_assert(offsetof(meander_globals, waypoint_radius) == 648);
static_assert(offsetof(meander_globals, threat_scan_width) == 652);

static bool new_meander_globals(int32_t action_index, meander_globals *globals)
{
    memset(globals, 0, sizeof(*globals));
    globals->action_index = (int16_t)action_index;
    int16_t indexes[MAXIMUM_MEANDER_MONSTERS];
    const int32_t count = named_units(action_index, _common_field_name_subject, indexes, MAXIMUM_MEANDER_MONSTERS);
    for (int32_t i = 0; i < count; i++)
    {
        meander_monster *unit = &globals->units[i];
        unit->monster_index = indexes[i];
        unit->monster_identifier = get_monster_data(indexes[i])->identifier;
        unit->delay = (int16_t)(vesk_random() % 12);
    }
    globals->unit_count = (int16_t)count;
    map_action_debug(action_index, "#%d meandering monsters active", count);

    world_point2d waypoints[MAXIMUM_MEANDER_WAYPOINTS + 1];
    const int32_t waypoint_count = get_combined_map_action_parameter(
        action_index, field('w', 'a', 'y', 'p'), _parameter_world_point2d, waypoints, MAXIMUM_MEANDER_WAYPOINTS + 1);
    if (waypoint_count > MAXIMUM_MEANDER_WAYPOINTS)
    {
        map_action_error(action_index, "too many waypoints in search group!");
        map_action_error(action_index, "couldn't create globals");
        return false;
    }
    if (waypoint_count > 0)
    {
        memcpy(globals->waypoints, waypoints, sizeof(world_point2d) * (size_t)waypoint_count);
        globals->waypoint_count = (int16_t)waypoint_count;
        globals->waypoint_radius = MEANDER_WAYPOINT_RADIUS;
    }
    int32_t width;
    if (!first_long(action_index, field('t', 's', 'c', 'w'), _parameter_integer, &width))
        width = DEFAULT_MEANDER_THREAT_SCAN_WIDTH;
    globals->threat_scan_width = width;
    return true;
}

// The nearest visible unit of another team within `width` cells each side
// of the unit's cell; NONE when none.  The first of equals in the scan's
// order wins.
static int32_t nearest_threat(int32_t monster_index, int32_t width)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster_object(monster_index);
    if (!object) return NONE;
    const world_point2d at = {object->location.position.x, object->location.position.y};
    int32_t threat = NONE;
    world_distance threat_distance = 0;
    scan_unit_objects_near(at, width, [&](const object_data *other, const monster_data *unit) {
        if (unit->owner_team_index == monster->owner_team_index ||
            (unit->extra_flags & _monster_is_invisible_extra_flag))
            return false;
        const world_point2d there = {other->location.position.x, other->location.position.y};
        const world_distance distance = distance2d(&at, &there);
        if (threat == NONE || distance < threat_distance)
        {
            threat = other->owner_index;
            threat_distance = distance;
        }
        return false;
    });
    return threat;
}

static void flee(int32_t monster_index, int32_t threat_index)
{
    const object_data *object = monster_object(monster_index);
    const object_data *threat = monster_object(threat_index);
    const angle direction = arctangent(object->location.position.x - threat->location.position.x,
                                       object->location.position.y - threat->location.position.y);
    // The table's 1.0 is 16384: a quarter of the table value is 4096 units.
    static_assert(TRIG_MAGNITUDE / 4 == MEANDER_FLEE_DISTANCE);
    const world_point2d destination = {object->location.position.x + cosine_rounded(direction) / 4,
                                       object->location.position.y + sine_rounded(direction) / 4};
    command_movement_data command;
    memset(&command, 0, sizeof(command));
    const int16_t unit = (int16_t)monster_index;
    handle_movement_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &command, 1, &unit, 1, &destination);
}

// A wander order to a waypoint (or (0, 0) without one) moved by up to the
// radius in x and y; the wait until the next.  Four draws, in this order:
// the waypoint, x, y, the wait.
static void wander(int32_t action_index, const meander_globals *globals, meander_monster *entry)
{
    const int32_t choice = (int32_t)vesk_random();
    world_point2d destination = {0, 0};
    if (globals->waypoint_count > 0) destination = globals->waypoints[choice % globals->waypoint_count];
    const int32_t radius = globals->waypoint_radius;
    const int32_t dx = (int32_t)vesk_random(), dy = (int32_t)vesk_random();
    if (radius > 0)
    {
        destination.x += rem32_guarded(dx, 2 * radius) - radius;
        destination.y += rem32_guarded(dy, 2 * radius) - radius;
    }
    command_movement_data command;
    memset(&command, 0, sizeof(command));
    handle_movement_command(get_map_action_identifier(action_index), &command, 1, &entry->monster_index, 1,
                            &destination);

    const monster_data *monster = get_monster_data(entry->monster_index);
    const object_data *object = monster_object(entry->monster_index);
    const int32_t speed = monster->base_movement_speed;
    const int32_t wait_draw = (int32_t)vesk_random();
    if (speed == 0 || !object)
    {
        entry->delay = 1;
        return;
    }
    const world_point2d at = {object->location.position.x, object->location.position.y};
    const int32_t ticks = distance2d(&destination, &at) / (speed * 32) + 2;
    const int16_t half = to_i16(ticks / 2);
    // A negative speed or a wait past 16 bits could leave no positive half;
    // the draw is taken and nothing is divided by zero.
    entry->delay = to_i16(half + rem32_guarded(wait_draw, half));
}

uint32_t meander_action_proc(int32_t action_index)
{
    meander_globals globals;
    const field_tag globals_name = _common_internal_field_name_globals;
    if (!get_map_action_structure(action_index, globals_name, sizeof(globals), &globals) &&
        !new_meander_globals(action_index, &globals))
        return 0;
    VASSERT(action_index == globals.action_index, "action_index==globals.action_index");
    if (globals.unit_count < 0 || globals.unit_count > MAXIMUM_MEANDER_MONSTERS) globals.unit_count = 0;
    if (globals.waypoint_count < 0 || globals.waypoint_count > MAXIMUM_MEANDER_WAYPOINTS) globals.waypoint_count = 0;

    int32_t kept = 0;
    for (int32_t i = 0; i < globals.unit_count; i++)
    {
        const meander_monster entry = globals.units[i];
        const monster_data *monster = get_monster_data(entry.monster_index);
        if (monster && monster->identifier == entry.monster_identifier)
            globals.units[kept++] = entry;
        else
            call_functions_with_actions_in_parameter(activate_map_action, action_index, field('c', 'a', 's', 'u'));
    }
    globals.unit_count = (int16_t)kept;
    uint32_t result = 0;
    if (kept == 0)
        result = _map_action_proc_deactivate_flag;
    else
    {
        const bool scan = has_flag(action_index, field('t', 'h', 'r', 'e'));
        for (int32_t i = 0; i < globals.unit_count; i++)
        {
            meander_monster *entry = &globals.units[i];
            if (scan)
            {
                const int32_t threat = nearest_threat(entry->monster_index, globals.threat_scan_width);
                if (threat != NONE)
                {
                    flee(entry->monster_index, threat);
                    entry->delay = 0;
                    continue;
                }
            }
            entry->delay = to_i16(entry->delay - 1);
            if (entry->delay < 0) wander(action_index, &globals, entry);
        }
    }
    // Kept also when every unit is gone, so a casualty is announced once.
    set_unique_map_action_parameter(action_index, globals_name, _parameter_character, sizeof(globals), &globals);
    return result;
}

// 'move': orders units along up to four waypoints, in formation, facing a
// direction or other units at the end.

#include "world_action_procs.h"

#include <cstring>

#include "action_procs.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "monster_commands.h"
#include "world_action_procs_internal.h"

enum
{
    // Keeps the units' current targets while they move.
    _command_movement_preserves_target_flag = FLAG(2),
};

// The waypoint nearest `centre` (the first of equals) among the entry's
// `count` values; the entry is then cut to that one value.  False when the
// entry holds no value.
static bool keep_closest_waypoint(map_action_parameter *waypoints, const world_point2d *centre)
{
    const world_point2d *values = (const world_point2d *)extract_parameter_array_address(waypoints);
    if (!values || waypoints->count < 1) return false;
    world_point2d closest = values[0];
    world_distance closest_distance = distance2d(&values[0], centre);
    for (int32_t i = 1; i < waypoints->count; i++)
    {
        const world_distance distance = distance2d(&values[i], centre);
        if (distance < closest_distance)
        {
            closest = values[i];
            closest_distance = distance;
        }
    }
    // `closest` is a copy: the edit may move the buffer.
    return set_map_action_parameter(waypoints, 1, &closest);
}

uint32_t movement_command_action_proc(int32_t action_index)
{
    const int32_t limit = maximum_units_per_command();
    int16_t identifiers[MAXIMUM_UNITS_PER_COMMAND];
    const int32_t identifier_count = get_combined_map_action_parameter(
        action_index, _common_field_name_subject, _parameter_monster_identifier, identifiers, limit);
    if (identifier_count == 0)
    {
        map_action_error(action_index, "missing or invalid subject field");
        return 0;
    }
    int16_t units[MAXIMUM_UNITS_PER_COMMAND];
    int32_t unit_count = monster_identifiers_to_monster_indexes(identifiers, units, identifier_count);
    unit_count = remove_monster_indexes_under_user_control(units, unit_count);
    world_point2d centre;
    get_centerpoint_of_monster_indexes(unit_count, units, &centre);

    map_action_parameter waypoints;
    int32_t waypoint_count = 0;
    const bool have_waypoints = get_map_action_parameter(&waypoints, action_index, _return_empty_arrays_flag,
                                                         field('w', 'a', 'y', 'p'), _parameter_world_point2d);
    if (have_waypoints) waypoint_count = waypoints.count;
    if (current_gameplay_version > 1690 && has_flag(action_index, field('c', 'l', 'o', 's')))
    {
        // Without a waypoint there is no nearest one to keep.
        if (!have_waypoints || !keep_closest_waypoint(&waypoints, &centre))
        {
            map_action_error(action_index, "missing or too many waypoint(s) (maximum %d)",
                             (int)MAXIMUM_WAYPOINTS_PER_COMMAND);
            return 0;
        }
        waypoint_count = 1;
    }
    if (waypoint_count > MAXIMUM_WAYPOINTS_PER_COMMAND)
    {
        map_action_error(action_index, "missing or too many waypoint(s) (maximum %d)",
                         (int)MAXIMUM_WAYPOINTS_PER_COMMAND);
        return 0;
    }
    world_point2d points[MAXIMUM_WAYPOINTS_PER_COMMAND];
    memset(points, 0, sizeof(points));
    if (waypoint_count > 0) copy_map_action_parameter_values(&waypoints, points, waypoint_count);

    command_movement_data command;
    memset(&command, 0, sizeof(command));
    if (has_flag(action_index, field('c', 'y', 'c', 'l')))
        command.flags |= _command_movement_loop_flag;
    else if (has_flag(action_index, field('b', 'a', 'c', 'k')))
        command.flags |= _command_movement_loop_flag | _command_movement_loop_back_and_forth_flag;
    if (has_flag(action_index, field('p', 'r', 't', 'a'))) command.flags |= _command_movement_preserves_target_flag;
    int32_t formation;
    if (first_long(action_index, field('f', 'o', 'r', 'm'), _parameter_integer, &formation))
    {
        command.formation_index = (int16_t)formation;
        command.flags |= _command_movement_formation_flag;
    }
    int16_t facing;
    const bool have_facing = first_short(action_index, field('f', 'i', 'f', 'a'), _parameter_angle, &facing);
    if (have_facing && current_gameplay_version < 1301)
    {
        command.final_facing = (angle)facing;
        command.flags |= _command_movement_final_facing_flag;
    }
    int32_t faced_count = get_combined_map_action_parameter(action_index, field('o', 'b', 'f', 'a'),
                                                            _parameter_monster_identifier, identifiers, limit);
    // Below 1301 as many entries are converted as there are subject units;
    // entries beyond those read count as absent.
    if (current_gameplay_version < 1301 && faced_count > unit_count) faced_count = unit_count;
    int16_t faced[MAXIMUM_UNITS_PER_COMMAND];
    faced_count = monster_identifiers_to_monster_indexes(identifiers, faced, faced_count);
    if (faced_count > 0)
    {
        world_point2d faced_centre;
        get_centerpoint_of_monster_indexes(faced_count, faced, &faced_centre);
        command.final_facing = arctangent(faced_centre.x - centre.x, faced_centre.y - centre.y);
        command.flags |= _command_movement_final_facing_flag;
    }
    if (have_facing && current_gameplay_version >= 1301)
    {
        command.final_facing = (angle)facing;
        command.flags |= _command_movement_final_facing_flag;
    }

    if (unit_count > 0)
    {
        handle_movement_command(get_map_action_identifier(action_index), &command, unit_count, units,
                                waypoint_count, points);
        map_action_debug(action_index, "#%d monsters moved", unit_count);
    }
    return 0;
}

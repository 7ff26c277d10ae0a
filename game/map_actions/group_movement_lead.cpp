// 'lead': one unit leads a group to waypoints, a unit or an object, waits
// for the group, beckons it and flees from enemies.

#include <cstring>

#include "action_proc_helpers.h"
#include "game_time.h"
#include "group_movement_action_procs.h"
#include "group_movement_shared.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "monster_commands.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "script_math.h"
#include "tag_files/data.h"
#include "vesk_random.h"

namespace {

enum lead_target_type
{
    _target_is_waypoint = 0,
    _target_is_monster = 1,
    _target_is_object = 2,
};

enum lead_state
{
    _state_waiting = 0,
    _state_leading = 1,
};

enum lead_deactivate_reason
{
    _deactivate_reason_error = 0,
    _deactivate_reason_group_died,
    _deactivate_reason_leader_died,
    _deactivate_reason_target_is_gone,
    _deactivate_reason_success,
};

// One run's working record, filled afresh every run; only the six run-time
// values outlive it.
struct leading_data
{
    int32_t target_type;
    int32_t state;
    int16_t reason_for_deactivating; // NONE while the action goes on
    int16_t leader_monster_index;
    int32_t delay_before_yelling_lower_bound;
    int32_t delay_before_yelling_delta;
    int32_t time_to_yell_next;
    int32_t maximum_times_to_yell;
    int32_t remaining_times_to_yell;
    int32_t delay_before_beckoning_lower_bound;
    int32_t delay_before_beckoning_delta;
    int32_t time_to_beckon_next;
    int32_t maximum_times_to_beckon;
    int32_t remaining_times_to_beckon;
    world_point2d group_center;
    world_point2d closest_led_unit_location;
    world_distance range_to_target;
    world_distance min_range;
    world_distance desired_range;
    world_distance max_range;
    world_distance minimum_radius_before_fleeing;
    world_distance fleeing_radius;
    world_point2d waypoints[MAXIMUM_ALLOWED_WAYPOINTS];
    int32_t waypoint_count;
    int32_t waypoint_index;
};

// The run-time values, stored in this order.
struct runtime_value
{
    field_tag name;
    int32_t leading_data::*member;
};
const runtime_value runtime_values[] = {
    {FOUR_CHARACTER_CODE('#', 's', 't', 't'), &leading_data::state},
    {FOUR_CHARACTER_CODE('#', 't', 'y', 'e'), &leading_data::time_to_yell_next},
    {FOUR_CHARACTER_CODE('#', 'y', 'e', 'l'), &leading_data::remaining_times_to_yell},
    {FOUR_CHARACTER_CODE('#', 't', 'b', 'e'), &leading_data::time_to_beckon_next},
    {FOUR_CHARACTER_CODE('#', 'b', 'e', 'c'), &leading_data::remaining_times_to_beckon},
    {FOUR_CHARACTER_CODE('#', 'w', 'a', 'y'), &leading_data::waypoint_index},
};

void first_long_or(int32_t action_index, field_tag name, int16_t type, int32_t *value, int32_t default_value)
{
    if (!first_long(action_index, name, type, value)) *value = default_value;
}

// A delay's lower bound and random extra: the first entry of the name, when
// it holds exactly two values.
void delay_pair(int32_t action_index, field_tag name, int32_t *lower, int32_t *delta, int32_t default_lower,
                int32_t default_delta)
{
    *lower = default_lower;
    *delta = default_delta;
    map_action_parameter parameter;
    int32_t values[2];
    if (get_map_action_parameter(&parameter, action_index, 0, name, _parameter_integer) && parameter.count == 2 &&
        copy_map_action_parameter_values(&parameter, values, 2) == 2)
    {
        *lower = values[0];
        *delta = values[1];
    }
}

// The action's own run-time value (links not followed), or `default_value`.
int32_t stored_value(int32_t action_index, field_tag name, int32_t default_value)
{
    map_action_parameter parameter;
    int32_t value;
    if (get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag, name, _parameter_integer) &&
        copy_map_action_parameter_values(&parameter, &value, 1) == 1)
        return value;
    return default_value;
}

// Activates, in order, the actions of every `name` entry together, at most
// MAXIMUM_LEAD_ACTION_IDENTIFIERS_PER_LIST of them.
void activate_lead_list(int32_t action_index, field_tag name)
{
    int16_t identifiers[MAXIMUM_LEAD_ACTION_IDENTIFIERS_PER_LIST];
    const int32_t count = get_combined_map_action_parameter(action_index, name, _parameter_action_identifier,
                                                            identifiers, MAXIMUM_LEAD_ACTION_IDENTIFIERS_PER_LIST);
    for (int32_t i = 0; i < count; i++) activate_map_action(action_identifier_to_action_index(identifiers[i]));
}

// A waypoint of the record.  An index outside the record (a stored '#way'
// that was damaged) reads the point an unused slot holds, (0, 0).
world_point2d waypoint_at(const leading_data *data, int32_t index)
{
    if (index < 0 || index >= MAXIMUM_ALLOWED_WAYPOINTS) return {0, 0};
    return data->waypoints[index];
}

// The leader's one order: to `destination`, alone, with an all-zero record,
// in the action's name.
void order_leader(int32_t action_index, const leading_data *data, world_point2d destination)
{
    command_movement_data movement;
    memset(&movement, 0, sizeof(movement));
    group_movement_order(get_map_action_identifier(action_index), &movement, 1, &data->leader_monster_index,
                         destination);
}

// The yell and beckon rule: when the time has come and some calls are
// left, the list runs, then the next time is drawn.
void call_out(int32_t action_index, field_tag list, int32_t lower_bound, int32_t delta, int32_t *time_next,
              int32_t *remaining)
{
    if (!(game_->game_time > *time_next && (*remaining > 0 || *remaining == NONE))) return;
    activate_lead_list(action_index, list);
    const int32_t random_part = delta > 0 ? asr32(mul32_wrap((int32_t)vesk_random(), delta), 16) : 0;
    *time_next = add32_wrap(add32_wrap(game_->game_time, lower_bound), random_part);
    if (*remaining > 0) (*remaining)--;
}

// The group's centre (each share truncated before it is added) and the
// location of the group unit nearest the leader.
void locate_group(leading_data *data, const int16_t *group, int32_t count, world_point2d leader)
{
    world_distance nearest = 0;
    bool found = false;
    for (int32_t i = 0; i < count; i++)
    {
        world_point2d at;
        if (!group_movement_unit_location(group[i], &at)) continue;
        data->group_center.x += at.x / count;
        data->group_center.y += at.y / count;
        const world_distance d = distance2d(&at, &leader);
        if (!found || d < nearest) data->closest_led_unit_location = at, nearest = d, found = true;
    }
}

// The target object's location: the object itself, or for an invisible one
// the unit carrying it.  False when nothing is found (the reason is then
// set); a carrier of the leader's team ends the lead with success.
bool locate_target_object(int32_t action_index, leading_data *data, int16_t object_identifier, int32_t leader_team)
{
    datum_globals *objects = get_object_array();
    datum_globals *units = get_monster_array();
    for (int32_t object_index = 0; object_index < objects->count; object_index++)
    {
        const object_data *object = get_object(object_index);
        if (!object || object->identifier != object_identifier) continue;
        if (!(object->flags & _object_is_invisible_flag))
        {
            data->waypoints[0] = {object->location.position.x, object->location.position.y};
            data->waypoint_count = 1;
            return true;
        }
        for (int32_t monster_index = 0; monster_index < units->count; monster_index++)
        {
            const monster_data *carrier = get_monster_data(monster_index);
            if (!carrier || (carrier->flags & _monster_has_left_the_mesh_flag) ||
                carrier->carrying_object_index != object_index)
                continue;
            world_point2d at = {0, 0};
            group_movement_unit_location(monster_index, &at);
            data->waypoints[0] = at;
            data->waypoint_count = 1;
            if (carrier->owner_team_index == leader_team)
            {
                map_action_debug(action_index, "Friendly monster picked up target object");
                data->reason_for_deactivating = _deactivate_reason_success;
            }
            return true;
        }
    }
    map_action_debug(action_index, "cannot find target object");
    data->reason_for_deactivating = _deactivate_reason_target_is_gone;
    return false;
}

// Steps 1 to 6: the group, settings, leader and target.  False when the run
// ends there, with the reason set.
bool read_lead(int32_t action_index, leading_data *data)
{
    int16_t group[MAXIMUM_GROUP_MOVEMENT_UNITS];
    const int32_t group_count = group_movement_named_units(action_index, _common_field_name_subject, group,
                                                           MAXIMUM_GROUP_MOVEMENT_UNITS, nullptr);
    if (group_count == 0)
    {
        map_action_debug(action_index, "group to be led appears to be dead");
        data->reason_for_deactivating = _deactivate_reason_group_died;
        return false;
    }

    data->reason_for_deactivating = _deactivate_reason_error;
    int16_t leader_identifier;
    if (!get_indexed_short_integer_parameter(action_index, field('l', 'e', 'a', 'd'), _parameter_monster_identifier,
                                             &leader_identifier, 0))
    {
        map_action_error(action_index, "missing or invalid leader monster identifier");
        return false;
    }
    if (!first_long(action_index, field('m', 'i', 'r', 'a'), _parameter_world_distance, &data->min_range))
    {
        map_action_error(action_index, "missing or invalid minimum range");
        return false;
    }
    if (!first_long(action_index, field('d', 'e', 'r', 'a'), _parameter_world_distance, &data->desired_range))
    {
        map_action_error(action_index, "missing or invalid desired range");
        return false;
    }
    if (!first_long(action_index, field('m', 'a', 'r', 'a'), _parameter_world_distance, &data->max_range))
    {
        map_action_error(action_index, "missing or invalid maximum range");
        return false;
    }
    if (data->min_range > data->desired_range || data->desired_range > data->max_range)
    {
        map_action_error(action_index, "min range must be <= desired range <= max range");
        return false;
    }
    if (!first_long(action_index, field('t', 'y', 'p', 'e'), _parameter_integer, &data->target_type))
    {
        map_action_error(action_index, "missing target type");
        return false;
    }
    data->reason_for_deactivating = NONE;

    int16_t leader_index = NONE;
    world_point2d leader;
    if (monster_identifiers_to_monster_indexes(&leader_identifier, &leader_index, 1) != 1 ||
        !group_movement_unit_location(leader_index, &leader))
    {
        map_action_debug(action_index, "leader monster appears to be dead");
        data->reason_for_deactivating = _deactivate_reason_leader_died;
        return false;
    }
    data->leader_monster_index = leader_index;
    locate_group(data, group, group_count, leader);

    first_long_or(action_index, field('r', 'a', 't', 'a'), _parameter_world_distance, &data->range_to_target,
                  DEFAULT_LEAD_TARGET_RANGE);
    delay_pair(action_index, field('d', 'e', 'b', 'y'), &data->delay_before_yelling_lower_bound,
               &data->delay_before_yelling_delta, DEFAULT_YELLING_LOWER_BOUND, DEFAULT_YELLING_DELTA);
    delay_pair(action_index, field('d', 'e', 'b', 'e'), &data->delay_before_beckoning_lower_bound,
               &data->delay_before_beckoning_delta, DEFAULT_BECKONING_LOWER_BOUND, DEFAULT_BECKONING_DELTA);
    first_long_or(action_index, field('m', 'r', 'b', 'f'), _parameter_world_distance,
                  &data->minimum_radius_before_fleeing, DEFAULT_MINIMUM_RADIUS_BEFORE_FLEEING);
    first_long_or(action_index, field('f', 'l', 'r', 'a'), _parameter_world_distance, &data->fleeing_radius,
                  DEFAULT_FLEEING_RADIUS);
    first_long_or(action_index, field('y', 'e', 'c', 't'), _parameter_integer, &data->maximum_times_to_yell, NONE);
    first_long_or(action_index, field('b', 'e', 'c', 't'), _parameter_integer, &data->maximum_times_to_beckon, NONE);

    const int32_t leader_team = get_monster_data(leader_index)->owner_team_index;
    switch (data->target_type)
    {
    case _target_is_monster:
    {
        int16_t identifier, index = NONE;
        if (!get_indexed_short_integer_parameter(action_index, field('m', 'o', 'n', 's'),
                                                 _parameter_monster_identifier, &identifier, 0))
        {
            map_action_error(action_index, "missing target monster parameter");
            data->reason_for_deactivating = _deactivate_reason_error;
            return false;
        }
        world_point2d at;
        if (monster_identifiers_to_monster_indexes(&identifier, &index, 1) != 1 ||
            !group_movement_unit_location(index, &at))
        {
            map_action_debug(action_index, "target monster is dead");
            data->reason_for_deactivating = _deactivate_reason_target_is_gone;
            return false;
        }
        data->waypoints[0] = at;
        data->waypoint_count = 1;
        break;
    }
    case _target_is_object:
    {
        int16_t identifier;
        if (!get_indexed_short_integer_parameter(action_index, _common_field_name_object,
                                                 _parameter_object_identifier, &identifier, 0))
        {
            map_action_error(action_index, "missing target object parameter");
            data->reason_for_deactivating = _deactivate_reason_error;
            return false;
        }
        if (!locate_target_object(action_index, data, identifier, leader_team)) return false;
        if (data->reason_for_deactivating != NONE) return false;
        break;
    }
    case _target_is_waypoint:
    {
        map_action_parameter points;
        if (!get_map_action_parameter(&points, action_index, 0, field('w', 'a', 'y', 'p'), _parameter_world_point2d))
        {
            map_action_error(action_index, "missing or invalid waypoint");
            data->reason_for_deactivating = _deactivate_reason_error;
            return false;
        }
        if (points.count >= MAXIMUM_ALLOWED_WAYPOINTS)
        {
            map_action_error(action_index, "Can't have more than %d waypoints", (int)MAXIMUM_ALLOWED_WAYPOINTS);
            data->reason_for_deactivating = _deactivate_reason_error;
            return false;
        }
        data->waypoint_count = copy_map_action_parameter_values(&points, data->waypoints, points.count);
        map_action_debug(action_index, "Adding centerpoint as new starting waypoint");
        break;
    }
    default: break; // no waypoint: the target point is (0, 0)
    }
    return true;
}

// Steps 8 to 10: arrival, or the band, flight, calls and the leading order.
void lead_group(int32_t action_index, leading_data *data)
{
    world_point2d leader;
    group_movement_unit_location(data->leader_monster_index, &leader);
    const world_point2d target = waypoint_at(data, data->waypoint_index);
    if (distance2d(&leader, &target) < data->range_to_target)
    {
        data->waypoint_index++;
        if (data->waypoint_index == data->waypoint_count)
        {
            map_action_debug(action_index, "leader is close enough to target");
            data->reason_for_deactivating = _deactivate_reason_success;
        }
        return;
    }

    const world_point2d closest = data->closest_led_unit_location;
    const world_distance spread = distance2d(&closest, &leader);
    int32_t state = data->state;
    if (data->min_range <= spread && spread <= data->max_range)
    {
        const map_action *action = get_map_action(action_index);
        if (action && (action->flags & _map_action_succeeded_flag)) state = _state_waiting;
    }
    else
    {
        state = _state_leading;
        if (data->waypoint_index < data->waypoint_count)
        {
            // The rest of this run still heads for `target`.
            int32_t best = data->waypoint_index < 0 ? 0 : data->waypoint_index;
            world_point2d best_point = waypoint_at(data, best);
            world_distance best_distance = distance2d(&best_point, &closest);
            for (int32_t i = best + 1; i < data->waypoint_count; i++)
            {
                const world_point2d point = waypoint_at(data, i);
                const world_distance d = distance2d(&point, &closest);
                if (d < best_distance) best = i, best_distance = d;
            }
            data->waypoint_index = best;
        }
    }
    const bool changed = state != data->state;
    data->state = state;

    world_point2d destination = leader;
    if (state != _state_waiting) closest_point_on_circle2d(&closest, data->desired_range, &target, &destination);

    // The nearest unit of another team (allies count; no team does not).
    const int32_t leader_team = get_monster_data(data->leader_monster_index)->owner_team_index;
    datum_globals *units = get_monster_array();
    bool enemy_found = false;
    world_point2d enemy = {0, 0};
    world_distance enemy_distance = 0;
    for (int32_t monster_index = 0; monster_index < units->count; monster_index++)
    {
        const monster_data *monster = get_monster_data(monster_index);
        if (!monster || (monster->flags & _monster_has_left_the_mesh_flag) ||
            monster->owner_team_index == leader_team || monster->owner_team_index == NONE)
            continue;
        world_point2d at;
        if (!group_movement_unit_location(monster_index, &at)) continue;
        const world_distance d = distance2d(&at, &destination);
        if (!enemy_found || d < enemy_distance) enemy = at, enemy_distance = d, enemy_found = true;
    }

    if (enemy_found && enemy_distance < data->minimum_radius_before_fleeing)
    {
        world_point2d refuge;
        closest_point_on_circle2d(&data->group_center, -data->fleeing_radius, &enemy, &refuge);
        order_leader(action_index, data, refuge);
        call_out(action_index, field('f', 'l', 'e', 'e'), data->delay_before_yelling_lower_bound,
                 data->delay_before_yelling_delta, &data->time_to_yell_next, &data->remaining_times_to_yell);
        return;
    }
    if (changed)
    {
        data->remaining_times_to_yell = data->maximum_times_to_yell;
        data->remaining_times_to_beckon = data->maximum_times_to_beckon;
    }
    if (state == _state_waiting)
        call_out(action_index, field('b', 'e', 'c', 'k'), data->delay_before_beckoning_lower_bound,
                 data->delay_before_beckoning_delta, &data->time_to_beckon_next, &data->remaining_times_to_beckon);
    else
        order_leader(action_index, data, destination);
}

} // namespace

uint32_t lead_action_proc(int32_t action_index)
{
    leading_data data;
    memset(&data, 0, sizeof(data));
    data.reason_for_deactivating = NONE;
    if (read_lead(action_index, &data))
    {
        data.state = stored_value(action_index, runtime_values[0].name, _state_leading);
        data.time_to_yell_next = stored_value(action_index, runtime_values[1].name, 0);
        data.remaining_times_to_yell = stored_value(action_index, runtime_values[2].name, data.maximum_times_to_yell);
        data.time_to_beckon_next = stored_value(action_index, runtime_values[3].name, 0);
        data.remaining_times_to_beckon =
            stored_value(action_index, runtime_values[4].name, data.maximum_times_to_beckon);
        data.waypoint_index = stored_value(action_index, runtime_values[5].name, 0);
        lead_group(action_index, &data);
        for (const runtime_value &value : runtime_values)
            set_unique_map_action_parameter(action_index, value.name, _parameter_integer, 1, &(data.*value.member));
    }

    switch (data.reason_for_deactivating)
    {
    case NONE: return 0;
    case _deactivate_reason_error:
    case _deactivate_reason_group_died: return _map_action_proc_deactivate_flag;
    case _deactivate_reason_leader_died:
        activate_lead_list(action_index, field('d', 'i', 'e', 'd'));
        return _map_action_proc_deactivate_flag;
    case _deactivate_reason_target_is_gone:
        activate_lead_list(action_index, field('g', 'o', 'n', 'e'));
        return _map_action_proc_deactivate_flag;
    case _deactivate_reason_success:
        activate_lead_list(action_index, field('s', 'u', 'c', 'c'));
        return _map_action_proc_deactivate_flag;
    default:
        map_action_error(action_index, "What reason for deactivating is %d?", (int)data.reason_for_deactivating);
        return 0;
    }
}

// The group movement procedures: 'rout', 'surr', 'look', 'wand', 'foll'.
// 'lead' is in group_movement_lead.cpp.

#include "group_movement_action_procs.h"

#include <cstring>

#include "action_proc_helpers.h"
#include "attack_ai.h"
#include "gameplay_versions.h"
#include "group_movement_shared.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "monster_commands.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "script_math.h"
#include "spatial_groups.h"
#include "vesk_random.h"

// ---- what the procedures share ---------------------------------------------------------------

int32_t group_movement_named_units(int32_t action_index, field_tag name, int16_t *indexes, int32_t maximum,
                                   int32_t *identifier_count)
{
    int16_t identifiers[MAXIMUM_GROUP_MOVEMENT_UNITS];
    if (maximum > MAXIMUM_GROUP_MOVEMENT_UNITS) maximum = MAXIMUM_GROUP_MOVEMENT_UNITS;
    const int32_t count = get_combined_map_action_parameter(action_index, name, _parameter_monster_identifier,
                                                            identifiers, maximum);
    if (identifier_count) *identifier_count = count;
    return monster_identifiers_to_monster_indexes(identifiers, indexes, count);
}

bool group_movement_unit_location(int32_t monster_index, world_point2d *location)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return false;
    location->x = object->location.position.x;
    location->y = object->location.position.y;
    return true;
}

void group_movement_order(int16_t internal_command_identifier, const command_movement_data *data, int32_t unit_count,
                          const int16_t *unit_indexes, world_point2d destination)
{
    handle_movement_command(internal_command_identifier, data, unit_count, unit_indexes, 1, &destination);
}

// The point `distance` from `origin` at `facing`, the table read with the
// simulation's rounding index.  Products in 64 bits: a distance may exceed
// what 16384 times it leaves in 32.
world_point2d group_movement_point_at(world_point2d origin, angle facing, int32_t distance)
{
    return {add32_wrap(origin.x, (int32_t)asr64(mul64(cosine_rounded(facing), distance), TRIG_SHIFT)),
            add32_wrap(origin.y, (int32_t)asr64(mul64(sine_rounded(facing), distance), TRIG_SHIFT))};
}

// An enemy of `team` in the scripts' sense: another team it is not allied with.
static bool is_enemy_team(int32_t team, int32_t other_team)
{
    return other_team != team && !teams_are_allied(team, other_team);
}

// The exact length of (dx, dy): distances on a large mesh pass what 32-bit
// squares hold, and below that it is the 32-bit isqrt.
static int32_t vector_length(int32_t dx, int32_t dy)
{
    return (int32_t)isqrt64((uint64_t)(mul64(dx, dx) + mul64(dy, dy)));
}

static bool store_record(int32_t action_index, field_tag name, const void *record, int32_t size)
{
    return set_unique_map_action_parameter(action_index, name, _parameter_character, size, record);
}

// ---- rout -------------------------------------------------------------------------------------

uint32_t rout_action_proc(int32_t action_index)
{
    int16_t units[MAXIMUM_GROUP_MOVEMENT_UNITS];
    int32_t count = group_movement_named_units(action_index, _common_field_name_subject, units,
                                               MAXIMUM_GROUP_MOVEMENT_UNITS, nullptr);
    count = remove_monster_indexes_under_user_control(units, count);
    if (count == 0) return _map_action_proc_succeeded_flag | _map_action_proc_deactivate_flag;

    map_action_parameter destinations;
    const world_point2d *points = nullptr;
    if (get_map_action_parameter(&destinations, action_index, 0, field('d', 'e', 's', 't'), _parameter_world_point2d))
        points = (const world_point2d *)extract_parameter_array_address(&destinations);
    if (!points)
    {
        map_action_debug(action_index, "missing or invalid destination field");
        return 0;
    }
    // Every unit's escape point is chosen before any order is given: an
    // order that completes at once may run lists that move the buffer.
    world_point2d chosen[MAXIMUM_GROUP_MOVEMENT_UNITS];
    bool located[MAXIMUM_GROUP_MOVEMENT_UNITS];
    for (int32_t i = 0; i < count; i++)
    {
        world_point2d at;
        located[i] = group_movement_unit_location(units[i], &at);
        if (!located[i]) continue;
        int32_t best = 0;
        world_distance best_distance = distance2d(&at, &points[0]);
        for (int32_t p = 1; p < destinations.count; p++)
        {
            const world_distance d = distance2d(&at, &points[p]);
            if (d < best_distance) best = p, best_distance = d;
        }
        chosen[i] = points[best];
    }
    command_movement_data data;
    memset(&data, 0, sizeof(data));
    for (int32_t i = 0; i < count; i++)
        if (located[i]) group_movement_order((int16_t)action_index, &data, 1, &units[i], chosen[i]);
    return 0;
}

// ---- surround ---------------------------------------------------------------------------------

static const field_tag surround_state_name = FOUR_CHARACTER_CODE('#', 'c', 's', 't');

static int32_t first_integer_or_none(int32_t action_index, field_tag name)
{
    int32_t value;
    return get_indexed_long_integer_parameter(action_index, name, _parameter_integer, &value, 0) ? value : NONE;
}

// The enemy spatial group nearest `at` by the distance to its edge and its
// reach (distance - radius - range); the first of equals.  Null when none.
static const spatial_group *nearest_enemy_group(world_point2d at, int32_t team)
{
    const spatial_group *best = nullptr;
    int32_t best_distance = 0;
    for (const spatial_group *group = first_spatial_group(); group; group = group->next_group)
    {
        if (!is_enemy_team(team, group->team_index)) continue;
        const int32_t d = distance2d(&at, &group->center) - group->radius - group->range;
        if (!best || d < best_distance) best = group, best_distance = d;
    }
    return best;
}

static void surround_units(int32_t action_index, const int16_t *units, int32_t count)
{
    const int32_t team = get_monster_data(units[0])->owner_team_index;
    command_movement_data data;
    memset(&data, 0, sizeof(data));
    for (int32_t i = 0; i < count; i++)
    {
        world_point2d at;
        if (!group_movement_unit_location(units[i], &at)) continue;
        const spatial_group *group = nearest_enemy_group(at, team);
        if (!group) continue;
        // The sum of the unit vectors pointing from every other unit to
        // this one: the way out of the crowd.
        int32_t sum_x = 0, sum_y = 0;
        bool summed = false;
        for (int32_t j = 0; j < count; j++)
        {
            world_point2d other;
            if (!group_movement_unit_location(units[j], &other)) continue;
            const int32_t dx = at.x - other.x, dy = at.y - other.y;
            const int32_t length = vector_length(dx, dy);
            if (length == 0) continue;
            sum_x += (int32_t)(mul64(dx, TRIG_MAGNITUDE) / length);
            sum_y += (int32_t)(mul64(dy, TRIG_MAGNITUDE) / length);
            summed = true;
        }
        if (!summed) continue;
        const angle desired = arctangent(sum_x, sum_y);
        const angle bearing = arctangent(at.x - group->center.x, at.y - group->center.y);
        int32_t turn = signed_angular_difference(bearing, desired);
        if (turn > MAXIMUM_SURROUND_ANGULAR_DELTA) turn = MAXIMUM_SURROUND_ANGULAR_DELTA;
        if (turn < -MAXIMUM_SURROUND_ANGULAR_DELTA) turn = -MAXIMUM_SURROUND_ANGULAR_DELTA;
        const world_point2d destination =
            group_movement_point_at(group->center, (angle)(bearing + turn), group->radius + group->range);
        // The action's index, not its identifier, as this procedure always passed.
        group_movement_order((int16_t)action_index, &data, 1, &units[i], destination);
    }
}

uint32_t surround_action_proc(int32_t action_index)
{
    surround_action_proc_globals globals;
    if (!get_map_action_structure(action_index, surround_state_name, sizeof(globals), &globals))
    {
        memset(&globals, 0, sizeof(globals));
        globals.state = _surround_state_surrounding;
        globals.original_monster_count = NONE;
        globals.losses_causing_a_charge = first_integer_or_none(action_index, field('l', 'o', 's', 's'));
        globals.time_causing_a_charge = first_integer_or_none(action_index, field('t', 'i', 'm', 'e'));
    }
    const int32_t limit =
        current_gameplay_version < 1301 ? MAXIMUM_UNITS_PER_COMMAND_BEFORE_1301 : MAXIMUM_UNITS_PER_COMMAND;
    int16_t units[MAXIMUM_UNITS_PER_COMMAND];
    const int32_t count = group_movement_named_units(action_index, _common_field_name_subject, units, limit, nullptr);
    world_point2d centre;
    get_centerpoint_of_monster_indexes(count, units, &centre);
    if (globals.original_monster_count == NONE) globals.original_monster_count = (int16_t)count;

    const bool charge_by_losses = globals.losses_causing_a_charge != NONE &&
                                  globals.original_monster_count - count >= globals.losses_causing_a_charge;
    const bool charge_by_time = globals.time_causing_a_charge == 0;
    globals.time_causing_a_charge = add32_wrap(globals.time_causing_a_charge, -1);
    if ((charge_by_losses || charge_by_time) && globals.state != _surround_state_attacking)
    {
        map_action_debug(action_index, "charging");
        call_functions_with_actions_in_parameter(activate_map_action, action_index, field('a', 'c', 'a', 't'));
        globals.state = _surround_state_attacking;
    }

    if (count == 0)
    {
        store_record(action_index, surround_state_name, &globals, sizeof(globals));
        return _map_action_proc_deactivate_flag;
    }
    if (globals.state == _surround_state_attacking)
    {
        attack_ai_configuration configuration;
        parse_attack_ai_configuration(&configuration, action_index);
        configuration.focus = centre;
        configuration.flags &= (uint16_t)~_attack_ai_no_focus_flag;
        attack_with_monster_indexes(&configuration, count, units);
    }
    else
        surround_units(action_index, units, count);
    store_record(action_index, surround_state_name, &globals, sizeof(globals));
    return 0;
}

// ---- look -------------------------------------------------------------------------------------

uint32_t look_action_proc(int32_t action_index)
{
    int16_t units[MAXIMUM_GROUP_MOVEMENT_UNITS];
    const int32_t count = group_movement_named_units(action_index, _common_field_name_subject, units,
                                                     MAXIMUM_GROUP_MOVEMENT_UNITS, nullptr);
    if (count == 0) return _map_action_proc_succeeded_flag;
    world_point2d centre;
    const world_distance radius = get_centerpoint_of_monster_indexes(count, units, &centre);
    const int32_t team = get_monster_data(units[0])->owner_team_index;
    for (const spatial_group *group = first_spatial_group(); group; group = group->next_group)
    {
        if (!is_enemy_team(team, group->team_index)) continue;
        if (distance2d(&centre, &group->center) - group->radius - group->range - radius < 0)
            return _map_action_proc_succeeded_flag;
    }
    return 0;
}

// ---- wander -----------------------------------------------------------------------------------

uint32_t wander_action_proc(int32_t action_index)
{
    int16_t units[MAXIMUM_WANDERING_MONSTERS];
    const int32_t count = group_movement_named_units(action_index, _common_field_name_subject, units,
                                                     MAXIMUM_WANDERING_MONSTERS, nullptr);
    if (count == 0) return 0;
    world_point2d centre;
    if (!get_indexed_world_point2d_parameter(action_index, field('c', 'e', 'n', 't'), &centre, 0))
    {
        map_action_debug(action_index, "missing centerpoint");
        return 0;
    }
    world_distance radius;
    // A radius of 0 leaves no distance to draw (a modulo by zero): refused
    // like a missing one, before anything is drawn.
    if (!get_indexed_long_integer_parameter(action_index, field('r', 'a', 'd', 'i'), _parameter_world_distance,
                                            &radius, 0) ||
        radius == 0)
    {
        map_action_debug(action_index, "no random radius");
        return 0;
    }
    command_movement_data data;
    memset(&data, 0, sizeof(data));
    const int16_t identifier = get_map_action_identifier(action_index);
    for (int32_t i = 0; i < count; i++)
    {
        const angle facing = vesk_random();
        const int32_t distance = rem32_guarded((int32_t)vesk_random(), radius);
        group_movement_order(identifier, &data, 1, &units[i], group_movement_point_at(centre, facing, distance));
    }
    return _map_action_proc_succeeded_flag;
}

// ---- follow -----------------------------------------------------------------------------------

// What one run of a follow action found around its followers.
struct follow_surroundings
{
    bool threatened; // some enemy supergroup with power was in sight
    int32_t threat_x, threat_y; // from the enemies towards the followers, 65536 = all of their power
    const spatial_supergroup *friendly; // the friendly body to keep near, or null
};

static follow_surroundings look_around(const follow_action_proc_globals *globals, world_point2d centre, int32_t team)
{
    follow_surroundings found = {false, 0, 0, nullptr};
    // 64-bit: a sum of powers times distances over every supergroup in sight.
    int64_t sum_x = 0, sum_y = 0, total_power = 0;
    int32_t friendly_distance = 0;
    for (const spatial_supergroup *s = first_spatial_supergroup(); s; s = s->next)
    {
        const int32_t dx = centre.x - s->center.x, dy = centre.y - s->center.y;
        const int32_t d = vector_length(dx, dy);
        if (d - s->radius >= globals->visibility_radius) continue;
        if (s->team_index != team)
        {
            // Allied teams count as enemies here.
            if ((globals->flags & follow_globals_flags::_blinkered_flag) || d == 0) continue;
            sum_x += mul64(s->power, dx) / d;
            sum_y += mul64(s->power, dy) / d;
            total_power += s->power;
        }
        else if (s->center.x != centre.x || s->center.y != centre.y)
        {
            const int32_t edge = d - s->radius;
            if (!found.friendly || edge < friendly_distance ||
                (s->power > found.friendly->power && edge - friendly_distance < POWER_OVER_DISTANCE_THRESHHOLD))
                found.friendly = s, friendly_distance = edge;
        }
    }
    if (total_power != 0)
    {
        found.threatened = true;
        found.threat_x = (int32_t)(sum_x * 65536 / total_power);
        found.threat_y = (int32_t)(sum_y * 65536 / total_power);
    }
    return found;
}

uint32_t follow_action_proc(int32_t action_index)
{
    follow_action_proc_globals globals;
    if (!get_map_action_structure(action_index, _common_internal_field_name_globals, sizeof(globals), &globals))
    {
        memset(&globals, 0, sizeof(globals));
        globals.action_index = (int16_t)action_index;
        globals.visibility_radius = DEFAULT_FOLLOW_VISIBILITY_RADIUS;
        get_indexed_long_integer_parameter(action_index, field('r', 'a', 'd', 'i'), _parameter_world_distance,
                                           &globals.visibility_radius, 0);
        globals.follow_radius = DEFAULT_FOLLOW_RADIUS;
        get_indexed_long_integer_parameter(action_index, field('f', 'o', 'r', 'a'), _parameter_world_distance,
                                           &globals.follow_radius, 0);
        if (has_flag(action_index, field('s', 't', 'o', 'p'))) globals.flags |= follow_globals_flags::_stop_when_idle_flag;
        if (has_flag(action_index, field('b', 'l', 'n', 'k'))) globals.flags |= follow_globals_flags::_blinkered_flag;
    }
    VASSERT(action_index == globals.action_index, "action_index==globals.action_index");

    int16_t followers[MAXIMUM_FOLLOWING_MONSTERS];
    const int32_t follower_count = group_movement_named_units(action_index, _common_field_name_subject, followers,
                                                              MAXIMUM_FOLLOWING_MONSTERS, nullptr);
    if (follower_count == 0)
    {
        call_functions_with_actions_in_parameter(activate_map_action, action_index, field('e', 'r', 'e', 'l'));
        return _map_action_proc_deactivate_flag;
    }
    int16_t followed[MAXIMUM_FOLLOWED_MONSTERS];
    int32_t followed_identifier_count;
    int32_t followed_count = group_movement_named_units(action_index, _common_field_name_object, followed,
                                                        MAXIMUM_FOLLOWED_MONSTERS, &followed_identifier_count);
    followed_count = remove_incapacitated_monster_indexes(followed, followed_count);
    if (followed_identifier_count > 0)
        globals.flags |= follow_globals_flags::_followed_monsters_valid_flag;
    else
        globals.flags &= ~(uint32_t)follow_globals_flags::_followed_monsters_valid_flag;
    if ((globals.flags & follow_globals_flags::_followed_monsters_valid_flag) && followed_count == 0)
    {
        call_functions_with_actions_in_parameter(activate_map_action, action_index, field('e', 'd', 'e', 'l'));
        return _map_action_proc_deactivate_flag;
    }
    world_point2d centre;
    get_centerpoint_of_monster_indexes(follower_count, followers, &centre);
    globals.actual_centerpoint = centre;

    const follow_surroundings around =
        look_around(&globals, centre, get_monster_data(followers[0])->owner_team_index);

    // The target: the nearest followed unit, unless one lies ahead of the
    // followers along the threat; else the friendly body, kept at its edge.
    bool targeted = false;
    world_point2d target = {0, 0};
    int32_t target_distance = 0;
    if (followed_count > 0)
    {
        world_distance nearest = 0;
        for (int32_t i = 0; i < followed_count; i++)
        {
            world_point2d at;
            if (!group_movement_unit_location(followed[i], &at)) continue;
            const world_distance d = distance2d(&centre, &at);
            if (!targeted || d < nearest) target = at, nearest = d, targeted = true;
            const int64_t ahead = mul64(centre.x - at.x, around.threat_x) + mul64(centre.y - at.y, around.threat_y);
            if (ahead < 0)
            {
                map_action_debug(action_index, "too far forward %08x,%08x", (unsigned)around.threat_x,
                                 (unsigned)around.threat_y);
                target = at;
                break;
            }
        }
    }
    else if (around.friendly)
    {
        target = around.friendly->center;
        target_distance = around.friendly->radius;
        targeted = true;
    }
    if (!targeted)
    {
        command_general_data retreat;
        memset(&retreat, 0, sizeof(retreat));
        retreat.type = _command_general_retreat;
        handle_general_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &retreat, follower_count, followers);
        const bool only_falling_behind =
            (globals.flags & follow_globals_flags::_abandoned_flag) && !(globals.flags & follow_globals_flags::_falling_behind_flag);
        call_functions_with_actions_in_parameter(activate_map_action, action_index,
                                                 only_falling_behind ? field('a', 'c', 'f', 'a')
                                                                     : field('a', 'c', 'a', 'b'));
        globals.flags |= follow_globals_flags::_globals_initialized_flag | follow_globals_flags::_falling_behind_flag |
                         follow_globals_flags::_abandoned_flag;
        store_record(action_index, _common_internal_field_name_globals, &globals, sizeof(globals));
        return 0;
    }

    const angle bearing = around.threatened ? arctangent(around.threat_x, around.threat_y)
                                            : arctangent(centre.x - target.x, centre.y - target.y);
    const world_point2d desired =
        group_movement_point_at(target, bearing, to_i16(add32_wrap(target_distance, globals.follow_radius)));
    bool order = true;
    if ((globals.flags & follow_globals_flags::_globals_initialized_flag) &&
        distance2d(&desired, &globals.desired_centerpoint) <= MINIMUM_DESIRED_DISTANCE)
    {
        order = false;
        world_point2d first;
        if (current_gameplay_version >= 1301 && group_movement_unit_location(followers[0], &first) &&
            distance2d(&first, &desired) > globals.follow_radius)
            order = true;
    }
    if (order)
    {
        command_movement_data data;
        memset(&data, 0, sizeof(data));
        data.flags = _command_movement_final_facing_flag;
        data.final_facing = (angle)(bearing + HALF_CIRCLE);
        group_movement_order(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &data, follower_count, followers, desired);
        globals.desired_centerpoint = desired;
    }
    else if (globals.flags & follow_globals_flags::_stop_when_idle_flag)
    {
        for (int32_t i = 0; i < follower_count; i++)
            if (monster_data *follower = get_monster_data(followers[i])) follower->flags |= _monster_was_stopped_flag;
    }

    const int32_t behind = (globals.flags & follow_globals_flags::_falling_behind_flag) ? FALLEN_BEHIND_DISTANCE : FALLING_BEHIND_DISTANCE;
    if (distance2d(&centre, &globals.desired_centerpoint) > behind)
    {
        if (!(globals.flags & follow_globals_flags::_falling_behind_flag))
            call_functions_with_actions_in_parameter(activate_map_action, action_index, field('a', 'c', 'f', 'a'));
        globals.flags |= follow_globals_flags::_globals_initialized_flag | follow_globals_flags::_falling_behind_flag;
        globals.flags &= ~(uint32_t)follow_globals_flags::_abandoned_flag;
    }
    else
    {
        globals.flags |= follow_globals_flags::_globals_initialized_flag;
        globals.flags &= ~(uint32_t)(follow_globals_flags::_falling_behind_flag | follow_globals_flags::_abandoned_flag);
    }
    store_record(action_index, _common_internal_field_name_globals, &globals, sizeof(globals));
    return 0;
}

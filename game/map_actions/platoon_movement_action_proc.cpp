// Platoon movement and scouting ('plmo', 'plsc').

#include "platoon_movement_action_proc.h"

#include <cstring>

#include "action_proc_helpers.h"
#include "attack_ai.h"
#include "group_action_procs.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "monster_definitions.h"
#include "monster_lists.h"
#include "monsters.h"
#include "players.h"
#include "script_math.h"
#include "spatial_groups.h"
#include "vesk_random.h"

enum
{
    MAXIMUM_PLATOON_UNITS = 400,
    // Bit 7 of a monster definition's flags: the group can be fought from
    // range, so a scout may always watch it.
    _monster_is_anti_missile_target_bit = 7,
    // A scouting destination closer than this to the last one keeps the orders.
    MINIMUM_SCOUTING_DESTINATION_CHANGE = 257,
    // Allied groups farther than this (squared) do not steer a scout.
    MAXIMUM_ALLIED_GROUP_DISTANCE_SQUARED = 163839999,
    MAXIMUM_SCOUTING_CORRECTION = 4096,
    SCOUT_ATTACK_RATIO = 49152,
};

static constexpr action_tag TAG_PLATOON_MOVEMENT = FOUR_CHARACTER_CODE('p', 'l', 'm', 'o');

static constexpr field_tag _platoon_state_field_name_owner_platoon = field('#', 'o', 'w', 'n');
static constexpr field_tag _platoon_state_field_name_substate = field('#', 's', 'u', 'b');
static constexpr field_tag _platoon_movement_field_name_waypoints = field('w', 'a', 'y', 'p');
static constexpr field_tag _platoon_movement_field_name_waypoint_radii = field('w', 'a', 'y', 'r');
static constexpr field_tag _platoon_movement_field_name_loop_flag = field('l', 'o', 'o', 'p');
static constexpr field_tag _platoon_movement_field_name_interpolate_flag = field('n', 't', 'r', 'p');
static constexpr field_tag _platoon_movement_field_name_interpolant_spacing = field('s', 'p', 'a', 'c');
static constexpr field_tag _platoon_movement_field_name_congregate_flag = field('c', 'o', 'n', 'g');
static constexpr field_tag _platoon_movement_field_name_radii = field('r', 'a', 'd', 'i');
static constexpr field_tag _platoon_scouting_field_name_charge_on_ally_call_flag = field('c', 'h', 'r', 'g');
static constexpr field_tag _platoon_movement_field_name_waypoint_index = field('#', 'w', 'p', 'i');
static constexpr field_tag _platoon_movement_field_name_intermediary_waypoint_index = field('#', 'i', 'w', 'i');
static constexpr field_tag _platoon_movement_field_name_intermediary_waypoint_count = field('#', 'i', 'w', 'c');
static constexpr field_tag _platoon_scouting_field_name_last_destination = field('#', 'l', 'd', 'e');
static constexpr field_tag _platoon_field_name_squads = field('#', 's', 'q', 'u');
static constexpr field_tag _platoon_field_name_attacking = field('#', 'a', 't', 't');
static constexpr field_tag _platoon_field_name_allies = field('a', 'l', 'l', 'i');

// a - b, wrapping at 32 bits.
static int32_t difference32(int32_t a, int32_t b) { return (int32_t)((uint32_t)a - (uint32_t)b); }

// ---- small readers and writers ---------------------------------------------------------

static bool read_own_integer(int32_t action_index, field_tag name, int32_t *value)
{
    map_action_parameter parameter;
    return get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag, name, _parameter_integer) &&
           copy_map_action_parameter_values(&parameter, value, 1) == 1;
}

// The action's waypoints (the first 'wayp' with values, at most 32); their number.
static int32_t read_waypoints(int32_t action_index, world_point2d *waypoints)
{
    map_action_parameter parameter;
    if (!get_map_action_parameter(&parameter, action_index, 0, _platoon_movement_field_name_waypoints,
                                  _parameter_world_point2d))
        return 0;
    return copy_map_action_parameter_values(&parameter, waypoints, MAXIMUM_PLATOON_WAYPOINTS);
}

// ---- interpolation ---------------------------------------------------------------------

// The ends of leg `waypoint_index`; false outside 1..count.
static bool leg_ends(int32_t action_index, int32_t waypoint_index, world_point2d *start, world_point2d *end)
{
    world_point2d waypoints[MAXIMUM_PLATOON_WAYPOINTS];
    const int32_t count = read_waypoints(action_index, waypoints);
    // Outside 1..count the leg would run from or to a point that does not exist.
    if (waypoint_index < 1 || waypoint_index > count) return false;
    *start = waypoints[waypoint_index - 1];
    if (waypoint_index < count)
        *end = waypoints[waypoint_index];
    else
        *end = has_flag(action_index, _platoon_movement_field_name_loop_flag) ? waypoints[0]
                                                                            : waypoints[waypoint_index - 1];
    return true;
}

bool compute_number_of_interpolated_waypoints(int32_t action_index, int32_t waypoint_index, int32_t *count)
{
    world_point2d start, end;
    *count = 0;
    if (!leg_ends(action_index, waypoint_index, &start, &end)) return false;
    const int32_t length = distance2d(&start, &end);
    if (length == 0)
    {
        *count = 1;
        return true;
    }
    int32_t spacing = DEFAULT_INTERPOLANT_SPACING;
    get_indexed_long_integer_parameter(action_index, _platoon_movement_field_name_interpolant_spacing,
                                       _parameter_world_distance, &spacing, 0);
    // A negative spacing would count backwards: it counts as none.
    *count = spacing > 0 ? length / spacing : 0;
    return true;
}

bool interpolate_waypoint(int32_t action_index, int32_t waypoint_index, int32_t intermediate_index,
                          int32_t intermediates, world_point2d *point)
{
    world_point2d start, end;
    if (!leg_ends(action_index, waypoint_index, &start, &end)) return false;
    const int32_t fraction =
        intermediates == 0 ? 0 : to_i16((int32_t)div64_guarded((int64_t)intermediate_index << 8, intermediates));
    point->x = (int32_t)(start.x + asr64((int64_t)(end.x - (int64_t)start.x) * fraction, 8));
    point->y = (int32_t)(start.y + asr64((int64_t)(end.y - (int64_t)start.y) * fraction, 8));
    return true;
}

// ---- the substate --------------------------------------------------------------------------

struct platoon_view
{
    int32_t platoon_index;
    int32_t unit_count;
    int16_t units[MAXIMUM_PLATOON_UNITS];
    world_point2d center; // Q: the units' centre
    int32_t team_index; // the first unit's team, NONE without units
};

static bool is_enemy_group(const spatial_group *group, int32_t team_index)
{
    return group->team_index != team_index && !teams_are_allied(team_index, group->team_index);
}

// The action's two radii into `radius`; false, with `complaint` in the
// script trace, when the entry is missing or does not hold exactly two.
static bool get_radii(int32_t action_index, int32_t radius[2], const char *complaint)
{
    map_action_parameter radii;
    if (!get_map_action_parameter(&radii, action_index, 0, _platoon_movement_field_name_radii,
                                  _parameter_world_distance) ||
        radii.count != 2 || copy_map_action_parameter_values(&radii, radius, 2) != 2)
    {
        map_action_debug(action_index, "%s", complaint);
        return false;
    }
    return true;
}

// 'plmo': attack the nearest enemy group inside the guard radii.
static int32_t guard_test(int32_t action_index, const platoon_view *view, int32_t substate)
{
    if (view->unit_count == 0) return _substate_moving;
    int32_t radius[2];
    if (!get_radii(action_index, radius, "no guard radius")) return _substate_moving;
    int32_t distance;
    if (!closest_enemy_spatial_group(&view->center, view->team_index, &distance)) return _substate_moving;
    return guard_radii_call_for_attack(distance, radius[0], radius[1], substate == _platoon_substate_attacking)
               ? _platoon_substate_attacking
               : _substate_moving;
}

static bool anti_missile_target(const spatial_group *group)
{
    const monster_definition *definition = get_monster_definition(group->monster_type);
    return definition && (definition->flags & FLAG(_monster_is_anti_missile_target_bit));
}

// 'plsc': which enemy group to scout (into `scouted`) and whether to attack it.
static int32_t scout_test(int32_t action_index, const platoon_view *view, int32_t substate, spatial_group **scouted)
{
    *scouted = nullptr;
    if (view->unit_count == 0) return _substate_moving;
    int32_t radius[2];
    if (!get_radii(action_index, radius, "no scout radius")) return _substate_moving;
    const int32_t scout_radius = radius[1];
    const bool charging = substate == _platoon_substate_attacking &&
                          has_flag(action_index, _platoon_scouting_field_name_charge_on_ally_call_flag);
    spatial_group *chosen = nullptr;
    bool ranged = false;
    int64_t chosen_key = 0;
    for (spatial_group *group = first_spatial_group(); group; group = group->next_group)
    {
        if (!is_enemy_group(group, view->team_index)) continue;
        const int64_t key = (int64_t)distance2d(&view->center, &group->center) - group->radius - group->range;
        bool group_ranged = true;
        if (!charging && !anti_missile_target(group))
        {
            if (key >= 0) continue; // out of its range: nothing to watch
            group_ranged = false;
        }
        if (!chosen || key < chosen_key)
        {
            chosen = group;
            chosen_key = key;
            ranged = group_ranged;
        }
    }
    if (!chosen || scout_radius <= (int64_t)distance2d(&view->center, &chosen->center) - chosen->radius)
        return _substate_moving;
    *scouted = chosen;
    int32_t result = ranged ? _substate_scouting : _substate_avoiding;

    int64_t our_power = 0;
    for (int32_t i = 0; i < view->unit_count; i++)
        our_power += monster_type_combined_power(get_monster_data(view->units[i])->type);
    int32_t group_power = chosen->power;
    const angle towards_us = arctangent(difference32(view->center.x, chosen->center.x),
                                        difference32(view->center.y, chosen->center.y));
    if (angular_difference(chosen->facing, towards_us) >= 16385) group_power /= 2;
    const int64_t ratio = group_power == 0 ? 0x7FFFFFFF : div64_guarded(our_power * 65536, group_power);

    if (!charging &&
        distance2d(&chosen->center, &view->center) >= chosen->range / 2 + 2 * chosen->radius &&
        obstructing_group(&view->center, chosen, (int16_t)view->team_index))
        return result;
    if (substate != _platoon_substate_attacking && (int64_t)vesk_random() >= ratio - SCOUT_ATTACK_RATIO) return result;
    if (ratio > SCOUT_ATTACK_RATIO || ranged) result = _platoon_substate_attacking;
    return result;
}

// ---- acting --------------------------------------------------------------------------------

static void attack(int32_t action_index, const platoon_view *view)
{
    map_action_parameter allies;
    if (get_map_action_parameter(&allies, view->platoon_index, 0, _platoon_field_name_allies,
                                 _parameter_action_identifier))
    {
        int16_t identifiers[MAXIMUM_PLATOON_SQUADS];
        const int32_t count = copy_map_action_parameter_values(&allies, identifiers, MAXIMUM_PLATOON_SQUADS);
        for (int32_t i = 0; i < count; i++)
        {
            const int32_t ally = action_identifier_to_action_index(identifiers[i]);
            if (ally != NONE) set_unique_map_action_parameter(ally, _platoon_field_name_attacking, _parameter_flag, 0, nullptr);
        }
    }
    attack_ai_configuration configuration;
    parse_attack_ai_configuration(&configuration, action_index);
    configuration.focus = view->center;
    attack_with_monster_indexes(&configuration, view->unit_count, view->units);
}

// The direction a scout keeps: away from the allied groups around it
// (scouting), or back along its way (avoiding).
static angle scouting_reference(int32_t action_index, const platoon_view *view, int32_t substate)
{
    if (substate == _substate_scouting)
    {
        if (view->unit_count == 0) return 0;
        int64_t sum_x = 0, sum_y = 0;
        for (const spatial_group *group = first_spatial_group(); group; group = group->next_group)
        {
            if (!teams_are_allied(view->team_index, group->team_index)) continue;
            const int64_t dx = (int64_t)group->center.x - view->center.x, dy = (int64_t)group->center.y - view->center.y;
            const int64_t squared = dx * dx + dy * dy;
            if (squared < 1 || squared > MAXIMUM_ALLIED_GROUP_DISTANCE_SQUARED) continue;
            const int64_t length = isqrt((uint32_t)squared);
            sum_x += dx * 65536 / length;
            sum_y += dy * 65536 / length;
        }
        return arctangent((int32_t)sum_x, (int32_t)sum_y);
    }
    world_point2d waypoint;
    int32_t waypoint_index;
    map_action_parameter waypoints;
    if (!get_map_action_parameter(&waypoints, action_index, 0, _platoon_movement_field_name_waypoints,
                                  _parameter_world_point2d))
    {
        map_action_debug(action_index, "couldn't get waypoints for scouting");
        return 0;
    }
    if (!read_own_integer(action_index, _platoon_movement_field_name_waypoint_index, &waypoint_index) ||
        !get_indexed_world_point2d_parameter(action_index, _platoon_movement_field_name_waypoints, &waypoint,
                                             waypoint_index))
    {
        map_action_debug(action_index, "couldn't get waypoint index for scouting");
        return 0;
    }
    return arctangent(difference32(view->center.x, waypoint.x), difference32(view->center.y, waypoint.y));
}

static int32_t clamp_correction(int32_t value)
{
    return value < -MAXIMUM_SCOUTING_CORRECTION ? -MAXIMUM_SCOUTING_CORRECTION
                                                : (value > MAXIMUM_SCOUTING_CORRECTION ? MAXIMUM_SCOUTING_CORRECTION : value);
}

int32_t scouting_correction(int32_t v)
{
    if (v > HALF_CIRCLE) return clamp_correction(v - HALF_CIRCLE);
    if (v < -HALF_CIRCLE) return v + HALF_CIRCLE > -MAXIMUM_SCOUTING_CORRECTION ? v + HALF_CIRCLE
                                                                               : -MAXIMUM_SCOUTING_CORRECTION;
    return clamp_correction(-v);
}

static void scout(int32_t action_index, const platoon_view *view, int32_t substate, const spatial_group *scouted)
{
    const angle reference = scouting_reference(action_index, view, substate);
    const int32_t reach = scouted->range + scouted->radius;
    const angle towards = arctangent(difference32(scouted->center.x, view->center.x),
                                     difference32(scouted->center.y, view->center.y));
    const angle facing = (angle)(towards + scouting_correction((int32_t)towards - (int32_t)reference));
    const world_point2d destination = {
        (int32_t)(scouted->center.x - asr64((int64_t)reach * cosine_rounded(facing), TRIG_SHIFT)),
        (int32_t)(scouted->center.y - asr64((int64_t)reach * sine_rounded(facing), TRIG_SHIFT))};
    world_point2d last;
    map_action_parameter last_parameter;
    if (get_map_action_parameter(&last_parameter, action_index, _dont_resolve_links_flag,
                                 _platoon_scouting_field_name_last_destination, _parameter_world_point2d) &&
        copy_map_action_parameter_values(&last_parameter, &last, 1) == 1 &&
        distance2d(&last, &destination) < MINIMUM_SCOUTING_DESTINATION_CHANGE)
        return;
    generate_platoon_movement_commands(view->platoon_index, &destination, facing);
    set_unique_map_action_parameter(action_index, _platoon_scouting_field_name_last_destination,
                                    _parameter_world_point2d, 1, &destination);
}

// ---- moving --------------------------------------------------------------------------------

// 'cong': the units' centre becomes the first waypoint, once.
static void congregate(int32_t action_index, const platoon_view *view)
{
    map_action_parameter waypoints;
    if (get_map_action_parameter(&waypoints, action_index, _return_empty_arrays_flag,
                                 _platoon_movement_field_name_waypoints, _parameter_world_point2d))
    {
        if (waypoints.count < MAXIMUM_PLATOON_WAYPOINTS - 1)
        {
            world_point2d points[MAXIMUM_PLATOON_WAYPOINTS];
            points[0] = view->center;
            const int32_t count = copy_map_action_parameter_values(&waypoints, points + 1, MAXIMUM_PLATOON_WAYPOINTS - 1);
            map_action_debug(action_index, "Adding centerpoint as new starting waypoint");
            set_map_action_parameter(&waypoints, count + 1, points);
        }
        else
            map_action_error(action_index, "Can't have more than %d waypoints... add waypoint failed.",
                             (int)MAXIMUM_PLATOON_WAYPOINTS);
    }
    else
    {
        map_action_debug(action_index, "Creating new waypoint list for congregation");
        map_action_parameter created;
        if (new_map_action_parameter(&created, action_index, _platoon_movement_field_name_waypoints,
                                     _parameter_world_point2d))
            set_map_action_parameter(&created, 1, &view->center);
    }
    map_action_parameter flag;
    while (get_map_action_parameter(&flag, action_index, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                    _platoon_movement_field_name_congregate_flag, _parameter_flag))
        delete_map_action_parameter(&flag);
}

static void move(int32_t action_index, const platoon_view *view, int32_t old_substate)
{
    bool interpolate = has_flag(action_index, _platoon_movement_field_name_interpolate_flag);
    if (has_flag(action_index, _platoon_movement_field_name_congregate_flag)) congregate(action_index, view);
    world_point2d waypoints[MAXIMUM_PLATOON_WAYPOINTS];
    const int32_t count = read_waypoints(action_index, waypoints);
    if (count == 0)
    {
        map_action_error(action_index, "no waypoints");
        return;
    }
    if (count == 1) interpolate = false;
    const bool loop = has_flag(action_index, _platoon_movement_field_name_loop_flag);
    int32_t w = interpolate ? 1 : 0, i = 0, n = 0;
    read_own_integer(action_index, _platoon_movement_field_name_waypoint_index, &w);
    if (interpolate)
    {
        read_own_integer(action_index, _platoon_movement_field_name_intermediary_waypoint_index, &i);
        read_own_integer(action_index, _platoon_movement_field_name_intermediary_waypoint_count, &n);
    }

    if (old_substate != _substate_moving)
    {
        if (interpolate)
        {
            i = 0;
            compute_number_of_interpolated_waypoints(action_index, w, &n);
        }
        else
        {
            w = NONE;
            int32_t nearest = 0;
            for (int32_t k = 0; k < count; k++)
            {
                const int32_t d = distance2d(&waypoints[k], &view->center);
                if (k == 0 || d < nearest)
                {
                    w = k;
                    nearest = d;
                }
            }
        }
    }
    else
    {
        int16_t squads[MAXIMUM_PLATOON_SQUADS];
        map_action_parameter squad_parameter;
        if (!get_map_action_parameter(&squad_parameter, view->platoon_index,
                                      _dont_resolve_links_flag | _return_empty_arrays_flag, _platoon_field_name_squads,
                                      _parameter_action_identifier))
        {
            map_action_error(action_index, "platoon had no squads parameter");
            return;
        }
        call_functions_with_actions_in_parameter(test_squad_for_elimination, view->platoon_index,
                                                 _platoon_field_name_squads);
        // The tests may have run scripts: the entry is looked up again.
        int32_t squad_count = 0;
        if (get_map_action_parameter(&squad_parameter, view->platoon_index,
                                     _dont_resolve_links_flag | _return_empty_arrays_flag, _platoon_field_name_squads,
                                     _parameter_action_identifier))
            squad_count = copy_map_action_parameter_values(&squad_parameter, squads, MAXIMUM_PLATOON_SQUADS);
        if (!test_actions_for_success(squads, squad_count, true)) return;
        reset_platoon(view->platoon_index);
        if (interpolate)
        {
            i += 1;
            if (i >= n)
            {
                i = 0;
                w += 1;
                compute_number_of_interpolated_waypoints(action_index, w, &n);
            }
        }
        else
            w += 1;
    }

    if (loop)
    {
        if (!interpolate && w == count) w = 0;
        if (interpolate && w > count)
        {
            w = 1;
            // The count was taken for the leg past the end, which does not exist.
            compute_number_of_interpolated_waypoints(action_index, w, &n);
        }
    }
    const bool finished = interpolate ? (w < 1 || w > count) : (w < 0 || w >= count);
    if (finished)
    {
        set_map_action_success(action_index);
        set_platoon_state(view->platoon_index, NONE);
    }
    else
    {
        // Both legs read below exist (w lies in 1..count, w - 1 >= 1 where it
        // is read); the first waypoint only stands in should one not.
        world_point2d target = waypoints[0];
        angle facing = 0;
        if (interpolate)
        {
            interpolate_waypoint(action_index, w, i, n, &target);
            world_point2d other = target;
            if (w == 1 && i == 0)
            {
                if (n >= 2)
                    interpolate_waypoint(action_index, 1, 1, n, &other);
                else
                    interpolate_waypoint(action_index, count >= 2 ? 2 : (loop ? 1 : count), 0, n, &other);
                facing = arctangent(difference32(other.x, target.x), difference32(other.y, target.y));
            }
            else
            {
                if (i > 0)
                    interpolate_waypoint(action_index, w, i - 1, n, &other);
                else
                    interpolate_waypoint(action_index, w - 1, n - 1, n, &other);
                facing = arctangent(difference32(target.x, other.x), difference32(target.y, other.y));
            }
        }
        else
        {
            target = waypoints[w];
            if (w > 0)
                facing = arctangent(difference32(target.x, waypoints[w - 1].x), difference32(target.y, waypoints[w - 1].y));
            else if (count > 1)
                facing = arctangent(difference32(waypoints[1].x, target.x), difference32(waypoints[1].y, target.y));
        }
        int32_t scatter;
        if (get_indexed_long_integer_parameter(action_index, _platoon_movement_field_name_waypoint_radii,
                                               _parameter_world_distance, &scatter, w) &&
            scatter != 0)
        {
            const angle direction = vesk_random();
            const int32_t distance = rem32_guarded(vesk_random(), scatter);
            target.x = wrap_add32(target.x, (int32_t)asr64((int64_t)cosine_rounded(direction) * distance, TRIG_SHIFT));
            target.y = wrap_add32(target.y, (int32_t)asr64((int64_t)sine_rounded(direction) * distance, TRIG_SHIFT));
        }
        generate_platoon_movement_commands(view->platoon_index, &target, facing);
    }
    store_own_integer(action_index, _platoon_movement_field_name_waypoint_index, w);
    if (interpolate)
    {
        store_own_integer(action_index, _platoon_movement_field_name_intermediary_waypoint_index, i);
        store_own_integer(action_index, _platoon_movement_field_name_intermediary_waypoint_count, n);
    }
}

// ---- the procedure ---------------------------------------------------------------------------

uint32_t platoon_movement_action_proc(int32_t action_index)
{
    platoon_view view;
    memset(&view, 0, sizeof(view));
    map_action_parameter owner_parameter;
    int16_t owner_identifier;
    view.platoon_index =
        get_map_action_parameter(&owner_parameter, action_index, _dont_resolve_links_flag,
                                 _platoon_state_field_name_owner_platoon, _parameter_action_identifier) &&
                copy_map_action_parameter_values(&owner_parameter, &owner_identifier, 1) == 1
            ? action_identifier_to_action_index(owner_identifier)
            : NONE;
    if (view.platoon_index == NONE)
    {
        map_action_debug(action_index, "no owner platoon");
        return 0;
    }
    map_action_parameter squads;
    if (!get_map_action_parameter(&squads, view.platoon_index, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                  _platoon_field_name_squads, _parameter_action_identifier))
    {
        map_action_debug(action_index, "no squads");
        return 0;
    }
    int16_t squad_identifiers[MAXIMUM_PLATOON_SQUADS];
    const int32_t squad_count = copy_map_action_parameter_values(&squads, squad_identifiers, MAXIMUM_PLATOON_SQUADS);
    int16_t identifiers[MAXIMUM_PLATOON_UNITS];
    int32_t identifier_count = 0;
    for (int32_t s = 0; s < squad_count && identifier_count < MAXIMUM_PLATOON_UNITS; s++)
    {
        const int32_t squad = action_identifier_to_action_index(squad_identifiers[s]);
        if (squad == NONE) continue;
        identifier_count += get_combined_map_action_parameter(squad, _common_field_name_subject,
                                                              _parameter_monster_identifier,
                                                              identifiers + identifier_count,
                                                              MAXIMUM_PLATOON_UNITS - identifier_count);
    }
    view.unit_count = monster_identifiers_to_monster_indexes(identifiers, view.units, identifier_count);
    get_centerpoint_of_monster_indexes(view.unit_count, view.units, &view.center);
    view.team_index = view.unit_count > 0 ? (int32_t)get_monster_data(view.units[0])->owner_team_index : (int32_t)NONE;

    int32_t old_substate = NONE;
    read_own_integer(action_index, _platoon_state_field_name_substate, &old_substate);
    int32_t substate = old_substate;
    map_action_parameter attacking;
    if (get_map_action_parameter(&attacking, view.platoon_index, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                 _platoon_field_name_attacking, _parameter_flag))
    {
        substate = _platoon_substate_attacking;
        delete_map_action_parameter(&attacking);
    }

    spatial_group *scouted = nullptr;
    if (get_map_action_tag(action_index) == TAG_PLATOON_MOVEMENT)
        substate = guard_test(action_index, &view, substate);
    else
        substate = scout_test(action_index, &view, substate, &scouted);

    switch (substate)
    {
    case _platoon_substate_attacking: attack(action_index, &view); break;
    case _substate_scouting:
    case _substate_avoiding: scout(action_index, &view, substate, scouted); break;
    case _substate_moving: move(action_index, &view, old_substate); break;
    default: break;
    }
    if (substate != old_substate && get_map_action(action_index))
        store_own_integer(action_index, _platoon_state_field_name_substate, substate);
    return 0;
}

#include "legion_action_proc.h"

#include <cstring>

#include "action_proc_helpers.h"
#include "action_procs.h"
#include "attack_ai.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "script_math.h"
#include "spatial_groups.h"

namespace {

// A group whose target moved or turned by no more than these gets no new order.
constexpr int32_t MINIMUM_DESIRED_ANGULAR_DIFFERENCE = 5461;
constexpr int32_t MINIMUM_DESIRED_DISTANCE = 1024;
// How near an enemy spatial group must come for a guarding group to attack
// (staying in the attack, joining it).
constexpr int32_t ATTACK_GROUP_STATE_RADIUS = 6144;
constexpr int32_t MOVE_GROUP_STATE_RADIUS = 4096;

const action_tag legion_tag = FOUR_CHARACTER_CODE('l', 'e', 'g', 'i');
const field_tag globals_name = _common_internal_field_name_globals;

// The trigger's working record: every group's units, in group order.
struct legion_action_proc_variables
{
    int32_t team_index;
    int32_t monster_count;
    int16_t monster_indexes[MAXIMUM_MONSTERS_PER_LEGION];
    angle facing;
    world_point2d centerpoint;
    const spatial_supergroup *closest_supergroup;
    world_distance closest_distance; // its d - radius
    const spatial_supergroup *dangerous_supergroup;
};

int32_t sub32_wrap(int32_t a, int32_t b) { return (int32_t)((uint32_t)a - (uint32_t)b); }

void indexed_long_or(int32_t action_index, field_tag name, int16_t type, int32_t index, int32_t *value,
                   int32_t default_value)
{
    *value = default_value;
    get_indexed_long_integer_parameter(action_index, name, type, value, index);
}

void group_error(int32_t action_index, int32_t group, int32_t count, const char *what)
{
    map_action_error(action_index, "group #%d/#%d has missing or invalid %s", (int)group, (int)count, what);
}

// (x, y) turned into the frame of facing `phi`: by -phi.
world_point2d into_legion_frame(int32_t dx, int32_t dy, angle phi)
{
    const int32_t index = ((phi + 32) & 0xFFFF) >> ANGLE_TO_TRIG_SHIFT;
    const int32_t c = cosine_table[index], s = sine_table[index];
    return {(int32_t)asr64(mul64(c, dx) + mul64(s, dy), TRIG_SHIFT),
            (int32_t)asr64(mul64(c, dy) - mul64(s, dx), TRIG_SHIFT)};
}

// (x, y) out of the frame of facing `a`: by +a, read from the tables at -a.
world_point2d out_of_legion_frame(world_point2d relative, angle a)
{
    const int32_t index = ((32 - (int32_t)a) & 0xFFFF) >> ANGLE_TO_TRIG_SHIFT;
    const int32_t c = cosine_table[index], s = sine_table[index];
    return {(int32_t)asr64(mul64(relative.x, c) + mul64(relative.y, s), TRIG_SHIFT),
            (int32_t)asr64(mul64(relative.y, c) - mul64(relative.x, s), TRIG_SHIFT)};
}

// The set-up.  False (nothing to store) when the line or the group count is
// unusable; a group error only stops the set-up of the groups.
bool initialize_globals(int32_t action_index, legion_action_proc_globals *globals)
{
    memset(globals, 0, sizeof(*globals));
    globals->action_index = (int16_t)action_index;
    indexed_long_or(action_index, field('v', 'i', 'r', 'a'), _parameter_world_distance, 0, &globals->visibility_radius,
                  DEFAULT_LEGION_VISIBILITY_RADIUS);
    indexed_long_or(action_index, field('a', 't', 'r', 'a'), _parameter_world_distance, 0,
                  &globals->inner_attack_radius, DEFAULT_LEGION_INNER_ATTACK_RADIUS);
    indexed_long_or(action_index, field('a', 't', 'r', 'a'), _parameter_world_distance, 1,
                  &globals->outer_attack_radius, DEFAULT_LEGION_OUTER_ATTACK_RADIUS);
    indexed_long_or(action_index, field('p', 'o', 'r', 'a'), _parameter_fixed, 0, &globals->attack_power_ratio,
                  DEFAULT_LEGION_ATTACK_POWER_RATIO);
    indexed_long_or(action_index, field('v', 'i', 'd', 'e'), _parameter_fixed, 0, &globals->vitality_delta,
                  DEFAULT_LEGION_VITALITY_DELTA);
    indexed_long_or(action_index, field('p', 'o', 'd', 't'), _parameter_world_distance, 0,
                  &globals->power_over_distance_threshhold, DEFAULT_LEGION_POWER_OVER_DISTANCE_THRESHHOLD);

    map_action_parameter line;
    if (!get_map_action_parameter(&line, action_index, 0, field('l', 'i', 'n', 'e'), _parameter_world_point2d) ||
        line.count != MAXIMUM_POINTS_PER_LINE ||
        copy_map_action_parameter_values(&line, globals->line, MAXIMUM_POINTS_PER_LINE) != MAXIMUM_POINTS_PER_LINE)
    {
        map_action_error(action_index, "missing or incomplete line parameter");
        map_action_error(action_index, "couldn't create globals");
        return false;
    }
    if (has_flag(action_index, field('c', 'i', 'r', 'c')))
    {
        globals->flags |= _legion_is_circular_flag;
        globals->circle_radius = to_i16(distance2d(&globals->line[0], &globals->line[1]));
    }

    world_point2d centre;
    const bool centre_known = get_indexed_world_point2d_parameter(action_index, field('c', 'e', 'n', 't'), &centre, 0);
    bool have_centre = centre_known;
    int16_t facing_value;
    bool have_facing = get_indexed_short_integer_parameter(action_index, field('f', 'a', 'c', 'i'), _parameter_angle,
                                                           &facing_value, 0);
    angle facing = (angle)facing_value;

    int32_t count;
    if (!get_indexed_long_integer_parameter(action_index, field('c', 'o', 'u', 'n'), _parameter_integer, &count, 0))
    {
        map_action_error(action_index, "missing group count");
        map_action_error(action_index, "couldn't create globals");
        return false;
    }
    if (count < 0 || count > MAXIMUM_GROUPS_PER_LEGION)
    {
        map_action_error(action_index, "invalid group count");
        map_action_error(action_index, "couldn't create globals");
        return false;
    }
    globals->group_count = count;

    bool bad_guard_dependency = false;
    for (int32_t k = 0; k < count; k++)
    {
        legion_group_data *group = &globals->groups[k];
        group->flags = 0;
        int16_t group_facing;
        const bool has_group_facing = get_indexed_short_integer_parameter(action_index, field('g', 'r', 'f', 'a'),
                                                                          _parameter_angle, &group_facing, k);
        if (!have_facing)
        {
            facing = has_group_facing ? (angle)group_facing : 0;
            have_facing = true;
            group->relative_facing = 0;
        }
        else
            group->relative_facing = (angle)(facing - (has_group_facing ? (angle)group_facing : facing));
        indexed_long_or(action_index, field('g', 'r', 'f', 'o'), _parameter_integer, k, &group->formation_index,
                      DEFAULT_LEGION_FORMATION_INDEX);

        world_point2d point;
        if (get_indexed_world_point2d_parameter(action_index, field('g', 'r', 'c', 'e'), &point, k))
        {
            if (!have_centre) centre = point, have_centre = true;
            group->relative_centerpoint =
                into_legion_frame(sub32_wrap(point.x, centre.x), sub32_wrap(point.y, centre.y), facing);
        }
        else if (count != 1)
        {
            group_error(action_index, k, count, "centerpoint");
            break;
        }

        indexed_long_or(action_index, field('g', 'r', 'g', 'd'), _parameter_integer, k,
                      &group->guard_dependency_group_index, NONE);
        if (group->guard_dependency_group_index != NONE &&
            (group->guard_dependency_group_index < 0 || group->guard_dependency_group_index >= count))
        {
            bad_guard_dependency = true;
            if (current_gameplay_version >= 1716) group->guard_dependency_group_index = NONE;
        }

        int16_t container;
        if (!get_indexed_short_integer_parameter(action_index, field('g', 'r', 'u', 'n'),
                                                 _parameter_action_identifier, &container, k))
        {
            group_error(action_index, k, count, "unit container");
            break;
        }
        const int32_t container_index = action_identifier_to_action_index(container);
        group->unit_container_action_index = (int16_t)container_index;
        if (container_index == NONE)
        {
            group_error(action_index, k, count, "unit container");
            break;
        }
    }
    if (bad_guard_dependency) group_error(action_index, count, count, "guard dependency index");
    map_action_debug(action_index, "initialized");
    return true;
}

// Step 1 of a trigger: each group's units, the legion's vitality and power.
void gather_units(legion_action_proc_globals *globals, legion_action_proc_variables *variables, int32_t group_count,
                  int32_t *vitality)
{
    *vitality = 0;
    globals->combined_friendly_power = 0;
    for (int32_t g = 0; g < group_count; g++)
    {
        legion_group_data *group = &globals->groups[g];
        int16_t *units = variables->monster_indexes + variables->monster_count;
        int32_t count = 0;
        const int32_t room = MAXIMUM_MONSTERS_PER_LEGION - variables->monster_count;
        // A container naming no action (NONE, a deleted slot) gives no unit.
        if (room > 0 && get_map_action(group->unit_container_action_index))
        {
            int16_t identifiers[MAXIMUM_MONSTERS_PER_LEGION];
            count = get_combined_map_action_parameter(group->unit_container_action_index, _common_field_name_subject,
                                                      _parameter_monster_identifier, identifiers, room);
            count = monster_identifiers_to_monster_indexes(identifiers, units, count);
            count = remove_incapacitated_monster_indexes(units, count);
        }
        group->monster_indexes = variables->monster_count;
        group->monster_count = (int16_t)count;
        variables->monster_count += count;
        for (int32_t i = 0; i < count; i++)
        {
            const monster_data *monster = get_monster_data(units[i]);
            const object_data *object = get_object(monster->object_index);
            if (object) *vitality = add32_wrap(*vitality, object->vitality);
            globals->combined_friendly_power =
                add32_wrap(globals->combined_friendly_power, monster_type_combined_power(monster->type));
        }
        get_centerpoint_of_monster_indexes(count, units, &group->actual_centerpoint);
    }
}

bool is_enemy(int32_t team, int32_t other)
{
    return other != team && !teams_are_allied((int16_t)team, (int16_t)other);
}

// Step 5: the dangerous and the closest enemy supergroups in sight.
void derive_centerpoint_and_facing(const legion_action_proc_globals *globals, legion_action_proc_variables *variables)
{
    world_distance dangerous_distance = 0;
    for (const spatial_supergroup *s = first_spatial_supergroup(); s; s = s->next)
    {
        if (!is_enemy(variables->team_index, s->team_index) || s->power == 0) continue;
        world_distance d = distance2d(&s->center, &globals->desired_centerpoint);
        const int64_t heading = ((int64_t)s->center.x - globals->desired_centerpoint.x) * s->velocity.i +
                                ((int64_t)s->center.y - globals->desired_centerpoint.y) * s->velocity.j;
        if (heading < 0) d = add32_wrap(d, d);
        if (d >= globals->visibility_radius) continue;
        const world_distance reach = d - s->range;
        if (!variables->dangerous_supergroup || reach < dangerous_distance)
            variables->dangerous_supergroup = s, dangerous_distance = reach;
        const world_distance edge = d - s->radius;
        if (!variables->closest_supergroup || edge < variables->closest_distance ||
            (s->power > variables->closest_supergroup->power &&
             (int64_t)edge - variables->closest_distance < globals->power_over_distance_threshhold))
            variables->closest_supergroup = s, variables->closest_distance = edge;
    }
}

// Step 6: the new centre and facing.
void new_centre_and_facing(legion_action_proc_globals *globals, const legion_action_proc_variables *variables,
                           world_point2d *centre, angle *facing)
{
    const world_point2d *line = globals->line;
    const spatial_supergroup *danger = variables->dangerous_supergroup;
    globals->flags &= ~(uint32_t)_legion_unable_to_retreat_flag;
    if (!danger)
    {
        *centre = line[1];
        *facing = arctangent(sub32_wrap(line[1].x, line[0].x), sub32_wrap(line[1].y, line[0].y));
        return;
    }
    if (globals->flags & _legion_is_circular_flag)
    {
        const world_point2d toward = variables->closest_supergroup ? variables->closest_supergroup->center : danger->center;
        *facing = arctangent(sub32_wrap(toward.x, line[0].x), sub32_wrap(toward.y, line[0].y));
        *centre = {add32_wrap(line[0].x, (int32_t)asr64(mul64(cosine_rounded(*facing), globals->circle_radius), TRIG_SHIFT)),
                   add32_wrap(line[0].y, (int32_t)asr64(mul64(sine_rounded(*facing), globals->circle_radius), TRIG_SHIFT))};
        return;
    }
    world_point2d on_line, on_segment;
    closest_point_on_line_segment_from_point(&danger->center, &line[0], &line[1], &on_line, &on_segment);
    if (distance2d(&danger->center, &on_segment) >= danger->range)
        *centre = on_segment;
    else
    {
        const int64_t ax = line[0].x - (int64_t)on_line.x, ay = line[0].y - (int64_t)on_line.y;
        const int64_t px = on_line.x - (int64_t)danger->center.x, py = on_line.y - (int64_t)danger->center.y;
        const int64_t a = isqrt64((uint64_t)(ax * ax + ay * ay));
        const int64_t chord = (int64_t)danger->range * danger->range - (px * px + py * py);
        const int64_t b = chord > 0 ? isqrt64((uint64_t)chord) : 0;
        if (a != 0 && b < a)
            *centre = {(int32_t)(on_line.x + ax * b / a), (int32_t)(on_line.y + ay * b / a)};
        else
        {
            *centre = line[0];
            globals->flags |= _legion_unable_to_retreat_flag;
        }
    }
    *facing = arctangent(sub32_wrap(danger->center.x, centre->x), sub32_wrap(danger->center.y, centre->y));
}

// Some enemy spatial group whose edge lies within `radius` of `target`.
bool enemy_group_near(int32_t team, world_point2d target, int32_t radius)
{
    for (const spatial_group *g = first_spatial_group(); g; g = g->next_group)
        if (is_enemy(team, g->team_index) && distance2d(&g->center, &target) - g->radius < radius) return true;
    return false;
}

// Steps 11 and 12 for one group with units.
void order_group(const legion_action_proc_globals *globals, const legion_action_proc_variables *variables,
                 legion_group_data *group, bool was_initialized, bool state_changed)
{
    world_point2d target = out_of_legion_frame(group->relative_centerpoint, globals->desired_facing);
    target.x = add32_wrap(target.x, globals->desired_centerpoint.x);
    target.y = add32_wrap(target.y, globals->desired_centerpoint.y);
    const angle facing = (angle)(globals->desired_facing + group->relative_facing);
    int16_t new_state = globals->state;
    if (new_state == _legion_state_attacking)
    {
        // A dependency outside the legion's groups (kept below 1716) is none.
        const int32_t guard = group->guard_dependency_group_index;
        if (guard >= 0 && guard < globals->group_count && globals->groups[guard].monster_count > 0)
        {
            const legion_group_data *guarded = &globals->groups[guard];
            target.x = add32_wrap(target.x, sub32_wrap(guarded->actual_centerpoint.x, guarded->desired_centerpoint.x));
            target.y = add32_wrap(target.y, sub32_wrap(guarded->actual_centerpoint.y, guarded->desired_centerpoint.y));
            const int32_t radius =
                group->state == _legion_state_attacking ? ATTACK_GROUP_STATE_RADIUS : MOVE_GROUP_STATE_RADIUS;
            if (!enemy_group_near(variables->team_index, target, radius)) new_state = _legion_state_moving;
        }
    }
    bool moved = false;
    if (!was_initialized || angular_difference(facing, group->desired_facing) > MINIMUM_DESIRED_ANGULAR_DIFFERENCE ||
        distance2d(&target, &group->desired_centerpoint) > MINIMUM_DESIRED_DISTANCE)
    {
        group->desired_centerpoint = target;
        group->desired_facing = facing;
        moved = true;
    }
    else
        moved = state_changed;

    const int16_t *units = variables->monster_indexes + group->monster_indexes;
    if (new_state == _legion_state_moving)
    {
        if (group->state == _legion_state_attacking || moved)
        {
            command_movement_data data;
            memset(&data, 0, sizeof(data));
            data.flags = _command_movement_formation_flag | _command_movement_final_facing_flag;
            data.formation_index = to_i16(group->formation_index);
            data.final_facing = group->desired_facing;
            handle_movement_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &data, group->monster_count, units, 1,
                                    &group->desired_centerpoint);
        }
    }
    else
    {
        attack_ai_configuration configuration;
        new_attack_ai_configuration(&configuration);
        configuration.flags &= ~(uint16_t)_attack_ai_no_focus_flag;
        configuration.focus = globals->desired_centerpoint;
        configuration.radius = globals->outer_attack_radius;
        attack_with_monster_indexes(&configuration, group->monster_count, units);
    }
    group->state = new_state;
}

bool store_legion_globals(int32_t action_index, const legion_action_proc_globals *globals)
{
    return set_unique_map_action_parameter(action_index, globals_name, _parameter_character, sizeof(*globals),
                                           globals);
}

} // namespace

uint32_t legion_action_proc(int32_t action_index)
{
    const map_action *action = get_map_action(action_index);
    if (!action) return 0;
    legion_action_proc_globals globals;
    // A stored record of another action or in a state with no step counts
    // as missing, like one of the wrong size.
    if ((action->flags & _map_action_was_just_activated_flag) ||
        !get_map_action_structure(action_index, globals_name, sizeof(globals), &globals) ||
        globals.action_index != action_index ||
        (globals.state != _legion_state_moving && globals.state != _legion_state_attacking))
    {
        if (!initialize_globals(action_index, &globals)) return 0;
    }
    VASSERT(action_index == globals.action_index, "action_index==globals.action_index");
    // A damaged record holds no more groups than there is room for.
    const int32_t group_count =
        globals.group_count < 0 ? 0 : (globals.group_count > MAXIMUM_GROUPS_PER_LEGION ? MAXIMUM_GROUPS_PER_LEGION
                                                                                         : globals.group_count);
    globals.group_count = group_count;

    legion_action_proc_variables variables;
    memset(&variables, 0, sizeof(variables));
    int32_t vitality;
    gather_units(&globals, &variables, group_count, &vitality);

    const bool was_initialized = (globals.flags & _legion_initialized_flag) != 0;
    if (was_initialized && (int64_t)vitality + asr32(globals.vitality_delta, 8) < globals.combined_friendly_vitality)
    {
        globals.flags |= _legion_took_damage_flag;
        globals.combined_friendly_vitality = vitality;
    }
    else
    {
        globals.flags &= ~(uint32_t)_legion_took_damage_flag;
        if (!was_initialized) globals.combined_friendly_vitality = vitality;
    }
    if (variables.monster_count == 0)
    {
        map_action_debug(action_index, "no units left");
        return _map_action_proc_deactivate_flag;
    }

    variables.team_index = get_monster_data(variables.monster_indexes[0])->owner_team_index;
    if (!was_initialized)
    {
        globals.desired_facing =
            arctangent(sub32_wrap(globals.line[0].x, globals.line[1].x), sub32_wrap(globals.line[0].y, globals.line[1].y));
        globals.desired_centerpoint = globals.line[0];
    }
    derive_centerpoint_and_facing(&globals, &variables);
    new_centre_and_facing(&globals, &variables, &variables.centerpoint, &variables.facing);

    const world_distance in_range_radius =
        globals.state == _legion_state_attacking ? globals.outer_attack_radius : globals.inner_attack_radius;
    const bool in_range = variables.closest_supergroup && variables.closest_distance < in_range_radius;
    if (in_range)
        globals.flags |= _legion_in_range_flag;
    else
        globals.flags &= ~(uint32_t)_legion_in_range_flag;
    if (variables.dangerous_supergroup)
        globals.flags |= _legion_threatened_flag;
    else
        globals.flags &= ~(uint32_t)_legion_threatened_flag;

    const world_point2d old = globals.desired_centerpoint;
    if (globals.state != _legion_state_attacking ||
        ((int64_t)globals.line[1].x - old.x) * ((int64_t)variables.centerpoint.x - old.x) +
                ((int64_t)globals.line[1].y - old.y) * ((int64_t)variables.centerpoint.y - old.y) >
            0)
    {
        globals.desired_centerpoint = variables.centerpoint;
        globals.desired_facing = variables.facing;
    }

    if (globals.flags & _legion_unable_to_retreat_flag)
    {
        if (call_functions_with_actions_in_parameter(activate_map_action, action_index, field('f', 'a', 'l', 'l')))
        {
            map_action_debug(action_index, "falling back");
            globals.flags |= _legion_initialized_flag;
            store_legion_globals(action_index, &globals);
            return _map_action_proc_deactivate_flag;
        }
    }

    const int16_t old_state = globals.state;
    switch (globals.state)
    {
    case _legion_state_moving:
    {
        const spatial_supergroup *closest = variables.closest_supergroup;
        // 64-bit: a power of 32767 times 65536 passes 32 bits.
        const bool strong_enough =
            in_range && closest && (int64_t)globals.combined_friendly_power * 65536 / closest->power >
                                       globals.attack_power_ratio;
        if ((globals.flags & (_legion_took_damage_flag | _legion_called_as_ally_flag | _legion_unable_to_retreat_flag)) ||
            strong_enough)
        {
            map_action_debug(action_index, "attacking");
            globals.state = _legion_state_attacking;
            call_functions_with_actions_in_parameter(call_legion_as_ally, action_index, field('a', 'l', 'l', 'i'));
            call_functions_with_actions_in_parameter(deactivate_map_action, action_index, field('d', 'e', 'a', 't'));
            call_functions_with_actions_in_parameter(activate_map_action, action_index, field('a', 'c', 'a', 't'));
        }
        break;
    }
    case _legion_state_attacking:
        if (!in_range)
        {
            map_action_debug(action_index, "moving");
            globals.state = _legion_state_moving;
            call_functions_with_actions_in_parameter(deactivate_map_action, action_index, field('d', 'e', 'm', 'o'));
            call_functions_with_actions_in_parameter(activate_map_action, action_index, field('a', 'c', 'm', 'o'));
        }
        break;
    default:
        HALT("invalid legion state");
        break;
    }
    const bool state_changed = globals.state != old_state;

    for (int32_t g = 0; g < group_count; g++)
        if (globals.groups[g].monster_count > 0)
            order_group(&globals, &variables, &globals.groups[g], was_initialized, state_changed);

    globals.flags &= ~(uint32_t)_legion_called_as_ally_flag;
    globals.flags |= _legion_initialized_flag;
    store_legion_globals(action_index, &globals);
    return 0;
}

void call_legion_as_ally(int32_t action_index)
{
    if (!get_map_action(action_index)) return;
    if (get_map_action_tag(action_index) != legion_tag)
    {
        map_action_error(action_index, "invalid legion ally: %s", "not a legion");
        return;
    }
    legion_action_proc_globals globals;
    if (!get_map_action_structure(action_index, globals_name, sizeof(globals), &globals)) return;
    globals.flags |= _legion_called_as_ally_flag;
    store_legion_globals(action_index, &globals);
}

// 'girl': hit-and-run harassers, normal and timid.

#include "harass_action_proc.h"

#include <cstring>

#include "attack_ai.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "map_actions.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_lists.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "projectiles.h"
#include "script_math.h"
#include "spatial_groups.h"
#include "vesk_random.h"

enum
{
    APPROACH_DISTANCE = 1024, // d - R - G below this: the unit is about to enter the group's reach
    RETREAT_SIDE_OFFSET = 0x800,
    CIRCLING_FRONT_ARC = 0x4000,
    CIRCLING_BACK_OFFSET = 0x3000,
    DANGER_NEAR = 0x200, // 2.0
    TIMID_MINIMUM_PICK_UP_DELAY = 2,
};

// ---- what the modes share ----------------------------------------------------------------

static bool unit_position(int32_t monster_index, world_point2d *at)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return false;
    *at = {object->location.position.x, object->location.position.y};
    return true;
}

static const monster_definition *harass_unit_definition(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    return monster ? get_monster_definition(monster->type) : nullptr;
}

static bool unit_carries_something(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    return monster && monster->carrying_object_index != NONE;
}

static bool group_is_missile_class(const spatial_group *group)
{
    const monster_definition *definition = get_monster_definition(group->monster_type);
    return definition && definition->monster_class == _monster_class_missile;
}

// sin F x (y - Z.y) + cos F x (x - Z.x), in 64 bits: negative behind the group.
static int64_t facing_side(const spatial_group *group, world_point2d at)
{
    return mul64(sine_rounded(group->facing), at.y - group->center.y) +
           mul64(cosine_rounded(group->facing), at.x - group->center.x);
}

static world_point2d point_at(world_point2d origin, angle facing, int32_t distance)
{
    return {add32_wrap(origin.x, (int32_t)asr64(mul64(cosine_rounded(facing), distance), TRIG_SHIFT)),
            add32_wrap(origin.y, (int32_t)asr64(mul64(sine_rounded(facing), distance), TRIG_SHIFT))};
}

static int16_t unit_index_of(const harass_unit_data *unit) { return unit->monster_index; }

static void attack_enemy(int16_t monster_index, world_point2d focus, world_distance radius)
{
    attack_ai_configuration configuration;
    new_attack_ai_configuration(&configuration);
    configuration.flags &= (uint16_t)~_attack_ai_no_focus_flag;
    configuration.focus = focus;
    configuration.radius = radius;
    attack_with_monster_indexes(&configuration, 1, &monster_index);
}

static void move_unit(int16_t monster_index, world_point2d destination, uint16_t flags, angle final_facing)
{
    command_movement_data data;
    memset(&data, 0, sizeof(data));
    data.flags = flags;
    data.final_facing = final_facing;
    handle_movement_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &data, 1, &monster_index, 1, &destination);
}

static void stand_ground(int16_t monster_index)
{
    command_general_data data;
    memset(&data, 0, sizeof(data));
    data.type = _command_general_guard;
    handle_general_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &data, 1, &monster_index);
}

static void pick_up_object(int32_t object_index, int16_t monster_index)
{
    const object_data *object = get_object(object_index);
    if (!object) return;
    command_pick_up_data data;
    memset(&data, 0, sizeof(data));
    data.object_index = (int16_t)object_index;
    data.object_identifier = object->identifier;
    handle_pick_up_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &data, 1, &monster_index);
}

// Away from the group's centre, a little to one side by the unit's index, to
// `distance` from the centre, facing back at it.
static void retreat_to(int16_t monster_index, world_point2d at, const spatial_group *group, int32_t distance)
{
    angle facing = arctangent(at.x - group->center.x, at.y - group->center.y);
    facing = (angle)((monster_index & 1) ? facing + RETREAT_SIDE_OFFSET : facing - RETREAT_SIDE_OFFSET);
    move_unit(monster_index, point_at(group->center, facing, distance), _command_movement_final_facing_flag,
              (angle)(facing + HALF_CIRCLE));
}

static void circle_around_enemy(int16_t monster_index, world_point2d at, const spatial_group *group)
{
    int32_t radius = group->radius + CIRCLING_PAD + group->range;
    if (radius < MINIMUM_CIRCLING_RADIUS) radius = MINIMUM_CIRCLING_RADIUS;
    const angle bearing = (angle)(arctangent(at.x - group->center.x, at.y - group->center.y) - group->facing);
    const angle heading =
        (angle)(bearing < CIRCLING_FRONT_ARC ? group->facing + CIRCLING_FRONT_ARC : group->facing + CIRCLING_BACK_OFFSET);
    move_unit(monster_index, point_at(group->center, heading, radius), _command_movement_final_facing_flag, heading);
}

static void move_to_waypoint(int16_t monster_index, const harass_globals *globals)
{
    move_unit(monster_index, globals->waypoint, _command_movement_final_facing_flag, HALF_CIRCLE);
}

// A used, visible dormant projectile object and its definition; null otherwise.
static const projectile_definition *throwable_definition(int32_t object_index, const object_data **found)
{
    const object_data *object = get_object(object_index);
    if (!object || (object->flags & _object_is_invisible_flag) || object->owner != _object_is_dormant_projectile)
        return nullptr;
    if (found) *found = object;
    return get_projectile_definition(object->owner_index);
}

// The throwable objects the unit could reach: within the visibility circle,
// nearer than the search radius, of the unit's desired volume.  Calls
// `offer(object index, class, distance)` for each, in index order.
template <typename offer_procedure>
static void for_each_throwable_object(const harass_globals *globals, int16_t monster_index, offer_procedure offer)
{
    const monster_definition *definition = harass_unit_definition(monster_index);
    world_point2d at;
    if (!definition || !unit_position(monster_index, &at)) return;
    const int32_t radius = globals->visibility_radius;
    const int64_t radius_squared = mul64(radius, radius);
    const int32_t count = get_object_count();
    for (int32_t object_index = 0; object_index < count; object_index++)
    {
        const object_data *object = nullptr;
        const projectile_definition *projectile = throwable_definition(object_index, &object);
        if (!projectile) continue;
        const int32_t dx = object->location.position.x - at.x, dy = object->location.position.y - at.y;
        if (dx <= -radius || dx >= radius || dy <= -radius || dy >= radius) continue;
        if (mul64(dx, dx) + mul64(dy, dy) >= radius_squared) continue;
        if (projectile->volume != definition->desired_projectile_volume) continue;
        const world_point2d position = {object->location.position.x, object->location.position.y};
        const world_distance distance = distance2d(&at, &position);
        if (distance >= globals->projectile_search_radius) continue;
        offer(object_index, projectile->projectile_class, distance);
    }
}

static bool is_sought_by_group(const harass_globals *globals, int32_t object_index)
{
    for (int32_t i = 0; i < globals->unit_count; i++)
        if (globals->units[i].sought_object_index == object_index) return true;
    return false;
}

static bool dangerous_class(int32_t projectile_class)
{
    return projectile_class == _projectile_class_lethal_object || projectile_class == _projectile_class_explosive_object;
}

int32_t find_nearby_object(const harass_globals *globals, int32_t unit)
{
    if (unit < 0 || unit >= globals->unit_count) return NONE;
    int32_t best = NONE, best_class = NONE;
    world_distance best_distance = 0;
    for_each_throwable_object(globals, globals->units[unit].monster_index,
                              [&](int32_t object_index, int32_t object_class, world_distance distance) {
                                  if (is_sought_by_group(globals, object_index)) return;
                                  bool replace;
                                  if (best == NONE)
                                      replace = true;
                                  else if (object_class == _projectile_class_explosive_object)
                                      replace = !(best_class == _projectile_class_explosive_object &&
                                                  best_distance <= distance);
                                  else if (object_class == _projectile_class_lethal_object)
                                      replace = !dangerous_class(best_class) ||
                                                (best_class == _projectile_class_lethal_object && best_distance > distance);
                                  else
                                      replace = !dangerous_class(best_class) && best_distance > distance;
                                  if (replace) best = object_index, best_class = object_class, best_distance = distance;
                              });
    return best;
}

// The timid choice: the nearest, explosive and lethal objects winning unless
// an explosive one no farther is already chosen.  `distance` gets its distance.
static int32_t find_timid_object(const harass_globals *globals, int16_t monster_index, world_distance *distance_found)
{
    int32_t best = NONE, best_class = NONE;
    world_distance best_distance = 0;
    for_each_throwable_object(globals, monster_index,
                              [&](int32_t object_index, int32_t object_class, world_distance distance) {
                                  bool replace;
                                  if (best == NONE)
                                      replace = true;
                                  else if (dangerous_class(object_class))
                                      replace = !(best_class == _projectile_class_explosive_object &&
                                                  best_distance <= distance);
                                  else
                                      replace = distance < best_distance;
                                  if (replace) best = object_index, best_class = object_class, best_distance = distance;
                              });
    *distance_found = best_distance;
    return best;
}

// A dead or replaced unit leaves the list (later entries move up) and the
// 'casu' actions are activated once for it.
static void remove_unit(harass_globals *globals, int32_t action_index, int32_t unit)
{
    memmove(&globals->units[unit], &globals->units[unit + 1],
            (size_t)(globals->unit_count - unit - 1) * sizeof(harass_unit_data));
    globals->unit_count--;
    call_functions_with_actions_in_parameter(activate_map_action, action_index, _harass_field_name_casualty);
}

static bool unit_is_gone(const harass_unit_data *unit)
{
    const monster_data *monster = get_monster_data(unit->monster_index);
    return !monster || monster->identifier != unit->monster_identifier;
}

static void refresh_team(harass_globals *globals)
{
    const monster_data *first = globals->unit_count > 0 ? get_monster_data(globals->units[0].monster_index) : nullptr;
    globals->team_index = first ? (int16_t)first->owner_team_index : (int16_t)NONE;
}

static bool store_harass_globals(int32_t action_index, harass_globals *globals)
{
    return set_unique_map_action_parameter(action_index, _harass_field_name_globals, _parameter_character,
                                           sizeof(*globals), globals);
}

// ---- set-up ------------------------------------------------------------------------------

static void set_up_globals(int32_t action_index, harass_globals *globals)
{
    memset(globals, 0, sizeof(*globals));
    globals->action_index = (int16_t)action_index;
    globals->visibility_radius = DEFAULT_VISIBILITY_RADIUS;
    globals->projectile_search_radius = DEFAULT_PROJECTILE_SEARCH_RADIUS;
    globals->suicide_fraction = DEFAULT_HARASS_SUICIDE_FRACTION;
    globals->retreat_fraction = DEFAULT_HARASS_RETREAT_FRACTION;
    globals->delay_before_reevaluating = DEFAULT_HARASS_DELAY_BEFORE_REEVALUATING;
    get_indexed_long_integer_parameter(action_index, _harass_field_name_visibility_radius, _parameter_world_distance,
                                       &globals->visibility_radius, 0);
    get_indexed_long_integer_parameter(action_index, _harass_field_name_scan_for_projectile_radius,
                                       _parameter_world_distance, &globals->projectile_search_radius, 0);
    get_indexed_long_integer_parameter(action_index, _harass_field_name_delay_before_reevaluating,
                                       _parameter_integer, &globals->delay_before_reevaluating, 0);
    int32_t spread = 0;
    get_indexed_long_integer_parameter(action_index, _harass_field_name_delay, _parameter_integer, &spread, 0);
    if (get_indexed_world_point2d_parameter(action_index, _harass_field_name_guard_waypoint, &globals->waypoint, 0))
        globals->flags |= harass_globals_flags::_globals_has_waypoint_flag;

    int16_t identifiers[MAXIMUM_MONSTERS_PER_HARASS_GROUP];
    int16_t indexes[MAXIMUM_MONSTERS_PER_HARASS_GROUP];
    const int32_t identifier_count =
        get_combined_map_action_parameter(action_index, _common_field_name_subject, _parameter_monster_identifier,
                                          identifiers, MAXIMUM_MONSTERS_PER_HARASS_GROUP);
    const int32_t count = monster_identifiers_to_monster_indexes(identifiers, indexes, identifier_count);
    for (int32_t i = 0; i < count; i++)
    {
        const monster_data *monster = get_monster_data(indexes[i]);
        const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
        if (!monster) continue;
        harass_unit_data *unit = &globals->units[globals->unit_count++];
        unit->monster_index = indexes[i];
        unit->monster_identifier = monster->identifier;
        unit->state = _harass_state_idle;
        unit->sought_object_index = 0; // object 0 counts as sought until changed
        if (spread != 0) unit->delay = (int16_t)rem32_guarded(vesk_random(), spread);
        if (!definition || definition->desired_projectile_volume == NONE)
            unit->flags |= _harass_unit_cant_carry_item_flag;
        else if (monster->carrying_object_index != NONE)
            unit->flags |= _harass_unit_carrying_item_flag;
    }
    refresh_team(globals);
    map_action_debug(action_index, "#%d harassing monsters active", globals->unit_count);
}

// ---- normal mode -------------------------------------------------------------------------

// The nearest group of a team that is neither the unit's nor allied with it,
// its centre nearer than the visibility radius; the first of equals.
static const spatial_group *closest_enemy_group(const harass_globals *globals, int32_t team, world_point2d at,
                                                world_distance *distance)
{
    const spatial_group *best = nullptr;
    world_distance best_distance = globals->visibility_radius;
    for (const spatial_group *group = first_spatial_group(); group; group = group->next_group)
    {
        if (group->team_index == team || teams_are_allied(team, group->team_index)) continue;
        const world_distance d = distance2d(&at, &group->center);
        if (d < best_distance) best = group, best_distance = d;
    }
    *distance = best_distance;
    return best;
}

static bool is_still_throwable(int32_t object_index) { return throwable_definition(object_index, nullptr) != nullptr; }

static bool outside_wander_radius(const harass_globals *globals, world_point2d at)
{
    return distance2d(&at, &globals->waypoint) > WAYPOINT_WANDER_RADIUS;
}

static int16_t waypoint_rule(const harass_globals *globals, int16_t monster_index, world_point2d at)
{
    if ((globals->flags & harass_globals_flags::_globals_has_waypoint_flag) && outside_wander_radius(globals, at))
    {
        move_to_waypoint(monster_index, globals);
        return _harass_state_returning_to_waypoint;
    }
    return _harass_state_idle;
}

static int16_t approach_rule(int16_t monster_index, world_point2d at, const spatial_group *group, world_distance d)
{
    const int32_t gap = d - group->radius - group->range;
    if (gap >= APPROACH_DISTANCE)
    {
        attack_enemy(monster_index, group->center, group->radius);
        return _harass_state_circling_around_enemy;
    }
    if (facing_side(group, at) < 0)
    {
        if (group_is_missile_class(group))
        {
            attack_enemy(monster_index, group->center, group->radius);
            return _harass_state_attacking_enemy;
        }
        retreat_to(monster_index, at, group, group->radius);
        return _harass_state_retreating_from_enemy;
    }
    circle_around_enemy(monster_index, at, group);
    return _harass_state_circling_around_enemy;
}

static void update_unit_normally(int32_t action_index, harass_globals *globals, int32_t unit_number)
{
    harass_unit_data *unit = &globals->units[unit_number];
    const int16_t monster_index = unit_index_of(unit);
    const monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = harass_unit_definition(monster_index);
    world_point2d at;
    if (!monster || !definition || !unit_position(monster_index, &at)) return;
    world_distance d = 0;
    const spatial_group *enemy = closest_enemy_group(globals, monster->owner_team_index, at, &d);
    const bool carries = unit_carries_something(monster_index);
    int16_t state = unit->state;

    switch (unit->state)
    {
    case _harass_state_idle:
    case _harass_state_picking_up_item_to_throw:
    case _harass_state_returning_to_waypoint:
    case _harass_state_circling_around_enemy:
        if (enemy)
        {
            state = approach_rule(monster_index, at, enemy, d);
            break;
        }
        if (unit->state == _harass_state_idle)
        {
            if (definition->desired_projectile_volume != NONE && !carries)
            {
                const int32_t object_index = find_nearby_object(globals, unit_number);
                if (object_index != NONE)
                {
                    unit->sought_object_index = (int16_t)object_index;
                    pick_up_object(object_index, monster_index);
                    state = _harass_state_picking_up_item_to_throw;
                    break;
                }
            }
            state = waypoint_rule(globals, monster_index, at);
        }
        else if (unit->state == _harass_state_picking_up_item_to_throw)
        {
            if (!carries)
            {
                if (is_still_throwable(unit->sought_object_index))
                {
                    pick_up_object(unit->sought_object_index, monster_index);
                    state = _harass_state_picking_up_item_to_throw;
                }
                else
                    state = _harass_state_idle;
            }
            else if (!(globals->flags & harass_globals_flags::_globals_has_waypoint_flag))
            {
                unit->sought_object_index = NONE;
                state = _harass_state_idle;
            }
            else
                state = waypoint_rule(globals, monster_index, at);
        }
        else if (unit->state == _harass_state_returning_to_waypoint)
        {
            VASSERT(globals->flags & harass_globals_flags::_globals_has_waypoint_flag, "globals->flags & _globals_has_waypoint_flag");
            if (distance2d(&at, &globals->waypoint) > WAYPOINT_WANDER_RADIUS - 1)
            {
                move_to_waypoint(monster_index, globals);
                state = _harass_state_returning_to_waypoint;
            }
            else
                state = _harass_state_idle;
        }
        else
            state = _harass_state_idle;
        break;

    case _harass_state_attacking_enemy:
        if (!enemy)
            state = _harass_state_idle;
        else if (!carries && !group_is_missile_class(enemy))
        {
            retreat_to(monster_index, at, enemy, enemy->radius);
            state = _harass_state_retreating_from_enemy;
        }
        else
        {
            attack_enemy(monster_index, enemy->center, enemy->radius);
            state = _harass_state_attacking_enemy;
        }
        break;

    case _harass_state_suiciding_enemy:
        if (enemy)
        {
            attack_enemy(monster_index, enemy->center, enemy->radius);
            state = _harass_state_suiciding_enemy;
        }
        else
            state = _harass_state_idle;
        break;

    case _harass_state_retreating_from_enemy:
        if (!enemy)
            state = _harass_state_idle;
        else if (d - enemy->radius - enemy->range < APPROACH_DISTANCE)
        {
            const object_data *object = get_object(monster->object_index);
            if (d < APPROACH_DISTANCE && object && unit->last_vitality < object->vitality &&
                object->vitality < object->maximum_vitality / 2)
            {
                attack_enemy(monster_index, enemy->center, enemy->radius);
                state = _harass_state_suiciding_enemy;
            }
            else
                state = _harass_state_retreating_from_enemy;
        }
        else
        {
            attack_enemy(monster_index, enemy->center, enemy->radius);
            state = _harass_state_circling_around_enemy;
        }
        break;

    default:
        // Logged; the unit keeps its state and the others go on.
        VASSERT(false, "unit in illegal state in harass map action");
        return;
    }
    unit->state = state;
    map_action_debug(action_index, "unit %d set to state %d", monster_index, state);
}

static uint32_t run_normally(int32_t action_index, harass_globals *globals)
{
    for (int32_t i = globals->unit_count - 1; i >= 0; i--)
        if (unit_is_gone(&globals->units[i])) remove_unit(globals, action_index, i);
    refresh_team(globals);
    if (globals->unit_count == 0) return _map_action_proc_deactivate_flag;

    for (int32_t i = 0; i < globals->unit_count; i++) update_unit_normally(action_index, globals, i);
    for (int32_t i = 0; i < globals->unit_count; i++)
    {
        const monster_data *monster = get_monster_data(globals->units[i].monster_index);
        const object_data *object = monster ? get_object(monster->object_index) : nullptr;
        if (object) globals->units[i].last_vitality = object->vitality;
    }
    return 0;
}

// ---- timid mode --------------------------------------------------------------------------

static bool free_to_carry(const harass_unit_data *unit)
{
    return !(unit->flags & (_harass_unit_carrying_item_flag | _harass_unit_cant_carry_item_flag));
}

// The group of another team than the first unit's (alliances not consulted)
// with its centre nearer than the visibility radius and the smallest
// d - R - G; the first of equals.
static const spatial_group *most_threatening_group(const harass_globals *globals, world_point2d at,
                                                   world_distance *distance)
{
    const spatial_group *best = nullptr;
    int32_t best_gap = 0;
    for (const spatial_group *group = first_spatial_group(); group; group = group->next_group)
    {
        if (group->team_index == globals->team_index) continue;
        const world_distance d = distance2d(&at, &group->center);
        if (d >= globals->visibility_radius) continue;
        const int32_t gap = d - group->radius - group->range;
        if (!best || gap < best_gap) best = group, best_gap = gap, *distance = d;
    }
    return best;
}

static void handle_unit_danger_fraction(const harass_globals *globals, harass_unit_data *unit, world_point2d at,
                                        const spatial_group *group, world_distance d)
{
    const int16_t monster_index = unit->monster_index;
    const int32_t reach = group->range + group->radius;
    // A reach of 0 or less (one unit without range) has nothing to measure
    // against: the farthest danger, not a division by zero.
    const int32_t danger = reach > 0 ? (int32_t)(mul64(d, 256) / reach) : INT32_MAX;
    if (danger < globals->suicide_fraction)
    {
        attack_enemy(monster_index, group->center, reach);
        unit->state = _harass_state_attacking_enemy;
    }
    else if (danger < globals->retreat_fraction)
        retreat_to(monster_index, at, group, reach);
    else if (danger < DANGER_NEAR)
    {
        if (free_to_carry(unit))
            unit->state = _harass_state_looking_for_item, unit->delay = 0;
        else
        {
            unit->state = _harass_state_idle;
            stand_ground(monster_index);
        }
    }
    else if (unit->state == _harass_state_moving_in && free_to_carry(unit))
        unit->state = _harass_state_looking_for_item, unit->delay = 0;
    else
    {
        attack_enemy(monster_index, group->center, reach);
        unit->state = _harass_state_moving_in;
    }
}

static void danger_rule(const harass_globals *globals, harass_unit_data *unit, bool facing_test)
{
    const int16_t monster_index = unit->monster_index;
    world_point2d at;
    if (!unit_position(monster_index, &at)) return;
    world_distance d = 0;
    const spatial_group *group = most_threatening_group(globals, at, &d);
    if (!group)
    {
        if (globals->flags & harass_globals_flags::_globals_has_waypoint_flag)
        {
            if (unit->state == _harass_state_heading_for_waypoint && free_to_carry(unit))
                unit->state = _harass_state_looking_for_item, unit->delay = 0;
            else
                move_unit(monster_index, globals->waypoint, 0, 0);
        }
        else if (!free_to_carry(unit))
        {
            unit->state = _harass_state_idle;
            stand_ground(monster_index);
        }
        else
            unit->state = _harass_state_looking_for_item, unit->delay = 0;
        return;
    }
    const monster_definition *definition = harass_unit_definition(monster_index);
    const bool missile = definition && definition->monster_class == _monster_class_missile;
    if (facing_test && facing_side(group, at) < 1 && (!free_to_carry(unit) || missile))
    {
        attack_enemy(monster_index, group->center, group->range + group->radius);
        unit->state = _harass_state_attacking_enemy;
        return;
    }
    handle_unit_danger_fraction(globals, unit, at, group, d);
}

static void look_for_item(int32_t action_index, const harass_globals *globals, harass_unit_data *unit)
{
    unit->state = _harass_state_idle;
    if (!free_to_carry(unit)) return;
    const int16_t monster_index = unit->monster_index;
    world_distance distance = 0;
    const int32_t object_index = find_timid_object(globals, monster_index, &distance);
    map_action_debug(action_index, "unit %d looked around for items to throw found %d", monster_index,
                     object_index);
    if (object_index == NONE)
    {
        danger_rule(globals, unit, false);
        return;
    }
    pick_up_object(object_index, monster_index);
    map_action_debug(action_index, "unit %d is picking up %d (dis: %d);g", monster_index, object_index, distance);
    unit->state = _harass_state_picking_up_item_to_throw;
    int32_t speed;
    if (current_gameplay_version < 1511)
    {
        const monster_definition *definition = harass_unit_definition(monster_index);
        speed = definition ? definition->base_movement_speed : 0;
    }
    else
        speed = get_monster_data(monster_index)->base_movement_speed;
    const int32_t divisor = speed * 32;
    unit->delay = to_i16(divisor != 0 ? TIMID_MINIMUM_PICK_UP_DELAY + div32_guarded(distance, divisor)
                                      : TIMID_MINIMUM_PICK_UP_DELAY);
}

static uint32_t run_timidly(int32_t action_index, harass_globals *globals)
{
    for (int32_t i = 0; i < globals->unit_count;)
    {
        harass_unit_data *unit = &globals->units[i];
        if (unit_is_gone(unit))
        {
            remove_unit(globals, action_index, i);
            continue;
        }
        if (unit_carries_something(unit->monster_index))
        {
            if (unit->state == _harass_state_picking_up_item_to_throw) unit->state = _harass_state_idle, unit->delay = 0;
            unit->flags |= _harass_unit_carrying_item_flag;
        }
        else
            unit->flags &= (uint16_t)~_harass_unit_carrying_item_flag;
        i++;
    }
    refresh_team(globals);
    if (globals->unit_count == 0) return _map_action_proc_deactivate_flag;

    for (int32_t i = 0; i < globals->unit_count; i++)
    {
        harass_unit_data *unit = &globals->units[i];
        unit->delay = to_i16(unit->delay - 1);
        if (unit->delay >= 0) continue;
        unit->delay = to_i16(globals->delay_before_reevaluating);
        switch (unit->state)
        {
        case _harass_state_looking_for_item:
            look_for_item(action_index, globals, unit);
            break;
        case _harass_state_picking_up_item_to_throw:
            unit->state = _harass_state_idle;
            danger_rule(globals, unit, true);
            break;
        case _harass_state_idle:
        case _harass_state_attacking_enemy:
        case _harass_state_fleeing:
        case _harass_state_moving_in:
        case _harass_state_heading_for_waypoint:
            danger_rule(globals, unit, true);
            break;
        default:
            VASSERT(false, "unit in illegal state in harass map action");
            break;
        }
    }
    return 0;
}

// ---- the procedure -----------------------------------------------------------------------

uint32_t harass_action_proc(int32_t action_index)
{
    harass_globals globals;
    if (!get_map_action_structure(action_index, _harass_field_name_globals, sizeof(globals), &globals))
        set_up_globals(action_index, &globals);
    if (globals.unit_count < 0 || globals.unit_count > MAXIMUM_MONSTERS_PER_HARASS_GROUP)
    {
        map_action_error(action_index, "harass record holds %d units", globals.unit_count);
        return _map_action_proc_deactivate_flag;
    }
    const bool timid =
        get_map_action_parameter(nullptr, action_index, _return_empty_arrays_flag, _harass_timid_flag, _parameter_flag);
    const uint32_t result = timid ? run_timidly(action_index, &globals) : run_normally(action_index, &globals);
    // Stored also when the last unit is gone, so a reactivated action does
    // not mourn the same units twice.
    globals.flags |= harass_globals_flags::_globals_initialized_flag;
    store_harass_globals(action_index, &globals);
    return result;
}

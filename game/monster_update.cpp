// The per-tick unit update.

#include "monster_update.h"

#include "cseries/log.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "local_projectiles.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monster_inventory.h"
#include "monster_movement.h"
#include "monster_orders.h"
#include "monster_targets.h"
#include "monsters.h"
#include "objects.h"
#include "path.h"
#include "players.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "tag_files/data.h"
#include "unit_helpers.h"
#include "vesk_random.h"

namespace {

enum
{
    CHARGE_RANGE_TERRAIN_COST = 10, // terrain_costs entry holding the charge range in cells
    // A leg longer than this is walked; a shorter one has arrived.
    ARRIVAL_DISTANCE = MINIMUM_DISTANCE_FROM_PATH_DESTINATION - 1,
    // new_path answers NEW_PATH_NO_ROUTE at most once for a request: the
    // retry asks for the unit's own position, which always succeeds.
    MAXIMUM_NEW_PATH_CALLS = 2,
    TICKS_PER_EXPIRY_SECOND = 30,
};

bool has_turning_sequence(const monster_definition *definition)
{
    return definition->sequence_indexes[SEQUENCE_TURNING] != NONE;
}

bool in_actions(int32_t action, int32_t first, int32_t last) { return action >= first && action <= last; }

// The distance from the unit to what threatens it: its target unit, else the
// unit that last hurt it; MONSTER_FAR_DISTANCE when there is none in reach.
int32_t threat_distance(const monster_data *monster, int32_t monster_index, const object_data *object)
{
    const world_point2d here = position_of(object);
    int32_t threat = NONE;
    if (has_flags(monster->flags, _monster_has_valid_target_index_flag))
    {
        const monster_data *target = get_monster_data(monster->target_monster_index);
        if (target && !has_flags(target->extra_flags, _monster_has_no_visibility_extra_flag))
            threat = monster->target_monster_index;
    }
    else
    {
        const monster_data *aggressor = get_monster_data(monster->aggressor_monster_index);
        if (aggressor && !monsters_are_allied(monster_index, monster->aggressor_monster_index) &&
            !has_flags(aggressor->extra_flags, _monster_is_invisible_extra_flag | _monster_immobile_extra_flag))
            threat = monster->aggressor_monster_index;
    }
    const monster_data *threatening = get_monster_data(threat);
    const object_data *threat_object = threatening ? get_object(threatening->object_index) : nullptr;
    if (!threat_object) return MONSTER_FAR_DISTANCE;
    const world_point2d there = position_of(threat_object);
    return distance2d(&here, &there);
}

// For a unit's impassable terrain, whether a cell is barred, by its flags'
// low byte (its two triangles' terrain types): 1 when either type is
// impassable.  The tables of the last few masks asked are kept (each unit
// type that is chased has one mask; a table is filled in 256 steps, while a
// chase reads 25 cells).
struct barred_cells_table
{
    uint16_t impassable;
    bool filled;
    uint8_t barred[256];
};

const uint8_t *barred_cells_for(uint16_t impassable)
{
    static barred_cells_table tables[4];
    static int32_t next = 0;
    for (const barred_cells_table &table : tables)
        if (table.filled && table.impassable == impassable) return table.barred;
    barred_cells_table &table = tables[next];
    next = (next + 1) % 4;
    table.impassable = impassable;
    table.filled = true;
    for (int32_t byte = 0; byte < 256; ++byte)
    {
        const uint32_t t0 = (byte >> _mesh_cell_triangle0_terrain_first_bit) & _mesh_cell_terrain_type_mask;
        const uint32_t t1 = (byte >> _mesh_cell_triangle1_terrain_first_bit) & _mesh_cell_terrain_type_mask;
        table.barred[byte] = (uint8_t)((((uint32_t)impassable >> t0) | ((uint32_t)impassable >> t1)) & 1);
    }
    return table.barred;
}

// Whether the ground around the target forbids a lead: a model in the 5 x 5
// cells centred on its cell, or more than 3 of them with a terrain type it
// cannot enter.
bool interception_ground_is_rough(const object_data *target_object, uint16_t impassable)
{
    const int32_t cx = target_object->location.position.x >> WORLD_FRACTIONAL_BITS;
    const int32_t cy = target_object->location.position.y >> WORLD_FRACTIONAL_BITS;
    const int32_t half = INTERCEPTION_CELL_CHECK_WIDTH / 2;
    // The cells off the mesh count for nothing; those on it are read from the
    // mesh's array, row by row (every unit chasing a moving target asks).
    if (!mesh_cell_in_bounds(0, 0)) return false;
    const mesh_cell *cells = get_mesh_cell(0, 0);
    const int32_t x0 = cx - half > 0 ? cx - half : 0, x1 = cx + half < mesh_width - 1 ? cx + half : mesh_width - 1;
    const int32_t y0 = cy - half > 0 ? cy - half : 0, y1 = cy + half < mesh_height - 1 ? cy + half : mesh_height - 1;
    // The count only grows and a model answers true as well: the answer is
    // known after the row where either happens.  A row away from the mesh's
    // sides is the full width, walked unrolled.  A cell's two terrain types
    // are its flags' low byte, looked up at once; the model indices are
    // ANDed, which leaves NONE only when every one is NONE.
    const uint8_t *barred_cell = barred_cells_for(impassable);
    int32_t barred = 0;
    int32_t models = NONE;
    const auto count = [&](const mesh_cell &cell) {
        models &= cell.model_index;
        barred += barred_cell[(uint8_t)cell.flags];
    };
    const bool full_rows = x1 - x0 + 1 == INTERCEPTION_CELL_CHECK_WIDTH;
    for (int32_t y = y0; y <= y1; ++y)
    {
        const mesh_cell *row = &cells[y * mesh_width + x0];
        if (full_rows)
        {
#pragma GCC unroll 5
            for (int32_t x = 0; x < INTERCEPTION_CELL_CHECK_WIDTH; ++x) count(row[x]);
        }
        else
            for (int32_t x = 0; x <= x1 - x0; ++x) count(row[x]);
        if (models != NONE || barred > 3) return true;
    }
    return false;
}

// Turns the pending order into a destination, a path and an action.
// Toward the target: its location or the point where the unit meets it, or a
// retreat when the target is too close; whether the unit moves or holds for
// its attack.
static void plan_toward_target(int32_t monster_index, monster_data *monster, const monster_definition *definition,
                               const world_point2d *here_point, int32_t threat, world_point2d *destination_point,
                               int32_t *action_out)
{
    const world_point2d &here = *here_point;
    world_point2d &destination = *destination_point;
    int32_t &action = *action_out;
    const int32_t gap = linear_distance_to_best_point_of_attack(monster_index);
    bool turning_target = false;
    bool retreating = false;
    const int32_t target_index = monster->target_monster_index;
    const monster_data *target = has_flags(monster->flags, _monster_has_valid_target_index_flag)
                                     ? get_monster_data(target_index)
                                     : nullptr;
    if (has_flags(monster->flags, _monster_has_valid_target_location_flag))
        destination = monster->target_location;
    else if (target)
    {
        predict_interception_point(monster_index, target_index, &destination);
        if (target->action == _monster_action_moving &&
            angular_difference(target->desired_yaw, monster->desired_yaw) >= QUARTER_CIRCLE)
            turning_target = true;
    }
    const bool stands = current_gameplay_version >= 1721 && has_flags(monster->flags, _monster_standing_ground_flag);
    if (gap < 0 && !stands)
    {
        const world_point2d threat_point = destination;
        generate_point_of_retreat(monster_index, &threat_point, &destination, nullptr);
        monster->flags |= _monster_is_retreating_flag;
        action = _monster_action_moving;
        retreating = true;
    }
    if (!retreating)
    {
        const bool targets_itself = target && target_index == monster_index;
        // adjust_yaw_for_destination's heading, through the kept one: the
        // plan heads for the path's destination next, most often this point.
        const world_distance dx = destination.x - here.x, dy = destination.y - here.y;
        if ((current_gameplay_version < 1301 || !targets_itself) && (dx != 0 || dy != 0))
            monster->desired_yaw = heading_toward(dx, dy);
        const bool missile = definition->monster_class == _monster_class_missile;
        if (gap != 0)
            action = _monster_action_moving;
        else if (missile)
            action = turning_target ||
                             !has_flags(monster->flags, _monster_did_not_get_targeting_solution_flag)
                         ? _monster_action_holding_for_attack
                         : _monster_action_moving;
        else
            action = _monster_action_moving;
        if (!has_flags(monster->flags, _monster_responding_to_target_command_flag))
        {
            if (missile && gap >= 0)
            {
                const bool presses_on =
                    current_gameplay_version >= 1301 &&
                    has_flags(definition->hack_flags, _monster_hack_extra_aggressive_missile_flag) &&
                    threat <= definition->critical_distance;
                if (!presses_on) action = _monster_action_holding_for_attack;
            }
            else if (definition->monster_class == _monster_class_melee &&
                     has_flags(definition->hack_flags, _monster_hack_mixes_missile_melee_behaviour_flag) &&
                     threat >= definition->activation_distance)
                action = _monster_action_holding_for_attack;
        }
        if (has_flags(monster->flags, _monster_needs_to_retreat_flag))
        {
            monster->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_has_valid_target_index_flag |
                                          _monster_has_valid_target_location_flag);
            if (current_gameplay_version < 1711)
                monster->flags &= ~(uint32_t)_monster_has_looped_waypoints_flag;
            else
                monster->extra_flags &= ~(uint32_t)(_monster_ignores_model_collisions_extra_flag |
                                                    _monster_will_use_old_collision_detection_extra_flag);
            action = has_turning_sequence(definition) ? _monster_action_turning : _monster_action_moving;
        }
        monster->flags &= ~(uint32_t)(_monster_needs_to_retreat_flag | _monster_is_retreating_flag);
    }
}

// Along the waypoints, or a turn to the final yaw when there are none.
static void plan_along_waypoints(monster_data *monster, const monster_definition *definition,
                                 world_point2d *destination_point, int32_t *action_out)
{
    world_point2d &destination = *destination_point;
    int32_t &action = *action_out;
    const bool count_ok = ASSERT(monster->waypoint_count>=0 && monster->waypoint_count<=MAXIMUM_WAYPOINTS_PER_MONSTER);
    if (count_ok && monster->waypoint_count > 0)
    {
        if (ASSERT(monster->waypoint_index>=0 && monster->waypoint_index<monster->waypoint_count))
        {
            destination = monster->waypoints[monster->waypoint_index];
            action = _monster_action_moving;
        }
    }
    else if (has_flags(monster->flags, _monster_has_final_desired_yaw_flag))
    {
        monster->flags &= ~(uint32_t)_monster_has_final_desired_yaw_flag;
        monster->desired_yaw = monster->final_desired_yaw;
        action = has_turning_sequence(definition) ? _monster_action_turning : _monster_action_moving;
    }
}

// A unit that can charge wants to run while a threat is within its charge range.
static void update_charge(monster_data *monster, const monster_definition *definition, int32_t threat)
{
    const int32_t range = (int32_t)definition->terrain_costs[CHARGE_RANGE_TERRAIN_COST] * WORLD_ONE;
    bool within = threat < range;
    if (within && !has_flags(monster->flags, _monster_has_valid_target_index_flag) && threat >= range / 4)
    {
        if (current_gameplay_version >= 1710)
            within = !has_flags(definition->flags, _monster_has_limited_charge_duration_flag);
        else if (current_gameplay_version >= 1601)
            within = has_flags(definition->flags, _monster_can_extend_charge_duration_flag);
    }
    if (within)
        monster->extra_flags |= _monster_wants_to_run_extra_flag;
    else if (monster->action != _monster_action_taking_damage && monster->action != _monster_action_being_propelled)
        monster->extra_flags &= ~(uint32_t)_monster_wants_to_run_extra_flag;
}

// The next waypoint (back and forth, or round, for looped waypoints); the last
// completes the order.  False when the unit is gone.
static bool advance_waypoint(int32_t monster_index, int16_t identifier, monster_data *monster,
                             const monster_definition *definition)
{
    monster->flags &= ~(uint32_t)_monster_has_valid_target_flag;
    const uint32_t looping = _monster_has_looped_waypoints_flag |
                             _monster_has_back_and_forth_looped_waypoints_flag |
                             _monster_looping_back_through_waypoints_flag;
    if (monster->waypoint_count < 2) monster->flags &= ~looping;
    if (!has_flags(monster->flags, _monster_looping_back_through_waypoints_flag))
    {
        monster->waypoint_index = (int8_t)(monster->waypoint_index + 1);
        if (monster->waypoint_index >= monster->waypoint_count)
        {
            if (!has_flags(monster->flags, _monster_has_looped_waypoints_flag))
            {
                monster->waypoint_count = 0;
                report_monster_order_completed(monster_index);
                if (!(monster = same_unit(monster_index, identifier))) return false;
                const bool faces = has_flags(monster->flags, _monster_has_final_desired_yaw_flag);
                if (faces) monster->desired_yaw = monster->final_desired_yaw;
                if (faces && has_turning_sequence(definition))
                    set_monster_action(monster_index, _monster_action_turning, 0);
                else
                    set_most_appropriate_monster_action(monster_index);
                if (!(monster = same_unit(monster_index, identifier))) return false;
                monster->flags &=
                    ~(uint32_t)(_monster_has_final_desired_yaw_flag | _monster_responding_to_command_flag);
            }
            else if (has_flags(monster->flags, _monster_has_back_and_forth_looped_waypoints_flag))
            {
                monster->waypoint_index = (int8_t)(monster->waypoint_count - 2);
                monster->flags |= _monster_looping_back_through_waypoints_flag;
            }
            else
                monster->waypoint_index = 0;
        }
    }
    else
    {
        monster->waypoint_index = (int8_t)(monster->waypoint_index - 1);
        if (monster->waypoint_index < 0)
        {
            ASSERT(monster->flags&_monster_has_back_and_forth_looped_waypoints_flag);
            monster->waypoint_index = 1;
            monster->flags &= ~(uint32_t)_monster_looping_back_through_waypoints_flag;
        }
    }
    if (monster->waypoint_count > 0) monster->flags |= _monster_needs_new_path_flag;
    unit_obstacle_facts_changed(monster);
    return true;
}

// At the destination: pick up what the unit came for, hold for the target's
// attack, or go on to the next waypoint.
static void arrive_at_destination(int32_t monster_index, int16_t identifier, monster_data *monster,
                                  const monster_definition *definition, const world_point2d *here_point)
{
    const world_point2d &here = *here_point;
    monster->flags &= ~(uint32_t)_monster_is_evading_obstacle_to_attack_flag;
    if (has_flags(monster->flags, _monster_wants_to_pick_up_object_flag))
    {
        monster->flags &= ~(uint32_t)_monster_wants_to_pick_up_object_flag;
        const object_data *item = get_object_by_identifier(monster->pick_up_object_index,
                                                           monster->pick_up_object_identifier);
        bool takes = false;
        if (item && !has_flags(item->flags, _object_is_flag_flag) &&
            monster_could_pick_up_object(monster_index, monster->pick_up_object_index,
                                         monster->pick_up_object_identifier))
        {
            const world_point2d there = position_of(item);
            takes = distance2d(&here, &there) <= MINIMUM_PICK_UP_DISTANCE;
        }
        if (takes)
            set_monster_action(monster_index, _monster_action_picking_up, 0);
        else
            set_most_appropriate_monster_action(monster_index);
    }
    else
    {
        monster->extra_flags &= ~(uint32_t)(_monster_ignores_model_collisions_extra_flag |
                                            _monster_will_use_old_collision_detection_extra_flag);
        monster->flags &= ~(uint32_t)_monster_has_valid_target_location_flag;
        if (has_flags(monster->flags, _monster_has_valid_target_index_flag))
        {
            set_monster_action(monster_index, _monster_action_holding_for_attack, 0);
            if (!(monster = same_unit(monster_index, identifier))) return;
            monster->flags |= _monster_has_valid_target_flag;
        }
        else
        {
            if (!advance_waypoint(monster_index, identifier, monster, definition)) return;
        }
    }
    if ((monster = same_unit(monster_index, identifier))) monster->flags &= ~(uint32_t)_monster_has_obstructed_path_flag;
}

// Turns the pending order into a destination, a path and an action.
void plan_monster(int32_t monster_index, int16_t identifier)
{
    monster_data *monster = get_monster_data(monster_index);
    object_data *object = get_object(monster->object_index);
    const monster_definition *definition = get_monster_definition(monster->type);
    const world_point2d here = position_of(object);

    // Unless an order below gives one, the unit stays where it is.
    world_point2d destination = here;
    const int32_t threat = threat_distance(monster, monster_index, object);
    monster->extra_flags &= ~(uint32_t)_monster_has_deferred_movement_command_extra_flag;
    int32_t action = _monster_action_none;

    bool fetching = false;
    if (has_flags(monster->flags, _monster_wants_to_pick_up_object_flag))
    {
        // The object it wants to pick up, while it may still pick it up.
        const object_data *item = get_object_by_identifier(monster->pick_up_object_index,
                                                           monster->pick_up_object_identifier);
        if (item && monster_could_pick_up_object(monster_index, monster->pick_up_object_index,
                                                 monster->pick_up_object_identifier))
        {
            action = _monster_action_moving;
            destination = position_of(item);
            fetching = true;
        }
        else
        {
            monster->flags &= ~(uint32_t)_monster_wants_to_pick_up_object_flag;
            set_most_appropriate_monster_action(monster_index);
            if (!(monster = same_unit(monster_index, identifier)) || !(object = get_object(monster->object_index)))
                return;
        }
    }
    if (!fetching && has_flags(monster->flags, _monster_has_valid_target_flag))
        plan_toward_target(monster_index, monster, definition, &here, threat, &destination, &action);
    else if (!fetching)
        plan_along_waypoints(monster, definition, &destination, &action);

    const bool can_charge = has_flags(definition->hack_flags, _monster_hack_unit_can_charge_flag);
    if (can_charge) update_charge(monster, definition, threat);

    // Running, and the end of a charge.
    const bool wants_to_run = has_flags(monster->extra_flags, _monster_wants_to_run_extra_flag);
    if (current_gameplay_version >= 1301 && monster->action == _monster_action_moving && wants_to_run)
        monster->action_permutation = _monster_action_permutation_running;
    else if (can_charge && monster->action == _monster_action_moving &&
             monster->action_permutation == _monster_action_permutation_running)
    {
        const bool charge_ends =
            (current_gameplay_version >= 1710 && has_flags(definition->flags, _monster_has_limited_charge_duration_flag)) ||
            (current_gameplay_version >= 1601 && current_gameplay_version < 1710 &&
             !has_flags(definition->flags, _monster_can_extend_charge_duration_flag));
        if (charge_ends) monster->action_permutation = 0;
    }

    // The path is planned now.
    monster->flags &= ~(uint32_t)_monster_needs_new_path_flag;
    unit_obstacle_facts_changed(monster);

    if (action != _monster_action_moving)
    {
        // Not moving: only the action changes.
        if (action != _monster_action_none) set_monster_action(monster_index, action, 0);
        return;
    }

    // A path to the destination, asked for a few times.
    path_variables request = {};
    request.flags = 0;
    request.terrain_impassability_flags = definition->terrain_impassability_flags;
    request.owner_object_index = monster->object_index;
    request.p0 = here;
    request.p1 = destination;
    int32_t permutation = monster->action == _monster_action_moving ? monster->action_permutation : 0;
    if (wants_to_run) permutation = _monster_action_permutation_running;
    monster->extra_flags &= ~(uint32_t)_monster_has_deferred_movement_command_extra_flag;
    monster->path_destination = destination;
    delete_path(&monster->path_index);
    int32_t path_index = NEW_PATH_NO_ROUTE;
    for (int32_t call = 0; call < MAXIMUM_NEW_PATH_CALLS && path_index == NEW_PATH_NO_ROUTE; ++call)
        path_index = new_path(monster_index, &request);
    monster->path_index = (int16_t)(path_index >= 0 ? path_index : NONE);
    adjust_path_destination_for_obstacles(monster_index);
    const world_distance length = distance2d(&here, &monster->path_destination);
    monster->path_segment_length = (int16_t)(length < INT16_MAX ? length : INT16_MAX);
    const bool same_point = here.x == monster->path_destination.x && here.y == monster->path_destination.y;
    if (!(current_gameplay_version >= 1710 && same_point))
        monster->desired_yaw =
            heading_toward(monster->path_destination.x - here.x, monster->path_destination.y - here.y);

    if (monster->path_segment_length > ARRIVAL_DISTANCE || has_flags(monster->flags, _monster_has_obstructed_path_flag))
    {
        set_monster_action(monster_index, _monster_action_moving, permutation);
        return;
    }

    arrive_at_destination(monster_index, identifier, monster, definition, &here);
}

// The stop order: idle, and a reflexive special ability when one was asked for.
void stop_monster(int32_t monster_index, int16_t identifier)
{
    monster_data *monster = get_monster_data(monster_index);
    const bool will_use = has_flags(monster->flags, _monster_will_use_special_ability_flag);
    set_monster_action(monster_index, _monster_action_idle, 0);
    if (!(monster = same_unit(monster_index, identifier))) return;
    if (will_use)
    {
        monster->flags |= _monster_will_use_special_ability_flag;
        const int32_t attack = choose_monster_attack_index(monster_index, _choose_reflexive_special_ability_attack_index);
        if (attack != NONE)
        {
            handle_monster_attack(monster_index, attack, _monster_attack_aim);
            if (!(monster = same_unit(monster_index, identifier))) return;
            monster->flags |= _monster_is_using_special_ability_flag;
        }
        monster->flags &= ~(uint32_t)_monster_will_use_special_ability_flag;
    }
    monster->flags &= ~(uint32_t)(_monster_needs_to_stop_flag | _monster_has_final_desired_yaw_flag);
    monster->waypoint_count = 0;
}

// The wielded artifact's remaining time and its expiry.
void update_artifact_timer(int32_t monster_index, bool counted)
{
    monster_data *monster = get_monster_data(monster_index);
    if (counted && monster->artifact_timer != 0) --monster->artifact_timer;
    if (monster->artifact_index == NONE) return;
    const artifact_definition *artifact = get_artifact_definition(monster->artifact_index);
    if (!artifact) return;
    if (monster->artifact_timer != 0)
    {
        object_data *carried = get_object(monster->carrying_object_index);
        if (!carried) return;
        int32_t seconds = (int32_t)(monster->artifact_timer / TICKS_PER_EXPIRY_SECOND);
        if (current_gameplay_version >= 1511 && seconds < 1) seconds = 1;
        if (carried->expiry != (int16_t)seconds)
        {
            carried->expiry = (int16_t)seconds;
            monster->display_dirty_flags |= _monster_items_dirty_flag;
        }
    }
    else if (has_flags(artifact->flags, _artifact_has_timed_expiry_flag))
    {
        if (ASSERT(monster->carrying_object_index!= NONE)) delete_monster_carried_object_monsters(monster_index);
    }
}

// The confusion timer, and the wander of a confused idle unit.
void update_confusion(int32_t monster_index, int16_t identifier)
{
    monster_data *monster = get_monster_data(monster_index);
    if (--monster->confusion_timer < 1)
    {
        monster->extra_flags &= ~(uint32_t)(_monster_is_confused_extra_flag | _monster_does_not_autotarget_extra_flag);
        if (current_gameplay_version < 1511) monster->flags &= ~(uint32_t)_monster_ignores_user_commands_flag;
        if (current_gameplay_version < 1501 || !in_actions(monster->action, _monster_action_being_healed, _monster_action_paralyzed))
        {
            set_most_appropriate_monster_action(monster_index);
            if (!(monster = same_unit(monster_index, identifier))) return;
        }
        turn_local_projectile_group_off(monster->local_projectile_group_index);
        monster->local_projectile_group_index = NONE;
        return;
    }
    if (monster->action != _monster_action_idle) return;
    const object_data *object = get_object(monster->object_index);
    const monster_definition *definition = get_monster_definition(monster->type);
    if (!object || !definition) return;
    if (has_flags(monster->flags, _monster_has_valid_target_index_flag) || monster->target_monster_index != NONE)
        forget_target(monster);
    bool strikes = false;
    if (vesk_random() & 1)
    {
        const int32_t count = definition->number_of_attacks < MAXIMUM_ATTACKS_PER_MONSTER
                                  ? definition->number_of_attacks
                                  : (int32_t)MAXIMUM_ATTACKS_PER_MONSTER;
        for (int32_t i = 0; i < count && !strikes; ++i)
        {
            const projectile_definition *projectile = get_projectile_definition(definition->attacks[i].projectile_type);
            strikes = projectile && has_flags(projectile->flags, _projectile_is_melee_attack_flag);
        }
    }
    const int32_t direction = (((int32_t)vesk_random() + 32) & 0xFFFF) >> ANGLE_TO_TRIG_SHIFT;
    world_point2d point = {object->location.position.x + (cosine_table[direction] >> 5),
                           object->location.position.y + (sine_table[direction] >> 5)};
    const world_point3d target = {point.x, point.y, get_mesh_height(&point, _mesh_ground_height)};
    if (strikes)
        set_monster_target_location(monster_index, &target, 0);
    else
        set_monster_waypoints(monster_index, 1, &point, false, (angle)vesk_random());
}

void update_mana(monster_data *monster)
{
    const monster_definition *definition = get_monster_definition(monster->type);
    if (!definition || definition->maximum_mana == 0) return;
    const int32_t maximum = definition->maximum_mana, rate = definition->mana_recharge_rate;
    int32_t mana = monster->mana;
    if (current_gameplay_version <= 1300)
    {
        if (mana < maximum) mana = mana + rate < maximum ? mana + rate : maximum;
    }
    else
    {
        if (has_flags(monster->extra_flags, _monster_has_no_visibility_extra_flag)) return;
        if (mana < maximum && rate > 0)
            mana = mana + rate < maximum ? mana + rate : maximum;
        else if (rate < 0 && mana >= 1)
            mana = mana + rate > 0 ? mana + rate : 0;
    }
    monster->mana = (short_fixed)mana;
}

void spawn_entrance_projectile_group(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = get_monster_definition(monster->type);
    if (!has_flags(monster->extra_flags, _monster_should_spawn_entrance_proj_group_extra_flag) ||
        game_->time_state == _game_time_pregame)
        return;
    monster->extra_flags &= ~(uint32_t)_monster_should_spawn_entrance_proj_group_extra_flag;
    const object_data *object = get_object(monster->object_index);
    if (!definition || definition->entrance_projectile_group_type == NONE || !object) return;
    new_projectile_group_data request = {};
    request.type = definition->entrance_projectile_group_type;
    request.owner_object_index = request.bounds_object_index = monster->object_index;
    request.owner_monster_index = (int16_t)monster_index;
    request.epicenter = object->location.position;
    new_projectile_group(&request);
}

void update_all_monsters(bool current_rules)
{
    scan_for_targets();
    // The count is read again after every unit: units made during the loop
    // at higher indexes are updated in the same tick.
    for (int32_t index = 0; index < get_monster_array()->count; ++index)
    {
        const monster_data *monster = get_monster_data(index);
        if (!monster || has_flags(monster->flags, _monster_has_left_the_mesh_flag)) continue;
        if (current_rules)
        {
            if (!get_object(monster->object_index))
            {
                assertion_failed(__FILE__, __LINE__, _assertion_assert,
                                 "SLOT_IS_USED(get_object_data(monster->object_index))", nullptr);
                continue;
            }
            const int16_t identifier = monster->identifier;
            spawn_entrance_projectile_group(index);
            if (!same_unit(index, identifier)) continue;
        }
        update_monster(index);
    }
}

} // namespace

void update_monsters(void) { update_all_monsters(true); }

void update_monsters_13(void) { update_all_monsters(false); }

bool predict_interception_point(int32_t monster_index, int32_t target_index, world_point2d *destination)
{
    const monster_data *monster = get_monster_data(monster_index);
    const monster_data *target = get_monster_data(target_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    const object_data *target_object = target ? get_object(target->object_index) : nullptr;
    if (!object || !target_object) return false;
    const world_point3d &t = target_object->location.position;
    *destination = {t.x, t.y};

    int32_t vx = target_object->location.velocity.i, vy = target_object->location.velocity.j;
    int32_t dx = t.x - object->location.position.x, dy = t.y - object->location.position.y;
    if (has_flags(game_->option_flags, _game_option_uses_vux_flag) || (vx == 0 && vy == 0)) return true;
    if (dx > MAXIMUM_INTERCEPTION_OFFSET || dx < -MAXIMUM_INTERCEPTION_OFFSET || dy > MAXIMUM_INTERCEPTION_OFFSET ||
        dy < -MAXIMUM_INTERCEPTION_OFFSET)
        return true;
    if (current_gameplay_version <= 1720 && (dx > MAXIMUM_OLD_INTERCEPTION_OFFSET || dy > MAXIMUM_OLD_INTERCEPTION_OFFSET))
        return true;
    const monster_definition *target_definition = get_monster_definition(target->type);
    const monster_definition *definition = get_monster_definition(monster->type);
    if (!target_definition || !definition) return true;
    if (interception_ground_is_rough(target_object, target_definition->terrain_impassability_flags)) return true;
    if (current_gameplay_version >= 1301 &&
        (current_gameplay_version > 1600 ||
         has_flags(definition->more_hack_flags, _monster_more_hack_chases_intelligently_flag)))
    {
        vx = (int16_t)(vx - (int16_t)(vx / 2));
        vy = (int16_t)(vy - (int16_t)(vy / 2));
        if (vx == 0 && vy == 0) return true;
    }
    // The meeting time solves |d + v t| = s t in 32-bit arithmetic that wraps
    // (films rely on the wrap for far targets).
    dx >>= 3;
    dy >>= 3;
    const int32_t s = monster->base_movement_speed;
    const int32_t a = wrap_add32(wrap_add32(wrap_multiply32(vx, vx), wrap_multiply32(vy, vy)), -wrap_multiply32(s, s));
    const int32_t b = wrap_multiply32(2, wrap_add32(wrap_multiply32(vx, dx), wrap_multiply32(vy, dy)));
    const int32_t c = wrap_add32(wrap_multiply32(dx, dx), wrap_multiply32(dy, dy));
    const int32_t discriminant = wrap_add32(wrap_multiply32(b, b), -wrap_multiply32(wrap_multiply32(4, a), c));
    const int32_t divisor = wrap_multiply32(2, a);
    if (discriminant < 0 || a == 0 || divisor == 0) return true;
    const int32_t q = isqrt((uint32_t)discriminant);
    const int32_t t1 = wrap_add32(q, -b) / divisor;
    const int32_t t2 = wrap_add32(-b, -q) / divisor;
    int32_t ticks;
    if (t1 < 0)
        ticks = t2;
    else if (t2 >= 0)
        ticks = t1 < t2 ? t1 : t2;
    else
        ticks = t1;
    if (ticks <= 0) return true;
    const int64_t uncapped = (int64_t)ticks * 8;
    const int64_t lead = uncapped < MAXIMUM_INTERCEPTION_TICKS ? uncapped : (int64_t)MAXIMUM_INTERCEPTION_TICKS;
    world_point2d point = {(world_distance)(t.x + vx * lead), (world_distance)(t.y + vy * lead)};
    clamp_point_to_mesh(&point);
    *destination = point;
    return true;
}

void update_monster(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    object_data *object = monster ? get_object(monster->object_index) : nullptr;
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    if (!object || !definition) return;
    const int16_t identifier = monster->identifier;

    // A target index that names nobody.
    if (monster->target_monster_index == NONE)
    {
        monster->flags &= ~(uint32_t)_monster_has_valid_target_index_flag;
        if (current_gameplay_version >= 1691 && !has_flags(monster->flags, _monster_has_valid_target_location_flag))
            monster->flags &= ~(uint32_t)_monster_has_valid_target_flag;
    }
    // The animation.
    animate_object(monster->object_index);

    // Planning and the stop order, in actions 0-7 only.
    if (in_actions(monster->action, _monster_action_none, _monster_action_aiming_attack))
    {
        if (has_flags(monster->flags, _monster_needs_new_path_flag))
        {
            plan_monster(monster_index, identifier);
            if (!(monster = same_unit(monster_index, identifier))) return;
        }
        if (has_flags(monster->flags, _monster_needs_to_stop_flag))
        {
            stop_monster(monster_index, identifier);
            if (!(monster = same_unit(monster_index, identifier))) return;
        }
    }

    // The action timer counts down and rests at -1.
    const int32_t action = monster->action;
    const bool counted = in_actions(action, _monster_action_idle, _monster_action_holding_for_attack) ||
                         action == _monster_action_blocking ||
                         in_actions(action, _monster_action_being_healed, _monster_action_being_propelled);
    if (counted && monster->attack_timer >= 0) --monster->attack_timer;

    // The wielded artifact's timer.
    if (current_gameplay_version > 1300)
    {
        update_artifact_timer(monster_index, counted);
        if (!(monster = same_unit(monster_index, identifier))) return;
    }
    // Confusion wears off.
    if (has_flags(monster->extra_flags, _monster_is_confused_extra_flag))
    {
        update_confusion(monster_index, identifier);
        if (!(monster = same_unit(monster_index, identifier))) return;
    }
    // The action's procedure, when it has one.
    if (monster->action >= 0 && monster->action < NUMBER_OF_MONSTER_ACTIONS && monster_action_fns[monster->action])
    {
        monster_action_fns[monster->action](monster_index);
        if (!(monster = same_unit(monster_index, identifier))) return;
    }
    // Mana comes back.
    update_mana(monster);
}

void register_monster_update_hooks(void)
{
    register_tick_procedure(_tick_units, update_monsters);
    register_tick_procedure(_tick_units_1300, update_monsters_13);
}

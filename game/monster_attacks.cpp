// Attack choice and execution and the line-of-fire services.

#include "monster_attacks.h"

#include <climits>
#include <cstring>

#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "models.h"
#include "monster_actions.h"
#include "monster_definitions.h"
#include "monster_inventory.h"
#include "monster_orders.h"
#include "monster_queries.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "players.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "local_projectiles.h"
#include "monster_queries.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "vesk_random.h"

namespace {

constexpr int32_t NO_PRESELECTION_MINIMUM_RANGE = 512000;
// 204 << 16: the range a projectile gains per unit of height, over its speed.
constexpr int64_t RANGE_PER_HEIGHT_NUMERATOR = 13369344;

// Products the formulas give no width for are taken in 64 bits; where a
// value can still leave 64 bits (absurd definitions) it wraps, never traps.
int64_t wrap_multiply64(int64_t a, int64_t b) { return (int64_t)((uint64_t)a * (uint64_t)b); }
int64_t wrap_subtract64(int64_t a, int64_t b) { return (int64_t)((uint64_t)a - (uint64_t)b); }

const projectile_definition *projectile_of(int32_t type)
{
    return type == NONE ? nullptr : get_projectile_definition(type);
}

const object_definition *object_of(const projectile_definition *projectile)
{
    return projectile ? get_object_definition(projectile->object_type) : nullptr;
}

world_point2d point2d(const world_point3d &point) { return {point.x, point.y}; }

bool flag(uint32_t word, uint32_t bits) { return (word & bits) != 0; }

// The target unit's record when the unit has a valid target index and the
// record is in use.
monster_data *target_unit_of(const monster_data *monster)
{
    if (!flag(monster->flags, _monster_has_valid_target_index_flag)) return nullptr;
    return get_monster_data(monster->target_monster_index);
}

struct target_traits
{
    bool giant, flying, undead, confused;
};

target_traits traits_of_target(const monster_data *monster)
{
    target_traits traits = {};
    const monster_data *target = target_unit_of(monster);
    const monster_definition *definition = target ? get_monster_definition(target->type) : nullptr;
    if (!definition) return traits;
    traits.giant = flag(definition->flags, _monster_is_giant_sized_flag);
    traits.flying = flag(definition->flags, _monster_flies_flag);
    traits.undead = flag(definition->flags, _monster_is_undead_flag);
    traits.confused = flag(target->extra_flags, _monster_is_confused_extra_flag);
    return traits;
}

bool giant_rule_holds(const monster_attack_definition *attack, const target_traits &traits)
{
    if (flag(attack->flags, _monster_attack_vs_giant_sized_flag) && !traits.giant) return false;
    if (flag(attack->flags, _monster_attack_prohibited_vs_giant_sized_flag) && traits.giant) return false;
    return true;
}

bool flying_and_undead_rules_hold(const monster_attack_definition *attack, const target_traits &traits)
{
    if (flag(attack->extra_flags, _monster_attack_vs_flying_extra_flag) && !traits.flying) return false;
    if (flag(attack->extra_flags, _monster_attack_prohibited_vs_flying_extra_flag) && traits.flying) return false;
    if (flag(attack->extra_flags, _monster_attack_vs_undead_extra_flag) && !traits.undead) return false;
    if (flag(attack->extra_flags, _monster_attack_prohibited_vs_undead_extra_flag) && traits.undead) return false;
    return true;
}

// The carried-projectile, ammunition and mana rules.
bool attack_is_usable(const monster_data *monster, const monster_definition *definition,
                      const monster_attack_definition *attack)
{
    const int32_t version = current_gameplay_version;
    if (flag(attack->flags, _monster_attack_uses_carried_projectile_flag) && monster->carrying_object_index == NONE)
        return false;
    if (flag(attack->flags, _monster_attack_uses_ammunition_flag))
    {
        if (version < 1301)
        {
            if (monster->ammunition_count < 1) return false;
        }
        else if (attack->repetitions >= 0)
        {
            if (monster->ammunition_count <= 0) return false;
        }
        else if (!(monster->ammunition_count < 1 || flag(attack->flags, _monster_attack_is_special_ability_flag)))
            return false;
    }
    if (attack->mana_cost > 0 && monster->mana < attack->mana_cost) return false;
    if (version >= 1301 && attack->mana_cost < 0 && monster->mana > definition->maximum_mana + attack->mana_cost)
        return false;
    return true;
}

// Whether the unit's restriction admits the artifact's override.
bool check_artifact_override_restrictions(const artifact_definition *artifact, const monster_data *monster)
{
    if (!flag(artifact->flags, _artifact_restrict_overrides_flag) || artifact->monster_restriction_tag == (tag)NONE ||
        artifact->monster_restriction_tag == 0)
        return true;
    const unit_definition *restriction = get_unit_definition(artifact->monster_restriction_type);
    if (!restriction) return false;
    if (flag(artifact->flags, _artifact_restricted_by_collection_flag))
    {
        const monster_definition *theirs = get_monster_definition(restriction->monster_type);
        const monster_definition *ours = get_monster_definition(monster->type);
        return theirs && ours && theirs->collection_index == ours->collection_index;
    }
    return restriction->monster_type == monster->orig_type;
}

// The wielded artifact when its override attack is a candidate.
const artifact_definition *candidate_artifact(const monster_data *monster)
{
    if (monster->carrying_object_index == NONE || monster->artifact_index == NONE) return nullptr;
    const artifact_definition *artifact = get_artifact_definition(monster->artifact_index);
    const object_data *wielded = get_object(monster->carrying_object_index);
    if (!artifact || !wielded || !flag(artifact->flags, _artifact_overrides_owner_attack_flag)) return nullptr;
    const bool charged = (artifact->initial_charges_lower_bound == 0 && artifact->initial_charges_delta == 0) ||
                         wielded->state > 0;
    if (!charged || !check_artifact_override_restrictions(artifact, monster)) return nullptr;
    return artifact;
}

// Minimum and effective maximum range of the attack, from a unit standing
// `own_z` high, against a target point `target_z` high, `distance` away.
// `projectile` is the attack's own (projectile_of its type), which the caller
// has at hand, as it has the unit's object.
void adjust_ranges_for_height_difference(const monster_definition *definition,
                                         const monster_attack_definition *attack,
                                         const projectile_definition *projectile, world_distance own_z,
                                         world_distance target_z, world_distance distance, int32_t *minimum,
                                         int32_t *maximum)
{
    *minimum = attack->minimum_range;
    *maximum = attack->maximum_range;
    const int32_t v = attack->initial_velocity_lower_bound + attack->initial_velocity_delta;
    if (!projectile || flag(projectile->flags, _projectile_is_lightning_flag | _projectile_is_melee_attack_flag))
        return;
    const object_definition *object = object_of(projectile);
    if ((object && flag(object->flags, _maintains_constant_height_above_ground_flag)) || v == 0) return;
    const int32_t h = own_z - target_z;
    if (!flag(definition->hack_flags, _monster_hack_missile_attack_ignores_height_flag))
    {
        *maximum += (int32_t)((RANGE_PER_HEIGHT_NUMERATOR / v * h) >> 16);
        if (*maximum < *minimum) *maximum = *minimum;
    }
    if (flag(attack->flags, _monster_attack_lob_to_hit_lower_nearby_units_flag) && h < -MINIMUM_LOB_HEIGHT_DIFFERENCE &&
        distance <= MINIMUM_LOB_DISTANCE - 1)
        *minimum = 0;
}

monster_attack_definition *mutable_attack_definition(int32_t monster_index, int32_t attack_index)
{
    return const_cast<monster_attack_definition *>(get_monster_attack_definition(monster_index, attack_index));
}

void play_sound(int32_t monster_index, int16_t sound_type)
{
    play_monster_sound(monster_index, sound_type);
}

// A failed aim takes up the target the unit put off.
void try_to_switch_to_deferred_target(monster_data *monster)
{
    if (current_gameplay_version < 1301 || monster->deferred_target_index == NONE) return;
    monster->target_monster_index = monster->deferred_target_index;
    if (flag(monster->extra_flags, _monster_deferred_uses_special_extra_flag))
        monster->flags |= _monster_will_use_special_ability_flag;
    else
        monster->flags &= ~(uint32_t)_monster_will_use_special_ability_flag;
    if (current_gameplay_version >= 1501)
        monster->extra_flags &= ~(uint32_t)_monster_deferred_uses_special_extra_flag;
    monster->deferred_target_index = NONE;
}

// The point `maximum_range` ahead of the launch point along `yaw`, at the
// surface there when it lies on the mesh.
world_point3d immediate_target_point(const monster_attack_definition *attack, angle yaw, const world_point3d &launch)
{
    world_point3d target;
    target.x = launch.x + ((cosine_rounded(yaw) * attack->maximum_range) >> TRIG_SHIFT);
    target.y = launch.y + ((sine_rounded(yaw) * attack->maximum_range) >> TRIG_SHIFT);
    const world_point2d point = {target.x, target.y};
    if (target.x >= 0 && target.x < mesh_width * WORLD_ONE && target.y >= 0 && target.y < mesh_height * WORLD_ONE)
        target.z = get_mesh_height(&point, _mesh_surface_height);
    else
        target.z = launch.z;
    return target;
}

// The shared solution of aim and execute.  May move `target` (a failed
// ballistic shot) and store a fixed-pitch speed.  True when it counts as solved.
bool solve_attack(int32_t monster_index, monster_data *monster, const monster_definition *definition,
                  const monster_attack_definition *attack, const projectile_definition *projectile,
                  const world_point3d &launch, world_point3d *target, angle *pitch, int32_t *flight_time)
{
    const object_data *body = get_object(monster->object_index);
    const object_definition *object = object_of(projectile);
    bool solved = false;
    *pitch = 0;
    *flight_time = 0;
    const world_point2d here = point2d(body->location.position), there = point2d(*target);
    if (flag(projectile->flags, _projectile_is_melee_attack_flag))
    {
        if (flag(attack->flags, _monster_attack_is_reflexive_flag)) solved = true;
        else if (distance2d(&here, &there) <= attack->maximum_range)
        {
            solved = true;
            const monster_data *target_unit = target_unit_of(monster);
            const object_data *target_body = target_unit ? get_object(target_unit->object_index) : nullptr;
            if (flag(body->flags, _object_wholly_under_media_flag) && target_body &&
                flag(target_body->flags, _object_floats_on_media_flag))
                solved = false;
        }
    }
    else if (object && flag(object->flags, _maintains_constant_height_above_ground_flag))
    {
        const int32_t speed = attack->initial_velocity_lower_bound;
        *flight_time = speed != 0 ? distance2d(&there, &here) / speed : 0;
        solved = true;
    }
    else
    {
        projectile_aim_problem problem = {};
        problem.origin = launch;
        problem.target = *target;
        problem.shooter = body->location.position;
        problem.velocity = (int16_t)((monster->projectile_initial_velocity * projectile->inertia_lower_bound) >> 8);
        problem.gravity = object ? -object->gravity : 0;
        problem.aim_flags = flag(attack->flags, _monster_attack_is_indirect_flag) ? _aim_projectile_indirect_flag : 0;
        if (flag(definition->more_hack_flags, _monster_more_hack_moves_to_shoot_uphill_flag))
            problem.aim_flags |= _aim_projectile_check_gravity_flag;
        problem.fixed_pitch = flag(attack->flags, _monster_attack_is_fixed_pitch_flag);
        problem.lob_to_hit_lower_nearby_units = flag(attack->flags, _monster_attack_lob_to_hit_lower_nearby_units_flag);
        projectile_aim_solution solution;
        solve_projectile_aim(&problem, &solution);
        solved = solution.solved;
        *pitch = solution.pitch;
        *flight_time = solution.flight_time;
        *target = solution.target;
        if (solved && solution.kind == _projectile_aim_straight && current_gameplay_version >= 1301 &&
            flag(problem.aim_flags, _aim_projectile_check_gravity_flag))
        {
            world_point3d obstruction;
            bool near = false, far = false;
            if (check_for_ground_obstruction(&launch, target, *pitch, &obstruction, object)) solved = false;
            else
            {
                check_for_model_obstruction(&launch, target, *pitch, &near, &far, false);
                if (near || far) solved = false;
            }
        }
        if (solved && solution.kind == _projectile_aim_fixed_pitch)
            monster->projectile_initial_velocity = (int16_t)solution.velocity;
    }
    (void)monster_index;
    if (solved) return true;
    monster->flags |= _monster_did_not_get_targeting_solution_flag;
    *flight_time = 0;
    return flag(attack->flags, _monster_attack_does_not_require_solution_flag) &&
           !flag(monster->flags, _monster_should_close_on_target_flag);
}

// Friendly-fire preflight: 3 x friendly vitality > enemy vitality in the
// square the projectile's damage may reach around the target point.
bool preflight_area_of_effect_projectile(const monster_data *monster, const projectile_definition *projectile,
                                         const world_point3d &target)
{
    const int32_t radius = projectile->damage.radius_lower_bound + projectile->damage.radius_delta;
    const int32_t cells = (radius + PREFLIGHT_RADIUS_INFLATION_AMOUNT) >> WORLD_FRACTIONAL_BITS;
    const int32_t cx = target.x >> WORLD_FRACTIONAL_BITS, cy = target.y >> WORLD_FRACTIONAL_BITS;
    const int32_t x0 = clamp32(cx - cells, 0, mesh_width - 1), x1 = clamp32(cx + cells, 0, mesh_width - 1);
    const int32_t y0 = clamp32(cy - cells, 0, mesh_height - 1), y1 = clamp32(cy + cells, 0, mesh_height - 1);
    int64_t friendly = 0, enemy = 0;
    for (int32_t y = y0; y <= y1 && mesh_width > 0 && mesh_height > 0; ++y)
        for (int32_t x = x0; x <= x1; ++x)
            for (int32_t index = first_scanned_object(x, y); index != NONE;)
            {
                const object_data *object = get_object(index);
                if (!object) break;
                if (object->owner == _object_is_monster && !flag(object->flags, _object_is_invisible_flag))
                {
                    const monster_data *other = get_monster_data(object->owner_index);
                    const int32_t team = other ? other->owner_team_index : (int32_t)NONE;
                    if (teams_are_allied(monster->owner_team_index, team)) friendly += object->vitality;
                    else enemy += object->vitality;
                }
                index = next_scanned_object(index);
            }
    return 3 * friendly > enemy;
}

// Steps aside from an obstruction that lies within a quarter turn of the
// unit's heading, then moves.
void sidestep_obstruction(int32_t monster_index, monster_data *monster, const object_data *body,
                          const object_data *obstruction)
{
    const angle bearing = arctangent(obstruction->location.position.x - body->location.position.x,
                                     obstruction->location.position.y - body->location.position.y);
    const int32_t difference = signed_angular_difference(monster->desired_yaw, bearing);
    if (difference < -QUARTER_CIRCLE || difference > QUARTER_CIRCLE) return;
    if (!flag(monster->flags, _monster_is_evading_obstacle_to_attack_flag | _monster_evading_obstacle_flag))
    {
        if (difference <= 0)
        {
            monster->desired_yaw = (angle)(bearing + QUARTER_CIRCLE);
            monster->extra_flags &= ~(uint32_t)_monster_evading_left_extra_flag;
        }
        else
        {
            monster->desired_yaw = (angle)(bearing - QUARTER_CIRCLE);
            monster->extra_flags |= _monster_evading_left_extra_flag;
        }
    }
    else
        monster->desired_yaw = flag(monster->extra_flags, _monster_evading_left_extra_flag)
                                   ? (angle)(bearing - QUARTER_CIRCLE)
                                   : (angle)(bearing + QUARTER_CIRCLE);
    monster->flags &= ~(uint32_t)_monster_has_obstructed_path_flag;
    monster->flags |= _monster_is_evading_obstacle_to_attack_flag | _monster_evading_obstacle_flag;
    const int32_t length = body->radius + obstruction->radius + MONSTER_MELEE_RADIUS;
    monster->path_segment_length = (int16_t)length;
    monster->path_destination.x = body->location.position.x + ((cosine_rounded(monster->desired_yaw) * length) >> TRIG_SHIFT);
    monster->path_destination.y = body->location.position.y + ((sine_rounded(monster->desired_yaw) * length) >> TRIG_SHIFT);
    const int32_t permutation = monster->action == _monster_action_moving ? monster->action_permutation : 0;
    const int16_t identifier = monster->identifier;
    set_monster_action(monster_index, _monster_action_moving, permutation);
    // Entering an action clears the flag; the sidestep keeps it until the unit
    // arrives or plans anew, so that it does not try to attack on the way.
    monster = get_monster_data(monster_index);
    if (monster && monster->identifier == identifier) monster->flags |= _monster_is_evading_obstacle_to_attack_flag;
}

// A model or the ground in the way: from FIRST_GAMEPLAY_VERSION_CLOSING_ON_BLOCKED_SHOTS
// the unit has no targeting solution from where it stands.  Always false.
bool no_clear_shot(monster_data *monster)
{
    if (current_gameplay_version >= FIRST_GAMEPLAY_VERSION_CLOSING_ON_BLOCKED_SHOTS)
        monster->flags |= _monster_did_not_get_targeting_solution_flag;
    return false;
}

// The line-of-fire checks of a solved aim; true when the shot is clear.
bool line_of_fire_is_clear(int32_t monster_index, monster_data *monster, const monster_definition *definition,
                           const monster_attack_definition *attack, const projectile_definition *projectile,
                           const world_point3d &launch, const world_point3d &target, angle pitch)
{
    const object_data *body = get_object(monster->object_index);
    const object_definition *object = object_of(projectile);
    const bool constant_height = object && flag(object->flags, _maintains_constant_height_above_ground_flag);
    const bool guided = flag(projectile->flags, _projectile_is_guided_flag);
    // Models.
    if (!flag(monster->extra_flags, _monster_ignores_model_collisions_extra_flag))
    {
        bool near = false, far = false;
        check_for_model_obstruction(&launch, &target, pitch, &near, &far,
                                    flag(monster->extra_flags, _monster_will_use_old_collision_detection_extra_flag));
        if (near || far) return no_clear_shot(monster);
    }
    // Ground.
    if (!flag(projectile->flags, _projectile_is_lightning_flag) && !constant_height)
    {
        world_point3d obstruction;
        const bool uphill = flag(definition->more_hack_flags, _monster_more_hack_moves_to_shoot_uphill_flag);
        if (check_for_ground_obstruction(&launch, &target, pitch, &obstruction, uphill ? object : nullptr))
            return no_clear_shot(monster);
    }
    // Objects between the unit and the target.
    {
        const angle bearing = arctangent(target.x - launch.x, target.y - launch.y);
        world_point3d origin = launch;
        origin.x -= (cosine_rounded(bearing) * body->radius) >> TRIG_SHIFT;
        origin.y -= (sine_rounded(bearing) * body->radius) >> TRIG_SHIFT;
        const int32_t distance = flag(monster->flags, _monster_has_valid_target_location_flag)
                                     ? (int32_t)TARGET_LOCATION_OBSTRUCTION_CHECK_DISTANCE
                                     : (int32_t)DEFAULT_OBJECT_CHECK_DISTANCE;
        const int32_t found = check_for_object_obstruction(
            monster->object_index, &origin, &target, distance, pitch, !constant_height,
            flag(attack->flags, _monster_attack_dont_try_to_shoot_over_nearby_units_flag), guided);
        const object_data *obstruction = get_object(found);
        if (obstruction)
        {
            const bool unit = obstruction->owner == _object_is_monster;
            const monster_data *other = unit ? get_monster_data(obstruction->owner_index) : nullptr;
            if (!(unit && !monsters_are_allied(monster_index, obstruction->owner_index)))
            {
                if (unit && other && other->action == _monster_action_moving)
                    play_sound(monster_index, _monster_sound_attack_obstructed_by_friendly_unit);
                else
                    sidestep_obstruction(monster_index, monster, body, obstruction);
                return false;
            }
        }
    }
    const bool at_unit = flag(monster->flags, _monster_has_valid_target_index_flag) &&
                         !flag(monster->flags, _monster_has_valid_target_location_flag);
    // Objects between the target and the unit.
    if (at_unit && !flag(monster->flags, _monster_responding_to_target_command_flag))
    {
        const monster_data *target_unit = target_unit_of(monster);
        if (target_unit)
        {
            const int32_t found = check_for_object_obstruction(target_unit->object_index, &target, &launch,
                                                               DEFAULT_OBJECT_CHECK_DISTANCE, pitch, false, false, guided);
            const object_data *obstruction = get_object(found);
            if (obstruction && !(obstruction->owner == _object_is_monster &&
                                 !monsters_are_allied(monster_index, obstruction->owner_index)))
                return false;
        }
    }
    // Friends near the target.
    if (at_unit && flag(attack->flags, _monster_attack_avoids_friendly_units_flag) &&
        preflight_area_of_effect_projectile(monster, projectile, target))
    {
        if (!flag(monster->flags, _monster_responding_to_target_command_flag)) return false;
        play_sound(monster_index, _monster_sound_attack_enemy_with_friendly_units_nearby);
    }
    return true;
}

// Recovery, alliances broken by the attack, and the deferred target.
void attack_tail(int32_t monster_index, int16_t identifier, const monster_attack_definition *attack, bool struck)
{
    const int32_t version = current_gameplay_version;
    monster_data *monster = get_monster_data(monster_index);
    // A strike that freed the unit (and maybe let another take its slot)
    // leaves the slot alone.
    if (!monster || monster->identifier != identifier) return;
    const monster_definition *definition = get_monster_definition(monster->type);
    if (!definition) return;
    if (version >= 1301 && struck && flag(monster->extra_flags, _monster_has_deferred_movement_command_extra_flag))
    {
        monster->flags &= ~(uint32_t)(_monster_has_valid_target_index_flag | _monster_has_valid_target_location_flag);
        if (version >= 1691) monster->flags &= ~(uint32_t)_monster_has_valid_target_flag;
        monster->extra_flags &= ~(uint32_t)_monster_has_deferred_movement_command_extra_flag;
        monster->flags |=
            _monster_responding_to_command_flag | _monster_needs_new_path_flag | _monster_has_final_desired_yaw_flag;
        unit_obstacle_facts_changed(monster);
    }
    if (!(version >= 1511 && flag(attack->extra_flags, _monster_attack_does_not_require_recovery_time_extra_flag)))
    {
        const int32_t experience = get_relevant_experience(monster_index);
        if (definition->use_attack_frequency == 0)
        {
            const int32_t jitter = ((int32_t)vesk_random() * 3) >> 15;
            monster->attack_timer = (int16_t)(monster->attack_timer + attack->recovery_time -
                                              attack->recovery_time_experience_delta * experience + jitter);
        }
        else
        {
            const int32_t spread = definition->attack_frequency_delta - definition->attack_frequency_lower_bound;
            const int32_t r = spread > 0 ? (int32_t)(((int64_t)vesk_random() * spread) >> 16) : 0;
            monster->attack_timer = (int16_t)(monster->attack_timer + attack->recovery_time + r -
                                              experience * attack->recovery_time_experience_delta);
        }
    }
    if (const monster_data *target = target_unit_of(monster))
    {
        const bool exempt = version >= 1300 && flag(attack->flags, _monster_attack_is_special_ability_flag) &&
                            flag(attack->extra_flags, _monster_attack_can_be_used_against_friendlies_extra_flag);
        if (target->owner_team_index != monster->owner_team_index &&
            monsters_are_allied(monster->target_monster_index, monster_index) && !exempt)
            ally_with_team(target->owner_team_index, monster->owner_team_index, false);
    }
    if (version >= 1301 && struck)
    {
        const monster_attack_definition *current = get_monster_attack_definition(monster_index, monster->action_permutation);
        const bool repeats = monster->action_permutation != -1 &&
                             (flag(monster->flags, _monster_has_valid_target_flag) ||
                              (current && flag(current->flags, _monster_attack_is_reflexive_flag))) &&
                             !flag(monster->flags, _monster_attack_was_aborted_flag) &&
                             monster->repeated_obstruction_count > 1;
        if (!repeats) try_to_switch_to_deferred_target(monster);
    }
}

// The wielded object leaves the unit after it was thrown (or its last charge
// spent).
void hand_over_wielded_object(int32_t monster_index, monster_data *monster, int32_t projectile_index)
{
    const int32_t version = current_gameplay_version;
    const int32_t wielded_index = monster->carrying_object_index;
    const object_data *wielded = get_object(wielded_index);
    if (projectile_index != NONE && wielded)
    {
        const projectile_data *projectile = get_projectile_data(projectile_index);
        const projectile_definition *definition = projectile ? get_projectile_definition(projectile->type) : nullptr;
        object_data *thrown = projectile ? get_object(projectile->object_index) : nullptr;
        if (thrown)
        {
            set_datum_identifier(get_object_array(), projectile->object_index, wielded->identifier);
            const artifact_definition *artifact = definition ? get_artifact_definition(definition->artifact_index) : nullptr;
            if (artifact && flag(artifact->flags, _artifact_keeps_charge_flag)) thrown->state = wielded->state;
            if (version >= 1301 && projectile->local_projectile_group_index != NONE)
                set_local_projectile_group_central_object(projectile->local_projectile_group_index,
                                                          projectile->object_index, thrown->identifier);
        }
    }
    if (wielded_index == NONE) return;
    if (monster->held_object_count <= 0)
    {
        delete_object(wielded_index);
        monster->carrying_object_index = monster->artifact_index = NONE;
    }
    else if (version >= 1301)
    {
        int32_t count = monster->held_object_count < MAXIMUM_HELD_OBJECTS_PER_MONSTER ? monster->held_object_count
                                                                                       : (int32_t)MAXIMUM_HELD_OBJECTS_PER_MONSTER;
        int32_t removed = count;
        for (int32_t i = 0; i < count; ++i)
            if (monster->held_object_indexes[i] == wielded_index)
            {
                removed = i;
                break;
            }
        if (removed < count)
        {
            for (int32_t i = removed; i + 1 < count; ++i)
                monster->held_object_indexes[i] = monster->held_object_indexes[i + 1];
            monster->held_object_indexes[--count] = NONE;
            monster->held_object_count = (int8_t)count;
        }
        if (count == 0)
        {
            delete_object(wielded_index);
            monster->carrying_object_index = monster->artifact_index = NONE;
        }
        else
        {
            int32_t next = NONE;
            if (version >= 1501 && wielded)
                for (int32_t i = 0; i < count && next == NONE; ++i)
                {
                    const object_data *held = get_object(monster->held_object_indexes[i]);
                    if (held && held->owner_index == wielded->owner_index) next = monster->held_object_indexes[i];
                }
            if (next == NONE) next = monster->held_object_indexes[removed < count ? removed : count - 1];
            // The thrown object lives on as the projectile's: its old body
            // would be an invisible object nobody owns.
            delete_object(wielded_index);
            monster->carrying_object_index = (int16_t)next;
        }
    }
    if (monster->carrying_object_index != NONE && monster->action == _monster_action_attacking)
    {
        set_monster_action(monster_index, _monster_action_holding_for_attack, 0);
        monster = get_monster_data(monster_index);
        if (!monster) return;
    }
    if (version >= 1301)
    {
        switch_monster_artifact(monster_index);
        monster = get_monster_data(monster_index);
        if (!monster) return;
    }
    monster->display_dirty_flags |= _monster_items_dirty_flag;
    if (monster->action_permutation == ARTIFACT_ATTACK_INDEX) monster->action_permutation = -1;
}

// Execute (on the key frame) and abort (a fumble).
// Where the attack starts and what it aims at: straight ahead for an
// immediate or aborted attack (or without a target), else at the target,
// led when the attack leads, with the pitch the solution gives.
static void aim_attack(int32_t monster_index, monster_data *monster, const monster_definition *definition,
                       const object_data *body, const projectile_definition *projectile,
                       const monster_attack_definition *attack, bool immediate, bool aborting,
                       world_point3d *launch_out, world_point3d *target_out, angle *yaw_out, angle *pitch_out)
{
    const int32_t version = current_gameplay_version;
    const int16_t sequence = body->shape_sequence_index;
    world_point3d &launch = *launch_out, &target = *target_out;
    angle &yaw = *yaw_out, &pitch = *pitch_out;
    world_point3d probe;
    if (immediate || aborting || !get_monster_target_location(monster_index, &probe, false, 0))
    {
        yaw = monster->desired_yaw;
        if (version >= 1301) monster->flags |= _monster_has_final_desired_yaw_flag;
        if (!get_object_key_point(monster->object_index, sequence, -1, yaw, &launch)) launch = body->location.position;
        target = immediate_target_point(attack, yaw, launch);
    }
    else
    {
        const monster_data *target_unit = target_unit_of(monster);
        const bool leads = flag(attack->flags, _monster_attack_leads_target_flag) &&
                           (flag(monster->flags, _monster_has_valid_target_location_flag) ||
                            (target_unit && flag(target_unit->extra_flags, _monster_actually_moved_extra_flag)));
        get_monster_target_location(monster_index, &target, !flag(attack->flags, _monster_attack_aimed_at_targets_feet_flag),
                                    leads ? monster->estimated_projectile_flight_time : 0);
        if (version >= 1501 && projectile && flag(projectile->flags, _projectile_is_lightning_flag) &&
            flag(monster->flags, _monster_has_valid_target_index_flag) &&
            flag(monster->flags, _monster_attack_was_aborted_flag) && monster->last_target_location.x != 0 &&
            monster->last_target_location.y != 0)
        {
            target.x = monster->last_target_location.x;
            target.y = monster->last_target_location.y;
        }
        const world_point2d here = point2d(body->location.position), there = point2d(target);
        yaw = adjust_yaw_for_destination(monster->desired_yaw, &there, &here);
        if (!get_object_key_point(monster->object_index, sequence, -1, yaw, &launch)) launch = body->location.position;
        const world_point2d from = point2d(launch);
        yaw = adjust_yaw_for_destination(yaw, &there, &from);
        int32_t flight_time = 0;
        const bool solved =
            solve_attack(monster_index, monster, definition, attack, projectile, launch, &target, &pitch, &flight_time);
        if (!solved || flag(monster->flags, _monster_attack_was_aborted_flag))
        {
            pitch = monster->estimated_projectile_pitch;
            yaw = monster->desired_yaw;
        }
    }
}

// The projectile's velocity: the unit's launch speed along the aim, scattered
// for an aborted attack (which throws its ammunition instead) and by the
// attack's error less the unit's experience.
static void launch_velocity(int32_t monster_index, monster_data *monster, const monster_definition *definition,
                            const monster_attack_definition *attack, bool aborting, angle yaw, angle pitch,
                            new_projectile_data *request_out)
{
    new_projectile_data &request = *request_out;
    int32_t speed = monster->projectile_initial_velocity;
    angle launch_yaw = yaw, launch_pitch = pitch;
    if (aborting)
    {
        const int32_t half = speed / 2;
        if (half != 0)
        {
            speed = half + (int32_t)vesk_random() % half;
            monster->projectile_initial_velocity = (int16_t)speed;
        }
        launch_pitch = (angle)(launch_pitch + ABORTED_ATTACK_ERROR_ANGLE - (vesk_random() & 0x1FFF));
        launch_yaw = (angle)(launch_yaw + ABORTED_ATTACK_ERROR_ANGLE - (vesk_random() & 0x1FFF));
        if (flag(attack->flags, _monster_attack_uses_ammunition_flag) && definition->ammunition_projectile_type != NONE)
            request.type = definition->ammunition_projectile_type;
    }
    world_vector3d velocity;
    build_world_vector3d(&velocity, speed, launch_yaw, launch_pitch);
    if (attack->initial_velocity_error != 0)
    {
        int32_t error = attack->initial_velocity_error -
                        attack->velocity_improvement_with_experience * get_relevant_experience(monster_index);
        if (error < 0) error = 0;
        if (error > 0)
        {
            const int64_t span = 2 * (int64_t)error + 1;
            velocity.i = (int16_t)(velocity.i + (int32_t)(((int64_t)vesk_random() * span) >> 16) - error);
            velocity.j = (int16_t)(velocity.j + (int32_t)(((int64_t)vesk_random() * span) >> 16) - error);
            velocity.k = (int16_t)(velocity.k + (int32_t)(((int64_t)vesk_random() * span) >> 16) - error);
        }
    }
    request.location.velocity = velocity;
    request.location.yaw = launch_yaw;
    request.location.pitch = launch_pitch;
}

// What the attack costs: an artifact's charge (the artifact handed over when
// it is spent, as a carried projectile is), ammunition and mana; the target
// location is used up.  The unit, or null when it is gone.
static monster_data *pay_for_attack(int32_t monster_index, int16_t identifier, monster_data *monster,
                                    const monster_definition *definition, const monster_attack_definition *attack,
                                    bool carried, bool aborting, int32_t projectile_index)
{
    const int32_t version = current_gameplay_version;
    bool exhausted = false;
    const artifact_definition *artifact =
        monster->carrying_object_index != NONE ? get_artifact_definition(monster->artifact_index) : nullptr;
    object_data *wielded = get_object(monster->carrying_object_index);
    const bool artifact_attack = monster->action_permutation == ARTIFACT_ATTACK_INDEX;
    if (artifact && wielded && (artifact_attack || monster->type != monster->orig_type))
    {
        if (wielded->state > 0 &&
            (artifact_attack || !flag(artifact->flags, _artifact_override_monster_doesnt_use_charges_flag)))
        {
            wielded->state -= 1;
            monster->display_dirty_flags |= _monster_items_dirty_flag;
        }
        exhausted = wielded->state == 0 && flag(artifact->flags, _artifact_vanishes_after_last_charge_flag);
    }
    if (carried || exhausted)
    {
        hand_over_wielded_object(monster_index, monster, projectile_index);
        monster = get_monster_data(monster_index);
        if (!monster || monster->identifier != identifier) return nullptr;
    }
    if (flag(attack->flags, _monster_attack_uses_ammunition_flag))
    {
        if (attack->repetitions < 0)
        {
            if (monster->ammunition_count == 0 && !(aborting && version >= 1301))
                monster->ammunition_count = (int8_t)-attack->repetitions;
        }
        else
            monster->ammunition_count = (int8_t)(monster->ammunition_count - 1);
        monster->display_dirty_flags |= _monster_ammunition_dirty_flag;
    }
    if (attack->mana_cost > 0)
    {
        const int32_t mana = monster->mana - attack->mana_cost;
        monster->mana = (short_fixed)(mana < 0 ? 0 : mana);
    }
    else if (attack->mana_cost < 0)
    {
        const int32_t mana = monster->mana - attack->mana_cost;
        monster->mana = (short_fixed)(mana > definition->maximum_mana ? definition->maximum_mana : mana);
    }
    monster->flags &= ~(uint32_t)_monster_has_valid_target_location_flag;
    if (!flag(monster->flags, _monster_has_valid_target_index_flag))
        monster->flags &= ~(uint32_t)_monster_has_valid_target_flag;
    monster->extra_flags &= ~(uint32_t)(_monster_ignores_model_collisions_extra_flag |
                                        _monster_will_use_old_collision_detection_extra_flag);
    return monster;
}

bool execute_monster_attack(int32_t monster_index, int32_t state, bool immediate, int16_t projectile_type,
                            monster_attack_definition *attack)
{
    monster_data *monster = get_monster_data(monster_index);
    const int16_t identifier = monster->identifier;
    const monster_definition *definition = get_monster_definition(monster->type);
    const object_data *body = get_object(monster->object_index);
    const projectile_definition *projectile = projectile_of(projectile_type);
    const bool aborting = state == _monster_attack_abort;
    world_point3d launch, target;
    angle yaw, pitch = 0;
    aim_attack(monster_index, monster, definition, body, projectile, attack, immediate, aborting, &launch, &target,
               &yaw, &pitch);
    monster->last_target_location = {0, 0};

    bool struck = false;
    if (!flag(monster->flags, _monster_has_attacked_flag))
    {
        const uint16_t draw = vesk_random();
        struck = !(attack->miss_fraction > draw);
    }
    if (struck)
    {
        monster->flags |= _monster_has_attacked_flag;
        monster->extra_flags &= ~(uint32_t)_monster_chain_lightning_prevention_extra_flag;
        const bool carried = flag(attack->flags, _monster_attack_uses_carried_projectile_flag);
        const bool at_unit = flag(monster->flags, _monster_has_valid_target_index_flag) &&
                             !flag(monster->flags, _monster_has_valid_target_location_flag);
        new_projectile_data request;
        memset(&request, 0, sizeof(request));
        request.type = projectile_type;
        request.flags = _projectile_has_valid_target_location_flag;
        request.location.position = launch;
        request.damage_scale = SHORT_FIXED_ONE;
        request.owner_monster_index = (int16_t)monster_index;
        request.owner_projectile_index = NONE;
        request.owner_object_index = carried && monster->carrying_object_index != NONE ? monster->carrying_object_index
                                                                                        : monster->object_index;
        if (aborting || flag(monster->flags, _monster_attack_was_aborted_flag)) request.target_monster_index = NONE;
        else if (immediate) request.target_monster_index = (int16_t)monster_index;
        else if (at_unit) request.target_monster_index = monster->target_monster_index;
        else request.target_monster_index = NONE;
        if (request.target_monster_index == NONE && projectile && flag(projectile->flags, _projectile_is_melee_attack_flag) &&
            !immediate && !flag(monster->flags, _monster_has_valid_target_location_flag) &&
            flag(monster->extra_flags, _monster_has_deferred_movement_command_extra_flag) &&
            get_monster_data(monster->target_monster_index))
            request.target_monster_index = monster->target_monster_index;
        request.target_location = target;

        launch_velocity(monster_index, monster, definition, attack, aborting, yaw, pitch, &request);
        const int32_t projectile_index = request.type != NONE ? new_projectile(&request) : (int32_t)NONE;

        // A projectile that detonates at once may have killed the unit.
        monster = get_monster_data(monster_index);
        if (!monster || monster->identifier != identifier) return true;

        if (!pay_for_attack(monster_index, identifier, monster, definition, attack, carried, aborting,
                            projectile_index))
            return true;
    }
    attack_tail(monster_index, identifier, attack, struck);
    return true;
}

// Aim (state 0).
bool aim_monster_attack(int32_t monster_index, int32_t attack_index, bool immediate, int16_t projectile_type,
                        monster_attack_definition *attack)
{
    const int32_t version = current_gameplay_version;
    monster_data *monster = get_monster_data(monster_index);
    const int16_t identifier = monster->identifier;
    const monster_definition *definition = get_monster_definition(monster->type);
    const object_data *body = get_object(monster->object_index);
    const projectile_definition *projectile = projectile_of(projectile_type);
    // A target unit that died (or a slot already freed) leaves nothing to aim at.
    world_point3d probe;
    if (!immediate && !get_monster_target_location(monster_index, &probe, false, 0)) return false;
    const int32_t slot = get_monster_attack_sequence_index(attack, 0);
    const int16_t sequence = attack->sequences[slot].sequence_index;
    monster->projectile_initial_velocity = attack->initial_velocity_lower_bound;
    if (attack->initial_velocity_delta > 0)
        monster->projectile_initial_velocity =
            (int16_t)(attack->initial_velocity_lower_bound +
                      (((int32_t)vesk_random() * attack->initial_velocity_delta) >> 16));

    world_point3d launch, target;
    angle yaw, pitch = 0;
    int32_t flight_time = 0;
    if (immediate)
    {
        yaw = monster->desired_yaw;
        if (version >= 1301) monster->flags |= _monster_has_final_desired_yaw_flag;
        if (!get_object_key_point(monster->object_index, sequence, -1, yaw, &launch)) launch = body->location.position;
        target = immediate_target_point(attack, yaw, launch);
        yaw = body->location.yaw;
    }
    else
    {
        const monster_data *target_unit = target_unit_of(monster);
        const bool leads = flag(attack->flags, _monster_attack_leads_target_flag) &&
                           (flag(monster->flags, _monster_has_valid_target_location_flag) ||
                            (target_unit && flag(target_unit->extra_flags, _monster_actually_moved_extra_flag)));
        get_monster_target_location(monster_index, &target, !flag(attack->flags, _monster_attack_aimed_at_targets_feet_flag),
                                    leads ? monster->estimated_projectile_flight_time : 0);
        if (version >= 1501 && flag(projectile->flags, _projectile_is_lightning_flag) &&
            flag(monster->flags, _monster_has_valid_target_index_flag))
            monster->last_target_location = {target.x, target.y};
        const world_point2d here = point2d(body->location.position), there = point2d(target);
        yaw = adjust_yaw_for_destination(monster->desired_yaw, &there, &here);
        if (!get_object_key_point(monster->object_index, sequence, -1, yaw, &launch)) launch = body->location.position;
        const bool solved =
            solve_attack(monster_index, monster, definition, attack, projectile, launch, &target, &pitch, &flight_time);
        if (!solved ||
            (!flag(projectile->flags, _projectile_is_melee_attack_flag) &&
             !line_of_fire_is_clear(monster_index, monster, definition, attack, projectile, launch, target, pitch)))
        {
            monster = get_monster_data(monster_index);
            if (monster && monster->identifier == identifier) try_to_switch_to_deferred_target(monster);
            return false;
        }
    }
    monster->desired_yaw = yaw;
    monster->estimated_projectile_pitch = pitch;
    monster->estimated_projectile_flight_time = (int16_t)flight_time;
    monster->flags &= ~(uint32_t)(_monster_has_attacked_flag | _monster_attack_was_aborted_flag);
    set_monster_action(monster_index, _monster_action_aiming_attack, attack_index);
    attack_tail(monster_index, identifier, attack, false);
    return true;
}

void solve_ballistic(const projectile_aim_problem *problem, int64_t h, int64_t dz, projectile_aim_solution *solution)
{
    const int64_t v = problem->velocity, g = problem->gravity;
    solution->kind = _projectile_aim_ballistic;
    const int64_t a = wrap_multiply64(g, g);
    const int64_t b = wrap_subtract64(-wrap_multiply64(v, v), wrap_multiply64(g, dz));
    const int64_t discriminant =
        wrap_subtract64(wrap_multiply64(b, b), wrap_multiply64(wrap_multiply64(h, h) + wrap_multiply64(dz, dz), a));
    int64_t t_squared = -1;
    if (discriminant >= 0 && a != 0)
    {
        const int64_t q = isqrt64((uint64_t)discriminant);
        const int64_t low = 2 * (-q - b) / a, high = 2 * (q - b) / a;
        if (low > 0 && !flag(problem->aim_flags, _aim_projectile_indirect_flag)) t_squared = low;
        else if (high >= 0) t_squared = high;
    }
    if (t_squared >= 0)
    {
        const int64_t t = isqrt64((uint64_t)t_squared);
        solution->solved = true;
        solution->flight_time = (int32_t)t;
        solution->pitch = 0;
        if (t != 0 && v != 0)
        {
            int64_t argument = (dz - (wrap_multiply64(t * t, g) >> 1)) * TRIG_MAGNITUDE / (v * t);
            const int64_t one = TRIG_MAGNITUDE;
            if (current_gameplay_version >= 1301) argument = argument < -one ? -one : argument > one ? one : argument;
            // Outside -1..1 (only before 1301) the arcsine answers 0.
            if (argument >= -one && argument <= one) solution->pitch = arcsine((int32_t)argument);
        }
        return;
    }
    // No arc reaches: the shot falls short at its best pitch.
    solution->solved = false;
    solution->pitch = (angle)(arctangent((world_distance)-dz, (world_distance)h) / 2);
    const int64_t c = cosine_rounded(solution->pitch), s = sine_rounded(solution->pitch);
    const int64_t reach = g != 0 ? ((c * v) >> TRIG_SHIFT) * ((s * v) >> TRIG_SHIFT) * -2 / g : 0;
    const angle bearing =
        arctangent(problem->target.x - problem->origin.x, problem->target.y - problem->origin.y);
    solution->target.x = problem->origin.x + (world_distance)((reach * cosine_rounded(bearing)) >> TRIG_SHIFT);
    solution->target.y = problem->origin.y + (world_distance)((reach * sine_rounded(bearing)) >> TRIG_SHIFT);
}

} // namespace

// ---- the aim solution ------------------------------------------------------------------

void solve_projectile_aim(const projectile_aim_problem *problem, projectile_aim_solution *solution)
{
    memset(solution, 0, sizeof(*solution));
    solution->target = problem->target;
    solution->velocity = problem->velocity;
    const int64_t dx = (int64_t)problem->target.x - problem->origin.x;
    const int64_t dy = (int64_t)problem->target.y - problem->origin.y;
    const int64_t h = isqrt64((uint64_t)(dx * dx + dy * dy));
    const int64_t dz = (int64_t)problem->target.z - problem->origin.z;
    const int64_t v = problem->velocity, g = problem->gravity;
    if (!problem->fixed_pitch)
    {
        if (g < 0)
        {
            solve_ballistic(problem, h, dz, solution);
            return;
        }
        solution->kind = _projectile_aim_straight;
        solution->pitch = arctangent((world_distance)h, (world_distance)dz);
        solution->flight_time = v != 0 ? (int32_t)(isqrt64((uint64_t)(dz * dz + h * h)) / v) : 0;
        solution->solved = true;
        return;
    }
    // Fixed pitch: the pitch comes from where the shooter stands.
    const int64_t sdx = (int64_t)problem->target.x - problem->shooter.x;
    const int64_t sdy = (int64_t)problem->target.y - problem->shooter.y;
    const int64_t sdz = (int64_t)problem->target.z - problem->shooter.z;
    const int64_t dxy = isqrt64((uint64_t)(sdx * sdx + sdy * sdy));
    if (sdz < -MINIMUM_LOB_HEIGHT_DIFFERENCE && problem->lob_to_hit_lower_nearby_units && dxy < MINIMUM_LOB_DISTANCE)
    {
        solve_ballistic(problem, h, dz, solution);
        return;
    }
    solution->kind = _projectile_aim_fixed_pitch;
    solution->pitch = (angle)(arctangent((world_distance)-sdz, (world_distance)dxy) / 2);
    const int64_t c = cosine_rounded(solution->pitch), s = sine_rounded(solution->pitch);
    const int64_t drop = c != 0 ? dz - s * h / c : dz;
    VASSERT(g <= 0, "object_definition->gravity <= 0");
    // A flight of 0 ticks or a gravity that does not pull down has no speed.
    if (drop >= 0 || c == 0 || g >= 0) return;
    const int64_t t = isqrt64((uint64_t)(2 * drop / g));
    if (t == 0) return;
    const int64_t speed = (h << TRIG_SHIFT) / (c * t);
    if ((v * MINIMUM_PROJECTILE_VELOCITY_FRACTION) >> 8 <= speed && speed <= v)
    {
        solution->solved = true;
        solution->flight_time = (int32_t)t;
        solution->velocity = (int32_t)speed;
    }
}

// ---- services ------------------------------------------------------------------------------

const monster_attack_definition *get_monster_attack_definition(int32_t monster_index, int32_t attack_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    if (!definition) return nullptr;
    if (attack_index == ARTIFACT_ATTACK_INDEX)
    {
        const artifact_definition *artifact =
            monster->artifact_index != NONE ? get_artifact_definition(monster->artifact_index) : nullptr;
        if (artifact) return &artifact->override_attack;
        return current_gameplay_version >= 1511 ? &definition->attacks[0] : nullptr;
    }
    if (current_gameplay_version >= 1601)
    {
        const int32_t last = definition->number_of_attacks > 0 ? definition->number_of_attacks - 1 : 0;
        if (attack_index > last) attack_index = last;
        if (attack_index < 0) attack_index = 0;
    }
    // Indexes 0..3 stand as given before 1601; nothing outside the table is read.
    attack_index = clamp32(attack_index, 0, MAXIMUM_ATTACKS_PER_MONSTER - 1);
    return &definition->attacks[attack_index];
}

namespace {

// get_monster_target_location of a used record; `led` tells whether the
// point was moved ahead of the target (otherwise it is the point for no ticks
// ahead).
bool target_location_of(const monster_data *monster, world_point3d *out, bool object_position, int32_t ticks_ahead,
                        bool *led)
{
    *led = false;
    if (flag(monster->flags, _monster_has_valid_target_location_flag))
    {
        const world_point2d point = monster->target_location;
        const world_distance surface = get_mesh_height(&point, _mesh_surface_height);
        *out = {point.x, point.y, surface != MESH_NO_HEIGHT ? surface : (world_distance)monster->target_location_height};
        return true;
    }
    const monster_data *target = target_unit_of(monster);
    const object_data *body = target ? get_object(target->object_index) : nullptr;
    if (!body)
    {
        const object_data *own = get_object(monster->object_index);
        if (own) *out = own->location.position;
        return false;
    }
    // get_object_point, read from the object at hand.
    *out = body->location.position;
    if (object_position) out->z += (body->height0 + body->height1) / 2;
    const int32_t ticks = clamp32(ticks_ahead, 0, MAXIMUM_TARGET_PREDICTION_TICKS);
    // The moved flag is cleared only by a step: a unit that walked and then
    // stood still keeps it.  From 1840 only a target walking now is led, or a
    // scout at rest, facing the bowmen, drew every arrow far short of him.
    const bool walking = current_gameplay_version < 1840 || target->action == _monster_action_moving;
    if (ticks > 0 && walking && flag(target->extra_flags, _monster_actually_moved_extra_flag))
    {
        const int64_t travel = (int64_t)target->base_movement_speed * ticks;
        out->x += (world_distance)((travel * cosine_rounded(body->location.yaw)) >> TRIG_SHIFT);
        out->y += (world_distance)((travel * sine_rounded(body->location.yaw)) >> TRIG_SHIFT);
        *led = true;
    }
    return true;
}

bool target_location(int32_t monster_index, world_point3d *out, bool object_position, int32_t ticks_ahead,
                     bool *led)
{
    *led = false;
    const monster_data *monster = get_monster_data(monster_index);
    return monster && target_location_of(monster, out, object_position, ticks_ahead, led);
}

} // namespace

bool get_monster_target_location(int32_t monster_index, world_point3d *out, bool object_position,
                                 int32_t ticks_ahead)
{
    bool led;
    return target_location(monster_index, out, object_position, ticks_ahead, &led);
}

bool check_for_ground_obstruction(const world_point3d *origin, const world_point3d *target, angle pitch,
                                  world_point3d *obstruction, const object_definition *object)
{
    const int64_t dx = (int64_t)target->x - origin->x, dy = (int64_t)target->y - origin->y;
    const int64_t h = isqrt64((uint64_t)(dx * dx + dy * dy));
    const int64_t dz = (int64_t)target->z - origin->z;
    const int64_t c = cosine_rounded(pitch), s = sine_rounded(pitch);
    const bool arc = object && object->gravity > 0 && c > 0;
    // The arc's height above the straight line at the target end.
    const int64_t excess = arc ? h * s / c - dz : 0;
    for (int64_t x = GROUND_OBSTRUCTION_STEP; x <= h - GROUND_OBSTRUCTION_TARGET_MARGIN; x += GROUND_OBSTRUCTION_STEP)
    {
        const world_point2d point = {(world_distance)(origin->x + dx * x / h), (world_distance)(origin->y + dy * x / h)};
        if (!mesh_cell_in_bounds(point.x >> WORLD_FRACTIONAL_BITS, point.y >> WORLD_FRACTIONAL_BITS)) continue;
        const int64_t z = arc ? origin->z + x * s / c - (x * excess / h) * x / h : origin->z + dz * x / h;
        const world_distance ground = get_mesh_height(&point, _mesh_ground_height);
        if (ground != MESH_NO_HEIGHT && ground > z)
        {
            if (obstruction) *obstruction = {point.x, point.y, ground};
            return true;
        }
    }
    return false;
}

int32_t check_for_object_obstruction(int32_t source_object_index, const world_point3d *origin,
                                     const world_point3d *target, int32_t maximum_check_distance, angle pitch,
                                     bool check_pitch, bool dont_shoot_over_friendlies, bool guided)
{
    if (mesh_width <= 0 || mesh_height <= 0) return NONE;
    const int64_t dx = (int64_t)target->x - origin->x, dy = (int64_t)target->y - origin->y;
    const int64_t length = isqrt64((uint64_t)(dx * dx + dy * dy));
    int64_t reach = maximum_check_distance < length ? maximum_check_distance : length;
    if (guided && reach > GUIDED_OBJECT_CHECK_DISTANCE) reach = GUIDED_OBJECT_CHECK_DISTANCE;
    if (length == 0 || reach <= 0) return NONE;
    const object_data *source = get_object(source_object_index);
    const int32_t source_monster = source && source->owner == _object_is_monster ? source->owner_index : (int32_t)NONE;
    const int64_t c = cosine_rounded(pitch), s = sine_rounded(pitch);
    // Every cell within a cell of the part of the line that is looked at.
    const int64_t end_x = origin->x + dx * reach / length, end_y = origin->y + dy * reach / length;
    const int32_t x0 = clamp32((int32_t)(((origin->x < end_x ? origin->x : end_x) - WORLD_ONE) >> WORLD_FRACTIONAL_BITS),
                               0, mesh_width - 1);
    const int32_t x1 = clamp32((int32_t)(((origin->x > end_x ? origin->x : end_x) + WORLD_ONE) >> WORLD_FRACTIONAL_BITS),
                               0, mesh_width - 1);
    const int32_t y0 = clamp32((int32_t)(((origin->y < end_y ? origin->y : end_y) - WORLD_ONE) >> WORLD_FRACTIONAL_BITS),
                               0, mesh_height - 1);
    const int32_t y1 = clamp32((int32_t)(((origin->y > end_y ? origin->y : end_y) + WORLD_ONE) >> WORLD_FRACTIONAL_BITS),
                               0, mesh_height - 1);
    int32_t best = NONE;
    int64_t best_along = INT64_MAX;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x)
            for (int32_t index = first_scanned_object(x, y); index != NONE;)
            {
                const object_data *object = get_object(index);
                if (!object) break;
                const int32_t this_index = index;
                index = next_scanned_object(index);
                if (this_index == source_object_index || !flag(object->flags, _object_is_solid_flag) ||
                    flag(object->flags, _object_is_invisible_flag))
                    continue;
                const int64_t px = (int64_t)object->location.position.x - origin->x;
                const int64_t py = (int64_t)object->location.position.y - origin->y;
                const int64_t projection = px * dx + py * dy;
                if (projection <= 0) continue;
                const int64_t along = projection / length;
                if (along > reach || along >= length) continue;
                const int64_t cross = px * dy - py * dx;
                if ((cross < 0 ? -cross : cross) / length >= object->radius) continue;
                const int64_t tx = (int64_t)object->location.position.x - target->x;
                const int64_t ty = (int64_t)object->location.position.y - target->y;
                if (tx * tx + ty * ty <= (int64_t)object->radius * object->radius) continue;
                const bool ally = source_monster != NONE && object->owner == _object_is_monster &&
                                  monsters_are_allied(source_monster, object->owner_index);
                if (check_pitch && c > 0 && !(ally && dont_shoot_over_friendlies))
                {
                    const int64_t z = origin->z + along * s / c;
                    const int64_t base = object->location.position.z;
                    if (z < base + object->height0 || z > base + object->height1) continue;
                }
                if (along < best_along)
                {
                    best = this_index;
                    best_along = along;
                }
            }
    return best;
}

// ---- attacks --------------------------------------------------------------------------------

int32_t get_monster_attack_sequence_index(const monster_attack_definition *attack, angle pitch)
{
    int32_t candidates[NUMBER_OF_MONSTER_ATTACK_SEQUENCES];
    int32_t count = 0;
    if (attack && pitch >= ELEVATED_PROJECTILE_PITCH && pitch <= DECLINED_PROJECTILE_PITCH - 1)
    {
        const uint16_t wanted = pitch < HALF_CIRCLE ? _sequence_elevated_flag : _sequence_declinated_flag;
        for (int32_t i = 0; i < NUMBER_OF_MONSTER_ATTACK_SEQUENCES; ++i)
            if (attack->sequences[i].sequence_index != NONE && flag(attack->sequences[i].flags, wanted))
                candidates[count++] = i;
    }
    if (count == 0 && attack)
        for (int32_t i = 0; i < NUMBER_OF_MONSTER_ATTACK_SEQUENCES; ++i)
            if (attack->sequences[i].sequence_index != NONE && flag(attack->sequences[i].flags, _sequence_normal_flag))
                candidates[count++] = i;
    if (count == 0) candidates[count++] = 0;
    return candidates[vesk_random() % count];
}

namespace {

// The attack a unit that should use its closest-range attack preselects:
// the usable attack of the shortest maximum range, or, once the target is
// within the smallest minimum range of a primary attack, that primary one.
int32_t closest_range_preselection(const monster_data *monster, const monster_definition *definition,
                                   const target_traits &traits, int32_t attack_count, int32_t distance)
{
    const int32_t version = current_gameplay_version;
    int32_t best = NONE, best_range = 0, closest_primary = NONE, smallest_minimum = NO_PRESELECTION_MINIMUM_RANGE;
    bool best_is_primary = false;
    for (int32_t i = 0; i < MAXIMUM_ATTACKS_PER_MONSTER; ++i)
    {
        const int32_t index = version >= 1601 ? (i < attack_count - 1 ? i : (attack_count > 0 ? attack_count - 1 : 0)) : i;
        const monster_attack_definition *attack = &definition->attacks[index];
        if (best != NONE && best_is_primary && attack->maximum_range >= best_range) continue;
        if (attack->maximum_range == 0 ||
            flag(attack->flags, _monster_attack_is_reflexive_flag | _monster_attack_is_special_ability_flag) ||
            !giant_rule_holds(attack, traits) || (version >= 1511 && !flying_and_undead_rules_hold(attack, traits)) ||
            !attack_is_usable(monster, definition, attack))
            continue;
        const bool primary = flag(attack->flags, _monster_attack_is_primary_flag);
        if (primary && attack->minimum_range < smallest_minimum)
        {
            closest_primary = index;
            smallest_minimum = attack->minimum_range;
        }
        if (best == NONE || attack->maximum_range < best_range)
        {
            best = index;
            best_range = attack->maximum_range;
            best_is_primary = primary;
        }
    }
    if (best == NONE) best = 0;
    if (smallest_minimum <= distance && !flag(definition->attacks[best].flags, _monster_attack_is_primary_flag))
        best = closest_primary != NONE ? closest_primary : 0;
    return best;
}

enum
{
    ATTACK_CHOICE_MISMATCHES_LOGGED = 8,
};

// The key of a ranged choice that found every candidate out of its ranges.
struct kept_choice_ranges
{
    bool valid;
    int16_t identifier, type;
    int32_t monster_index, game_time;
    world_point3d here, target;
};

// The kept ranges and their check (monster_attacks.h): local, never hashed.
struct
{
    kept_choice_ranges kept;
    bool checking, fault;
    attack_choice_check_counts counts;
} attack_choice;

bool same_point3d(const world_point3d &a, const world_point3d &b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

// What a choice works from: the unit, and in a ranged mode the point it aims
// at (its target location for no ticks ahead) and how far that lies
// (distance2d of the two places).
struct choice_inputs
{
    int32_t monster_index;
    const monster_data *monster;
    const monster_definition *definition;
    const object_data *body;
    world_point3d target_point;
    int32_t distance;
};

// Whether the kept ranges of a ranged choice stand for a choice of the best
// immediate attack from `in`: the same unit and tick, the unit's type, place
// and aim point as when every candidate was found out of its ranges.  The
// ranges and the distance are those again (they follow from the definitions
// and these), so that choice finds no attack either: a retreating unit's
// reduced distance and an artifact's candidate are not among them.
bool kept_ranges_leave_nothing_in_reach(const choice_inputs &in)
{
    const kept_choice_ranges &kept = attack_choice.kept;
    const monster_data *monster = in.monster;
    return kept.valid && kept.monster_index == in.monster_index && kept.identifier == monster->identifier &&
           kept.game_time == game_->game_time && kept.type == monster->type &&
           same_point3d(kept.here, in.body->location.position) && same_point3d(kept.target, in.target_point) &&
           !flag(monster->flags, _monster_is_retreating_flag) && !candidate_artifact(monster);
}

void keep_choice_ranges(const choice_inputs &in)
{
    kept_choice_ranges &kept = attack_choice.kept;
    kept.valid = true;
    kept.monster_index = in.monster_index;
    kept.identifier = in.monster->identifier;
    kept.type = in.monster->type;
    kept.game_time = game_->game_time;
    kept.here = in.body->location.position;
    kept.target = in.target_point;
}

// The pass of choose_attack over the candidates.  *none_in_range tells
// whether a ranged mode took the ranges of every candidate there is (no
// preselection, no artifact, no attack hiding the others, the distance as
// given) and found the distance within none of them.
int32_t choose_attack_by_pass(int32_t mode, const choice_inputs &in, int32_t *chosen_minimum,
                              int32_t *chosen_maximum, const monster_attack_definition **chosen_attack,
                              bool *none_in_range)
{
    *none_in_range = false;
    const monster_data *monster = in.monster;
    const monster_definition *definition = in.definition;
    const int32_t version = current_gameplay_version;
    const bool ranged_mode = mode <= _choose_best_immediate_attack_index;
    const world_point3d &target_point = in.target_point;
    const world_distance own_z = in.body->location.position.z;
    int32_t distance = in.distance;
    bool any_in_range = false;
    const target_traits traits = traits_of_target(monster);
    const int32_t attack_count = clamp32(definition->number_of_attacks, 0, MAXIMUM_ATTACKS_PER_MONSTER);

    const int32_t preselected =
        version >= 1301 && ranged_mode && flag(monster->extra_flags, _monster_should_use_closest_range_attack_extra_flag)
            ? closest_range_preselection(monster, definition, traits, attack_count, distance)
            : (int32_t)NONE;

    const artifact_definition *artifact = candidate_artifact(monster);
    int32_t remembered = NONE, remembered_status = 0, remembered_minimum = 0, remembered_maximum = 0;
    const monster_attack_definition *remembered_attack = nullptr;
    for (int32_t candidate = artifact ? (int32_t)ARTIFACT_ATTACK_INDEX : 0; candidate < attack_count;
         candidate = candidate == ARTIFACT_ATTACK_INDEX ? 0 : candidate + 1)
    {
        const monster_attack_definition *attack =
            candidate == ARTIFACT_ATTACK_INDEX ? &artifact->override_attack : &definition->attacks[candidate];
        const projectile_definition *projectile = projectile_of(attack->projectile_type);
        const bool special = flag(attack->flags, _monster_attack_is_special_ability_flag);
        const bool reflexive = flag(attack->flags, _monster_attack_is_reflexive_flag);
        bool accepted = true, passed_rule = false;
        int32_t status = 0, minimum = 0, maximum = 0;
        if (!ranged_mode)
        {
            accepted = mode == _choose_special_ability_attack_index ? special : special && reflexive;
            passed_rule = accepted;
        }
        else if (preselected != NONE && candidate != preselected)
            accepted = false;
        else
        {
            adjust_ranges_for_height_difference(definition, attack, projectile, own_z, target_point.z, distance,
                                                &minimum, &maximum);
            if (mode == _choose_best_immediate_attack_index && flag(monster->flags, _monster_is_retreating_flag))
            {
                // The reduction is taken again for every candidate: it accumulates.
                const monster_data *target = target_unit_of(monster);
                const int32_t speed = target ? target->base_movement_speed : monster->base_movement_speed;
                const int32_t factor = definition->turning_speed != 0 ? 45 + 32768 / definition->turning_speed : 45;
                distance -= (int16_t)(speed * factor);
            }
            status = distance < minimum ? _attack_under_minimum_range_flag
                     : distance > maximum ? _attack_over_maximum_range_flag
                                          : 0;
            any_in_range |= status == 0;
            if (traits.confused && projectile && projectile->damage.type == _damage_gas) accepted = false;
            bool rule;
            if (special) rule = flag(monster->flags, _monster_will_use_special_ability_flag);
            else if (flag(monster->flags, _monster_will_use_special_ability_flag)) rule = false;
            else if (flag(attack->flags, _monster_attack_is_primary_flag)) rule = true;
            else if (definition->monster_class == _monster_class_melee)
                rule = mode == _choose_best_immediate_attack_index ||
                       !flag(monster->flags, _monster_should_close_on_target_flag);
            else if (definition->monster_class == _monster_class_missile)
                rule = flag(monster->flags, _monster_should_close_on_target_flag);
            else rule = true;
            passed_rule = rule;
            if (!rule) accepted = false;
            if (mode == _choose_best_immediate_attack_index && status != 0) accepted = false;
            if (mode == _choose_best_possible_attack_index && status == _attack_under_minimum_range_flag &&
                remembered != NONE && remembered_status == _attack_over_maximum_range_flag)
                accepted = false;
            if (!giant_rule_holds(attack, traits) || (version >= 1511 && !flying_and_undead_rules_hold(attack, traits)))
                accepted = false;
        }
        if (!attack_is_usable(monster, definition, attack)) accepted = false;
        if (flag(monster->flags, _monster_has_valid_target_flag) &&
            flag(monster->flags, _monster_has_valid_target_location_flag))
        {
            bool refused = reflexive || (projectile && flag(projectile->flags, _projectile_is_melee_attack_flag) &&
                                         flag(projectile->flags, _projectile_centered_on_target_flag));
            const bool special_on_ground = mode == _choose_special_ability_attack_index && special &&
                                           monster->action != _monster_action_attacking;
            if (special_on_ground && !reflexive && version >= 1301) refused = false;
            if (special_on_ground && reflexive && version >= 1720) refused = false;
            if (refused) accepted = false;
        }
        if (version >= 1511 && candidate == ARTIFACT_ATTACK_INDEX && passed_rule &&
            flag(artifact->flags, _artifact_override_attack_hides_other_monster_attacks_flag))
        {
            *chosen_minimum = minimum;
            *chosen_maximum = maximum;
            if (accepted) *chosen_attack = attack;
            return accepted ? candidate : (int32_t)NONE;
        }
        if (!accepted) continue;
        if (!ranged_mode || status == 0)
        {
            *chosen_minimum = minimum;
            *chosen_maximum = maximum;
            *chosen_attack = attack;
            return candidate;
        }
        remembered = candidate;
        remembered_status = status;
        remembered_minimum = minimum;
        remembered_maximum = maximum;
        remembered_attack = attack;
    }
    *none_in_range = ranged_mode && preselected == NONE && !artifact && distance == in.distance && !any_in_range;
    *chosen_minimum = remembered_minimum;
    *chosen_maximum = remembered_maximum;
    *chosen_attack = remembered_attack;
    return remembered;
}

// choose_monster_attack_index for a unit whose record, definition and object
// the caller has found (`in`, all present; `mode` a valid one); in a ranged
// mode with `aimed`, the aim point and its distance given in `in` too (else
// the target location for no ticks ahead, and the body's place outside the
// ranged modes).  The ranges of the chosen attack (taken for the ranged
// modes) in *chosen_minimum and *chosen_maximum.
// A choice of the best immediate attack that the kept ranges of an earlier
// choice answer (the planning's, most often) finds none without its pass.
int32_t choose_attack(int32_t mode, choice_inputs &in, bool aimed, int32_t *chosen_minimum, int32_t *chosen_maximum,
                      const monster_attack_definition **chosen_attack)
{
    *chosen_attack = nullptr;
    const bool ranged_mode = mode <= _choose_best_immediate_attack_index;
    bool measured = true;
    if (!ranged_mode)
    {
        in.target_point = in.body->location.position;
        in.distance = 0;
    }
    else if (!aimed)
    {
        bool led;
        in.target_point = in.body->location.position;
        target_location_of(in.monster, &in.target_point, false, 0, &led);
        measured = false;
    }
    const bool answered = mode == _choose_best_immediate_attack_index && kept_ranges_leave_nothing_in_reach(in);
    if (answered)
    {
        attack_choice.counts.choices_answered += 1;
        if (!attack_choice.checking)
        {
            *chosen_minimum = *chosen_maximum = 0;
            return NONE;
        }
    }
    if (!measured)
    {
        const world_point2d here = point2d(in.body->location.position), there = point2d(in.target_point);
        in.distance = distance2d(&here, &there);
    }
    bool none_in_range;
    const int32_t chosen = choose_attack_by_pass(mode, in, chosen_minimum, chosen_maximum, chosen_attack,
                                                 &none_in_range);
    if (ranged_mode)
    {
        if (none_in_range || attack_choice.fault) keep_choice_ranges(in);
        else attack_choice.kept.valid = false;
    }
    if (answered)
    {
        // Checking: the pass was made all the same; the answer stays the kept one.
        if (chosen != NONE)
        {
            if (attack_choice.counts.mismatches < ATTACK_CHOICE_MISMATCHES_LOGGED)
                log_message(__FILE__, __LINE__, "unit %d: the kept ranges answered no attack, the pass chose %d",
                            (int)in.monster_index, (int)chosen);
            attack_choice.counts.mismatches += 1;
        }
        *chosen_minimum = *chosen_maximum = 0;
        *chosen_attack = nullptr;
        return NONE;
    }
    return chosen;
}

} // namespace

void set_attack_choice_checking(bool on)
{
    attack_choice.checking = on;
    attack_choice.counts = {};
}

attack_choice_check_counts get_attack_choice_check_counts(void) { return attack_choice.counts; }

void plant_attack_choice_fault(bool on) { attack_choice.fault = on; }

void forget_kept_attack_ranges(void) { attack_choice.kept.valid = false; }

int32_t choose_monster_attack_index(int32_t monster_index, int32_t mode)
{
    choice_inputs in;
    in.monster_index = monster_index;
    in.monster = get_monster_data(monster_index);
    in.definition = in.monster ? get_monster_definition(in.monster->type) : nullptr;
    in.body = in.monster ? get_object(in.monster->object_index) : nullptr;
    if (!in.definition || !in.body || mode < _choose_best_possible_attack_index ||
        mode > _choose_reflexive_special_ability_attack_index)
        return NONE;
    int32_t minimum, maximum;
    const monster_attack_definition *attack;
    return choose_attack(mode, in, false, &minimum, &maximum, &attack);
}

int32_t linear_distance_to_best_point_of_attack(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    const object_data *body = monster ? get_object(monster->object_index) : nullptr;
    if (!definition || !body) return 0;
    world_point3d target;
    bool led;
    target_location(monster_index, &target, false, monster->attack_timer, &led);
    const world_point2d here = point2d(body->location.position), there = point2d(target);
    const int32_t distance = distance2d(&here, &there);
    if (distance <= MINIMUM_LOB_DISTANCE - 1) monster->flags |= _monster_in_proximity_to_target_flag;
    else monster->flags &= ~(uint32_t)_monster_in_proximity_to_target_flag;
    if (flag(monster->flags, _monster_needs_to_retreat_flag))
    {
        const monster_data *target_unit = target_unit_of(monster);
        const monster_definition *theirs = target_unit ? get_monster_definition(target_unit->type) : nullptr;
        if (!theirs || distance >= theirs->longest_range)
        {
            monster->flags &= ~(uint32_t)_monster_is_retreating_flag;
            return 0;
        }
        return INT32_MIN;
    }
    // A point not led ahead of the target is the one the choice aims at, so the
    // choice takes it, and the ranges it found for its attack stand here too.
    // (The chosen attack is the one get_monster_attack_definition gives for
    // its index: an index within the unit's attacks, or the artifact's when
    // the unit wields one.)
    choice_inputs in;
    in.monster_index = monster_index;
    in.monster = monster;
    in.definition = definition;
    in.body = body;
    in.target_point = target;
    in.distance = distance;
    int32_t minimum, maximum;
    const monster_attack_definition *attack;
    choose_attack(_choose_best_possible_attack_index, in, !led, &minimum, &maximum, &attack);
    if (!attack) return 0;
    if (led)
        adjust_ranges_for_height_difference(definition, attack, projectile_of(attack->projectile_type),
                                            body->location.position.z, target.z, distance, &minimum, &maximum);
    if (distance < minimum) return distance - minimum;
    if (distance >= maximum && minimum <= distance - monster->attack_timer * monster->base_movement_speed)
        return distance - maximum;
    monster->path_destination = here;
    return 0;
}

bool try_monster_attack(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return false;
    const int16_t identifier = monster->identifier;
    monster->flags &= ~(uint32_t)_monster_did_not_get_targeting_solution_flag;
    bool started = false;
    if (!flag(monster->flags, _monster_is_evading_obstacle_to_attack_flag))
    {
        const int32_t attack_index = choose_monster_attack_index(monster_index, _choose_best_immediate_attack_index);
        if (attack_index != NONE) started = handle_monster_attack(monster_index, attack_index, _monster_attack_aim);
        monster = get_monster_data(monster_index);
        if (!monster || monster->identifier != identifier) return started;
        int16_t timer = 15;
        const player_data *player = get_player_data(monster->owner_player_index);
        if ((game_->option_flags & _game_option_cooperative_flag) && player && player->type == _player_is_computer)
        {
            if (game_->difficulty_level == 0) timer = 45;
            else if (game_->difficulty_level == 1) timer = 30;
        }
        monster->attack_timer = timer;
    }
    if (started)
    {
        monster->flags &= ~(uint32_t)_monster_is_retreating_flag;
        monster->extra_flags &= ~(uint32_t)_monster_failed_to_attack_extra_flag;
        monster->extra_flags |= _monster_chain_lightning_prevention_extra_flag;
        return true;
    }
    monster->flags &= ~(uint32_t)_monster_target_has_caused_melee_damage_flag;
    if (monster->action == _monster_action_holding_for_attack)
    {
        bool melee_in_range = false;
        if (current_gameplay_version < 1601 ||
            (flag(monster->flags, _monster_has_valid_target_flag) &&
             flag(monster->flags, _monster_has_valid_target_index_flag) &&
             !flag(monster->flags, _monster_needs_to_retreat_flag)))
        {
            const int32_t best = choose_monster_attack_index(monster_index, _choose_best_possible_attack_index);
            const monster_attack_definition *attack =
                best != NONE ? get_monster_attack_definition(monster_index, best) : nullptr;
            const projectile_definition *projectile = attack ? projectile_of(attack->projectile_type) : nullptr;
            melee_in_range = projectile && flag(projectile->flags, _projectile_is_melee_attack_flag) &&
                             linear_distance_to_best_point_of_attack(monster_index) == 0;
        }
        if (!melee_in_range) monster->flags |= _monster_needs_new_path_flag;
        unit_obstacle_facts_changed(monster);
        monster->flags &= ~(uint32_t)_monster_has_obstructed_path_flag;
    }
    monster->extra_flags |= _monster_failed_to_attack_extra_flag;
    monster->extra_flags &= ~(uint32_t)_monster_chain_lightning_prevention_extra_flag;
    return false;
}

bool handle_monster_attack(int32_t monster_index, int32_t attack_index, int32_t state)
{
    if (attack_index == NONE) return false;
    monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    if (!definition || !get_object(monster->object_index)) return false;
    monster_attack_definition *attack = mutable_attack_definition(monster_index, attack_index);
    if (!attack)
    {
        log_message(__FILE__, __LINE__, "handle_monster_attack: unit %d has no attack %d", (int)monster_index,
                    (int)attack_index);
        return false;
    }
    if (attack_index == ARTIFACT_ATTACK_INDEX)
    {
        const artifact_definition *artifact = get_artifact_definition(monster->artifact_index);
        if (artifact)
            VASSERT(artifact->flags & _artifact_overrides_owner_attack_flag,
                    "artifact_definition->flags&_artifact_overrides_owner_attack_flag");
    }
    const int16_t identifier = monster->identifier;
    bool immediate = (flag(monster->flags, _monster_has_valid_target_index_flag) &&
                      monster->target_monster_index == monster_index) ||
                     flag(attack->flags, _monster_attack_is_reflexive_flag);
    if (flag(monster->extra_flags, _monster_is_invisible_extra_flag))
    {
        set_monster_magical_invisibility(monster_index, false);
        monster = get_monster_data(monster_index);
        if (!monster || monster->identifier != identifier) return false;
    }
    if (state == _monster_attack_abort && flag(monster->flags, _monster_has_attacked_flag)) return false;
    int16_t projectile_type = attack->projectile_type;
    if (flag(attack->flags, _monster_attack_uses_carried_projectile_flag) && monster->carrying_object_index != NONE)
    {
        const object_data *carried = get_object(monster->carrying_object_index);
        if (carried)
        {
            VASSERT(carried->owner == _object_is_dormant_projectile,
                    "carried_object->owner==_object_is_dormant_projectile");
            VASSERT(flag(carried->flags, _object_is_invisible_flag), "OBJECT_IS_INVISIBLE(carried_object)");
            projectile_type = carried->owner_index;
            attack->projectile_type = projectile_type;
            forget_kept_attack_ranges(); // they followed from the type it replaces
        }
    }
    if (projectile_type == NONE || !projectile_of(projectile_type) || immediate)
    {
        monster->flags &= ~(uint32_t)_monster_attack_was_aborted_flag;
        immediate = true;
    }
    if (state == _monster_attack_aim)
        return aim_monster_attack(monster_index, attack_index, immediate, projectile_type, attack);
    return execute_monster_attack(monster_index, state, immediate, projectile_type, attack);
}

#include "monster_actions.h"

#include <utility>
#include <cstdio>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "map_action_procedures.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monster_inventory.h"
#include "monster_targets.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "path.h"
#include "players.h"
#include "projectiles.h"
#include "unit_helpers.h"
#include "vesk_random.h"

namespace {

// Null in the program: set_monster_action_test_procedures.
const monster_action_test_procedures *replaced_calls = nullptr;

constexpr tag internal_group_tags[NUMBER_OF_INTERNAL_PROJECTILE_GROUPS] = {
    FOUR_CHARACTER_CODE('i', 'n', 'h', 's'), FOUR_CHARACTER_CODE('i', 'n', 'h', 'e'),
    FOUR_CHARACTER_CODE('i', 'n', 'p', 's'), FOUR_CHARACTER_CODE('i', 'n', 'p', 'e'),
    FOUR_CHARACTER_CODE('i', 'n', 'p', 'd'), FOUR_CHARACTER_CODE('i', 'n', 's', 's'),
    FOUR_CHARACTER_CODE('i', 'n', 's', 'e'), FOUR_CHARACTER_CODE('i', 'n', 's', 'i'),
    FOUR_CHARACTER_CODE('i', 'n', 's', 'd'), FOUR_CHARACTER_CODE('i', 'n', 't', 'i'),
    FOUR_CHARACTER_CODE('i', 'n', 't', 'o'), FOUR_CHARACTER_CODE('i', 'n', 't', 'e'),
    FOUR_CHARACTER_CODE('i', 'n', 't', 'e'), FOUR_CHARACTER_CODE('i', 'n', '0', '1'),
};
int16_t internal_group_types[NUMBER_OF_INTERNAL_PROJECTILE_GROUPS] = {
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE};

// Sequence choices that are not definition sequences (unit_helpers.h has those).
enum
{
    SEQUENCE_CURRENT = -2, // the object's current sequence
    SEQUENCE_UNCHANGED = -3, // no set_object_shape at all

    SHAPE_FLAGS_RANDOM = _random_sequence_frame_flag | _random_sequence_phase_flag, // 3
    SHAPE_FLAGS_RESTART = _loop_sequence_frame_flag | _ignore_duplicate_sequences_flag, // 48
};

int16_t definition_sequence(const monster_definition *definition, int32_t sequence)
{
    if (!definition || sequence < 0 || sequence >= NUMBER_OF_MONSTER_SEQUENCES) return NONE;
    return definition->sequence_indexes[sequence];
}

// Running and gliding fall back to moving when the definition has neither.
int16_t movement_sequence(const monster_definition *definition, int32_t permutation)
{
    int16_t sequence = NONE;
    if (permutation == _monster_action_permutation_running)
        sequence = definition_sequence(definition, SEQUENCE_RUNNING);
    else if (permutation == _monster_action_permutation_gliding)
        sequence = definition_sequence(definition, SEQUENCE_GLIDING);
    return sequence == NONE ? definition_sequence(definition, SEQUENCE_MOVING) : sequence;
}

// Attack indexes outside the four attacks (other than the artifact's) would
// read past the table: they are clamped to it.
const monster_attack_definition *attack_definition_for(const monster_data *monster, int32_t attack_index,
                                                       bool for_sequences)
{
    monster_definition *definition = get_monster_definition(monster->type);
    if (!definition) return nullptr;
    if (attack_index == ARTIFACT_ATTACK_INDEX)
    {
        const artifact_definition *artifact =
            monster->carrying_object_index != NONE ? get_artifact_definition(monster->artifact_index) : nullptr;
        if (!artifact) return &definition->attacks[0];
        if (for_sequences && current_gameplay_version >= 1501 &&
            (artifact->monster_restriction_tag == (tag)NONE || artifact->monster_restriction_tag == 0))
            return &definition->attacks[0];
        return &artifact->override_attack;
    }
    if (attack_index < 0) attack_index = 0;
    if (attack_index >= MAXIMUM_ATTACKS_PER_MONSTER) attack_index = MAXIMUM_ATTACKS_PER_MONSTER - 1;
    return &definition->attacks[attack_index];
}

void forget_path(monster_data *monster)
{
    monster->extra_flags &= ~(uint32_t)_monster_deviating_left_extra_flag;
    monster->waypoint_count = 0;
    // Its obstacle facts (no path still to plan) are said by set_monster_action,
    // its only caller, with the new action's.
    monster->flags &= ~(uint32_t)(_monster_needs_new_path_flag | _monster_has_obstructed_path_flag);
    delete_path(&monster->path_index);
}

bool on_last_frame(const object_data *object)
{
    return object && (object->flags & _object_animation_last_frame_flag);
}

} // namespace

void forget_target(monster_data *monster)
{
    monster->extra_flags &=
        ~(uint32_t)(_monster_failed_to_attack_extra_flag | _monster_ignores_model_collisions_extra_flag |
                    _monster_chain_lightning_prevention_extra_flag |
                    _monster_will_use_old_collision_detection_extra_flag);
    monster->target_monster_index = NONE;
    monster->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_responding_to_command_flag |
                                  _monster_responding_to_target_command_flag | _monster_has_valid_target_index_flag |
                                  _monster_has_valid_target_location_flag |
                                  _monster_did_not_get_targeting_solution_flag |
                                  _monster_will_use_special_ability_flag | _monster_is_using_special_ability_flag |
                                  _monster_target_has_caused_melee_damage_flag);
    monster->flags |= _monster_attack_was_aborted_flag;
    monster->last_target_location = {0, 0};
}

// ---- internal projectile groups ---------------------------------------------------

tag get_internal_projectile_group_tag(int32_t index)
{
    return index >= 0 && index < NUMBER_OF_INTERNAL_PROJECTILE_GROUPS ? internal_group_tags[index] : (tag)NONE;
}

int16_t get_internal_projectile_group_type(int32_t index)
{
    return index >= 0 && index < NUMBER_OF_INTERNAL_PROJECTILE_GROUPS ? internal_group_types[index] : (int16_t)NONE;
}

void initialize_internal_projectile_groups_for_new_map(void)
{
    for (int16_t &type : internal_group_types) type = NONE;
    if (current_gameplay_version < FIRST_GAMEPLAY_VERSION_WITH_INTERNAL_PROJECTILE_GROUPS) return;
    const bool replaced = replaced_calls && replaced_calls->projectile_group_type;
    char missing[NUMBER_OF_INTERNAL_PROJECTILE_GROUPS * 7 + 1] = "";
    size_t length = 0;
    for (int32_t i = 0; i < NUMBER_OF_INTERNAL_PROJECTILE_GROUPS; ++i)
    {
        internal_group_types[i] = replaced ? replaced_calls->projectile_group_type(internal_group_tags[i])
                                           : projectile_group_type_of_tag(internal_group_tags[i]);
        // The two tain groups share a tag: it is named once.
        if (internal_group_types[i] != NONE || (i > 0 && internal_group_tags[i] == internal_group_tags[i - 1]))
            continue;
        length += (size_t)snprintf(missing + length, sizeof(missing) - length, " '%s'",
                                   tag_to_string(internal_group_tags[i]));
    }
    if (length > 0)
        log_message(__FILE__, __LINE__, "internal projectile groups without a 'prgr' tag (none made):%s", missing);
}

void new_internal_projectile_group(int32_t monster_index, int32_t index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const int16_t type = get_internal_projectile_group_type(index);
    if (!monster || type == NONE) return;
    internal_projectile_group_request request = {};
    request.type = type;
    request.owner_object_index = request.bounds_object_index = monster->object_index;
    request.owner_monster_index = (int16_t)monster_index;
    if (!get_object_point(_object_point_position, monster->object_index, &request.epicenter)) return;
    if (replaced_calls && replaced_calls->new_internal_projectile_group)
        replaced_calls->new_internal_projectile_group(&request);
    else
        new_projectile_group_for_unit(&request);
}

// ---- set_monster_action ---------------------------------------------------------------

// How a unit looks and what it forgets in a new action.
struct action_look
{
    int32_t sequence;
    int16_t rate;
    uint8_t priority;
    int32_t stored;
    bool forgets_target, forgets_path;
    uint16_t shape_flags;
};

// The sequence, rate, tracking priority and stored permutation of the action,
// what it forgets, and its effects on the unit (effect groups, timers).
static void choose_action_look(int32_t monster_index, monster_data *monster, const monster_definition *definition,
                               object_data *object, int32_t action, int32_t permutation, int32_t previous,
                               action_look *look)
{
    *look = {NONE, 256, 25, permutation, false, false, 0};
    int32_t &sequence = look->sequence;
    int16_t &rate = look->rate;
    uint8_t &priority = look->priority;
    int32_t &stored = look->stored;
    bool &forgets_target = look->forgets_target;
    bool &forgets_path = look->forgets_path;
    uint16_t &shape_flags = look->shape_flags;
    switch (action)
    {
    case _monster_action_idle:
        sequence = definition_sequence(definition, SEQUENCE_IDLE);
        rate = (int16_t)(768 + (vesk_random() >> 9));
        priority = 0;
        stored = _monster_idle_primary;
        forgets_target = forgets_path = true;
        shape_flags = SHAPE_FLAGS_RANDOM;
        break;
    case _monster_action_celebrating:
    case _monster_action_taunting:
        sequence = definition_sequence(definition, action == _monster_action_celebrating ? SEQUENCE_CELEBRATION
                                                                                          : SEQUENCE_TAUNTING);
        rate = (int16_t)(256 + ((vesk_random() >> 8) & 255));
        forgets_target = forgets_path = true;
        if (action == _monster_action_celebrating) monster->flags |= _monster_has_celebrated_flag;
        break;
    case _monster_action_moving:
        sequence = movement_sequence(definition, permutation);
        shape_flags = SHAPE_FLAGS_RANDOM;
        break;
    case _monster_action_turning:
        sequence = definition_sequence(definition, SEQUENCE_TURNING);
        shape_flags = SHAPE_FLAGS_RANDOM;
        break;
    case _monster_action_holding_for_attack:
        sequence = definition_sequence(definition, SEQUENCE_HOLDING);
        shape_flags = SHAPE_FLAGS_RANDOM;
        break;
    case _monster_action_aiming_attack:
        priority = 75;
        if (current_gameplay_version >= 1721 && current_gameplay_version <= 1802)
        {
            sequence = SEQUENCE_UNCHANGED;
            object->flags |= _object_animation_new_frame_flag;
        }
        else
        {
            sequence = movement_sequence(definition, permutation);
            shape_flags = SHAPE_FLAGS_RANDOM;
        }
        break;
    case _monster_action_attacking:
    {
        priority = 100;
        forgets_path = true;
        const monster_attack_definition *attack = attack_definition_for(monster, permutation, true);
        if (attack)
        {
            const int32_t at_pitch = get_monster_attack_sequence_index(attack, monster->estimated_projectile_pitch);
            sequence = attack->sequences[at_pitch].sequence_index;
        }
        else
            sequence = NONE;
        const monster_attack_definition *repeated = attack_definition_for(monster, permutation, false);
        monster->repeated_obstruction_count = repeated ? repeated->repetitions : 0;
        break;
    }
    case _monster_action_blocking: sequence = definition_sequence(definition, SEQUENCE_BLOCKING); break;
    case _monster_action_picking_up: sequence = definition_sequence(definition, SEQUENCE_PICKING_UP); break;
    case _monster_action_being_healed:
    {
        priority = 100;
        const bool no_flinch = definition && (definition->hack_flags & _monster_hack_doesnt_flinch_heal_flag);
        sequence = no_flinch || previous == _monster_action_stoned
                       ? (int32_t)SEQUENCE_CURRENT
                       : definition_sequence(definition, SEQUENCE_TAKING_DAMAGE);
        if (previous == _monster_action_stoned) monster->extra_flags |= _monster_was_stoned_prior_to_heal_extra_flag;
        monster->flags &= ~(uint32_t)_monster_healing_cannot_be_stopped_flag;
        if (definition && definition->healing_fraction == 0) monster->flags |= _monster_healing_cannot_be_stopped_flag;
        new_internal_projectile_group(monster_index, _internal_projectile_group_healing_start);
        if (!no_flinch) monster->attack_timer = 75;
        break;
    }
    case _monster_action_being_held:
        priority = 100;
        sequence = previous == _monster_action_stoned && current_gameplay_version >= 1511
                       ? (int32_t)SEQUENCE_CURRENT
                       : definition_sequence(definition, SEQUENCE_TAKING_DAMAGE);
        monster->attack_timer = MONSTER_HOLD_TICKS;
        break;
    case _monster_action_stoned:
        sequence = SEQUENCE_CURRENT;
        if (!(monster->extra_flags & _monster_immobile_extra_flag))
            new_internal_projectile_group(monster_index, _internal_projectile_group_stoning_start);
        monster->attack_timer = 45;
        break;
    case _monster_action_paralyzed:
        priority = 100;
        sequence = definition_sequence(definition, SEQUENCE_TAKING_DAMAGE);
        new_internal_projectile_group(monster_index, _internal_projectile_group_paralysis_start);
        monster->attack_timer = 30;
        break;
    case _monster_action_taking_damage:
        priority = 100;
        sequence = definition_sequence(definition, SEQUENCE_TAKING_DAMAGE);
        break;
    case _monster_action_being_propelled:
        priority = 100;
        sequence = definition_sequence(definition, SEQUENCE_PROPELLED);
        if (sequence == NONE) sequence = definition_sequence(definition, SEQUENCE_TAKING_DAMAGE);
        break;
    }
}

// Shows the new action: the sequence, the tracking priority, solidity and the
// colour fades of stoning, paralysis and healing.
static void show_action(int32_t monster_index, monster_data *monster, const monster_definition *definition,
                        object_data *object, int32_t action, const action_look *look, bool reset_ticks)
{
    int32_t sequence = look->sequence;
    const int16_t rate = look->rate;
    const uint8_t priority = look->priority;
    const uint16_t shape_flags = look->shape_flags;
    // The action's sequence (idle when it has none), its ticks reset after a stoned heal.
    if (sequence != SEQUENCE_UNCHANGED)
    {
        if (sequence == NONE) sequence = definition_sequence(definition, SEQUENCE_IDLE);
        if (sequence != NONE)
        {
            set_object_shape(monster->object_index, (int16_t)sequence, rate, 0, 0, shape_flags, 0);
            if (reset_ticks)
            {
                const shape_sequence_information information =
                    get_shape_sequence_information(object->shape_collection_index, (int16_t)sequence);
                object->shape_ticks_per_frame = information.ticks_per_frame > 1 ? information.ticks_per_frame : 1;
            }
        }
    }
    // The camera's interest in the unit.
    object->tracking_priority = priority;
    offer_object_to_tracking(monster->object_index);
    // A unit that is not solid lets others through while it moves or turns.
    const uint32_t was_solid = object->flags & _object_is_solid_flag;
    if (definition && (definition->flags & _monster_is_not_solid_flag) &&
        (action == _monster_action_moving || action == _monster_action_turning))
        object->flags &= ~(uint32_t)_object_is_solid_flag;
    else
        object->flags |= _object_is_solid_flag;
    // Only its solidity decides here whether scans meet it; either call works
    // the object's facts out again, with the unit's kept by set_monster_action.
    if ((object->flags & _object_is_solid_flag) != was_solid) object_scan_membership_changed(monster->object_index);
    else obstacle_facts_changed(monster->object_index);
    // Stoning, paralysis and healing fade the unit's colours.
    if (action == _monster_action_stoned)
    {
        object->shape_ticks_per_frame = 0;
        crossfade_monster_color_table_permutation(monster_index, 1, 45);
    }
    else if (action == _monster_action_paralyzed)
        crossfade_monster_color_table_permutation(monster_index, 2, 30);
    else if (action == _monster_action_being_healed && object->color_table_permutation != 0)
    {
        monster->flags |= _monster_healing_cannot_be_stopped_flag;
        crossfade_monster_color_table_permutation(monster_index, 0, 75);
    }
}

void set_monster_action(int32_t monster_index, int32_t action, int32_t permutation)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    monster_definition *definition = get_monster_definition(monster->type);
    object_data *object = get_object(monster->object_index);
    if (action < _monster_action_idle || action >= NUMBER_OF_MONSTER_ACTIONS)
    {
        // Storing it would make the next tick call a procedure that does not
        // exist: the unit keeps the action it has.
        char text[64];
        snprintf(text, sizeof(text), "what is monster action #%d?", (int)action);
        HALT(text);
        return;
    }
    if (!object) return;

    // A unit standing its ground holds instead of moving.
    if ((monster->flags & _monster_standing_ground_flag) && action == _monster_action_moving)
        action = (monster->flags & _monster_has_valid_target_index_flag) ? _monster_action_holding_for_attack
                                                                        : _monster_action_idle;
    // A unit pausing for an obstacle keeps pausing rather than move.
    if (object->flags & _object_pausing_for_obstacle_to_move_flag)
    {
        if (action == _monster_action_moving) return;
        object->flags &= ~(uint32_t)_object_pausing_for_obstacle_to_move_flag;
        obstacle_facts_changed(monster->object_index);
    }
    // Leaving a heal after stoning resets the animation's ticks.
    const int32_t previous = monster->action;
    const bool reset_ticks = current_gameplay_version >= 1710 && previous == _monster_action_being_healed &&
                             action != _monster_action_being_healed &&
                             (monster->extra_flags & _monster_was_stoned_prior_to_heal_extra_flag) &&
                             object->shape_ticks_per_frame == 0;
    if (action != _monster_action_being_healed)
        monster->extra_flags &= ~(uint32_t)_monster_was_stoned_prior_to_heal_extra_flag;

    // The look of the new action, and its effects.
    action_look look;
    choose_action_look(monster_index, monster, definition, object, action, permutation, previous, &look);
    // An effect group's procedure may have taken the unit or its object away.
    monster = get_monster_data(monster_index);
    object = monster ? get_object(monster->object_index) : nullptr;
    if (!monster || !object) return;
    if (look.sequence == SEQUENCE_CURRENT) look.sequence = object->shape_sequence_index;

    // A special ability forgets the target (and, before 1601, the path).
    if (monster->flags & _monster_is_using_special_ability_flag)
    {
        look.forgets_target = true;
        if (current_gameplay_version < 1601) look.forgets_path = true;
    }
    monster->flags &= ~(uint32_t)_monster_is_evading_obstacle_to_attack_flag;
    if (look.forgets_path) forget_path(monster);
    if (look.forgets_target) forget_target(monster);
    // The action is stored; the unit stops.
    monster->action = (int8_t)action;
    // show_action works the object's facts out, with its solidity.
    keep_obstacle_unit_facts(monster->object_index, unit_obstacle_facts(monster));
    monster->action_permutation = (int8_t)look.stored;
    object->location.velocity = {0, 0, 0};
    show_action(monster_index, monster, definition, object, action, &look, reset_ticks);
}

// ---- set_most_appropriate_monster_action ---------------------------------------------

static void choose_most_appropriate_monster_action(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    const monster_definition *definition = get_monster_definition(monster->type);
    const int32_t version = current_gameplay_version;
    const uint32_t targeting_bits = _monster_has_valid_target_flag | _monster_responding_to_target_command_flag |
                                    _monster_has_valid_target_index_flag | _monster_has_valid_target_location_flag;
    bool resume = false;
    int32_t next = NONE, next_permutation = 0;

    // A deferred movement order resumes.
    if (version > 1300 && (monster->extra_flags & _monster_has_deferred_movement_command_extra_flag))
    {
        if (!(monster->flags & _monster_is_using_special_ability_flag)) resume = true;
        else
        {
            monster->extra_flags &= ~(uint32_t)_monster_has_deferred_movement_command_extra_flag;
            if (monster->waypoint_count > 0)
            {
                monster->flags &= ~(uint32_t)(targeting_bits | _monster_should_close_on_target_flag |
                                              _monster_will_use_special_ability_flag |
                                              _monster_is_using_special_ability_flag | _monster_standing_ground_flag);
                monster->flags |= _monster_responding_to_command_flag | _monster_needs_new_path_flag |
                                  _monster_has_final_desired_yaw_flag;
                monster->extra_flags &= ~(uint32_t)_monster_should_use_closest_range_attack_extra_flag;
            }
        }
    }
    // After a special ability the unit resumes its waypoints or goes idle.
    if (!resume && (monster->flags & _monster_is_using_special_ability_flag))
    {
        if (version > 1600 && monster->waypoint_count > 0) resume = true;
        else if (version > 1300 && version <= 1600 && (monster->flags & _monster_has_attacked_flag) &&
                 (monster->extra_flags & _monster_has_deferred_movement_command_extra_flag))
            resume = true;
        else
        {
            if (version > 1300)
            {
                const bool again = (monster->extra_flags & _monster_deferred_uses_special_extra_flag) != 0;
                monster->flags = again ? monster->flags | _monster_will_use_special_ability_flag
                                       : monster->flags & ~(uint32_t)_monster_will_use_special_ability_flag;
                monster->extra_flags &= ~(uint32_t)_monster_deferred_uses_special_extra_flag;
                if (again)
                {
                    monster->flags &= ~(uint32_t)_monster_is_using_special_ability_flag;
                    monster->flags |= _monster_needs_new_path_flag;
                    resume = true;
                }
            }
            if (!resume)
            {
                monster->flags &= ~(uint32_t)(_monster_is_using_special_ability_flag |
                                              _monster_has_valid_target_flag | _monster_has_valid_target_index_flag);
                monster->waypoint_count = 0;
                set_monster_action(monster_index, _monster_action_idle, 0);
                return;
            }
        }
    }
    if (!resume)
    {
        // A unit of the winning team celebrates once.
        if (game_->winning_team_index != NONE && monster->owner_team_index == game_->winning_team_index &&
            !(definition && definition->monster_class == _monster_class_ambient_life) &&
            !(monster->flags & _monster_has_celebrated_flag))
        {
            set_monster_action(monster_index, _monster_action_celebrating, 1);
            return;
        }
        // Otherwise the action follows the target, the path or rest.
        if (!(monster->flags & _monster_wants_to_pick_up_object_flag))
        {
            const int32_t current = monster->action;
            if (monster->flags & _monster_has_valid_target_flag)
            {
                if (definition && (definition->hack_flags & _monster_hack_chases_enemy_during_recovery_flag))
                {
                    const int32_t target = monster->target_monster_index;
                    if ((monster->flags & _monster_target_has_caused_melee_damage_flag) ||
                        (target != NONE && monsters_are_allied(monster_index, target)))
                        next = _monster_action_holding_for_attack;
                    else
                    {
                        monster->flags |= _monster_needs_new_path_flag;
                        set_monster_action(monster_index, current,
                                           current == _monster_action_moving ? monster->action_permutation : 0);
                        return;
                    }
                }
                else if (monster->flags & _monster_is_retreating_flag)
                {
                    next = _monster_action_moving;
                    if (current != _monster_action_moving && current != _monster_action_turning)
                    {
                        monster->flags |= _monster_needs_new_path_flag;
                        monster->flags &= ~(uint32_t)_monster_has_obstructed_path_flag;
                    }
                }
                else
                    next = _monster_action_holding_for_attack;
            }
            else if (monster->waypoint_index < monster->waypoint_count)
            {
                next = _monster_action_moving;
                if (current != _monster_action_moving && current != _monster_action_turning)
                    monster->flags |= _monster_needs_new_path_flag;
            }
            else
            {
                const int32_t target = closest_most_appropriate_target(monster_index, 3);
                if (target == NONE ||
                    !try_and_switch_target_indexes(monster_index, target, _switch_target_activate_adjacents_flag))
                    next = _monster_action_idle;
                else if (definition && (definition->hack_flags & _monster_hack_doesnt_close_on_target_flag))
                    next = _monster_action_idle;
                else
                {
                    next = _monster_action_moving;
                    monster->flags |= _monster_needs_new_path_flag;
                }
                monster = get_monster_data(monster_index);
                if (!monster) return;
                monster->flags &= ~(uint32_t)_monster_has_obstructed_path_flag;
            }
            if (next != _monster_action_moving)
            {
                set_monster_action(monster_index, next, 0);
                return;
            }
        }
    }
    // 5. and 6.
    switch (monster->action)
    {
    case _monster_action_turning:
    {
        const bool runs = (monster->extra_flags & _monster_wants_to_run_extra_flag) != 0;
        set_monster_action(monster_index, _monster_action_moving,
                           runs ? (int32_t)_monster_action_permutation_running : next_permutation);
        break;
    }
    case _monster_action_moving:
        set_monster_action(monster_index, _monster_action_moving, monster->action_permutation);
        break;
    default: set_monster_action(monster_index, _monster_action_moving, next_permutation); break;
    }
}

void set_most_appropriate_monster_action(int32_t monster_index)
{
    choose_most_appropriate_monster_action(monster_index);
    // The choice may have asked for a new path.
    if (const monster_data *monster = get_monster_data(monster_index)) unit_obstacle_facts_changed(monster);
}

// ---- small entry operations ------------------------------------------------------------

void set_monster_action_holding_for_attack(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    if (current_gameplay_version >= 1710) set_monster_action(monster_index, _monster_action_holding_for_attack, 0);
    else
    {
        monster->action = _monster_action_holding_for_attack;
        unit_obstacle_facts_changed(monster);
    }
}

void set_monster_movement_animation(int32_t monster_index, int32_t permutation)
{
    set_monster_action(monster_index, _monster_action_moving, permutation);
}

static bool is_held_in_effect(int32_t action)
{
    return action >= _monster_action_being_healed && action <= _monster_action_paralyzed;
}

void make_monster_celebrate(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster || is_held_in_effect(monster->action)) return;
    const int32_t cycles = 30 + (((int32_t)vesk_random() * 5) >> 14);
    set_monster_action(monster_index, _monster_action_celebrating, cycles);
}

void make_monster_taunt(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster)
    {
        // Before 1501 a free slot's record and stale object were written to.
        log_message(__FILE__, __LINE__, "make_monster_taunt: unit %d is a free slot", (int)monster_index);
        return;
    }
    if (current_gameplay_version >= 1501 && (monster->flags & _monster_has_left_the_mesh_flag)) return;
    monster->deferred_target_index = NONE;
    if (!is_held_in_effect(monster->action))
    {
        const int32_t cycles = 3 + (((int32_t)vesk_random() * 3) >> 16);
        set_monster_action(monster_index, _monster_action_taunting, cycles);
        monster = get_monster_data(monster_index);
        if (!monster) return;
    }
    if ((monster->extra_flags & _monster_has_deferred_movement_command_extra_flag) &&
        game_->winning_team_index == NONE)
        monster->extra_flags &= ~(uint32_t)_monster_has_deferred_movement_command_extra_flag;
}

void report_monster_order_completed(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const auto succeeded = get_map_action_procedures()->map_action_succeeded;
    if (monster && succeeded && (monster->flags & _monster_responding_to_command_flag) &&
        monster->internal_command_identifier >= 0)
        succeeded(monster->internal_command_identifier);
}

void idle_monster_after_target_death(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    switch (monster->action)
    {
    case _monster_action_attacking:
    case _monster_action_picking_up:
    case _monster_action_being_healed:
    case _monster_action_being_held:
    case _monster_action_stoned:
    case _monster_action_paralyzed:
    case _monster_action_taking_damage:
    case _monster_action_being_propelled: break;
    default:
        set_monster_action(monster_index, _monster_action_idle, 0);
        monster = get_monster_data(monster_index);
        if (!monster) return;
        break;
    }
    monster->flags &= ~(uint32_t)_monster_has_final_desired_yaw_flag;
    monster->extra_flags &= ~(uint32_t)_monster_is_berserk_extra_flag;
    monster->waypoint_count = 0;
}

void crossfade_monster_color_table_permutation(int32_t monster_index, int16_t permutation, int16_t ticks)
{
    (void)ticks;
    monster_data *monster = get_monster_data(monster_index);
    object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return;
    monster->display_dirty_flags |= _monster_headshot_dirty_flag;
    object->color_table_permutation = permutation;
}

// ---- action procedures -------------------------------------------------------------------

// The idle sub-states: the primary loop, at the end of each of its cycles one
// draw decides (1 in 16) to pass through the secondary; the secondary and the
// two transitions last one cycle each and draw nothing.  Every sub-state
// plays the idle sequence: a definition has no other idle animation.
void monster_idle(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!on_last_frame(object)) return;
    switch (monster->action_permutation)
    {
    case _monster_idle_primary:
        if (vesk_random() < 4096) monster->action_permutation = _monster_idle_transition_to_secondary;
        break;
    case _monster_idle_transition_to_secondary: monster->action_permutation = _monster_idle_secondary; break;
    case _monster_idle_secondary: monster->action_permutation = _monster_idle_transition_to_primary; break;
    default: monster->action_permutation = _monster_idle_primary; break;
    }
}

void monster_celebrating(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!on_last_frame(object)) return;
    monster->action_permutation = (int8_t)(monster->action_permutation - 1);
    if (monster->action_permutation < 1)
    {
        set_most_appropriate_monster_action(monster_index);
        return;
    }
    const int16_t rate = (int16_t)(256 + (vesk_random() >> 8));
    set_object_shape(monster->object_index, object->shape_sequence_index, rate, 0, 0, SHAPE_FLAGS_RESTART, 0);
}

void monster_taunting(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!on_last_frame(object)) return;
    monster->action_permutation = (int8_t)(monster->action_permutation - 1);
    if (monster->action_permutation <= 0) set_most_appropriate_monster_action(monster_index);
}

void monster_attacking(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return;
    // A strike may kill the unit and a respawn refill its slot: only the
    // same unit goes on.
    const int16_t identifier = monster->identifier;
    const uint32_t animation = object->flags;
    const int32_t attack_index = monster->action_permutation;
    if (animation & _object_animation_key_frame_flag)
    {
        if (replaced_calls && replaced_calls->handle_monster_attack)
            replaced_calls->handle_monster_attack(monster_index, attack_index, true);
        else
            handle_monster_attack(monster_index, attack_index, _monster_attack_execute);
        monster = get_monster_data(monster_index);
        if (!monster || monster->identifier != identifier) return;
    }
    if (!(animation & _object_animation_last_frame_flag)) return;
    const monster_attack_definition *attack = attack_definition_for(monster, attack_index, false);
    const bool reflexive = attack && (attack->flags & _monster_attack_is_reflexive_flag);
    if (attack_index != NONE && ((monster->flags & _monster_has_valid_target_flag) || reflexive) &&
        !(monster->flags & _monster_attack_was_aborted_flag))
    {
        monster->repeated_obstruction_count = (int16_t)(monster->repeated_obstruction_count - 1);
        if (monster->repeated_obstruction_count > 0)
        {
            monster->flags &= ~(uint32_t)_monster_has_attacked_flag;
            return;
        }
    }
    const bool deferred = (monster->extra_flags & _monster_has_deferred_movement_command_extra_flag) != 0;
    set_most_appropriate_monster_action(monster_index);
    monster = get_monster_data(monster_index);
    if (!monster || monster->identifier != identifier) return;
    if (current_gameplay_version >= 1301)
        monster->extra_flags &= ~(uint32_t)_monster_has_deferred_movement_command_extra_flag;
    if (deferred && current_gameplay_version >= 1601)
    {
        monster->flags &= ~(uint32_t)(_monster_has_valid_target_index_flag | _monster_has_valid_target_location_flag);
        if (current_gameplay_version >= 1691) monster->flags &= ~(uint32_t)_monster_has_valid_target_flag;
    }
}

void monster_blocking(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    monster->action_permutation = (int8_t)(monster->action_permutation - 1);
    if (monster->action_permutation < 0) set_most_appropriate_monster_action(monster_index);
}

void monster_picking_up(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return;
    const uint32_t animation = object->flags;
    if (animation & _object_animation_key_frame_flag)
    {
        const object_data *item = get_object(monster->pick_up_object_index);
        if (item && item->identifier == monster->pick_up_object_identifier && !(item->flags & _object_is_flag_flag))
        {
            const int32_t dx = item->location.position.x - object->location.position.x;
            const int32_t dy = item->location.position.y - object->location.position.y;
            if ((int64_t)dx * dx + (int64_t)dy * dy < 257 * 257 &&
                (replaced_calls && replaced_calls->give_object_to_monster
                     ? replaced_calls->give_object_to_monster(monster_index, monster->pick_up_object_index)
                     : give_object_to_monster(monster_index, monster->pick_up_object_index) != 0))
            {
                monster = get_monster_data(monster_index);
                if (!monster) return;
                report_monster_order_completed(monster_index);
            }
        }
    }
    if (animation & _object_animation_last_frame_flag) set_most_appropriate_monster_action(monster_index);
}

void monster_being_held(int32_t monster_index)
{
    new_internal_projectile_group(monster_index, _internal_projectile_group_hold_effect);
    monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return;
    if (monster->attack_timer >= 0) return;
    if (current_gameplay_version >= 1511 && object->color_table_permutation == 1)
        set_monster_action(monster_index, _monster_action_stoned, _monster_action_permutation_stoned);
    else if (current_gameplay_version >= 1511 && object->color_table_permutation == 2)
        set_monster_action(monster_index, _monster_action_paralyzed, _monster_action_permutation_paralyzed);
    else
        set_most_appropriate_monster_action(monster_index);
}

void monster_stoned(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    switch (monster->action_permutation)
    {
    case _monster_action_permutation_turning_to_stone:
        new_internal_projectile_group(monster_index, _internal_projectile_group_stoning_effect);
        monster = get_monster_data(monster_index);
        if (!monster) return;
        if (monster->attack_timer < 0) monster->action_permutation = _monster_action_permutation_stoned;
        break;
    case _monster_action_permutation_stoned: break;
    default: HALT("stoned unit in an unknown permutation"); break;
    }
}

void monster_paralyzed(int32_t monster_index)
{
    new_internal_projectile_group(monster_index, _internal_projectile_group_paralysis_effect);
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    switch (monster->action_permutation)
    {
    case _monster_action_permutation_being_paralyzed:
    case _monster_action_permutation_paralyzed:
    case _monster_action_permutation_recovering_from_paralysis:
        if (monster->attack_timer >= 0) return;
        break;
    default: HALT("paralyzed unit in an unknown permutation"); return;
    }
    switch (monster->action_permutation)
    {
    case _monster_action_permutation_being_paralyzed:
    {
        const int32_t ticks = 150 + (((int32_t)vesk_random() * 210) >> 16);
        monster->action_permutation = _monster_action_permutation_paralyzed;
        monster->attack_timer =
            (int16_t)((ticks * get_monster_effect_modifier(monster_index, _effect_modifier_paralysis)) >> 8);
        break;
    }
    case _monster_action_permutation_paralyzed:
        crossfade_monster_color_table_permutation(monster_index, 0, 30);
        new_internal_projectile_group(monster_index, _internal_projectile_group_paralysis_start);
        monster = get_monster_data(monster_index);
        if (!monster) return;
        monster->action_permutation = _monster_action_permutation_recovering_from_paralysis;
        monster->attack_timer = 30;
        break;
    default: set_most_appropriate_monster_action(monster_index); break;
    }
}

void monster_taking_damage(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (on_last_frame(object)) set_most_appropriate_monster_action(monster_index);
}

// ---- registration ------------------------------------------------------------------------

bool switch_monster_target(int32_t monster_index, int32_t target_index, uint32_t flags)
{
    return try_and_switch_target_indexes(monster_index, target_index, flags);
}

int32_t find_closest_monster_target(int32_t monster_index, int32_t mode)
{
    return closest_most_appropriate_target(monster_index, mode);
}

void install_monster_action_procedures(void)
{
    monster_action_fns[_monster_action_idle] = monster_idle;
    monster_action_fns[_monster_action_celebrating] = monster_celebrating;
    monster_action_fns[_monster_action_taunting] = monster_taunting;
    monster_action_fns[_monster_action_attacking] = monster_attacking;
    monster_action_fns[_monster_action_blocking] = monster_blocking;
    monster_action_fns[_monster_action_picking_up] = monster_picking_up;
    monster_action_fns[_monster_action_being_held] = monster_being_held;
    monster_action_fns[_monster_action_stoned] = monster_stoned;
    monster_action_fns[_monster_action_paralyzed] = monster_paralyzed;
    monster_action_fns[_monster_action_taking_damage] = monster_taking_damage;
}

const monster_action_test_procedures *set_monster_action_test_procedures(
    const monster_action_test_procedures *procedures)
{
    return std::exchange(replaced_calls, procedures);
}

// Death notices and change of owner.  See monster_owners.h.

#include "monster_owners.h"

#include <cstring>

#include "collection_references.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_preferences.h"
#include "game_sounds.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "local_projectile_groups.h"
#include "local_projectiles.h"
#include "markers.h"
#include "monster_actions.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "statistics.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"

#define CENSORED_DEATH_PROJECTILE_GROUP FOUR_CHARACTER_CODE('n', 'o', 'b', 'd')

enum
{
    // Scan modes of a unit whose target died: first near its target, then wider.
    TARGET_DIED_SCAN_MODE = 1,
    SECOND_TARGET_DIED_SCAN_MODE = 2,
};

static procedure_slot<remove_monster_from_selections_procedure> remove_from_selections_slot(
    "remove monster from selections");

bool register_remove_monster_from_selections_procedure(remove_monster_from_selections_procedure procedure)
{
    return remove_from_selections_slot.fill(procedure);
}

void remove_monster_from_selections(int32_t monster_index, uint32_t died_flags)
{
    if (remove_monster_from_selections_procedure procedure = remove_from_selections_slot.get())
        procedure(monster_index, died_flags);
}

// ---- monster_died ------------------------------------------------------------------------

static const monster_definition *death_look_definition(const monster_data *dead)
{
    const monster_definition *definition = get_monster_definition(dead->type);
    if (dead->type != dead->orig_type)
    {
        const monster_definition *original = get_monster_definition(dead->orig_type);
        if (definition && original && definition->collection_tag != original->collection_tag) return original;
    }
    return definition;
}

static void show_censored_death(const monster_data *dead)
{
    const marker_data *marker = current_gameplay_version < 1711
                                    ? get_marker_by_identifier(_marker_monster, dead->identifier)
                                    : (dead->marker_index == NONE ? nullptr
                                                                  : get_marker_by_index(_marker_monster, dead->marker_index));
    if (marker && (marker->flags & _marker_is_invisible_observer_flag)) return;
    const monster_definition *definition = death_look_definition(dead);
    if (!definition || (definition->flags & _monster_is_inanimate_object_flag)) return;
    const game_preferences *preferences = get_game_preferences();
    if (!preferences || !(preferences->flags & _game_pref_censored_flag)) return;
    const object_data *object = get_object(dead->object_index);
    if (!object) return;
    // A local effect: nothing the game computes depends on it.
    const int32_t type = try_definition_tag_to_index(&local_projectile_group_definitions,
                                                     CENSORED_DEATH_PROJECTILE_GROUP, true, 0);
    if (type == NONE) return;
    new_local_projectile_group_data request;
    memset(&request, 0, sizeof(request));
    request.type = (int16_t)type;
    request.center = object->location.position;
    request.central_object_index = request.bounds_object_index = dead->object_index;
    request.central_object_identifier = request.bounds_object_identifier = object->identifier;
    request.opacity = 0xFFFF;
    request.yaw = 0;
    request.color_table_index = NONE;
    new_local_projectile_group(&request);
}

static bool monster_slot_in_use(int32_t monster_index) { return get_monster_data(monster_index) != nullptr; }

// The fighter resumes its deferred target as an order (from 1711).
static void resume_deferred_order(int32_t monster_index, int32_t target)
{
    monster_data *monster = get_monster_data(monster_index);
    monster->waypoint_count = 0;
    if (object_data *object = get_object(monster->object_index))
        object->flags &= ~(uint32_t)_object_pausing_for_obstacle_to_move_flag;
    monster->target_monster_index = (int16_t)target;
    const bool special = (monster->extra_flags & _monster_deferred_uses_special_extra_flag) != 0;
    monster->extra_flags &=
        ~(uint32_t)(_monster_ignores_model_collisions_extra_flag | _monster_wants_to_run_extra_flag |
                    _monster_has_deferred_movement_command_extra_flag |
                    _monster_should_use_closest_range_attack_extra_flag | _monster_deferred_uses_special_extra_flag |
                    _monster_will_use_old_collision_detection_extra_flag);
    monster->flags &= ~(uint32_t)(_monster_has_valid_target_location_flag | _monster_will_use_special_ability_flag |
                                  _monster_is_using_special_ability_flag | _monster_needs_to_retreat_flag |
                                  _monster_is_retreating_flag | _monster_was_stopped_flag | _monster_standing_ground_flag);
    monster->flags |= _monster_has_valid_target_flag | _monster_responding_to_command_flag |
                      _monster_responding_to_target_command_flag | _monster_has_valid_target_index_flag |
                      _monster_needs_new_path_flag | _monster_attack_was_aborted_flag;
    if (special) monster->flags |= _monster_will_use_special_ability_flag;
    unit_obstacle_facts_changed(monster); // its pausing flag too
}

// A unit on the mesh whose target died.
static void fighter_lost_target(int32_t monster_index, int32_t dead_index)
{
    monster_data *monster = get_monster_data(monster_index);
    int32_t target = find_closest_monster_target(monster_index, TARGET_DIED_SCAN_MODE);
    if (target == NONE) target = find_closest_monster_target(monster_index, SECOND_TARGET_DIED_SCAN_MODE);
    monster = get_monster_data(monster_index);
    if (!monster) return;
    const monster_definition *definition = get_monster_definition(monster->type);
    const uint32_t remembered = definition && (definition->hack_flags & _monster_hack_extra_aggressive_missile_flag)
                                    ? (monster->flags & _monster_responding_to_target_command_flag)
                                    : 0u;

    monster->extra_flags &= ~(uint32_t)(_monster_failed_to_attack_extra_flag |
                                        _monster_chain_lightning_prevention_extra_flag |
                                        _monster_should_use_closest_range_attack_extra_flag);
    monster->flags &= ~(uint32_t)(_monster_responding_to_command_flag | _monster_responding_to_target_command_flag |
                                  _monster_has_valid_target_index_flag | _monster_did_not_get_targeting_solution_flag |
                                  _monster_should_close_on_target_flag | _monster_will_use_special_ability_flag |
                                  _monster_target_has_caused_melee_damage_flag);
    if (!(monster->flags & _monster_has_valid_target_location_flag))
        monster->flags &= ~(uint32_t)_monster_has_valid_target_flag;
    monster->flags |= _monster_attack_was_aborted_flag;
    monster->target_monster_index = NONE;

    if (current_gameplay_version >= 1301 && monster->deferred_target_index != NONE &&
        monster->deferred_target_index != dead_index)
    {
        const int32_t deferred = monster->deferred_target_index;
        const bool skip_alliance = current_gameplay_version >= 1711 && (monster->extra_flags & _monster_is_invisible_extra_flag);
        const bool allied = !skip_alliance && monsters_are_allied(monster_index, deferred);
        if (!allied && monster_slot_in_use(deferred))
        {
            target = deferred;
            monster->deferred_target_index = NONE;
            if (current_gameplay_version >= 1711)
            {
                resume_deferred_order(monster_index, target);
                return;
            }
        }
    }
    if (target == NONE)
    {
        idle_monster_after_target_death(monster_index);
        return;
    }
    if (switch_monster_target(monster_index, target, 0))
    {
        if ((monster = get_monster_data(monster_index)) != nullptr) monster->flags |= remembered;
    }
    else if (current_gameplay_version < 1718)
    {
        if ((monster = get_monster_data(monster_index)) != nullptr)
            monster->extra_flags &= ~(uint32_t)_monster_is_berserk_extra_flag;
    }
    else
        idle_monster_after_target_death(monster_index);
}

void monster_died(int32_t dead_monster_index, uint32_t died_flags)
{
    const monster_data *dead = get_monster_data(dead_monster_index);
    if (dead && (died_flags & _monster_died_show_censored_death_flag)) show_censored_death(dead);

    datum_globals *array = get_monster_array();
    for (int32_t index = 0; index < array->count; ++index)
    {
        monster_data *monster = get_monster_data(index);
        if (!monster) continue;
        const bool targets_dead = (monster->flags & _monster_has_valid_target_index_flag) &&
                                  monster->target_monster_index == dead_monster_index;
        if (!(monster->flags & _monster_has_left_the_mesh_flag))
        {
            if (monster->aggressor_monster_index == dead_monster_index) monster->aggressor_monster_index = NONE;
            if (current_gameplay_version >= 1301 && monster->deferred_target_index == dead_monster_index)
                monster->deferred_target_index = NONE;
            if (targets_dead) fighter_lost_target(index, dead_monster_index);
        }
        else if (current_gameplay_version >= 1701)
        {
            if (monster->aggressor_monster_index == dead_monster_index) monster->aggressor_monster_index = NONE;
            if (monster->deferred_target_index == dead_monster_index) monster->deferred_target_index = NONE;
            if (targets_dead)
            {
                monster->flags &= ~(uint32_t)_monster_has_valid_target_index_flag;
                if (!(monster->flags & _monster_has_valid_target_location_flag))
                    monster->flags &= ~(uint32_t)_monster_has_valid_target_flag;
                monster->target_monster_index = NONE;
            }
        }
    }
}

// ---- change of owner ------------------------------------------------------------------------

static bool identifier_is_held(int16_t identifier)
{
    datum_globals *array = get_monster_array();
    for (int32_t index = 0; index < array->count; ++index)
    {
        const monster_data *monster = get_monster_data(index);
        if (monster && monster->identifier == identifier) return true;
    }
    return false;
}

// Forgets the target and every order that aims at it (the action machine's
// rule when a target is lost).
static void forget_monster_target(monster_data *monster)
{
    monster->extra_flags &= ~(uint32_t)(_monster_failed_to_attack_extra_flag | _monster_ignores_model_collisions_extra_flag |
                                        _monster_chain_lightning_prevention_extra_flag |
                                        _monster_will_use_old_collision_detection_extra_flag);
    monster->target_monster_index = NONE;
    monster->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_responding_to_command_flag |
                                  _monster_responding_to_target_command_flag | _monster_has_valid_target_index_flag |
                                  _monster_has_valid_target_location_flag | _monster_did_not_get_targeting_solution_flag |
                                  _monster_will_use_special_ability_flag | _monster_is_using_special_ability_flag |
                                  _monster_target_has_caused_melee_damage_flag);
    monster->flags |= _monster_attack_was_aborted_flag;
}

void change_monster_owner(int32_t monster_index, int16_t owner_player_index, bool clear_identifier)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    if (clear_identifier)
    {
        // Unsigned 16-bit candidates from 0x8000; every one is taken only
        // with 32768 units, far beyond the array.
        for (uint32_t candidate = FIRST_TRADED_MONSTER_IDENTIFIER; candidate <= 0xFFFF; ++candidate)
            if (!identifier_is_held((int16_t)(uint16_t)candidate))
            {
                set_datum_identifier(get_monster_array(), monster_index, (int16_t)(uint16_t)candidate);
                break;
            }
    }
    const int16_t identifier = get_monster_data(monster_index)->identifier;
    call_monster_died_procedures(monster_index, _monster_died_clear_presets_flag);
    detach_monster(monster_index, owner_player_index, false);
    monster = get_monster_data(monster_index);
    if (!monster || monster->identifier != identifier) return;
    forget_monster_target(monster);
    if (current_gameplay_version >= 1501 && monster->action >= _monster_action_being_healed &&
        monster->action <= _monster_action_paralyzed)
        return;
    set_most_appropriate_monster_action(monster_index);
}

// The first definition of the player for the unit's original monster type.
static int32_t first_definition_of_player(int16_t player_index, int16_t monster_type)
{
    for (int32_t index = 0; index < MAXIMUM_UNIT_DEFINITIONS_PER_MAP; ++index)
    {
        const unit_definition *unit = get_unit_definition(index);
        if (unit && unit->player_index == player_index && unit->monster_type == monster_type) return index;
    }
    return NONE;
}

static tag parent_tag_of(int16_t unit_type)
{
    const unit_definition *unit = get_unit_definition(unit_type);
    return unit ? unit->parent_unit_tag : (tag)NONE;
}

static int32_t shared_definition_of(tag parent_unit_tag)
{
    if (parent_unit_tag == (tag)NONE) return NONE;
    return try_definition_tag_to_index(&unit_definitions, parent_unit_tag, true, 0);
}

void detach_monster(int32_t monster_index, int16_t new_owner_player_index, bool silent)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster || new_owner_player_index == NONE || new_owner_player_index == monster->owner_player_index) return;
    if (new_owner_player_index < 0 || new_owner_player_index >= get_player_count()) return;
    const player_data *player = get_player_data(new_owner_player_index);
    if (!player || (player->flags & FLAG(_player_has_been_dropped_bit))) return;

    const bool ignores = (monster->flags & _monster_ignores_user_commands_flag) != 0;
    const tag parent = parent_tag_of(monster->unit_type);
    int32_t new_type = NONE;
    if (current_gameplay_version >= 1716 && ignores)
        new_type = shared_definition_of(parent);
    else
    {
        if (current_gameplay_version >= 1601) new_type = find_unit_definition_for_player(new_owner_player_index, parent);
        if (new_type == NONE) new_type = first_definition_of_player(new_owner_player_index, monster->orig_type);
    }
    if (new_type == NONE || new_type == monster->unit_type) return;
    if (ignores) VASSERT(false, "!(monster->flags & _monster_ignores_user_commands_flag)");

    const object_data *object = get_object(monster->object_index);
    const int32_t vitality = object ? object->vitality : 0;
    adjust_unit_statistics(monster->unit_type, -1, -vitality);
    adjust_unit_statistics((int16_t)new_type, 1, vitality);

    int16_t sound = NONE;
    if (local_player_index != NONE && monster->owner_player_index == local_player_index)
    {
        remove_monster_from_selections(monster_index, _monster_died_clear_presets_flag);
        sound = _game_sound_units_detached;
    }
    else if (local_player_index != NONE && new_owner_player_index == local_player_index)
        sound = _game_sound_new_units_received;

    const int32_t new_reference = get_unit_collection_reference_index(new_type, new_owner_player_index);
    // The unit takes its new owner's colours.  Before 1850 only an owner with
    // appearance colours gave them: a unit handed to a player of the map's
    // own colours kept the old team's, and looked like an enemy he commands.
    if ((player->flags & FLAG(_player_uses_appearance_colors_bit)) ||
        current_gameplay_version >= FIRST_GAMEPLAY_VERSION_WITH_OWNER_COLOURS_ON_DETACH)
    {
        const int32_t permutation =
            get_collection_reference_permutation(monster->collection_reference_index, monster->orig_color_table_index);
        const collection_reference_definition *reference = get_collection_reference(new_reference);
        if (reference && permutation >= 0 && permutation < MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS)
        {
            const int16_t color = reference->color_table_indexes[permutation];
            if (object_data *body = get_object(monster->object_index)) body->color_table_index = color;
            monster->orig_color_table_index = (uint8_t)color;
        }
    }
    monster->unit_type = (int16_t)new_type;
    monster->owner_player_index = (int8_t)new_owner_player_index;
    monster->collection_reference_index = (int16_t)new_reference;
    monster->owner_team_index = player->team_index;
    unit_obstacle_facts_changed(monster);
    monster->display_dirty_flags |= _monster_name_dirty_flag;
    if (!silent && sound != NONE) queue_game_sound(sound);
}

void monster_player_control_changed(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    const bool ignores = (monster->flags & _monster_ignores_user_commands_flag) != 0;
    const tag parent = parent_tag_of(monster->unit_type);
    const int32_t new_type =
        ignores ? shared_definition_of(parent) : find_unit_definition_for_player(monster->owner_player_index, parent);
    if (new_type == NONE) return;
    const int16_t old_type = monster->unit_type;
    if (current_gameplay_version >= 1701)
    {
        const object_data *object = get_object(monster->object_index);
        const int32_t vitality = object ? object->vitality : 0;
        adjust_unit_statistics(old_type, -1, -vitality);
        adjust_unit_statistics((int16_t)new_type, 1, vitality);
    }
    if (current_gameplay_version >= 1721)
    {
        if (ignores)
        {
            monster->extra_flags |= _monster_was_controllable_extra_flag;
            adjust_unit_statistics_for_uncontrollability(old_type, 1);
        }
        else if (monster->extra_flags & _monster_was_controllable_extra_flag)
            adjust_unit_statistics_for_uncontrollability((int16_t)new_type, -1);
    }
    monster->unit_type = (int16_t)new_type;
}

// ---- registration ----------------------------------------------------------------------------

void register_monster_owner_hooks(void)
{
    register_monster_died_procedure(monster_died);
}

#undef CENSORED_DEATH_PROJECTILE_GROUP

// Hiding, calling in and healing units, and their special-ability modes.
// See monster_hiding.h.

#include "monster_hiding.h"

#include <cstdlib>

#include "cseries/log.h"
#include "damage.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "local_projectiles.h"
#include "markers.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monster_inventory.h"
#include "monster_life.h"
#include "monster_movement.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "projectiles.h"
#include "statistics.h"
#include "vesk_random.h"

enum
{
    TELEPORT_FADE_TICKS = 30,
    TAIN_FADE_TICKS = 60,
    PLAIN_FADE_TICKS = 30, // hiding adds up to 30 drawn
    HIDING_DELAY_RANGE = 30, // the fading copy starts within this many ticks
    HEALING_TICKS = 75, // a full heal (or a full hurt) takes this many steps
    MAXIMUM_EXPERIENCE = 255,
};

// ---- helpers ------------------------------------------------------------------------

static monster_data *unit_of_marker(const marker_data *marker)
{
    if (marker->data_index == NONE) return nullptr;
    monster_data *monster = get_monster_data(marker->data_index);
    return monster && monster->identifier == marker->data_identifier ? monster : nullptr;
}

static void turn_monster_local_groups_off(const monster_data *monster)
{
    if (monster->local_projectile_group_index != NONE) turn_local_projectile_group_off(monster->local_projectile_group_index);
    if (current_gameplay_version >= 1301 && monster->current_local_projectile_group_index != NONE)
        turn_local_projectile_group_off(monster->current_local_projectile_group_index);
}

static void make_group_at_marker(int16_t type, const marker_data *marker, int16_t object_index, int16_t owner_monster)
{
    new_projectile_group_data group = {};
    group.type = type;
    group.epicenter = marker->location.position;
    group.owner_object_index = group.bounds_object_index = object_index;
    group.owner_monster_index = owner_monster;
    new_projectile_group(&group);
}

// A copy of the unit's object fading in or out; its fading projectile, or
// NONE (the copy is then gone, except a fade-out copy before 1301).
static int32_t fade_copy(int32_t object_index, bool out, int16_t delay, int16_t ticks)
{
    const int32_t copy = duplicate_object(object_index);
    if (copy == NONE) return NONE;
    const int32_t fading = fade_object(out, copy, delay, ticks);
    if (fading == NONE && (!out || current_gameplay_version >= 1301)) delete_object(copy);
    return fading;
}

static void forget_targets_of_absent_unit(monster_data *monster)
{
    monster->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_has_valid_target_index_flag |
                                  _monster_has_valid_target_location_flag);
    monster->target_monster_index = monster->deferred_target_index = monster->aggressor_monster_index = NONE;
}

// ---- hiding -----------------------------------------------------------------------------

void make_monster_invisible(int16_t marker_identifier, int16_t mode)
{
    marker_data *marker = get_marker_by_identifier(_marker_monster, marker_identifier);
    if (!marker || marker->data_index == NONE) return;
    marker->flags |= _marker_is_invisible_flag;
    monster_data *monster = unit_of_marker(marker);
    if (!monster) return;
    const int32_t monster_index = marker->data_index;
    const int16_t identifier = monster->identifier;
    const monster_definition *definition = get_monster_definition(monster->type);

    switch (mode)
    {
    case _monster_visibility_mode_projectile_group:
        if (definition && definition->exit_projectile_group_type != NONE)
            make_group_at_marker(definition->exit_projectile_group_type, marker, monster->object_index,
                                 marker->data_index);
        break;
    case _monster_visibility_mode_teleport:
    case _monster_visibility_mode_tain:
    {
        const int32_t copy = duplicate_object(monster->object_index);
        if (copy == NONE) break;
        const int16_t delay = (int16_t)(((int32_t)vesk_random() * HIDING_DELAY_RANGE) >> 16);
        const bool teleport = mode == _monster_visibility_mode_teleport;
        const int32_t fading = fade_object(true, copy, delay, teleport ? TELEPORT_FADE_TICKS : TAIN_FADE_TICKS);
        if (fading == NONE)
        {
            if (current_gameplay_version >= 1301) delete_object(copy);
            break;
        }
        projectile_data *projectile = get_projectile_data(fading);
        projectile->visible_projectile_group_type = get_internal_projectile_group_type(
            teleport ? _internal_projectile_group_teleport_out : _internal_projectile_group_tain_out);
        // The end of a fade-out calls nobody in.
        projectile->owner_monster_index = NONE;
        get_object(copy)->shape_ticks_per_frame = 0;
        break;
    }
    case _monster_visibility_mode_fade:
    {
        const int16_t ticks = (int16_t)(PLAIN_FADE_TICKS + (((int32_t)vesk_random() * PLAIN_FADE_TICKS) >> 16));
        const int32_t fading = fade_copy(monster->object_index, true, 0, ticks);
        if (fading != NONE) get_projectile_data(fading)->owner_monster_index = NONE;
        break;
    }
    default:
        break;
    }
    monster = get_monster_data(monster_index);
    if (!monster || monster->identifier != identifier) return;

    turn_monster_local_groups_off(monster);
    monster->flags |= _monster_has_left_the_mesh_flag;
    monster->flags &= ~(uint32_t)(_monster_has_valid_target_flag | _monster_has_valid_target_index_flag);
    if (current_gameplay_version >= 1701) forget_targets_of_absent_unit(monster);
    if (object_data *object = get_object(monster->object_index)) object->flags |= _object_is_invisible_flag;
    obstacle_facts_changed(monster->object_index);
    call_monster_died_procedures(monster_index, 0);
}

// ---- calling in -------------------------------------------------------------------------

// The unit waits off the mesh, on the ground, until its fade brings it in.
static void wait_for_arrival(monster_data *monster)
{
    object_data *object = get_object(monster->object_index);
    if (!object) return;
    object->flags |= _object_is_invisible_flag | _object_on_ground_flag;
    obstacle_facts_changed(monster->object_index);
    monster->flags |= _monster_has_left_the_mesh_flag | _monster_is_teleporting_in_flag;
    if (current_gameplay_version >= 1701) forget_targets_of_absent_unit(monster);
    const world_point2d point = {object->location.position.x, object->location.position.y};
    const world_distance ground = get_mesh_height(&point, _mesh_ground_height);
    if (ground != MESH_NO_HEIGHT) object->location.position.z = ground;
    object->location.height = 0;
    if (current_gameplay_version >= 1601)
    {
        const object_definition *definition = get_object_definition(object->type);
        const bool constant = definition && (definition->flags & _maintains_constant_height_above_ground_flag);
        const world_distance height = get_height_for_new_position(
            &point, (object->flags & _object_floats_on_media_flag) != 0, constant, monster->height_over_mesh, nullptr);
        if (height != MESH_NO_HEIGHT) object->location.position.z = height;
    }
}

int32_t make_monster_visible(int16_t marker_identifier, int16_t mode)
{
    marker_data *marker = get_marker_by_identifier(_marker_monster, marker_identifier);
    if (!marker) return NONE;
    marker->flags &= ~(uint32_t)_marker_is_invisible_flag;
    int32_t monster_index;
    if (marker->data_index != NONE)
    {
        monster_data *monster = unit_of_marker(marker);
        if (!monster) return NONE;
        monster_index = marker->data_index;
        monster->flags &= ~(uint32_t)_monster_has_left_the_mesh_flag;
        if (object_data *object = get_object(monster->object_index)) object->flags &= ~(uint32_t)_object_is_invisible_flag;
        obstacle_facts_changed(monster->object_index);
    }
    else
        monster_index = new_monster(marker);
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return NONE;
    const int16_t identifier = monster->identifier;
    const monster_definition *definition = get_monster_definition(monster->type);

    bool waits = false, entrance_made = false;
    if (mode != _monster_visibility_mode_none && !(marker->flags & _marker_is_invisible_observer_flag))
    {
        if (mode == _monster_visibility_mode_projectile_group)
        {
            if (definition && definition->entrance_projectile_group_type != NONE)
            {
                make_group_at_marker(definition->entrance_projectile_group_type, marker, monster->object_index,
                                     (int16_t)monster_index);
                entrance_made = true;
            }
            waits = true;
        }
        else if (mode >= _monster_visibility_mode_teleport && mode <= _monster_visibility_mode_fade)
        {
            int16_t ticks = PLAIN_ENTRANCE_FADE_TICKS, group = NONE;
            if (mode == _monster_visibility_mode_teleport)
            {
                ticks = TELEPORT_IN_FADE_TICKS;
                group = get_internal_projectile_group_type(_internal_projectile_group_teleport_in);
            }
            else if (mode == _monster_visibility_mode_tain)
            {
                ticks = TAIN_IN_FADE_TICKS;
                group = get_internal_projectile_group_type(_internal_projectile_group_tain_in);
            }
            // Without a copy the unit is simply visible.
            waits = new_monster_entrance_fade(monster_index, ticks, group);
        }
    }
    monster = get_monster_data(monster_index);
    if (!monster || monster->identifier != identifier) return NONE;
    if (waits) wait_for_arrival(monster);
    if (!entrance_made && current_gameplay_version >= 1511 && !(marker->flags & _marker_is_invisible_observer_flag) &&
        definition && definition->entrance_projectile_group_type != NONE &&
        (definition->flags & _monster_always_uses_entrance_proj_group_flag))
        monster->extra_flags |= _monster_should_spawn_entrance_proj_group_extra_flag;
    return monster_index;
}

// ---- healing ----------------------------------------------------------------------------

bool healing_death_counts_as_netgame_target(int32_t monster_index, int32_t healer_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return false;
    if (current_gameplay_version < 1511) return (monster->extra_flags & _monster_is_netgame_target_extra_flag) != 0;
    const monster_data *healer = healer_index == NONE ? nullptr : get_monster_data(healer_index);
    if (game_->scoring == _game_scoring_hunting && healer &&
        (healer->extra_flags & _monster_is_hunted_creature_extra_flag))
        return false;
    return (monster->extra_flags & (_monster_is_netgame_target_extra_flag | _monster_is_hunted_creature_extra_flag)) != 0;
}

static void die_of_healing(int32_t monster_index, monster_data *healer, int16_t healer_type)
{
    monster_data *monster = get_monster_data(monster_index);
    const bool hunted_game = game_->scoring == _game_scoring_hunting &&
                             (monster->extra_flags & _monster_is_hunted_creature_extra_flag);
    adjust_damage_statistics(healer_type, monster_index, 0, true,
                             healing_death_counts_as_netgame_target(monster_index, monster->aggressor_monster_index),
                             (monster->extra_flags & _monster_is_ambient_life_extra_flag) != 0, false, hunted_game);
    monster = get_monster_data(monster_index);
    if (!monster) return;
    if (healer && (healer->owner_team_index != monster->owner_team_index || hunted_game))
    {
        const monster_definition *definition = get_monster_definition(monster->type);
        const int32_t gain = definition ? abs(definition->experience_point_value) : 0;
        const int32_t experience = healer->experience + gain;
        healer->experience = (uint8_t)(experience > MAXIMUM_EXPERIENCE ? MAXIMUM_EXPERIENCE : experience);
        healer->display_dirty_flags |= _monster_experience_dirty_flag;
    }
    damage_data data;
    initialize_damage_data(&data);
    get_object_point(1, monster->object_index, &data.epicenter);
    kill_monster(monster_index, nullptr, &data, _monster_death_soft);
}

void monster_being_healed(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!definition || !object) return;
    const int16_t identifier = monster->identifier;
    monster_data *healer =
        monster->aggressor_monster_index == NONE ? nullptr : get_monster_data(monster->aggressor_monster_index);
    const int16_t healer_type = healer ? healer->unit_type : (int16_t)NONE;

    const bool hurt = definition->healing_fraction == 0;
    bool over;
    if (hurt)
    {
        over = object->vitality < 0;
        if (!over)
        {
            const int32_t loss = object->maximum_vitality / HEALING_TICKS;
            const int32_t before = object->vitality;
            object->vitality = (short_fixed)(before - loss);
            if (object->vitality < 0) object->vitality = -1;
            if (!(game_->option_flags & _game_option_uses_vux_flag))
                adjust_damage_statistics(healer_type, monster_index, loss < before ? loss : before, false, false,
                                         (monster->extra_flags & _monster_is_ambient_life_extra_flag) != 0, true,
                                         false);
        }
    }
    else if (monster->flags & _monster_healing_cannot_be_stopped_flag)
        over = true;
    else
    {
        const int32_t cap = ((int32_t)definition->healing_fraction * object->maximum_vitality) >> 8;
        over = object->vitality >= cap;
        if (!over)
        {
            const int32_t vitality = object->vitality + cap / HEALING_TICKS;
            object->vitality = (short_fixed)(vitality > cap ? cap : vitality);
        }
    }

    new_internal_projectile_group(monster_index, _internal_projectile_group_healing_effect);
    monster = get_monster_data(monster_index);
    if (!monster || monster->identifier != identifier) return;
    if (!over || monster->attack_timer >= 0) return;
    if (hurt)
    {
        die_of_healing(monster_index, healer, healer_type);
        return;
    }
    set_most_appropriate_monster_action(monster_index);
    monster = get_monster_data(monster_index);
    object = monster ? get_object(monster->object_index) : nullptr;
    if (current_gameplay_version >= 1601 && object && object->shape_ticks_per_frame == 0)
    {
        const int16_t ticks =
            get_shape_sequence_information(object->shape_collection_index, object->shape_sequence_index).ticks_per_frame;
        object->shape_ticks_per_frame = ticks < 1 ? (int16_t)1 : ticks;
    }
}

// ---- special abilities --------------------------------------------------------------------

static const monster_attack_definition *special_ability_attack(const monster_data *monster, int32_t attack_index)
{
    const monster_definition *definition = get_monster_definition(monster->type);
    if (!definition) return nullptr;
    if (attack_index == ARTIFACT_ATTACK_INDEX)
    {
        const artifact_definition *artifact =
            monster->carrying_object_index != NONE ? get_artifact_definition(monster->artifact_index) : nullptr;
        if (!artifact) return &definition->attacks[0];
        VASSERT(artifact->flags & _artifact_overrides_owner_attack_flag,
                "artifact_definition->flags&_artifact_overrides_owner_attack_flag");
        return &artifact->override_attack;
    }
    if (current_gameplay_version >= 1601 && attack_index > definition->number_of_attacks - 1)
        attack_index = definition->number_of_attacks - 1;
    if (attack_index < 0) attack_index = 0;
    if (attack_index >= MAXIMUM_ATTACKS_PER_MONSTER) attack_index = MAXIMUM_ATTACKS_PER_MONSTER - 1;
    return &definition->attacks[attack_index];
}

int32_t get_monster_special_ability_mode(int32_t monster_index, int16_t *prompt_string_list_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return _special_ability_unavailable;
    const int32_t attack_index = choose_monster_attack_index(monster_index, _choose_special_ability_attack_index);
    if (attack_index == NONE) return _special_ability_unavailable;
    const monster_attack_definition *attack = special_ability_attack(monster, attack_index);
    const monster_definition *definition = get_monster_definition(monster->type);
    if (!attack || !definition) return _special_ability_unavailable;
    // The prompt is named whether or not the ability can be used now: the
    // wielded artifact's for its override attack, else the definition's.
    if (prompt_string_list_index)
    {
        const artifact_definition *artifact =
            attack_index == ARTIFACT_ATTACK_INDEX && monster->carrying_object_index != NONE
                ? get_artifact_definition(monster->artifact_index)
                : nullptr;
        *prompt_string_list_index =
            artifact ? artifact->special_ability_string_list_index : definition->special_ability_string_list_index;
    }

    if ((attack->flags & _monster_attack_uses_carried_projectile_flag) && monster->carrying_object_index == NONE)
        return _special_ability_unavailable;
    if (attack->flags & _monster_attack_uses_ammunition_flag)
    {
        if (current_gameplay_version < 1301)
        {
            if (monster->ammunition_count <= 0) return _special_ability_unavailable;
        }
        else if (attack->repetitions >= 0)
        {
            if (monster->ammunition_count <= 0) return _special_ability_unavailable;
        }
        else if (monster->ammunition_count > 0 && !(attack->flags & _monster_attack_is_special_ability_flag))
            return _special_ability_unavailable;
    }
    const int32_t cost = attack->mana_cost;
    if (!(cost < 1 || cost <= monster->mana)) return _special_ability_unavailable;
    if (current_gameplay_version >= 1301 && cost < 0 && monster->mana > cost + definition->maximum_mana)
        return _special_ability_unavailable;
    return (attack->flags & _monster_attack_is_reflexive_flag) ? _special_ability_reflexive
                                                                : _special_ability_needs_target;
}

static bool usable_against_friendlies(const monster_attack_definition *attack)
{
    return (attack->flags & _monster_attack_is_special_ability_flag) &&
           (attack->extra_flags & _monster_attack_can_be_used_against_friendlies_extra_flag);
}

bool special_ability_can_be_used_against_friendlies(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    if (!definition) return false;
    if (current_gameplay_version < 1501)
    {
        for (int32_t i = 0; i < definition->number_of_attacks && i < MAXIMUM_ATTACKS_PER_MONSTER; ++i)
            if (usable_against_friendlies(&definition->attacks[i])) return true;
        return false;
    }
    const int32_t attack_index = choose_monster_attack_index(monster_index, _choose_special_ability_attack_index);
    if (attack_index == NONE) return false;
    const monster_attack_definition *attack = special_ability_attack(monster, attack_index);
    return attack && usable_against_friendlies(attack);
}

void install_monster_hiding_procedures(void)
{
    monster_action_fns[_monster_action_being_healed] = monster_being_healed;
}

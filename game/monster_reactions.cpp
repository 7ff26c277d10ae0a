// Damage reactions: how a unit takes a hit, and propelled units.

#include "monster_reactions.h"

#include "cseries/log.h"
#include "damage.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "local_projectile_groups.h"
#include "local_projectiles.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monster_inventory.h"
#include "monster_life.h"
#include "monster_movement.h"
#include "monster_owners.h"
#include "monster_queries.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "path.h"
#include "players.h"
#include "statistics.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "unit_helpers.h"
#include "vesk_random.h"

namespace {

enum
{
    // Switch flags of the target switch (its own numbering).
    SWITCH_TARGET_ACTIVATE_ADJACENTS = 0x2,
    SWITCH_TARGET_CLOSE_RANGE = 0x4,

    SOUND_CAUSED_FRIENDLY_DEATH = 14,
    CONFUSION_EFFECT_TAG = FOUR_CHARACTER_CODE('c', 'o', 'e', 'f'),
};

// The damage's owner unit when its record still holds the identifier the
// damage began with; null otherwise.
monster_data *living_owner(const damage_data *data)
{
    if (data->owner_monster_index == NONE) return nullptr;
    monster_data *owner = get_monster_data(data->owner_monster_index);
    return owner && owner->identifier == data->owner_monster_identifier ? owner : nullptr;
}

// An attacking unit fumbles its attack.
void break_off_attack(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (monster && monster->action == _monster_action_attacking)
        handle_monster_attack(monster_index, monster->action_permutation, _monster_attack_abort);
}

// The break-off of a hold or a healing: the attack and a deferred order.
void break_off_for_effect(int32_t monster_index)
{
    break_off_attack(monster_index);
    monster_data *monster = get_monster_data(monster_index);
    const int32_t version = current_gameplay_version;
    if (!monster || version < 1301 || !(monster->extra_flags & _monster_has_deferred_movement_command_extra_flag))
        return;
    monster->extra_flags &= ~(uint32_t)_monster_has_deferred_movement_command_extra_flag;
    if (version >= 1601)
        monster->flags &= ~(uint32_t)(_monster_has_valid_target_index_flag | _monster_has_valid_target_location_flag);
    if (version >= 1691) monster->flags &= ~(uint32_t)_monster_has_valid_target_flag;
}

void mark_handled(damage_data *data, int16_t group)
{
    data->flags |= _detonation_projectile_group_handled_by_obstacle_flag;
    data->detonation_projectile_group_type = group;
}

// The shock of `damage` as a 16-bit fraction of the maximum vitality.  A
// maximum of 0 (or less) is all or nothing rather than a division by zero.
int32_t shock_fraction(int32_t damage, int32_t maximum_vitality)
{
    if (maximum_vitality <= 0) return damage > 0 ? 65535 : 0;
    if (damage <= 0) return 0;
    if (damage >= maximum_vitality) return 65535;
    return (int32_t)(((int64_t)damage << 16) / maximum_vitality);
}

// A failed target index is dropped (the missile and mixed classes before
// turning on an attacker).
void drop_failed_target_index(monster_data *monster)
{
    if ((monster->flags & _monster_has_valid_target_index_flag) &&
        (monster->extra_flags & _monster_failed_to_attack_extra_flag) &&
        !(monster->flags & _monster_responding_to_target_command_flag))
    {
        monster->flags &= ~(uint32_t)_monster_has_valid_target_index_flag;
        if (!(monster->flags & _monster_has_valid_target_location_flag))
            monster->flags &= ~(uint32_t)_monster_has_valid_target_flag;
    }
}

// The lowest identifier from -32768 upward that no unit holds.
int16_t free_berserk_identifier(void)
{
    for (int32_t candidate = -32768; candidate < 32768; ++candidate)
    {
        if (candidate == 0) continue;
        bool taken = false;
        for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP && !taken; ++i)
        {
            const monster_data *other = get_monster_data(i);
            taken = other && other->identifier == candidate;
        }
        if (!taken) return (int16_t)candidate;
    }
    return 0;
}

bool is_hunting_game(void) { return game_->scoring == _game_scoring_hunting; }

// Records the damage in the statistics, where its route sends it.
void record_damage_statistics(const damage_data *data, int32_t monster_index, int32_t damage, bool died)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    if (damage < 0 && current_gameplay_version >= 1511) damage = 0;
    const bool netgame = (monster->extra_flags &
                          (_monster_is_netgame_target_extra_flag | _monster_is_hunted_creature_extra_flag)) != 0;
    const bool ambient_life = (monster->extra_flags & _monster_is_ambient_life_extra_flag) != 0;
    switch (route_damage_statistics(monster_index, data->owner_monster_index))
    {
    case _damage_recorded_normally:
        adjust_damage_statistics(data->owner_unit_index, monster_index, damage, died, netgame, ambient_life, true,
                                 false);
        break;
    case _damage_recorded_as_ambient:
        // Game killed in a hunt scores for the hunter's team: from the rules
        // that name owners, the record keeps who dealt the damage (earlier
        // rules named nobody, and no hunt ever scored).
        adjust_damage_statistics(statistics_name_owners_in_play() ? data->owner_unit_index : (int16_t)NONE,
                                 monster_index, damage, died, netgame, true, true, true);
        break;
    case _damage_recorded_as_ambient_without_target:
        adjust_damage_statistics(NONE, monster_index, damage, died, false, true, true, true);
        break;
    default: break;
    }
}

// A charmed unit may change sides.  True when the detonation group is
// cancelled.
bool react_to_charm(const damage_data *data, int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const unit_definition *owner_unit = get_unit_definition(data->owner_unit_index);
    if (!monster || !owner_unit) return false;
    const int32_t version = current_gameplay_version;
    int32_t player = owner_unit->player_index;
    if (player == NONE)
    {
        if (version < 1601) return false;
        const monster_data *owner = living_owner(data);
        if (!owner || owner->owner_player_index == NONE) return false;
        player = owner->owner_player_index;
    }
    if (player == monster->owner_player_index) return false;
    bool changes = false;
    if (version < 1501)
        changes = true;
    else
    {
        if (version >= 1601)
        {
            const unit_definition *own = get_unit_definition(monster->unit_type);
            changes = own && find_unit_definition_for_player(player, own->parent_unit_tag) != NONE;
        }
        for (int32_t i = 0; !changes && i < MAXIMUM_UNIT_DEFINITIONS_PER_MAP; ++i)
        {
            const unit_definition *unit = get_unit_definition(i);
            changes = unit && unit->player_index == player && unit->monster_type == monster->orig_type;
        }
    }
    if (changes) change_monster_owner(monster_index, (int16_t)player, true);
    return version < 1601 || changes;
}

// Confuses a unit that is not confused yet, for a time set by the mana spent
// (or the damage): it drops its target, its waypoints and its path, and shows
// the confusion effect.
void confuse_monster(int32_t monster_index, const damage_data *data, int32_t damage)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster || (monster->extra_flags & _monster_is_confused_extra_flag)) return;
    monster->extra_flags |= _monster_is_confused_extra_flag | _monster_does_not_autotarget_extra_flag;
    monster->extra_flags &= ~(uint32_t)(_monster_failed_to_attack_extra_flag | _monster_ignores_model_collisions_extra_flag |
                                        _monster_chain_lightning_prevention_extra_flag |
                                        _monster_will_use_old_collision_detection_extra_flag);
    if (data->mana_used || current_gameplay_version < 1301)
        monster->confusion_timer = (int16_t)((((int32_t)data->mana_used * 30) >> 8) / 5);
    else
        monster->confusion_timer = (int16_t)((damage * 30) >> 8);
    monster->target_monster_index = NONE;
    monster->flags &= ~(uint32_t)(0x3Fu | FLAG(7) | FLAG(16) | FLAG(23) | FLAG(24) | FLAG(29));
    monster->flags |= _monster_attack_was_aborted_flag;
    monster->waypoint_count = 0;
    delete_path(&monster->path_index);
    // The confusion effect (visual only).
    const object_data *object = get_object(monster->object_index);
    const int32_t type = subgroup_tag_to_definition_index(&local_projectile_group_definitions, CONFUSION_EFFECT_TAG);
    if (!object || type == NONE) return;
    turn_local_projectile_group_off(monster->local_projectile_group_index);
    monster->local_projectile_group_index =
        (int16_t)new_local_projectile_group_on_object((int16_t)type, monster->object_index);
}

// A unit that survives an enemy hit may turn on its attacker.
void turn_on_attacker(int32_t monster_index, int32_t attacker_index, const damage_definition *definition,
                      bool flinches_or_thrown)
{
    monster_data *monster = get_monster_data(monster_index);
    const monster_data *attacker = get_monster_data(attacker_index);
    const monster_definition *type = monster ? get_monster_definition(monster->type) : nullptr;
    const object_data *body = monster ? get_object(monster->object_index) : nullptr;
    const object_data *their_body = attacker ? get_object(attacker->object_index) : nullptr;
    if (!type || !body || !their_body) return;
    const int32_t version = current_gameplay_version;
    const bool long_range = (definition->flags & _damage_is_long_range_flag) != 0;
    const world_point2d here = {body->location.position.x, body->location.position.y};
    const world_point2d there = {their_body->location.position.x, their_body->location.position.y};
    int32_t d = distance2d(&here, &there);
    if ((!long_range && version < 1301) || (monster->flags & _monster_was_stopped_flag)) d = 512;
    const int32_t unit_class = type->monster_class;
    const bool answering_command = (monster->flags & _monster_responding_to_command_flag) != 0;
    const bool answering_target_command = (monster->flags & _monster_responding_to_target_command_flag) != 0;

    if (flinches_or_thrown || monster->action != _monster_action_attacking)
    {
        bool tries = true, retreat = false;
        if (!long_range)
        {
            if (version < 1301)
                retreat = unit_class >= 2 && unit_class <= 6;
            else if (unit_class == _monster_class_melee)
                tries = !answering_command && !(d > type->critical_distance && d > type->activation_distance);
            else if (unit_class == _monster_class_missile)
            {
                drop_failed_target_index(monster);
                retreat = d > type->activation_distance;
            }
            else
                retreat = true;
        }
        else if (monster->flags & _monster_was_stopped_flag)
            tries = false;
        else if (unit_class == _monster_class_missile)
        {
            drop_failed_target_index(monster);
            const bool clumping = (game_->option_flags & (_game_option_uses_vux_flag | _game_option_uses_anticlump_flag)) != 0;
            const bool blast = definition->type == _damage_explosion || definition->type == _damage_explosive_electricity;
            retreat = d > type->activation_distance && (!clumping || !blast);
        }
        else if (unit_class == _monster_class_melee)
        {
            if (d > type->critical_distance)
                tries = false;
            else if (type->hack_flags & _monster_hack_mixes_missile_melee_behaviour_flag)
            {
                if (!answering_command) drop_failed_target_index(monster);
                if (!answering_target_command)
                {
                    const int32_t enemy = linear_distance_to_enemy(monster_index);
                    if ((d < enemy ? d : enemy) > type->activation_distance)
                    {
                        monster->flags |= _monster_needs_to_retreat_flag;
                        retreat = true;
                    }
                }
            }
        }
        else
            retreat = unit_class >= 2 && unit_class <= 6;

        if (tries)
        {
            const int16_t identifier = monster->identifier;
            const uint32_t flags = long_range ? (uint32_t)SWITCH_TARGET_ACTIVATE_ADJACENTS
                                              : (uint32_t)(SWITCH_TARGET_ACTIVATE_ADJACENTS | SWITCH_TARGET_CLOSE_RANGE);
            if (switch_monster_target(monster_index, attacker_index, flags))
            {
                if (!same_unit(monster_index, identifier)) return;
                monster = get_monster_data(monster_index);
                if (unit_class == _monster_class_melee && !long_range)
                    monster->flags |= _monster_target_has_caused_melee_damage_flag;
                if (retreat && !answering_target_command) monster->flags |= _monster_needs_to_retreat_flag;
            }
            if (!same_unit(monster_index, identifier)) return;
            monster = get_monster_data(monster_index);
        }
    }

    // A charging unit that was walking breaks into a run.
    if (version >= 1301 && version <= 1600 && (type->hack_flags & _monster_hack_unit_can_charge_flag) &&
        (monster->action == _monster_action_moving || monster->action == _monster_action_turning) &&
        monster->action_permutation != _monster_action_permutation_running &&
        !(long_range && d >= 512 * (int32_t)type->terrain_costs[10]))
        monster->extra_flags |= _monster_wants_to_run_extra_flag;
}

// The answer to the attacker: a friendly hit makes one of the two speak, a
// kill earns the attacker experience, and a unit that survives an enemy hit
// may turn on its attacker.
void react_to_attacker(const damage_definition *definition, const damage_data *data, int32_t monster_index,
                       int32_t damage, bool died, bool flinches_or_thrown)
{
    monster_data *monster = get_monster_data(monster_index);
    monster_data *attacker = living_owner(data);
    if (!monster || !attacker) return;
    if (!died && (monster->extra_flags & (_monster_is_confused_extra_flag | _monster_is_berserk_extra_flag))) return;
    const int32_t version = current_gameplay_version;
    const int32_t attacker_index = data->owner_monster_index;
    const bool hunted = is_hunting_game() && ((monster->extra_flags | attacker->extra_flags) &
                                              _monster_is_hunted_creature_extra_flag);
    if (attacker->owner_team_index == monster->owner_team_index && !hunted)
    {
        const uint16_t draw = vesk_random();
        if (version >= 1501 && damage < 0) return;
        if (draw & 1)
            play_monster_sound(attacker_index, died ? (int16_t)SOUND_CAUSED_FRIENDLY_DEATH
                                                    : (int16_t)_monster_sound_hit_friendly_unit);
        else if (!(version >= 1501 && monster->action == _monster_action_stoned))
            play_monster_sound(monster_index, _monster_sound_hit_by_friendly_unit);
        return;
    }
    if (died)
    {
        const monster_definition *type = get_monster_definition(monster->type);
        if (type && !(type->flags & _monster_is_inanimate_object_flag))
        {
            play_monster_sound(attacker_index, (type->flags & _monster_is_undead_flag)
                                                   ? (int16_t)_monster_sound_caused_death_of_enemy_undead
                                                   : (int16_t)_monster_sound_caused_enemy_death);
            if ((attacker->extra_flags & _monster_is_berserk_extra_flag) && (vesk_random() & 3))
            {
                const int16_t identifier = attacker->identifier;
                make_monster_taunt(attacker_index);
                attacker = get_monster_data(attacker_index);
                if (!attacker || attacker->identifier != identifier) return;
            }
        }
        int32_t value = type ? type->experience_point_value : 0;
        if (value < 0) value = -value;
        const int32_t experience = attacker->experience + value;
        attacker->experience = (uint8_t)(experience > 255 ? 255 : experience);
        attacker->display_dirty_flags |= _monster_experience_dirty_flag;
        return;
    }
    turn_on_attacker(monster_index, attacker_index, definition, flinches_or_thrown);
}

// Throws a unit at `speed` away from the hit (away from its attacker, when
// that stands close).
void throw_monster(int32_t monster_index, const damage_data *data, int32_t speed, bool was_propelled)
{
    monster_data *monster = get_monster_data(monster_index);
    object_data *body = monster ? get_object(monster->object_index) : nullptr;
    if (!body) return;
    world_point2d source = {data->epicenter.x, data->epicenter.y};
    const world_point2d position = {body->location.position.x, body->location.position.y};
    if (const monster_data *owner = living_owner(data))
    {
        const object_data *their_body = get_object(owner->object_index);
        const int32_t reach = 2 * body->radius;
        const int32_t dx = position.x - source.x, dy = position.y - source.y;
        if (their_body && dx <= reach && dx >= -reach && dy <= reach && dy >= -reach)
        {
            source = {their_body->location.position.x, their_body->location.position.y};
            const angle bearing = arctangent(source.x - position.x, source.y - position.y);
            const int32_t turn = (int32_t)bearing - (int32_t)body->location.yaw;
            if (turn >= -16383 && turn <= 16383) body->location.yaw = bearing;
            obstacle_facts_changed(monster->object_index);
        }
    }
    const int16_t identifier = monster->identifier;
    set_monster_action(monster_index, _monster_action_being_propelled, 0);
    if (!same_unit(monster_index, identifier)) return;
    monster = get_monster_data(monster_index);
    monster->propelled_yaw = arctangent(position.x - source.x, position.y - source.y);
    if (was_propelled)
    {
        const int32_t kept = monster->propulsion_speed + monster->propulsion_speed / 4;
        if (kept >= (int16_t)(PROPULSION_REHIT_NUMERATOR / speed)) return;
    }
    // Only a seed for the next plan, which replaces it.
    auto destination = [](world_distance unit, world_distance from, int32_t size) -> world_distance {
        if (from > unit) return from - unit < 0 ? 0 : from - unit;
        if (from < unit) return 2 * unit - from > size ? size : 2 * unit - from;
        return unit;
    };
    monster->path_destination.x = destination(position.x, source.x, mesh_width);
    monster->path_destination.y = destination(position.y, source.y, mesh_height);
    monster->flags &= ~(uint32_t)_monster_evading_obstacle_flag;
    monster->propelled_timer = (int16_t)(((int64_t)speed * PROPELLING_TIMER) >> 16);
    monster->propulsion_speed = (int16_t)(((int64_t)speed * PROPULSION_SPEED) >> 16);
}

int16_t death_type_for(const damage_definition *definition, const monster_data *monster,
                       const monster_definition *type, int32_t shock)
{
    int16_t death = shock > type->hard_death_system_shock ? _monster_death_hard : _monster_death_soft;
    if (definition->type == _damage_fire && type->burning_death_projectile_group_type != NONE)
        death = _monster_death_fire;
    if (definition->type == _damage_gas) death = _monster_death_soft;
    if ((definition->type == _damage_explosion || definition->type == _damage_magical ||
         definition->type == _damage_explosive_electricity || monster->action == _monster_action_stoned) &&
        !(monster->extra_flags & _monster_immobile_extra_flag))
        death = _monster_death_hard;
    return death;
}

} // namespace

int32_t monster_throw_speed(int32_t damage, int32_t velocity, int32_t damage_type, uint16_t damage_to_propulsion)
{
    double f;
    if (damage_type == _damage_kinetic || damage_type == _damage_steel_slashing)
        f = velocity < 6 ? (double)velocity : 6.0;
    else
    {
        f = (double)velocity / 64.0;
        if (f > 1.0) f = 1.0;
    }
    const double s = (double)damage * f * (0.75 * (double)damage_to_propulsion / 65535.0) / 256.0 * 65536.0;
    if (s >= 2147483647.0) return INT32_MAX;
    if (s <= -2147483648.0) return INT32_MIN;
    return (int32_t)s;
}

// One hit on a unit as the steps of its reaction share it.  The unit is
// looked up again after anything that may remove or change it.
struct damage_reaction
{
    const damage_definition *definition;
    damage_data *data;
    int32_t monster_index;
    int16_t identifier;
    monster_data *monster;
    object_data *body;
    const monster_definition *type;
    int32_t version;
    int32_t damage;
    bool group_chosen;
    int16_t group;
    int32_t shock;
    bool died;
    int32_t result;
    bool cancelled;
    bool flinches;
    bool thrown;
};

// Holding, healing and stoning replace the damage.  False when the hit is
// handled (or the unit gone).
static bool react_to_special_damage(damage_reaction &hit)
{
    switch (hit.definition->type)
    {
    // Held: the hold lasts in proportion to the damage.
    case _damage_hold:
        if (hit.monster->action == _monster_action_being_held) return false;
        break_off_for_effect(hit.monster_index);
        if (!same_unit(hit.monster_index, hit.identifier)) return false;
        set_monster_action(hit.monster_index, _monster_action_being_held, -1);
        if (!same_unit(hit.monster_index, hit.identifier)) return false;
        get_monster_data(hit.monster_index)->attack_timer = (int16_t)((hit.damage * 30) >> 8);
        mark_handled(hit.data, NONE);
        return false;
    // Healing: from a living unit of the same team when it is negative.
    case _damage_healing:
    {
        if (hit.damage < 0)
        {
            const monster_data *healer = living_owner(hit.data);
            if (!healer || healer->owner_team_index != hit.monster->owner_team_index) return false;
        }
        if (hit.version == 1695 && (hit.type->flags & _monster_cannot_be_healed_flag)) return false;
        break_off_for_effect(hit.monster_index);
        if (!same_unit(hit.monster_index, hit.identifier)) return false;
        set_monster_action(hit.monster_index, _monster_action_being_healed, -1);
        mark_handled(hit.data, NONE);
        return false;
    }
    // Stoning, unless the unit is immune to it.
    case _damage_stoning:
        if (hit.monster->action == _monster_action_stoned ||
            get_monster_effect_modifier(hit.monster_index, _effect_modifier_stone) == 0)
            return false;
        set_monster_action(hit.monster_index, _monster_action_stoned, _monster_action_permutation_turning_to_stone);
        mark_handled(hit.data, NONE);
        return false;
    default: break;
    }
    return true;
}

// A unit blocking its attacker blocks the hit (or halves what cannot be
// blocked); stone, cooperative play and trading change the damage.  False
// when the hit is handled (or the unit gone).
static bool weigh_damage(damage_reaction &hit)
{
    if (hit.monster->action == _monster_action_blocking && hit.data->owner_monster_index != NONE &&
        hit.monster->target_monster_index == hit.data->owner_monster_index)
    {
        hit.group_chosen = true;
        hit.group = hit.type->blocked_impact_projectile_group_type;
        if (!(hit.definition->flags & _damage_cannot_be_blocked_flag))
        {
            mark_handled(hit.data, hit.group);
            return false;
        }
        hit.damage /= 2;
    }
    // A hit ends magical invisibility.
    if (hit.monster->extra_flags & _monster_is_invisible_extra_flag)
        set_monster_magical_invisibility(hit.monster_index, false);
    // A stoned unit takes double damage and shatters a little; one that turns to
    // stone when killed starts turning at a quarter of its vitality.
    if (hit.version < 1301 || !(hit.monster->extra_flags & _monster_immobile_extra_flag))
    {
        if (hit.monster->action == _monster_action_stoned)
        {
            hit.damage *= 2;
            new_internal_projectile_group(hit.monster_index, _internal_projectile_group_stone_impact_effect);
            if (!same_unit(hit.monster_index, hit.identifier)) return false;
            hit.monster = get_monster_data(hit.monster_index);
            hit.body = get_object(hit.monster->object_index);
            if (!hit.body) return false;
        }
        else if ((hit.type->flags & _monster_turns_to_stone_when_killed_flag) &&
                 hit.body->vitality < hit.body->maximum_vitality / 4)
        {
            set_monster_action(hit.monster_index, _monster_action_stoned, _monster_action_permutation_turning_to_stone);
            if (!same_unit(hit.monster_index, hit.identifier)) return false;
            hit.monster = get_monster_data(hit.monster_index);
        }
    }
    // Cooperative games spare the human players' units on the easy levels.
    if (game_->option_flags & _game_option_cooperative_flag)
    {
        const player_data *player =
            hit.monster->owner_player_index != NONE ? get_player_data(hit.monster->owner_player_index) : nullptr;
        if (player && player->type == _player_is_human && !(hit.monster->flags & _monster_ignores_user_commands_flag))
        {
            if (game_->difficulty_level == 0) hit.damage /= 2;
            else if (game_->difficulty_level == 1) hit.damage = hit.damage * 3 / 4;
        }
    }
    // A unit being traded takes no damage.
    if ((hit.monster->extra_flags & _monster_is_being_traded_extra_flag) && hit.damage > 0) hit.damage = 0;
    return true;
}

// The damage lands: paralysis, absorption, charm and confusion follow from it.
// False when the unit is gone.
static bool apply_damage(damage_reaction &hit)
{
    hit.died = false;
    int32_t left = 0;
    hit.result = damage_object(hit.monster->object_index, hit.definition, hit.damage, hit.type->absorbed_fraction,
                               &hit.died, &left);
    hit.damage = left;
    if ((hit.result & _damage_result_paralysis_flag) &&
        !(hit.monster->action >= _monster_action_being_healed && hit.monster->action <= _monster_action_paralyzed))
    {
        set_monster_action(hit.monster_index, _monster_action_paralyzed, _monster_action_permutation_being_paralyzed);
        if (!same_unit(hit.monster_index, hit.identifier)) return false;
        hit.monster = get_monster_data(hit.monster_index);
    }
    if (hit.result & _damage_result_absorbed_flag)
    {
        hit.group_chosen = true;
        hit.group = hit.type->absorbed_impact_projectile_group_type;
    }
    // Charm may cancel the impact and give the unit a new owner.
    hit.cancelled = false;
    if ((hit.result & _damage_result_charm_flag) && hit.data->owner_unit_index != NONE)
    {
        hit.cancelled = react_to_charm(hit.data, hit.monster_index);
        hit.monster = get_monster_data(hit.monster_index);
        if (!hit.monster) return false;
        hit.identifier = hit.monster->identifier; // a change of owner may give a new one
    }
    // Confusion.
    if (hit.result & _damage_result_confusion_flag)
    {
        confuse_monster(hit.monster_index, hit.data, hit.damage);
        hit.monster = get_monster_data(hit.monster_index);
    }
    return true;
}

// Whether the unit flinches or is thrown: by the shock, unless its state or
// an attack that cannot be aborted forbids it.  False when the unit is gone.
static bool decide_flinch_or_throw(damage_reaction &hit)
{
    const bool excluded = hit.monster->action == _monster_action_paralyzed ||
                          hit.monster->action == _monster_action_being_held ||
                          hit.monster->action == _monster_action_stoned ||
                          (hit.damage == 0 && !(hit.result & _damage_result_absorbed_flag)) ||
                          (hit.monster->action == _monster_action_being_healed &&
                           (hit.monster->flags & _monster_healing_cannot_be_stopped_flag)) ||
                          (hit.definition->flags & _damage_does_not_make_monsters_flinch_flag);
    const bool shocked = (hit.result & _damage_result_always_shocked_flag) != 0;
    hit.flinches = !excluded && (hit.shock >= hit.type->flinch_system_shock || shocked);
    const bool pushing_type = hit.definition->type == _damage_explosion || hit.definition->type == _damage_magical ||
                              hit.definition->type == _damage_kinetic ||
                              hit.definition->type == _damage_steel_slashing ||
                              hit.definition->type == _damage_explosive_electricity;
    hit.thrown = !excluded && (hit.type->flags & _monster_can_be_propelled_flag) && pushing_type &&
                 (hit.shock >= hit.type->propelled_system_shock || shocked);
    if (hit.monster->action == _monster_action_attacking && hit.monster->action_permutation != -1)
    {
        const monster_attack_definition *attack =
            get_monster_attack_definition(hit.monster_index, hit.monster->action_permutation);
        if ((attack && (attack->flags & _monster_attack_cannot_be_aborted_flag)) ||
            (hit.definition->flags & _damage_does_not_interrupt_events_flag))
            hit.flinches = hit.thrown = false;
        else if (hit.flinches || hit.thrown)
        {
            break_off_attack(hit.monster_index);
            if (!same_unit(hit.monster_index, hit.identifier)) return false;
            hit.monster = get_monster_data(hit.monster_index);
        }
    }
    return true;
}

// A great shock or low vitality makes a unit berserk: a new identifier, no
// target, a taunt.  False when the unit is gone.
static bool go_berserk(damage_reaction &hit)
{
    if (!(hit.monster->extra_flags & _monster_is_berserk_extra_flag))
    {
        hit.body = get_object(hit.monster->object_index);
        const int32_t maximum = hit.body ? hit.body->maximum_vitality : 0;
        const bool by_shock = hit.type->berserk_system_shock != 0 && hit.shock > hit.type->berserk_system_shock;
        const bool by_vitality = hit.type->berserk_vitality != 0 && maximum > 0 && hit.body &&
                                 (((int64_t)hit.body->vitality << 8) / maximum) < hit.type->berserk_vitality;
        if (by_shock || by_vitality)
        {
            const int16_t berserk_identifier = free_berserk_identifier();
            set_datum_identifier(get_monster_array(), hit.monster_index, berserk_identifier);
            hit.monster = get_monster_data(hit.monster_index);
            hit.identifier = hit.monster->identifier;
            hit.monster->extra_flags |= _monster_is_berserk_extra_flag;
            hit.monster->target_monster_index = NONE;
            hit.monster->flags &=
                ~(uint32_t)(_monster_has_valid_target_flag | _monster_responding_to_command_flag |
                            _monster_responding_to_target_command_flag | _monster_has_valid_target_index_flag |
                            _monster_will_use_special_ability_flag | _monster_is_using_special_ability_flag |
                            _monster_target_has_caused_melee_damage_flag);
            if (hit.version >= 1701) hit.monster->flags &= ~(uint32_t)_monster_was_stopped_flag;
            make_monster_taunt(hit.monster_index);
            if (!same_unit(hit.monster_index, hit.identifier)) return false;
            hit.monster = get_monster_data(hit.monster_index);
        }
    }
    return true;
}

// The unit answers its attacker, flinches or is thrown, or dies; the impact
// shows unless charm cancelled it.
static void finish_reaction(damage_reaction &hit, bool was_propelled)
{
    // The unit answers its attacker; the statistics record the hit.
    react_to_attacker(hit.definition, hit.data, hit.monster_index, hit.damage, hit.died, hit.flinches || hit.thrown);
    if (!same_unit(hit.monster_index, hit.identifier)) return;
    record_damage_statistics(hit.data, hit.monster_index, hit.damage, hit.died);
    if (!same_unit(hit.monster_index, hit.identifier)) return;
    hit.monster = get_monster_data(hit.monster_index);

    // A flinch, or a throw at the speed the damage gives.
    if (!hit.died && (hit.flinches || hit.thrown))
    {
        const int32_t speed = hit.thrown ? monster_throw_speed(hit.damage, hit.data->velocity, hit.definition->type,
                                                               (uint16_t)hit.type->damage_to_propulsion)
                                         : 0;
        if (speed > 0) throw_monster(hit.monster_index, hit.data, speed, was_propelled);
        else set_monster_action(hit.monster_index, _monster_action_taking_damage, 0);
        if (!same_unit(hit.monster_index, hit.identifier)) return;
        hit.monster = get_monster_data(hit.monster_index);
    }
    // Death.
    if (hit.died)
        kill_monster(hit.monster_index, hit.definition, hit.data,
                     death_type_for(hit.definition, hit.monster, hit.type, hit.shock));
    // The impact's projectile group, unless charm cancelled it; none shows
    // for a death or for a hit that did nothing.
    if (hit.group_chosen && !hit.cancelled)
    {
        const bool did_nothing = hit.damage == 0 && !(hit.result & _damage_result_absorbed_flag);
        mark_handled(hit.data, hit.died || did_nothing ? (int16_t)NONE : hit.group);
    }
}

void accelerate_monster(const damage_definition *definition, damage_data *data, int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster || !definition || !data) return;
    object_data *body = get_object(monster->object_index);
    const monster_definition *type = get_monster_definition(monster->type);
    if (!body || !type) return;
    const bool was_propelled = monster->action == _monster_action_being_propelled;

    // Reactions re-enter the unit layer: only the unit hit goes on.
    damage_reaction hit = {};
    hit.definition = definition;
    hit.data = data;
    hit.monster_index = monster_index;
    hit.identifier = monster->identifier;
    hit.monster = monster;
    hit.body = body;
    hit.type = type;
    hit.version = current_gameplay_version;
    hit.damage = data->damage;
    hit.group = NONE;

    // The attacker is remembered.
    monster->aggressor_monster_index = data->owner_monster_index;
    if (!react_to_special_damage(hit)) return;

    // Slashing shows the unit's melee impact.
    if (definition->type == _damage_steel_slashing || definition->type == _damage_claws_slashing)
    {
        hit.group_chosen = true;
        hit.group = type->melee_impact_projectile_group_type;
    }
    hit.shock = shock_fraction(hit.damage, hit.body->maximum_vitality);
    if (!weigh_damage(hit) || !apply_damage(hit) || !decide_flinch_or_throw(hit) || !go_berserk(hit)) return;
    finish_reaction(hit, was_propelled);
}

void monster_being_propelled(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    object_data *body = monster ? get_object(monster->object_index) : nullptr;
    if (!body) return;
    const int16_t identifier = monster->identifier;
    const int32_t speed = monster->propulsion_speed;
    body->location.velocity.i = (world_distance)((cosine_rounded(monster->propelled_yaw) * speed) >> 14);
    body->location.velocity.j = (world_distance)((sine_rounded(monster->propelled_yaw) * speed) >> 14);
    body->location.velocity.k = 0;
    monster->propulsion_speed = (int16_t)(speed > 0 ? speed - 1 : 0);
    const int32_t moved = move_monster_object(monster->object_index);
    if (!same_unit(monster_index, identifier)) return;
    monster = get_monster_data(monster_index);
    if (monster->propelled_timer < 1)
    {
        set_most_appropriate_monster_action(monster_index);
        if (!same_unit(monster_index, identifier)) return;
        monster = get_monster_data(monster_index);
        monster->propulsion_speed = 0;
        if (monster->flags & _monster_wants_to_pick_up_object_flag) monster->flags |= _monster_needs_new_path_flag;
        unit_obstacle_facts_changed(monster);
    }
    else if (monster->propulsion_speed != 0 &&
             (moved & (_move_struck_object_flag | _move_struck_cell_flag | _move_struck_edge_of_mesh_flag)))
    {
        monster->propulsion_speed = 0;
        set_monster_action(monster_index, _monster_action_taking_damage, 0);
        if (!same_unit(monster_index, identifier)) return;
        monster = get_monster_data(monster_index);
        if (monster->flags & _monster_wants_to_pick_up_object_flag) monster->flags |= _monster_needs_new_path_flag;
        unit_obstacle_facts_changed(monster);
    }
    monster->propelled_timer = (int16_t)(monster->propelled_timer - 1);
}

int32_t route_damage_statistics(int32_t monster_index, int32_t owner_monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return _damage_not_recorded;
    const int32_t version = current_gameplay_version;
    const bool netgame = (monster->extra_flags &
                          (_monster_is_netgame_target_extra_flag | _monster_is_hunted_creature_extra_flag)) != 0;
    const bool ignores = (monster->flags & _monster_ignores_user_commands_flag) != 0;
    if (version <= 1300 || (version >= 1690 && version <= 1700))
    {
        if (ignores && !netgame) return _damage_not_recorded;
        if (version == 1300) return _damage_recorded_normally;
    }
    const bool counts_as_ambient =
        ignores && (monster->extra_flags & _monster_has_no_visibility_extra_flag) &&
        (!netgame || (game_->scoring != _game_scoring_assassination && game_->scoring != _game_scoring_hunting));
    if (is_hunting_game())
    {
        const monster_data *owner = owner_monster_index != NONE ? get_monster_data(owner_monster_index) : nullptr;
        if (owner && (owner->extra_flags & _monster_is_hunted_creature_extra_flag))
            return _damage_recorded_as_ambient_without_target;
        if (version <= 1720 && owner_monster_index == NONE) return _damage_recorded_as_ambient;
    }
    return counts_as_ambient ? _damage_recorded_as_ambient : _damage_recorded_normally;
}

void install_monster_reaction_procedures(void)
{
    monster_action_fns[_monster_action_being_propelled] = monster_being_propelled;
}

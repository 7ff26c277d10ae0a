// Unit control ('ctrl').  The steps run in a fixed order that films depend
// on: the marker stage on the raw 'subj' numbers (heights, calling in,
// hiding), then the unit stage on unit indexes.  Every unit is looked up
// again before each change, because a change (a gift, a deletion, a death)
// may free a slot the list still names.

#include "unit_control_action_proc.h"

#include <cstring>

#include "action_proc_helpers.h"
#include "cseries/tags.h"
#include "damage.h"
#include "game_sounds.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "markers.h"
#include "mesh.h"
#include "monster_definitions.h"
#include "monster_hiding.h"
#include "monster_inventory.h"
#include "monster_life.h"
#include "monster_lists.h"
#include "monster_owners.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "projectiles.h"
#include "script_math.h"
#include "statistics.h"
#include "tag_files/definitions.h"
#include "vesk_random.h"
#include "world_knot_action_procs.h"

enum
{
    MAXIMUM_CONTROLLED_UNITS = 400,
    CONTROL_KILL_VELOCITY = 25,
    GHOST_TRANSFER_PERIOD = 30,
};

static constexpr tag NULL_SUBGROUP = FOUR_CHARACTER_CODE('n', 'u', 'l', 'l');

// A switch: a flag entry carrying a byte.  False when absent or empty (the
// property is left alone); `on` gets whether the byte is non-zero.
static bool get_switch(int32_t action_index, field_tag name, bool *on)
{
    uint8_t value;
    if (!get_indexed_byte_parameter(action_index, name, _parameter_flag, &value, 0)) return false;
    *on = value != 0;
    return true;
}

static bool get_long(int32_t action_index, field_tag name, int16_t type, int32_t *value, int32_t index = 0)
{
    return get_indexed_long_integer_parameter(action_index, name, type, value, index);
}

static int32_t minimum32(int32_t a, int32_t b) { return a < b ? a : b; }
static int32_t maximum32(int32_t a, int32_t b) { return a > b ? a : b; }

// ---- flag masks ------------------------------------------------------------------------

struct control_masks
{
    uint32_t mask, set, extra_mask, extra_set;
};

// The switches that map to one bit each, in the order their masks are built.
struct control_switch
{
    field_tag name;
    bool extra; // a bit of extra_flags, else of flags
    uint32_t bit;
    int32_t above_version; // read only above this gameplay version
};
static constexpr control_switch control_switches[] = {
    {field('u', 's', 'e', 'r'), false, _monster_has_received_user_command_bit, 0},
    {field('d', 'n', 'a', 't'), true, _monster_does_not_autotarget_extra_bit, 0},
    {field('c', 'n', 'b', 'a'), true, _monster_cannot_be_autotargeted_extra_bit, 0},
    {field('n', 'g', 't', 'f'), true, _monster_is_netgame_target_extra_bit, 1800},
    {field('h', 'd', 'c', 'f'), true, _monster_is_hunted_creature_extra_bit, 1800},
    {field('m', 'a', 'm', 'b'), true, _monster_is_ambient_life_extra_bit, 1800},
};

static control_masks build_masks(int32_t action_index)
{
    control_masks masks = {0, 0, 0, 0};
    for (const control_switch &entry : control_switches)
    {
        bool on;
        if (current_gameplay_version <= entry.above_version || !get_switch(action_index, entry.name, &on)) continue;
        uint32_t *mask = entry.extra ? &masks.extra_mask : &masks.mask;
        uint32_t *set = entry.extra ? &masks.extra_set : &masks.set;
        *mask |= FLAG(entry.bit);
        if (on) *set |= FLAG(entry.bit);
    }
    bool obeys_not;
    if (get_switch(action_index, field('i', 'g', 'n', 'o'), &obeys_not))
    {
        masks.mask |= _monster_ignores_user_commands_flag;
        if (obeys_not)
            masks.set |= _monster_ignores_user_commands_flag;
        else
        {
            // A unit that obeys again sees again and, unless this action says
            // otherwise, autotargets again.
            masks.extra_mask |= _monster_has_no_visibility_extra_flag;
            if (current_gameplay_version > 1300 && !(masks.extra_set & _monster_does_not_autotarget_extra_flag))
                masks.extra_mask |= _monster_does_not_autotarget_extra_flag;
        }
    }
    return masks;
}

// ---- the marker stage ---------------------------------------------------------------------

// Raises the markers named by the subject numbers; the height over the mesh
// the last one gives (from 1301), else NONE.
static int32_t raise_markers(int32_t action_index, const int16_t *subjects, int32_t subject_count)
{
    int32_t first;
    if (subject_count == 0 || !get_long(action_index, field('h', 'e', 'i', 'g'), _parameter_world_distance, &first))
        return NONE;
    map_action_parameter parameter;
    get_map_action_parameter(&parameter, action_index, 0, field('h', 'e', 'i', 'g'), _parameter_world_distance);
    int32_t second = first;
    if (parameter.count >= 2) get_long(action_index, field('h', 'e', 'i', 'g'), _parameter_world_distance, &second, 1);
    int32_t height_over_mesh = NONE;
    for (int32_t i = 0; i < subject_count; i++)
    {
        marker_data *marker = get_marker_by_identifier(_marker_monster, subjects[i]);
        if (!marker) continue;
        int32_t dz = first;
        if (second != first) dz = add32_wrap(first, rem32_guarded(vesk_random(), add32_wrap(second, -first)));
        marker->location.position.z = add32_wrap(marker->location.position.z, dz);
        marker->location.height = to_i16(add32_wrap(marker->location.height, dz));
        if (current_gameplay_version > 1300)
        {
            const world_point2d at = {marker->location.position.x, marker->location.position.y};
            height_over_mesh = to_i16(marker->location.position.z) - get_mesh_height(&at, _mesh_surface_height);
        }
    }
    return height_over_mesh;
}

// The entrance or exit kind the flags name; 'fade' counts for entrances only
// above 1510.
static int16_t entrance_kind(int32_t action_index, bool entrance)
{
    int16_t kind = _monster_visibility_mode_none;
    if (has_flag(action_index, field('m', 'o', 'e', 'n'))) kind = _monster_visibility_mode_projectile_group;
    if (has_flag(action_index, field('d', 'r', 'u', 'n'))) kind = _monster_visibility_mode_teleport;
    if (has_flag(action_index, field('t', 'a', 'i', 'n'))) kind = _monster_visibility_mode_tain;
    if (has_flag(action_index, field('f', 'a', 'd', 'e')) && (!entrance || current_gameplay_version > 1510))
        kind = _monster_visibility_mode_fade;
    return kind;
}

static void call_in_units(int32_t action_index, const int16_t *subjects, int32_t subject_count,
                          int32_t height_over_mesh)
{
    const int16_t kind = entrance_kind(action_index, true);
    const bool reinforcements = has_flag(action_index, field('r', 'e', 'i', 'n'));
    for (int32_t i = 0; i < subject_count; i++)
    {
        monster_data *monster = get_monster_data(make_monster_visible(subjects[i], kind));
        if (!monster) continue;
        if (height_over_mesh != NONE) monster->height_over_mesh = to_i16(height_over_mesh);
        if (reinforcements && monster->owner_team_index == local_player_team_index)
            queue_game_sound(_game_sound_new_units_received);
    }
}

// ---- the unit stage -------------------------------------------------------------------------

static void give_objects(int32_t action_index, const int16_t *units, int32_t unit_count)
{
    int16_t identifiers[MAXIMUM_CONTROLLED_UNITS];
    const int32_t count = get_combined_map_action_parameter(action_index, field('p', 'r', 'o', 'j'),
                                                            _parameter_object_identifier, identifiers,
                                                            MAXIMUM_CONTROLLED_UNITS);
    for (int32_t i = 0; i < count && i < unit_count; i++)
    {
        const int32_t object_count = get_object_count();
        for (int32_t object_index = 0; object_index < object_count; object_index++)
        {
            const object_data *object = get_object(object_index);
            if (!object || object->identifier != identifiers[i]) continue;
            if (!give_object_to_monster(units[i], object_index))
                map_action_debug(action_index, "couldn't give object #%d to monster #%d", identifiers[i], units[i]);
            break;
        }
    }
}

// Sets `flags` and `extra_flags`; above 1600 a change of ignores-user-commands
// re-derives the unit's type.
static void change_unit_flags(int32_t unit_index, uint32_t clear, uint32_t set, uint32_t extra_clear,
                              uint32_t extra_set)
{
    monster_data *monster = get_monster_data(unit_index);
    if (!monster) return;
    const uint32_t old_flags = monster->flags;
    monster->flags = (monster->flags & ~clear) | set;
    monster->extra_flags = (monster->extra_flags & ~extra_clear) | extra_set;
    unit_obstacle_facts_changed(monster);
    if (current_gameplay_version > 1600 && ((old_flags ^ monster->flags) & _monster_ignores_user_commands_flag))
        monster_player_control_changed(unit_index);
}

static void hold_unit(int32_t unit_index, bool held)
{
    monster_data *monster = get_monster_data(unit_index);
    if (!monster) return;
    if (!held)
    {
        monster->extra_flags &= ~_monster_immobile_extra_flag;
        monster->action = _monster_action_idle;
        unit_obstacle_facts_changed(monster);
        return;
    }
    monster->extra_flags |= _monster_immobile_extra_flag;
    monster->action = _monster_action_stoned;
    unit_obstacle_facts_changed(monster);
    monster->action_permutation = _monster_action_permutation_stoned;
    const monster_definition *definition = get_monster_definition(monster->type);
    if (definition)
        set_object_shape(monster->object_index, definition->sequence_indexes[_monster_sequence_idle], 256,
                         _transfer_mode_none, 0, _random_sequence_frame_flag | _random_sequence_phase_flag, 0);
}

// 'hefr': health becomes a fraction of the maximum, drawn between two values
// (one draw per unit when the second is above the first).
static void set_health_fractions(int32_t action_index, const int16_t *units, int32_t unit_count)
{
    int32_t first, second;
    if (!get_long(action_index, field('h', 'e', 'f', 'r'), _parameter_fixed, &first)) return;
    int32_t delta = 0;
    if (get_long(action_index, field('h', 'e', 'f', 'r'), _parameter_fixed, &second, 1))
        delta = add32_wrap(second, -first);
    const int32_t lower = asr32(first, 8);
    delta = asr32(delta, 8);
    for (int32_t i = 0; i < unit_count; i++)
    {
        const monster_data *monster = get_monster_data(units[i]);
        if (!monster) continue;
        int64_t r = 0;
        if (delta > 0) r = asr64((int64_t)(vesk_random() & 0xFFFF) * delta, 16);
        object_data *object = get_object(monster->object_index);
        if (object) object->vitality = to_i16((int32_t)asr64((r + lower) * object->maximum_vitality, 8));
    }
}

// 'swit': the unit carries the first held dormant projectile of the
// subgroup, or nothing for 'null'.
static void switch_carried_objects(int32_t action_index, tag subgroup, const int16_t *units, int32_t unit_count)
{
    for (int32_t i = 0; i < unit_count; i++)
    {
        monster_data *monster = get_monster_data(units[i]);
        if (!monster || monster->held_object_count == 0) continue;
        int32_t carried = NONE;
        bool found = subgroup == NULL_SUBGROUP;
        const int32_t held = minimum32(monster->held_object_count, MAXIMUM_HELD_OBJECTS_PER_MONSTER);
        for (int32_t slot = 0; slot < held && !found; slot++)
        {
            const object_data *object = get_object(monster->held_object_indexes[slot]);
            if (object && object->owner == _object_is_dormant_projectile &&
                get_definition_subgroup(get_projectile_definition_group(), object->owner_index) == subgroup)
            {
                carried = monster->held_object_indexes[slot];
                found = true;
            }
        }
        if (!found) continue;
        monster->carrying_object_index = (int16_t)carried;
        switch_monster_artifact(units[i]);
        map_action_debug(action_index, "switching to '%s' projectile for monster %d", tag_to_string(subgroup),
                         units[i]);
    }
}

// Steps above 1300 before the overhead text: 'swit', 'amm+', and above 1510
// 'exp+' and 'chr+', above 1600 'drop'.
static void change_inventories(int32_t action_index, const int16_t *units, int32_t unit_count)
{
    int32_t value;
    if (get_long(action_index, field('s', 'w', 'i', 't'), _parameter_field_name, &value))
        switch_carried_objects(action_index, (tag)value, units, unit_count);
    if (get_long(action_index, field('a', 'm', 'm', '+'), _parameter_integer, &value))
        for (int32_t i = 0; i < unit_count; i++)
            if (monster_data *monster = get_monster_data(units[i]))
            {
                const int8_t sum = (int8_t)(uint8_t)add32_wrap(value, monster->ammunition_count);
                monster->ammunition_count = sum < 0 ? 0 : sum;
                monster->display_dirty_flags |= _monster_ammunition_dirty_flag;
            }
    if (current_gameplay_version > 1510)
    {
        if (get_long(action_index, field('e', 'x', 'p', '+'), _parameter_integer, &value))
            for (int32_t i = 0; i < unit_count; i++)
                if (monster_data *monster = get_monster_data(units[i]))
                {
                    const int64_t experience = (int64_t)monster->experience + value;
                    monster->experience = (uint8_t)(experience < 0 ? 0 : experience > 255 ? 255 : experience);
                    monster->display_dirty_flags |= _monster_experience_dirty_flag;
                }
        if (get_long(action_index, field('c', 'h', 'r', '+'), _parameter_integer, &value))
            for (int32_t i = 0; i < unit_count; i++)
            {
                monster_data *monster = get_monster_data(units[i]);
                if (!monster || monster->carrying_object_index == NONE || monster->artifact_index == NONE) continue;
                if (object_data *carried = get_object(monster->carrying_object_index))
                {
                    const int32_t charges = add32_wrap(carried->state, value);
                    carried->state = to_i16(charges < 0 ? 0 : charges);
                }
                monster->display_dirty_flags |= _monster_items_dirty_flag;
            }
    }
    if (current_gameplay_version > 1600 && has_flag(action_index, field('d', 'r', 'o', 'p')))
        for (int32_t i = 0; i < unit_count; i++)
        {
            monster_data *monster = get_monster_data(units[i]);
            if (!monster || monster->carrying_object_index == NONE || monster->held_object_count <= 0) continue;
            const int32_t held = minimum32(monster->held_object_count, MAXIMUM_HELD_OBJECTS_PER_MONSTER);
            for (int32_t slot = 0; slot < held; slot++)
                if (monster->held_object_indexes[slot] == monster->carrying_object_index)
                {
                    // Before 1721 the list position stands where the slot belongs;
                    // the drop refuses a slot the unit does not have.
                    monster_command_drop_projectile(monster, units[i], current_gameplay_version >= 1721 ? slot : i);
                    break;
                }
        }
}

// Steps above 1300 after the overhead text: 'mana', 'lhfr', 'rhfr'.
static void change_mana_and_health(int32_t action_index, const int16_t *units, int32_t unit_count)
{
    int32_t value;
    if (get_long(action_index, field('m', 'a', 'n', 'a'), _parameter_fixed, &value))
    {
        // The clamped value carries on to the next unit: a unit never gets
        // more than an earlier unit's maximum.
        int32_t mana = value > 0 ? asr32(value, 8) : 0;
        for (int32_t i = 0; i < unit_count; i++)
        {
            monster_data *monster = get_monster_data(units[i]);
            const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
            if (!definition || definition->maximum_mana == 0) continue;
            mana = minimum32(mana, definition->maximum_mana);
            if (mana < 0) mana = 0;
            monster->mana = to_i16(mana);
        }
    }
    for (const bool raise : {false, true})
    {
        if (!get_long(action_index, raise ? field('r', 'h', 'f', 'r') : field('l', 'h', 'f', 'r'), _parameter_fixed,
                      &value))
            continue;
        const int32_t d = asr32(value, 8);
        for (int32_t i = 0; i < unit_count; i++)
        {
            const monster_data *monster = get_monster_data(units[i]);
            object_data *object = monster ? get_object(monster->object_index) : nullptr;
            if (!object) continue;
            const int32_t vitality = raise ? object->vitality + d : object->vitality - d;
            object->vitality = to_i16(maximum32(minimum32(vitality, object->maximum_vitality), 1));
        }
    }
}

// 'onii': fades the object to or from transparency over 30 ticks, starting
// from where an opposite fade stands.
static void fade_ghost(int32_t unit_index, bool on)
{
    const monster_data *monster = get_monster_data(unit_index);
    object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return;
    const int16_t wanted = on ? _transfer_mode_appearing : _transfer_mode_disappearing;
    const int16_t opposite = on ? _transfer_mode_disappearing : _transfer_mode_appearing;
    if (object->transfer_mode == wanted) return;
    object->transfer_phase = object->transfer_mode == opposite ? GHOST_TRANSFER_PERIOD - object->transfer_phase : 0;
    object->transfer_period = GHOST_TRANSFER_PERIOD;
    object->transfer_mode = wanted;
}

static int32_t unit_vitality(const monster_data *monster)
{
    const object_data *object = get_object(monster->object_index);
    return object ? object->vitality : 0;
}

// The player 'deta' gives a unit of team `team`: the captain for 0, else the
// n-th player of the team (index order) who is neither captain nor dropped.
static int32_t detach_target(int32_t team, int32_t nth)
{
    if (team < 0 || team >= get_team_count()) return NONE;
    const int32_t captain = get_team_data(team)->captain_player_index;
    if (nth == 0) return captain;
    int32_t count = 0;
    for (int32_t p = 0; p < get_player_count(); p++)
    {
        const player_data *player = get_player_data(p);
        if (p == captain || !player || player->team_index != team ||
            (player->flags & FLAG(_player_has_been_dropped_bit)))
            continue;
        if (++count == nth) return p;
    }
    return NONE;
}

static void change_owners(int32_t action_index, const int16_t *units, int32_t unit_count)
{
    int32_t target = NONE, value;
    if (current_gameplay_version >= 1721 &&
        get_long(action_index, _common_field_name_player_restriction_list, _parameter_integer, &value))
        target = value < 0 || value >= get_player_count() ? NONE : value;
    int32_t nth = 0;
    if (target == NONE && !get_long(action_index, field('d', 'e', 't', 'a'), _parameter_integer, &nth)) return;
    for (int32_t i = 0; i < unit_count; i++)
    {
        const monster_data *monster = get_monster_data(units[i]);
        if (!monster) continue;
        const int32_t team = monster->owner_team_index;
        const int32_t player = target != NONE ? target : detach_target(team, nth);
        if (player < 0 || player >= get_player_count()) continue;
        if (get_player_data(player)->team_index == team)
            detach_monster(units[i], (int16_t)player, false);
        else
            change_monster_owner(units[i], (int16_t)player, false);
    }
}

static void kill_units(int32_t action_index, int32_t kind, const int16_t *units, int32_t unit_count)
{
    const bool deleted_too = current_gameplay_version > 1510 && has_flag(action_index, field('d', 'e', 'l', 'e'));
    for (int32_t i = 0; i < unit_count; i++)
    {
        const monster_data *monster = get_monster_data(units[i]);
        if (!monster) continue;
        if (deleted_too)
            adjust_damage_statistics(
                NONE, units[i], unit_vitality(monster), true,
                (monster->extra_flags & (_monster_is_netgame_target_extra_flag | _monster_is_hunted_creature_extra_flag)) != 0,
                (monster->extra_flags & _monster_is_ambient_life_extra_flag) != 0, true, false);
        damage_data damage;
        memset(&damage, 0, sizeof(damage));
        damage.owner_unit_index = NONE;
        damage.owner_monster_index = NONE;
        damage.detonation_projectile_group_type = NONE;
        const object_data *object = get_object(monster->object_index);
        if (object) damage.epicenter = object->location.position;
        damage.velocity = CONTROL_KILL_VELOCITY;
        kill_monster(units[i], nullptr, &damage, kind == 0 ? _monster_death_soft : _monster_death_hard);
    }
}

// 'smht' sets the height (never below the ground), 'imht' raises it.
static void set_unit_heights(int32_t action_index, bool increment, const int16_t *units, int32_t unit_count)
{
    int32_t h;
    if (!get_long(action_index, increment ? field('i', 'm', 'h', 't') : field('s', 'm', 'h', 't'), _parameter_integer,
                  &h))
        return;
    for (int32_t i = 0; i < unit_count; i++)
    {
        monster_data *monster = get_monster_data(units[i]);
        object_data *object = monster ? get_object(monster->object_index) : nullptr;
        if (!object) continue;
        const world_point2d at = {object->location.position.x, object->location.position.y};
        const int32_t ground = get_mesh_height(&at, _mesh_surface_height);
        const int32_t z = maximum32(ground, increment ? add32_wrap(object->location.position.z, h) : h);
        object->location.position.z = z;
        monster->height_over_mesh = to_i16(add32_wrap(z, -ground));
    }
}

uint32_t unit_control_action_proc(int32_t action_index)
{
    int16_t subjects[MAXIMUM_CONTROLLED_UNITS];
    const int32_t subject_count = get_combined_map_action_parameter(
        action_index, _common_field_name_subject, _parameter_monster_identifier, subjects, MAXIMUM_CONTROLLED_UNITS);
    const bool monster_source = has_flag(action_index, field('m', 'o', 's', 'o'));
    const control_masks masks = build_masks(action_index);

    const int32_t height_over_mesh = raise_markers(action_index, subjects, subject_count);
    if (monster_source || has_flag(action_index, field('v', 'i', 's', 'i')))
        call_in_units(action_index, subjects, subject_count, height_over_mesh);
    if (has_flag(action_index, field('i', 'n', 'v', 'i')))
    {
        const int16_t kind = entrance_kind(action_index, false);
        for (int32_t i = 0; i < subject_count; i++) make_monster_invisible(subjects[i], kind);
    }

    int16_t units[MAXIMUM_CONTROLLED_UNITS];
    const int32_t unit_count = monster_identifiers_to_monster_indexes(subjects, units, subject_count);
    if (unit_count > 0 && has_flag(action_index, field('e', 'l', 'i', 'm')))
    {
        eliminate_team(get_monster_data(units[0])->owner_team_index);
        return _map_action_proc_succeeded_flag;
    }
    give_objects(action_index, units, unit_count);

    for (int32_t i = 0; i < unit_count; i++)
    {
        change_unit_flags(units[i], masks.mask, masks.set, masks.extra_mask, masks.extra_set);
        if ((masks.set & _monster_ignores_user_commands_flag) || (masks.extra_set & _monster_is_ambient_life_extra_flag))
            remove_monster_from_selections(units[i], 0);
    }
    bool on;
    if (get_switch(action_index, field('u', 'n', 'c', 'o'), &on))
    {
        const uint32_t extra = _monster_has_no_visibility_extra_flag | _monster_is_uncontrollable_extra_flag;
        for (int32_t i = 0; i < unit_count; i++)
            change_unit_flags(units[i], _monster_ignores_user_commands_flag, on ? (uint32_t)_monster_ignores_user_commands_flag : 0u,
                              extra, on ? extra : 0);
    }
    if (get_switch(action_index, field('h', 'e', 'l', 'd'), &on))
        for (int32_t i = 0; i < unit_count; i++) hold_unit(units[i], on);
    if (has_flag(action_index, field('r', 'e', 'm', 'o')))
        for (int32_t i = 0; i < unit_count; i++)
            // Before 1710 the list position stands where the unit index
            // belongs; the callee re-derives only a used unit.
            delete_monster_carried_object_unit_control(units[i], current_gameplay_version >= 1710 ? units[i] : i);
    set_health_fractions(action_index, units, unit_count);
    int32_t value;
    if (get_long(action_index, field('a', 'm', 'm', 'o'), _parameter_integer, &value))
        for (int32_t i = 0; i < unit_count; i++)
            if (monster_data *monster = get_monster_data(units[i]))
            {
                monster->ammunition_count = (int8_t)(uint8_t)value;
                monster->display_dirty_flags |= _monster_ammunition_dirty_flag;
            }
    if (current_gameplay_version > 1300) change_inventories(action_index, units, unit_count);
    overhead_text_action_proc(action_index, units, unit_count);
    if (current_gameplay_version > 1300) change_mana_and_health(action_index, units, unit_count);

    if (get_long(action_index, field('n', 'e', 'n', 'a'), _parameter_integer, &value))
        for (int32_t i = 0; i < unit_count; i++)
            if (monster_data *monster = get_monster_data(units[i]))
            {
                monster->original_name_string_index = (int8_t)(uint8_t)value;
                monster->display_dirty_flags |= _monster_name_dirty_flag;
            }
    if (get_long(action_index, field('e', 'x', 'p', 'e'), _parameter_integer, &value))
        for (int32_t i = 0; i < unit_count; i++)
            if (monster_data *monster = get_monster_data(units[i]))
            {
                monster->experience = (uint8_t)value;
                monster->display_dirty_flags |= _monster_experience_dirty_flag;
            }
    if (get_long(action_index, field('l', 'e', 's', 'u'), _parameter_integer, &value))
        for (int32_t i = 0; i < unit_count; i++)
            if (monster_data *monster = get_monster_data(units[i])) monster->battles_survived = (int8_t)(uint8_t)value;
    if (get_switch(action_index, field('m', 'a', 'j', 'k'), &on))
        for (int32_t i = 0; i < unit_count; i++)
            if (get_monster_data(units[i])) set_monster_magical_invisibility(units[i], on);
    if (get_switch(action_index, field('t', 'r', 'a', 'n'), &on))
        for (int32_t i = 0; i < unit_count; i++)
        {
            const monster_data *monster = get_monster_data(units[i]);
            object_data *object = monster ? get_object(monster->object_index) : nullptr;
            if (!object) continue;
            if (on)
                object->flags |= _object_rendered_transparently_flag;
            else
                object->flags &= ~_object_rendered_transparently_flag;
        }
    if (get_switch(action_index, field('o', 'n', 'i', 'i'), &on))
        for (int32_t i = 0; i < unit_count; i++) fade_ghost(units[i], on);

    int32_t death;
    const bool kill = get_long(action_index, field('k', 'i', 'l', 'l'), _parameter_integer, &death);
    if (has_flag(action_index, field('d', 'e', 'l', 'e')) && (current_gameplay_version < 1511 || !kill))
        for (int32_t i = 0; i < unit_count; i++)
        {
            const monster_data *monster = get_monster_data(units[i]);
            if (!monster) continue;
            adjust_damage_statistics(NONE, units[i], unit_vitality(monster), true, false, false, false, false);
            delete_monster(units[i], false);
        }
    change_owners(action_index, units, unit_count);
    if (current_gameplay_version > 1300 && kill) kill_units(action_index, death, units, unit_count);
    if (current_gameplay_version > 1510)
    {
        set_unit_heights(action_index, false, units, unit_count);
        set_unit_heights(action_index, true, units, unit_count);
    }
    return _map_action_proc_succeeded_flag;
}

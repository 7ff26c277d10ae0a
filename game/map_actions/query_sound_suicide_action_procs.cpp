// 'quni' copies unit properties into the action's own (and linked) entries;
// 'soun' and 'ambi' are local: they only ask the sound layer to play or fade.

#include "query_sound_suicide_action_procs.h"

#include "cseries/registration.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "map_actions.h"
#include "mesh.h"
#include "monster_definitions.h"
#include "monster_lists.h"
#include "monster_queries.h"
#include "monster_visibility.h"
#include "monsters.h"
#include "sound_procedures.h"
#include "objects.h"
#include "world_action_procs_internal.h"

static procedure_slot<sound_listener_procedure> sound_listener_slot("sound listener");

bool register_sound_listener_procedure(sound_listener_procedure procedure)
{
    return sound_listener_slot.fill(procedure);
}

static void play_sound_to_listener(int16_t sound_index)
{
    if (const auto play = get_sound_procedures()->play_sound_with_flags)
        play(sound_index, NONE, nullptr, 256, 0);
}

// ---- 'quni' -------------------------------------------------------------------------

enum
{
    MAXIMUM_QUERY_UNITS = 400,
};

enum query_units_field : field_tag
{
    _query_units_field_name_subject = FOUR_CHARACTER_CODE('s', 'u', 'b', 'j'),
    _query_units_field_name_vitality = FOUR_CHARACTER_CODE('v', 'i', 't', 'a'),
    _query_units_field_name_vitality_max = FOUR_CHARACTER_CODE('m', 'v', 'i', 't'),
    _query_units_field_name_vitality_fraction = FOUR_CHARACTER_CODE('f', 'v', 'i', 't'),
    _query_units_field_name_mana = FOUR_CHARACTER_CODE('m', 'a', 'n', 'a'),
    _query_units_field_name_mana_max = FOUR_CHARACTER_CODE('m', 'm', 'a', 'n'),
    _query_units_field_name_mana_fraction = FOUR_CHARACTER_CODE('f', 'm', 'a', 'n'),
    _query_units_field_name_ammunition = FOUR_CHARACTER_CODE('a', 'm', 'u', 'n'),
    _query_units_field_name_ammunition_max = FOUR_CHARACTER_CODE('m', 'a', 'm', 'u'),
    _query_units_field_name_ammunition_fraction = FOUR_CHARACTER_CODE('f', 'a', 'm', 'u'),
    _query_units_field_name_charges = FOUR_CHARACTER_CODE('c', 'h', 'r', 'g'),
    _query_units_field_name_charges_max = FOUR_CHARACTER_CODE('m', 'c', 'h', 'r'),
    _query_units_field_name_charges_fraction = FOUR_CHARACTER_CODE('f', 'c', 'h', 'r'),
    _query_units_field_name_experience = FOUR_CHARACTER_CODE('e', 'x', 'p', 'e'),
    _query_units_field_name_battles_survived = FOUR_CHARACTER_CODE('b', 'a', 't', 't'),
    _query_units_field_name_held_object_count = FOUR_CHARACTER_CODE('h', 'e', 'l', 'd'),
    _query_units_field_name_height_over_mesh = FOUR_CHARACTER_CODE('h', 'g', 'h', 't'),
    _query_units_field_name_player = FOUR_CHARACTER_CODE('p', 'l', 'y', 'r'),
    _query_units_field_name_team = FOUR_CHARACTER_CODE('t', 'e', 'a', 'm'),
};

// (value << 16) / maximum with a 64-bit dividend; 0 for a maximum of 0.
static int32_t query_fraction(int32_t value, int32_t maximum)
{
    if (maximum == 0) return 0;
    return (int32_t)(int64_t)(((int64_t)value * 65536) / maximum);
}

// The value of `field` for one unit; false for a name that is no field.
static bool query_unit_field(field_tag field_name, int32_t monster_index, int32_t *value)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    const int32_t vitality = object ? object->vitality : 0;
    const int32_t maximum_vitality = object ? object->maximum_vitality : 0;
    const int32_t mana = monster ? monster->mana : 0;
    const int32_t maximum_mana = definition ? definition->maximum_mana : 0;
    const int32_t ammunition = monster ? monster->ammunition_count : 0;
    const int32_t maximum_ammunition = definition ? definition->maximum_ammunition_count : 0;
    switch (field_name)
    {
    case _query_units_field_name_vitality: *value = vitality; return true;
    case _query_units_field_name_vitality_max: *value = maximum_vitality; return true;
    case _query_units_field_name_vitality_fraction: *value = query_fraction(vitality, maximum_vitality); return true;
    case _query_units_field_name_mana: *value = mana; return true;
    case _query_units_field_name_mana_max: *value = maximum_mana; return true;
    case _query_units_field_name_mana_fraction: *value = query_fraction(mana, maximum_mana); return true;
    case _query_units_field_name_ammunition: *value = ammunition; return true;
    case _query_units_field_name_ammunition_max: *value = maximum_ammunition; return true;
    case _query_units_field_name_ammunition_fraction:
        *value = query_fraction(ammunition, maximum_ammunition);
        return true;
    case _query_units_field_name_charges: *value = monster ? get_monster_artifact_charges(monster_index) : 0; return true;
    case _query_units_field_name_charges_max:
        *value = monster ? get_monster_artifact_charges_max(monster_index) : 0;
        return true;
    case _query_units_field_name_charges_fraction:
        *value = monster ? query_fraction(get_monster_artifact_charges(monster_index),
                                          get_monster_artifact_charges_max(monster_index))
                         : 0;
        return true;
    case _query_units_field_name_experience: *value = monster ? monster->experience : 0; return true;
    case _query_units_field_name_battles_survived: *value = monster ? monster->battles_survived : 0; return true;
    case _query_units_field_name_held_object_count: *value = monster ? monster->held_object_count : 0; return true;
    case _query_units_field_name_height_over_mesh: *value = monster ? monster->height_over_mesh : 0; return true;
    case _query_units_field_name_player: *value = monster ? (int32_t)monster->owner_player_index : (int32_t)NONE; return true;
    case _query_units_field_name_team: *value = monster ? (int32_t)monster->owner_team_index : (int32_t)NONE; return true;
    default: return false;
    }
}

uint32_t query_units_action_proc(int32_t action_index)
{
    int16_t units[MAXIMUM_QUERY_UNITS];
    const int32_t unit_count = named_units(action_index, _query_units_field_name_subject, units, MAXIMUM_QUERY_UNITS);

    // Every entry, linked actions' too: rewriting an entry keeps the number
    // of entries, so the search's positions stay valid across the edits.
    uint32_t result = 0;
    find_map_action_parameter_state state;
    new_find_map_action_parameter_state(&state, action_index, _return_empty_arrays_flag, NONE, NONE);
    map_action_parameter parameter;
    while (find_next_map_action_parameter(&state, &parameter))
    {
        if (parameter.type != _parameter_integer && parameter.type != _parameter_fixed) continue;
        int32_t values[MAXIMUM_QUERY_UNITS];
        int32_t probe;
        if (!query_unit_field(parameter.field_name, NONE, &probe)) continue;
        for (int32_t i = 0; i < unit_count; i++) query_unit_field(parameter.field_name, units[i], &values[i]);
        if (set_map_action_parameter(&parameter, unit_count, values))
            result = _map_action_proc_succeeded_flag;
        else
            map_action_error(action_index, "no room for #%d query results", unit_count);
    }
    return result;
}

// ---- 'soun' -------------------------------------------------------------------------

enum sound_field : field_tag
{
    _sound_field_name_subject = FOUR_CHARACTER_CODE('s', 'u', 'b', 'j'),
    _sound_field_name_sound_tag = FOUR_CHARACTER_CODE('s', 'o', 'u', 'n'),
    _sound_field_name_override_user_control = FOUR_CHARACTER_CODE('o', 'v', 'e', 'r'),
    _sound_field_play_to_owner = FOUR_CHARACTER_CODE('o', 'w', 'n', 'r'),
    _sound_field_play_to_team = FOUR_CHARACTER_CODE('t', 'e', 'a', 'm'),
};

// Whether the unit's cell is visible to the local player now.
static bool unit_seen_locally(const object_data *object)
{
    if (!object || object->cell_x == NONE || object->cell_y == NONE) return false;
    return visibility_is_visible(get_cell_visibility(visibility_front_buffer(), object->cell_x, object->cell_y));
}

uint32_t sound_action_proc(int32_t action_index)
{
    int16_t units[MAXIMUM_WORLD_PROC_SUBJECTS];
    int32_t identifier_count = 0;
    int32_t count = named_units(action_index, _sound_field_name_subject, units, MAXIMUM_WORLD_PROC_SUBJECTS,
                                &identifier_count);
    int32_t sound_value = NONE;
    const bool has_sound =
        first_long(action_index, _sound_field_name_sound_tag, _parameter_sound_tag, &sound_value);
    const int16_t sound = (int16_t)sound_value;
    const bool to_owner = has_flag(action_index, _sound_field_play_to_owner);
    const bool to_team = has_flag(action_index, _sound_field_play_to_team);

    if (count > 0 && (to_owner || to_team) && current_gameplay_version > 1510 && has_sound)
    {
        for (int32_t i = 0; i < count; i++)
        {
            const monster_data *monster = get_monster_data(units[i]);
            const bool ours = to_team ? local_player_team_index != NONE && monster->owner_team_index == local_player_team_index
                                      : local_player_index != NONE && monster->owner_player_index == local_player_index;
            if (ours)
            {
                play_sound_to_listener(sound);
                break;
            }
        }
        return _map_action_proc_succeeded_flag;
    }

    if (!has_flag(action_index, _sound_field_name_override_user_control))
        count = remove_monster_indexes_under_user_control(units, count);
    const sound_listener_procedure listener_proc = sound_listener_slot.get();
    const world_location3d *listener = listener_proc ? listener_proc() : nullptr;
    int32_t picked = NONE;
    world_distance picked_distance = 0;
    for (int32_t i = 0; i < count; i++)
    {
        const object_data *object = get_object(get_monster_data(units[i])->object_index);
        if (!unit_seen_locally(object)) continue;
        const world_distance distance =
            listener ? distance3d(&object->location.position, &listener->position) : 0;
        if (picked == NONE || distance < picked_distance)
        {
            picked = units[i];
            picked_distance = distance;
        }
    }
    if (picked == NONE && identifier_count > 0) return _map_action_proc_succeeded_flag;
    if (!has_sound) return _map_action_proc_succeeded_flag;
    if (picked != NONE)
    {
        if (sound != NONE) _play_object_sound(get_monster_data(picked)->object_index, sound);
    }
    else
        play_sound_to_listener(sound);
    return _map_action_proc_succeeded_flag;
}

// ---- 'ambi' -------------------------------------------------------------------------

enum
{
    MAXIMUM_AMBIENT_SOUND_SOURCES = 20,
};

enum ambient_sound_field : field_tag
{
    _ambient_sound_field_name_subject = FOUR_CHARACTER_CODE('s', 'u', 'b', 'j'),
    _ambient_sound_field_name_volume = FOUR_CHARACTER_CODE('v', 'o', 'l', 'u'),
    _ambient_sound_field_name_fade_duration = FOUR_CHARACTER_CODE('d', 'u', 'r', 'a'),
};

uint32_t ambient_sound_action_proc(int32_t action_index)
{
    int16_t sources[MAXIMUM_AMBIENT_SOUND_SOURCES];
    const int32_t source_count =
        get_combined_map_action_parameter(action_index, _ambient_sound_field_name_subject,
                                          _parameter_sound_source_identifier, sources, MAXIMUM_AMBIENT_SOUND_SOURCES);
    int32_t volume_value, duration;
    if (source_count < 1)
    {
        map_action_error(action_index, "missing sound source identifier list");
        return 0;
    }
    if (!first_long(action_index, _ambient_sound_field_name_volume, _parameter_fixed, &volume_value))
    {
        map_action_error(action_index, "missing volume");
        return 0;
    }
    if (!first_long(action_index, _ambient_sound_field_name_fade_duration, _parameter_fixed, &duration))
    {
        map_action_error(action_index, "missing fade duration");
        return 0;
    }
    const int32_t volume = volume_value >> 8;
    const int32_t ticks = (int32_t)(((int64_t)duration * 30) >> 16);
    const auto adjust = get_sound_procedures()->adjust_ambient_sound_source_volume;
    for (int32_t i = 0; i < source_count; i++)
    {
        map_action_debug(action_index, "setting ambient sound identifier %d volume to 0x%x over %d ticks", sources[i],
                         (unsigned)volume, ticks);
        if (adjust) adjust(sources[i], volume, ticks);
    }
    return 0;
}

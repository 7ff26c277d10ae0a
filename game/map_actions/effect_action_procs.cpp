#include "effect_action_procs.h"

#include <cstring>

#include "action_procs.h"
#include "cseries/registration.h"
#include "local_projectiles.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "markers.h"
#include "particles.h"
#include "world_action_procs_internal.h"

enum
{
    MAXIMUM_LOCAL_PROJECTILE_GROUP_IDENTIFIERS = MAXIMUM_LOCAL_PROJECTILE_GROUPS_PER_MAP,
    MAXIMUM_FADE_COMPONENT = 65535,
};

static procedure_slot<set_ingame_fade_procedure> set_ingame_fade_slot("set ingame fade");

bool register_set_ingame_fade_procedure(set_ingame_fade_procedure procedure)
{
    return set_ingame_fade_slot.fill(procedure);
}

uint32_t particle_system_action_proc(int32_t action_index)
{
    bool switched = false;
    if (has_flag(action_index, field('s', 'w', 'i', 't')))
    {
        switched = switch_snowing_states();
        map_action_debug(action_index, "Switching particle system state");
    }
    int32_t multiplier;
    if (first_long(action_index, field('m', 'u', 'l', 't'), _parameter_fixed, &multiplier))
    {
        // Bits 8..23 of the 16.16 value are the same number in 8.8.
        set_target_particle_number_multiplier((short_fixed)(int16_t)(uint16_t)((uint32_t)multiplier >> 8));
        map_action_debug(action_index, "changing target particle number multiplier");
        return _map_action_proc_succeeded_flag;
    }
    return switched ? _map_action_proc_succeeded_flag : 0;
}

uint32_t local_projectile_group_action_proc(int32_t action_index)
{
    int16_t identifiers[MAXIMUM_LOCAL_PROJECTILE_GROUP_IDENTIFIERS];
    const int32_t identifier_count =
        get_combined_map_action_parameter(action_index, field('g', 'r', 'o', 'u'),
                                          _parameter_local_projectile_group_identifier, identifiers,
                                          MAXIMUM_LOCAL_PROJECTILE_GROUP_IDENTIFIERS);
    if (has_flag(action_index, field('_', '_', 'o', 'n')))
    {
        for (int32_t i = 0; i < identifier_count; i++)
        {
            marker_data *marker = get_marker_by_identifier(_marker_local_projectile_group, identifiers[i]);
            if (!marker || marker->data_index != NONE) continue;
            marker->flags &= ~_marker_is_invisible_flag;
            new_local_projectile_group_from_marker(marker);
        }
    }

    int32_t groups[MAXIMUM_LOCAL_PROJECTILE_GROUP_IDENTIFIERS];
    int32_t group_count = 0;
    for (int32_t i = 0; i < identifier_count; i++)
    {
        const marker_data *marker = get_marker_by_identifier(_marker_local_projectile_group, identifiers[i]);
        if (marker && marker->data_index != NONE && get_local_projectile_group(marker->data_index))
            groups[group_count++] = marker->data_index;
    }
    if (group_count == 0) return _map_action_proc_succeeded_flag;

    int32_t opacity;
    if (first_long(action_index, field('o', 'p', 'a', 'c'), _parameter_fixed, &opacity))
    {
        const fixed_fraction clamped = (fixed_fraction)clamp32(opacity, 0, FIXED_FRACTION_ONE);
        for (int32_t i = 0; i < group_count; i++) set_local_projectile_group_opacity(groups[i], clamped);
    }
    if (has_flag(action_index, field('_', 'o', 'f', 'f')))
        for (int32_t i = 0; i < group_count; i++) turn_local_projectile_group_off(groups[i]);
    return _map_action_proc_succeeded_flag;
}

uint32_t ingame_fade_action_proc(int32_t action_index)
{
    int32_t duration;
    if (!first_long(action_index, field('d', 'u', 'r', 'a'), _parameter_integer, &duration)) return 0;
    int32_t current_duration;
    if (!first_long(action_index, field('d', 'u', 'r', 's'), _parameter_integer, &current_duration))
        current_duration = duration;
    rgb_color color;
    memset(&color, 0, sizeof(color));
    int32_t components[3];
    const field_tag colour_name = field('c', 'o', 'l', 'r');
    if (get_indexed_long_integer_parameter(action_index, colour_name, _parameter_integer, &components[0], 0) &&
        get_indexed_long_integer_parameter(action_index, colour_name, _parameter_integer, &components[1], 1) &&
        get_indexed_long_integer_parameter(action_index, colour_name, _parameter_integer, &components[2], 2))
    {
        color.red = (uint16_t)clamp32(components[0], 0, MAXIMUM_FADE_COMPONENT);
        color.green = (uint16_t)clamp32(components[1], 0, MAXIMUM_FADE_COMPONENT);
        color.blue = (uint16_t)clamp32(components[2], 0, MAXIMUM_FADE_COMPONENT);
    }
    if (set_ingame_fade_procedure set_fade = set_ingame_fade_slot.get()) set_fade(&color, duration, current_duration);
    return _map_action_proc_succeeded_flag;
}

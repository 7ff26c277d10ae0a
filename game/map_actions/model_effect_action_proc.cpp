// 'moef': starts a model effect (turn, fade, scale, permutation change,
// projectile) on a model or on a model animation's current model.

#include "world_action_procs.h"

#include <cstring>

#include "action_procs.h"
#include "map_action_engine.h"
#include "model_animations.h"
#include "model_effects.h"
#include "models.h"
#include "world_action_procs_internal.h"

static int16_t clamp_to_i16(int64_t value)
{
    return (int16_t)(value < INT16_MIN ? INT16_MIN : (value > INT16_MAX ? INT16_MAX : value));
}

// The model of 'mode', or the current model of the animation of 'anim' when
// that exists; NONE when neither does.
static int32_t effect_model_index(int32_t action_index)
{
    int32_t model_index = NONE;
    int16_t identifier;
    if (first_short(action_index, field('m', 'o', 'd', 'e'), _parameter_model_identifier, &identifier))
        model_index = model_identifier_to_model_index(identifier);
    if (first_short(action_index, field('a', 'n', 'i', 'm'), _parameter_model_animation_identifier, &identifier))
    {
        const model_animation_data *animation =
            get_model_animation(model_animation_identifier_to_model_animation_index(identifier));
        if (animation && get_model(animation->current_model_index)) model_index = animation->current_model_index;
    }
    return get_model(model_index) ? model_index : NONE;
}

uint32_t model_effect_action_proc(int32_t action_index)
{
    const int32_t model_index = effect_model_index(action_index);
    if (model_index == NONE) return 0;
    new_model_effect_data data;
    memset(&data, 0, sizeof(data));
    int32_t value;
    int16_t short_value;
    // Fixed seconds to ticks: a 64-bit product, truncated toward zero, kept
    // within the record's 16 bits.
    data.duration = first_long(action_index, field('d', 'u', 'r', 'a'), _parameter_fixed, &value)
                        ? clamp_to_i16((int64_t)value * TICKS_PER_SECOND / 65536)
                        : (int16_t)NONE;
    if (first_short(action_index, field('d', 'y', 'a', 'w'), _parameter_angle, &short_value))
        data.delta_yaw = (angle)short_value;
    if (first_short(action_index, field('d', 'p', 'i', 't'), _parameter_angle, &short_value))
        data.delta_pitch = (angle)short_value;
    data.new_permutation = NONE;
    if (first_long(action_index, field('n', 'e', 'w', 'p'), _parameter_integer, &value))
    {
        data.new_permutation = value;
        map_action_debug(action_index, "changing permutation to %d", value);
    }
    data.set_permutation = NONE;
    if (first_long(action_index, field('p', 'e', 'r', 'm'), _parameter_integer, &value))
    {
        data.set_permutation = value;
        map_action_debug(action_index, "setting permutation to %d", value);
    }
    if (has_flag(action_index, field('f', 'a', 'i', 'n'))) data.flags |= _model_effect_fade_in_flag;
    if (has_flag(action_index, field('f', 'a', 'o', 'u'))) data.flags |= _model_effect_fade_out_flag;
    if (has_flag(action_index, field('d', 'e', 'l', 'e'))) data.flags |= _model_effect_delete_model_flag;
    if (has_flag(action_index, field('p', 'e', 'o', 'n'))) data.flags |= _model_effect_permutation_change_only_flag;
    int32_t material, final_opacity;
    data.material_fading_index = NONE;
    if (first_long(action_index, field('m', 'a', 't', 'e'), _parameter_integer, &material) &&
        first_long(action_index, field('m', 'a', 'f', 'i'), _parameter_fixed, &final_opacity))
    {
        const int64_t transparency = final_opacity < 0 ? 65535 : 65535 - (int64_t)final_opacity;
        data.material_fading_index = material;
        data.material_final_transparency = (fixed_fraction)(transparency < 0 ? 0 : transparency);
        // The trace shows the fraction with four decimals, in integers.
        const int32_t ten_thousandths = (int32_t)((int64_t)data.material_final_transparency * 10000 / 65536);
        map_action_debug(action_index, "material index: %d fading to transparency of %d.%04d", material,
                         ten_thousandths / 10000, ten_thousandths % 10000);
    }
    if (first_long(action_index, field('i', 'n', 's', 'c'), _parameter_fixed, &value))
    {
        data.flags |= _model_effect_scale_flag;
        // Both ends come from 'insc': 65536 is a scale of 512 (1.0).
        data.initial_scale = data.final_scale = clamp_to_i16(value / 128);
    }
    int32_t projectile;
    if (first_long(action_index, field('p', 'r', 'o', 'j'), _parameter_field_name, &projectile))
    {
        world_point3d origin;
        if (get_indexed_world_point3d_parameter(action_index, field('o', 'r', 'i', 'g'), &origin, 0))
        {
            data.flags |= _model_effect_create_projectile_flag;
            data.projectile_type_to_create = (tag)projectile;
            data.projectile_origin = origin;
        }
        else
            map_action_debug(action_index, "got a projectile to create scale but no origin!");
    }
    if (!new_model_effect(model_index, get_map_action_identifier(action_index), &data))
        map_action_debug(action_index, "unable to create the model effect");
    return 0;
}

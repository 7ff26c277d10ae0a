// 'anim': tests model animations' frames and starts, stops, resets and
// advances those that pass.

#include "world_action_procs.h"

#include "action_procs.h"
#include "map_action_engine.h"
#include "model_animations.h"
#include "world_action_procs_internal.h"

enum
{
    MAXIMUM_MODEL_ANIMATION_SUBJECTS = 32,
};

// The frame tests the action holds; false when one fails.
static bool frame_tests_pass(int32_t action_index, int32_t frame)
{
    int32_t value;
    bool pass = true;
    if (first_long(action_index, field('_', '_', '_', '>'), _parameter_integer, &value))
    {
        map_action_debug(action_index, "frame: %d > %d", frame, value);
        pass = pass && frame > value;
    }
    if (first_long(action_index, field('_', '_', '_', '<'), _parameter_integer, &value))
    {
        map_action_debug(action_index, "frame: %d < %d", frame, value);
        pass = pass && frame < value;
    }
    if (first_long(action_index, field('_', '_', '_', '='), _parameter_integer, &value))
    {
        map_action_debug(action_index, "frame: %d == %d", frame, value);
        pass = pass && frame == value;
    }
    return pass;
}

static void control_animation(int32_t action_index, int32_t animation_index)
{
    model_animation_data *animation = get_model_animation(animation_index);
    const model_animation_definition *definition = get_model_animation_definition(animation->definition_index);
    const int32_t last_frame = definition && definition->number_of_frames > 0 ? definition->number_of_frames - 1 : 0;
    const bool reset = has_flag(action_index, field('r', 'e', 's', 'e'));
    int32_t sound = NONE;
    if (has_flag(action_index, field('b', 'a', 'c', 'k'))) animation->flags |= _model_animation_back_and_forth_flag;
    if (has_flag(action_index, field('c', 'y', 'c', 'l'))) animation->flags |= _model_animation_cycles_flag;
    if (has_flag(action_index, field('s', 't', 'f', 'o')))
    {
        animation->flags |= _model_animation_forward_flag;
        animation->state = _model_animation_running;
        if (reset) jump_model_animation_to_frame(animation_index, 0);
        if (animation->current_frame_index == 0) sound = _model_animation_forward_sound;
    }
    if (has_flag(action_index, field('s', 't', 'b', 'a')))
    {
        animation->flags &= (uint16_t)~_model_animation_forward_flag;
        animation->state = _model_animation_running;
        if (reset) jump_model_animation_to_frame(animation_index, last_frame);
        if (animation->current_frame_index == last_frame) sound = _model_animation_backward_sound;
    }
    if (has_flag(action_index, field('a', 'd', 'v', 'a'))) advance_model_animation(animation_index);
    if (has_flag(action_index, field('s', 't', 'o', 'p'))) animation->state = _model_animation_stopped;
    // A definition without that sound plays nothing.
    if (sound != NONE) play_model_animation_sound(animation_index, sound);
}

uint32_t model_animation_action_proc(int32_t action_index)
{
    int16_t identifiers[MAXIMUM_MODEL_ANIMATION_SUBJECTS];
    int16_t indexes[MAXIMUM_MODEL_ANIMATION_SUBJECTS];
    const int32_t identifier_count =
        get_combined_map_action_parameter(action_index, _common_field_name_subject,
                                          _parameter_model_animation_identifier, identifiers,
                                          MAXIMUM_MODEL_ANIMATION_SUBJECTS);
    const int32_t count = model_animation_identifiers_to_model_animation_indexes(identifiers, indexes, identifier_count);
    if (count == 0) return 0;
    bool all_passed = true;
    for (int32_t i = 0; i < count; i++)
    {
        const model_animation_data *animation = get_model_animation(indexes[i]);
        if (!animation) continue;
        if (!frame_tests_pass(action_index, animation->current_frame_index))
        {
            all_passed = false;
            continue;
        }
        control_animation(action_index, indexes[i]);
    }
    return all_passed ? _map_action_proc_succeeded_flag : 0;
}

// Model animations.  See model_animations.h.

#include "model_animations.h"

#include "cseries/registration.h"
#include "sound_procedures.h"

#include <cstring>

#include "cseries/log.h"
#include "models.h"
#include "state_hash.h"
#include "tag_files/data.h"

const byte_swap_code model_animation_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte, _2byte, _2byte, 20,
    _begin_bs_array, MAXIMUM_MODEL_ANIMATION_FRAMES, _4byte, _end_bs_array,
    _end_bs_array};

struct model_animation_runtime
{
    int16_t frame_model_types[MAXIMUM_MODEL_ANIMATION_FRAMES];
};

static void model_animation_dependencies(definition_globals *group, int32_t index, int32_t, void *record,
                                         definition_dependency_report report)
{
    model_animation_definition *definition = (model_animation_definition *)record;
    model_animation_runtime *runtime = (model_animation_runtime *)get_definition_runtime(group, index);
    if (!runtime) return;
    const int32_t frames = definition->number_of_frames;
    for (int32_t i = 0; i < MAXIMUM_MODEL_ANIMATION_FRAMES; ++i)
    {
        runtime->frame_model_types[i] = NONE;
        if (i < frames) report(MODEL_DEFINITION_GROUP_TAG, definition->frame_model_tags[i], &runtime->frame_model_types[i], 0);
    }
}

static bool postprocess_model_animation(definition_globals *group, int32_t index, int32_t, void *record)
{
    const model_animation_definition *definition = (const model_animation_definition *)record;
    const model_animation_runtime *runtime = (const model_animation_runtime *)get_definition_runtime(group, index);
    if (definition->number_of_frames < 1 || definition->number_of_frames > MAXIMUM_MODEL_ANIMATION_FRAMES ||
        definition->ticks_per_frame < 1)
    {
        log_message(__FILE__, __LINE__, "model animation refused: %d frames (1..%d), %d ticks per frame",
                    (int)definition->number_of_frames, (int)MAXIMUM_MODEL_ANIMATION_FRAMES,
                    (int)definition->ticks_per_frame);
        return false;
    }
    for (int32_t i = 0; i < definition->number_of_frames; ++i)
        if (!runtime || runtime->frame_model_types[i] == NONE)
        {
            log_message(__FILE__, __LINE__, "model animation refused: the model of frame %d is missing", (int)i);
            return false;
        }
    return true;
}

definition_globals model_animation_definitions = {
    .name = "model animation",
    .group = MODEL_ANIMATION_DEFINITION_GROUP_TAG,
    .current_version = MODEL_ANIMATION_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_MODEL_ANIMATION_DEFINITIONS_PER_MAP,
    .size = sizeof(model_animation_definition),
    .runtime_size = sizeof(model_animation_runtime),
    .dependencies = model_animation_dependencies,
    .postprocess = postprocess_model_animation,
    .convert = nullptr,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = model_animation_definition_byte_swapping_data,
};

static datum_globals model_animation_data_globals = {
    .name = "model animation", .size = sizeof(model_animation_data), .maximum_count = MAXIMUM_MODEL_ANIMATIONS_PER_MAP};

static struct model_animation_globals
{
    bool initialized;
} model_animation_globals;

// Outside model_animation_globals: a module's start-up and map changes never empty a registration.

bool initialize_model_animations(void)
{
    if (model_animation_globals.initialized) return true;
    if (!model_animation_definitions.registered && !initialize_definitions(&model_animation_definitions)) return false;
    if (!initialize_data(&model_animation_data_globals)) return false;
    register_state_hash_procedure_at_start_up(hash_model_animations);
    model_animation_globals.initialized = true;
    return true;
}

void initialize_model_animations_for_new_map(void)
{
    initialize_definitions_for_new_map(&model_animation_definitions);
    initialize_data_for_new_map(&model_animation_data_globals);
}

void dispose_model_animations_from_old_map(void)
{
    dispose_data_from_old_map(&model_animation_data_globals);
    dispose_definitions_from_old_map(&model_animation_definitions);
}

model_animation_definition *get_model_animation_definition(int32_t index)
{
    return (model_animation_definition *)try_and_get_definition(&model_animation_definitions, index);
}

int16_t get_model_animation_frame_model_type(int32_t definition_index, int32_t frame_index)
{
    const model_animation_definition *definition = get_model_animation_definition(definition_index);
    const model_animation_runtime *runtime =
        (const model_animation_runtime *)get_definition_runtime(&model_animation_definitions, definition_index);
    if (!definition || !runtime || frame_index < 0 || frame_index >= definition->number_of_frames) return NONE;
    return runtime->frame_model_types[frame_index];
}

int32_t get_model_animation_slot_count(void)
{
    return model_animation_data_globals.blocks ? model_animation_data_globals.count : 0;
}

model_animation_data *get_model_animation(int32_t animation_index)
{
    if (animation_index < 0 || animation_index >= MAXIMUM_MODEL_ANIMATIONS_PER_MAP) return nullptr;
    return (model_animation_data *)get_datum(&model_animation_data_globals, animation_index);
}

int32_t new_model_animation(int16_t definition_index, const world_point3d *location, angle yaw, angle pitch)
{
    const model_animation_definition *definition = get_model_animation_definition(definition_index);
    if (!definition) return NONE;
    const int32_t animation_index = new_datum(&model_animation_data_globals);
    if (animation_index == NONE)
    {
        log_message(__FILE__, __LINE__, "new_model_animation: more than %d animations",
                    (int)MAXIMUM_MODEL_ANIMATIONS_PER_MAP);
        return NONE;
    }
    new_model_data model;
    memset(&model, 0, sizeof(model));
    model.type = get_model_animation_frame_model_type(definition_index, 0);
    model.location = *location;
    model.yaw = yaw;
    model.pitch = pitch;
    const int32_t model_index = new_model(&model);
    if (model_index == NONE)
    {
        delete_datum(&model_animation_data_globals, animation_index);
        return NONE;
    }
    model_animation_data *animation = get_model_animation(animation_index);
    animation->definition_index = definition_index;
    animation->flags = (uint16_t)(definition->flags & 7);
    animation->state = _model_animation_stopped;
    animation->current_frame_index = 0;
    animation->current_model_index = (int16_t)model_index;
    animation->ticks_until_next_frame = definition->ticks_per_frame;
    animation->marker_index = NONE;
    return animation_index;
}

static void show_frame(model_animation_data *animation)
{
    const int16_t type = get_model_animation_frame_model_type(animation->definition_index, animation->current_frame_index);
    if (type != NONE) set_model_type(animation->current_model_index, type);
}

void advance_model_animation(int32_t animation_index)
{
    model_animation_data *animation = get_model_animation(animation_index);
    const model_animation_definition *definition =
        animation ? get_model_animation_definition(animation->definition_index) : nullptr;
    if (!definition) return;
    const int32_t last = definition->number_of_frames - 1;
    const bool back_and_forth = (animation->flags & _model_animation_back_and_forth_flag) != 0;
    const bool cycles = (animation->flags & _model_animation_cycles_flag) != 0;
    int32_t frame = animation->current_frame_index;
    if (last == 0)
    {
        if (!cycles) animation->state = _model_animation_stopped;
        return;
    }
    if (animation->flags & _model_animation_forward_flag)
    {
        if (frame < last) frame += 1;
        else if (back_and_forth)
        {
            animation->flags &= (uint16_t)~_model_animation_forward_flag;
            play_model_animation_sound(animation_index, _model_animation_backward_sound);
            frame = last - 1;
        }
        else if (cycles) frame = 0;
        else animation->state = _model_animation_stopped;
    }
    else
    {
        if (frame > 0) frame -= 1;
        else if (back_and_forth && cycles)
        {
            animation->flags |= _model_animation_forward_flag;
            play_model_animation_sound(animation_index, _model_animation_forward_sound);
            frame = 1;
        }
        else if (cycles) frame = last;
        else animation->state = _model_animation_stopped;
    }
    if (frame != animation->current_frame_index)
    {
        animation->current_frame_index = (int16_t)frame;
        show_frame(animation);
    }
}

void jump_model_animation_to_frame(int32_t animation_index, int32_t frame_index)
{
    model_animation_data *animation = get_model_animation(animation_index);
    const model_animation_definition *definition =
        animation ? get_model_animation_definition(animation->definition_index) : nullptr;
    if (!definition) return;
    const int32_t last = definition->number_of_frames - 1;
    animation->current_frame_index = (int16_t)(frame_index < 0 ? 0 : (frame_index > last ? last : frame_index));
    animation->ticks_until_next_frame = definition->ticks_per_frame;
    show_frame(animation);
}

void update_model_animations(void)
{
    for (int32_t i = 0; i < model_animation_data_globals.count; ++i)
    {
        model_animation_data *animation = get_model_animation(i);
        if (!animation || animation->state != _model_animation_running) continue;
        const model_animation_definition *definition = get_model_animation_definition(animation->definition_index);
        if (!definition) continue;
        animation->ticks_until_next_frame -= 1;
        if (animation->ticks_until_next_frame > 0) continue;
        animation->ticks_until_next_frame = definition->ticks_per_frame;
        advance_model_animation(i);
    }
}

void play_model_animation_sound(int32_t animation_index, int32_t sound_type)
{
    const model_animation_data *animation = get_model_animation(animation_index);
    const model_animation_definition *definition =
        animation ? get_model_animation_definition(animation->definition_index) : nullptr;
    const auto play = get_sound_procedures()->play_sound_at_location;
    if (!definition || !play) return;
    const int16_t sound = sound_type == _model_animation_forward_sound ? definition->forward_sound_type
                                                                        : definition->backward_sound_type;
    world_point3d location;
    if (sound != NONE && get_model_centerpoint(animation->current_model_index, &location))
        play(sound, &location);
}

int32_t model_animation_identifier_to_model_animation_index(int16_t identifier)
{
    for (int32_t i = 0; i < model_animation_data_globals.count; ++i)
    {
        const model_animation_data *animation = get_model_animation(i);
        if (animation && animation->identifier == identifier) return i;
    }
    return NONE;
}

int32_t model_animation_identifiers_to_model_animation_indexes(const int16_t *identifiers, int16_t *indexes,
                                                               int32_t count)
{
    int32_t found = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const int32_t index = model_animation_identifier_to_model_animation_index(identifiers[i]);
        if (index != NONE) indexes[found++] = (int16_t)index;
    }
    return found;
}

void hash_model_animations(uint32_t *hash)
{
    state_hash_add_int32(hash, model_animation_data_globals.count);
    for (int32_t i = 0; i < model_animation_data_globals.count; ++i)
    {
        const model_animation_data *animation = get_model_animation(i);
        if (!animation) continue;
        const int32_t fields[] = {i, animation->identifier, animation->definition_index, animation->flags,
                                  animation->state, animation->current_frame_index, animation->current_model_index,
                                  animation->ticks_until_next_frame};
        for (int32_t field : fields) state_hash_add_int32(hash, field);
    }
}

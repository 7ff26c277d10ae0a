// Model effects.  See model_effects.h.

#include "model_effects.h"

#include "cseries/registration.h"
#include "map_action_procedures.h"

#include <cstring>

#include "cseries/log.h"
#include "models.h"
#include "state_hash.h"
#include "tag_files/data.h"

static datum_globals model_effect_data_globals = {
    .name = "model effect", .size = sizeof(model_effect_data), .maximum_count = MAXIMUM_MODEL_EFFECTS_PER_MAP};

static struct model_effect_globals
{
    bool initialized;
} model_effect_globals;

// Outside model_effect_globals: a module's start-up and map changes never empty a registration.
static procedure_slot<model_effect_projectile_procedure> projectile_slot("model effect projectile");

bool initialize_model_effects(void)
{
    if (model_effect_globals.initialized) return true;
    if (!initialize_data(&model_effect_data_globals)) return false;
    register_state_hash_procedure_at_start_up(hash_model_effects);
    model_effect_globals.initialized = true;
    return true;
}

void initialize_model_effects_for_new_map(void) { initialize_data_for_new_map(&model_effect_data_globals); }
void dispose_model_effects_from_old_map(void) { dispose_data_from_old_map(&model_effect_data_globals); }

bool register_model_effect_projectile_procedure(model_effect_projectile_procedure procedure)
{
    return projectile_slot.fill(procedure);
}

model_effect_data *get_model_effect(int32_t effect_index)
{
    if (effect_index < 0 || effect_index >= MAXIMUM_MODEL_EFFECTS_PER_MAP) return nullptr;
    return (model_effect_data *)get_datum(&model_effect_data_globals, effect_index);
}

int32_t get_model_effect_index(int32_t model_index)
{
    const model_data *model = get_model(model_index);
    if (!model) return NONE;
    for (int32_t i = 0; i < model_effect_data_globals.count; ++i)
    {
        const model_effect_data *effect = get_model_effect(i);
        if (effect && effect->model_index == model_index && effect->model_identifier == model->identifier) return i;
    }
    return NONE;
}

// start + (end - start) * t / d, truncating toward zero.
static int32_t interpolate(int32_t start, int32_t end, int32_t t, int32_t d)
{
    return start + (int32_t)(((int64_t)(end - start) * t) / d);
}

bool new_model_effect(int32_t model_index, int32_t map_action_identifier, const new_model_effect_data *data)
{
    model_data *model = get_model(model_index);
    if (!model) return false;
    const int32_t running = get_model_effect_index(model_index);
    if (running != NONE)
    {
        // The newer effect takes over from where the model stands.
        model->model_permutation = model->desired_model_permutation;
        model->permutation_crossfade_amount = 0;
        delete_datum(&model_effect_data_globals, running);
    }
    const int32_t effect_index = new_datum(&model_effect_data_globals);
    if (effect_index == NONE)
    {
        log_message(__FILE__, __LINE__, "new_model_effect: more than %d model effects",
                    (int)MAXIMUM_MODEL_EFFECTS_PER_MAP);
        return false;
    }
    model_effect_data *effect = get_model_effect(effect_index);
    const bool permutation_only = (data->flags & _model_effect_permutation_change_only_flag) != 0;
    effect->model_index = (int16_t)model_index;
    effect->model_identifier = model->identifier;
    effect->flags = permutation_only ? (uint16_t)(data->flags & _model_effect_permutation_change_only_flag) : data->flags;
    effect->duration = data->duration < 1 ? 1 : data->duration;
    effect->map_action_identifier = map_action_identifier;
    effect->initial_yaw = model->yaw;
    effect->initial_pitch = model->pitch;
    effect->delta_yaw = permutation_only ? 0 : (int16_t)data->delta_yaw;
    effect->delta_pitch = permutation_only ? 0 : (int16_t)data->delta_pitch;
    effect->initial_scale = (effect->flags & _model_effect_scale_flag) ? data->initial_scale : model->scale;
    effect->final_scale = (effect->flags & _model_effect_scale_flag) ? data->final_scale : model->scale;
    effect->initial_transparency = effect->final_transparency = model->transparency;
    if (effect->flags & _model_effect_fade_in_flag)
    {
        effect->initial_transparency = FIXED_FRACTION_ONE;
        effect->final_transparency = 0;
    }
    if (effect->flags & _model_effect_fade_out_flag)
    {
        effect->initial_transparency = (effect->flags & _model_effect_fade_in_flag) ? FIXED_FRACTION_ONE : 0;
        effect->final_transparency = FIXED_FRACTION_ONE;
    }
    effect->material_fading_index = NONE;
    if (!permutation_only && data->material_fading_index != NONE && data->material_fading_index >= 0 &&
        data->material_fading_index < 32767)
    {
        effect->material_fading_index = (int16_t)data->material_fading_index;
        effect->initial_material_transparency =
            model->material_fading_index == data->material_fading_index ? model->material_transparency : 0;
        effect->final_material_transparency = data->material_final_transparency;
        model->material_fading_index = effect->material_fading_index;
    }
    effect->projectile_origin = data->projectile_origin;
    effect->projectile_type_to_create = data->projectile_type_to_create;

    const model_definition *definition = get_model_definition(model->type);
    const int32_t permutations = definition ? definition->model_permutation_count : 1;
    if (data->set_permutation != NONE && data->set_permutation >= 0)
        model->model_permutation = model->desired_model_permutation = (int16_t)(data->set_permutation % permutations);
    effect->new_permutation = NONE;
    if (data->new_permutation != NONE && data->new_permutation >= 0)
    {
        effect->new_permutation = (int16_t)(data->new_permutation % permutations);
        if (effect->new_permutation != model->model_permutation)
        {
            model->desired_model_permutation = effect->new_permutation;
            model->permutation_crossfade_amount = 0;
        }
    }
    return true;
}

static void end_model_effect(int32_t effect_index, model_effect_data *effect)
{
    const model_effect_data finished = *effect;
    delete_datum(&model_effect_data_globals, effect_index);
    if ((finished.flags & _model_effect_create_projectile_flag) && projectile_slot.get())
        projectile_slot.get()(finished.projectile_type_to_create, &finished.projectile_origin,
                                        finished.model_index);
    if (finished.flags & _model_effect_delete_model_flag) delete_model(finished.model_index);
    const auto succeeded = get_map_action_procedures()->map_action_succeeded;
    if (finished.map_action_identifier != NONE && succeeded) succeeded(finished.map_action_identifier);
}

void update_model_effects(void)
{
    for (int32_t i = 0; i < model_effect_data_globals.count; ++i)
    {
        model_effect_data *effect = get_model_effect(i);
        if (!effect) continue;
        model_data *model = get_model(effect->model_index);
        if (!model || model->identifier != effect->model_identifier)
        {
            delete_datum(&model_effect_data_globals, i);
            continue;
        }
        effect->elapsed += 1;
        const int32_t t = effect->elapsed, d = effect->duration;
        if (effect->delta_yaw || effect->delta_pitch || effect->initial_scale != effect->final_scale)
            set_model_orientation(effect->model_index, (angle)interpolate(effect->initial_yaw, effect->initial_yaw + effect->delta_yaw, t, d),
                                  (angle)interpolate(effect->initial_pitch, effect->initial_pitch + effect->delta_pitch, t, d),
                                  (int16_t)interpolate(effect->initial_scale, effect->final_scale, t, d));
        model->transparency =
            (fixed_fraction)interpolate(effect->initial_transparency, effect->final_transparency, t, d);
        if (effect->material_fading_index != NONE)
            model->material_transparency = (fixed_fraction)interpolate(
                effect->initial_material_transparency, effect->final_material_transparency, t, d);
        if (effect->new_permutation != NONE && model->model_permutation != model->desired_model_permutation)
        {
            model->permutation_crossfade_amount = (fixed_fraction)interpolate(0, FIXED_FRACTION_ONE, t, d);
            if (t >= d)
            {
                model->model_permutation = model->desired_model_permutation;
                model->permutation_crossfade_amount = 0;
            }
        }
        if (t >= d) end_model_effect(i, effect);
    }
}

void hash_model_effects(uint32_t *hash)
{
    state_hash_add_int32(hash, model_effect_data_globals.count);
    for (int32_t i = 0; i < model_effect_data_globals.count; ++i)
    {
        const model_effect_data *effect = get_model_effect(i);
        if (!effect) continue;
        const int32_t fields[] = {i, effect->model_index, effect->flags, effect->duration, effect->elapsed,
                                  effect->map_action_identifier, effect->new_permutation};
        for (int32_t field : fields) state_hash_add_int32(hash, field);
    }
}

#pragma once
// Model effects: a model turning, tilting, fading, scaling or changing its
// permutation over a number of ticks (scripts, knots).  One effect per model:
// a new one replaces the running one, which stops where it stands (a
// cross-fade in progress is settled on the new permutation).
//
// Every value moves linearly: after t of D ticks it is
// start + (end - start) * t / D (64-bit product, division truncating toward
// zero), so it reaches exactly its end on tick D.  Then a model with flag 4 is
// deleted, flag 16 makes the projectile, and the script that asked hears of it.

#include "cseries/cseries.h"
#include "world.h"

enum
{
    MAXIMUM_MODEL_EFFECTS_PER_MAP = 128,
};

enum new_model_effect_flag_bits
{
    _model_effect_fade_in_flag = 1, // transparency 65535 -> 0
    _model_effect_fade_out_flag = 2, // transparency 0 -> 65535
    _model_effect_delete_model_flag = 4, // at the end
    _model_effect_scale_flag = 8, // initial_scale -> final_scale (512 = 1.0)
    _model_effect_create_projectile_flag = 16, // at the end, at projectile_origin
    _model_effect_permutation_change_only_flag = 32, // only the permutation fields count
};

struct new_model_effect_data
{
    uint16_t flags;
    int16_t duration; // ticks; NONE or less than 1: everything happens on the next tick
    angle delta_yaw;
    angle delta_pitch;
    int32_t new_permutation; // NONE: none; cross-fades to it over the duration
    int32_t set_permutation; // NONE: none; set at once when the effect starts
    int32_t material_fading_index; // NONE: none
    fixed_fraction material_final_transparency;
    int16_t initial_scale;
    int16_t final_scale;
    int16_t reserved;
    world_point3d projectile_origin;
    tag projectile_type_to_create;
};

struct model_effect_data
{
    int16_t identifier;
    int16_t model_index;
    int16_t model_identifier;
    uint16_t flags;
    int16_t duration;
    int16_t elapsed;
    int32_t map_action_identifier;
    angle initial_yaw, initial_pitch;
    int32_t delta_yaw, delta_pitch; // signed turns
    int16_t initial_scale, final_scale;
    fixed_fraction initial_transparency, final_transparency;
    fixed_fraction initial_material_transparency, final_material_transparency;
    int16_t material_fading_index;
    int16_t new_permutation; // NONE: no cross-fade
    world_point3d projectile_origin;
    tag projectile_type_to_create;
};

bool initialize_model_effects(void);
void initialize_model_effects_for_new_map(void);
void dispose_model_effects_from_old_map(void);

// Starts an effect on the model; `map_action_identifier` (or NONE) is told
// when it ends.  False when the model does not exist or the array is full.
bool new_model_effect(int32_t model_index, int32_t map_action_identifier, const new_model_effect_data *data);

// The effect running on the model, or NONE.
int32_t get_model_effect_index(int32_t model_index);
model_effect_data *get_model_effect(int32_t effect_index);

// Runs one tick of every effect, in index order.  An effect whose model is
// gone ends silently.
void update_model_effects(void);

// What an ended effect asks of the projectile layer (subsystem 3); the script
// that started it hears through the map actions' table
// (map_action_procedures.h, `map_action_succeeded`).
typedef void (*model_effect_projectile_procedure)(tag projectile_type, const world_point3d *origin, int32_t model_index);
bool register_model_effect_projectile_procedure(model_effect_projectile_procedure procedure);

void hash_model_effects(uint32_t *hash);

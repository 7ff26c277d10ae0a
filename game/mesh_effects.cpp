// Mesh effects.

#include "mesh_effects.h"

#include "state_hash.h"
#include "tag_files/data.h"

struct mesh_effect_type_data
{
    int16_t duration;
    world_distance final_radius;
};

static const mesh_effect_type_data mesh_effect_types[NUMBER_OF_MESH_EFFECT_TYPES] = {
    {15, 1024}, // small shockwave
    {30, 3072}, // large shockwave
    {45, 768},  // ripple
};

static datum_globals mesh_effect_data_globals = {.name = "mesh effects", .size = sizeof(mesh_effect_data),
                                                 .maximum_count = MAXIMUM_MESH_EFFECTS};

static void hash_mesh_effects(uint32_t *hash)
{
    for (int32_t i = 0; i < mesh_effect_data_globals.count; ++i)
    {
        const mesh_effect_data *effect = get_mesh_effect_data(i);
        if (!effect) continue;
        state_hash_add_int32(hash, i);
        state_hash_add_int32(hash, effect->identifier);
        state_hash_add_int32(hash, effect->type);
        state_hash_add_int32(hash, effect->age);
        state_hash_add_int32(hash, effect->origin.x);
        state_hash_add_int32(hash, effect->origin.y);
    }
}

void initialize_mesh_effects(void)
{
    // Start-up runs once in the game; tests and tools may run it again.
    if (!mesh_effect_data_globals.blocks) initialize_data(&mesh_effect_data_globals);
    register_state_hash_procedure_at_start_up(hash_mesh_effects);
}

void initialize_mesh_effects_for_new_map(void) { initialize_data_for_new_map(&mesh_effect_data_globals); }
void dispose_mesh_effects_from_old_map(void) { dispose_data_from_old_map(&mesh_effect_data_globals); }

int32_t get_mesh_effect_duration(int16_t type)
{
    return type >= 0 && type < NUMBER_OF_MESH_EFFECT_TYPES ? mesh_effect_types[type].duration : 0;
}

world_distance get_mesh_effect_radius(const mesh_effect_data *effect)
{
    const int32_t duration = get_mesh_effect_duration(effect->type);
    if (duration <= 0) return 0;
    return (world_distance)(((int64_t)mesh_effect_types[effect->type].final_radius * effect->age) / duration);
}

void update_mesh_effects(void)
{
    data_iterator iterator = data_iterator_new(&mesh_effect_data_globals);
    while (mesh_effect_data *effect = (mesh_effect_data *)data_iterator_next(&iterator))
    {
        if (++effect->age >= get_mesh_effect_duration(effect->type))
            delete_datum(&mesh_effect_data_globals, iterator.index);
    }
}

int32_t new_mesh_effect(const new_mesh_effect_data *data)
{
    if (!data || get_mesh_effect_duration(data->type) <= 0) return NONE;
    const int32_t index = new_datum(&mesh_effect_data_globals);
    if (index == NONE) return NONE;
    mesh_effect_data *effect = (mesh_effect_data *)get_datum(&mesh_effect_data_globals, index);
    effect->type = data->type;
    effect->flags = data->flags;
    effect->origin = data->origin;
    return index;
}

mesh_effect_data *get_mesh_effect_data(int32_t index)
{
    if (index < 0 || index >= mesh_effect_data_globals.count) return nullptr;
    return (mesh_effect_data *)get_datum(&mesh_effect_data_globals, index);
}

int32_t get_mesh_effect_count(void)
{
    int32_t count = 0;
    for (int32_t i = 0; i < mesh_effect_data_globals.count; ++i) count += get_mesh_effect_data(i) != nullptr;
    return count;
}

int32_t get_mesh_effect_slot_count(void) { return mesh_effect_data_globals.count; }

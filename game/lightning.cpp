// Lightning bolts.

#include "lightning.h"

#include "cseries/registration.h"

#include "objects.h"
#include "state_hash.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"

const byte_swap_code lightning_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _4byte, _4byte, _4byte, _4byte, _4byte,
    _end_bs_array};

static bool postprocess_lightning_definition(definition_globals *group, int32_t definition_index, int32_t tag_index,
                                             void *data)
{
    lightning_definition *definition = (lightning_definition *)data;
    if (definition->strike_ticks < 1 || definition->linger_ticks < 0)
    {
        log_message(__FILE__, __LINE__, "lightning definition %d refused: strike %d ticks, linger %d", definition_index,
                    definition->strike_ticks, definition->linger_ticks);
        return false;
    }
    return true;
}

static definition_globals lightning_definition_globals = {
    .name = "lightning systems",
    .group = LIGHTNING_DEFINITION_GROUP,
    .current_version = LIGHTNING_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_LIGHTNING_DEFINITIONS,
    .size = sizeof(lightning_definition),
    .postprocess = postprocess_lightning_definition,
    .byte_swapping_data = lightning_definition_byte_swapping_data,
};

static datum_globals lightning_data_globals = {.name = "lightning", .size = sizeof(lightning_data),
                                               .maximum_count = MAXIMUM_LIGHTNING_BOLTS};

// Outside any globals record: a module's start-up and map changes never empty a registration.

static void hash_point(uint32_t *hash, const world_point3d *p)
{
    state_hash_add_int32(hash, p->x);
    state_hash_add_int32(hash, p->y);
    state_hash_add_int32(hash, p->z);
}

static void hash_lightning(uint32_t *hash)
{
    for (int32_t i = 0; i < lightning_data_globals.count; ++i)
    {
        const lightning_data *bolt = (const lightning_data *)get_datum(&lightning_data_globals, i);
        if (!bolt) continue;
        state_hash_add_int32(hash, i);
        state_hash_add_int32(hash, bolt->identifier);
        state_hash_add_int32(hash, bolt->type);
        state_hash_add_int32(hash, bolt->state);
        state_hash_add_int32(hash, bolt->age);
        state_hash_add_int32(hash, bolt->target_object_index);
        hash_point(hash, &bolt->origin);
        hash_point(hash, &bolt->end_point);
        hash_point(hash, &bolt->strike_point);
    }
}

// Where the object stands now and its identifier; false for a free slot.
static bool object_point(int32_t object_index, world_point3d *point, int16_t *identifier)
{
    const object_data *object = get_object(object_index);
    if (!object || !get_object_point(_object_point_position, object_index, point)) return false;
    *identifier = object->identifier;
    return true;
}

void initialize_lightning(void)
{
    if (!lightning_definition_globals.registered) initialize_definitions(&lightning_definition_globals);
    // Start-up runs once in the game; tests and tools may run it again.
    if (!lightning_data_globals.blocks) initialize_data(&lightning_data_globals);
    register_state_hash_procedure_at_start_up(hash_lightning);
}

void initialize_lightning_for_new_map(void)
{
    initialize_definitions_for_new_map(&lightning_definition_globals);
    initialize_data_for_new_map(&lightning_data_globals);
}

void dispose_lightning_from_old_map(void)
{
    dispose_data_from_old_map(&lightning_data_globals);
    dispose_definitions_from_old_map(&lightning_definition_globals);
}

definition_globals *get_lightning_definition_group(void) { return &lightning_definition_globals; }

const lightning_definition *get_lightning_definition(int32_t type)
{
    return (const lightning_definition *)try_and_get_definition(&lightning_definition_globals, type);
}

int32_t new_lightning(const new_lightning_data *data)
{
    const lightning_definition *definition = data ? get_lightning_definition(data->type) : nullptr;
    if (!definition) return NONE;
    const int32_t index = new_datum(&lightning_data_globals);
    if (index == NONE) return NONE;
    lightning_data *bolt = (lightning_data *)get_datum(&lightning_data_globals, index);
    bolt->type = data->type;
    bolt->state = _lightning_travelling;
    bolt->source_object_index = data->source_object_index;
    bolt->target_object_index = NONE;
    bolt->origin = data->p0;
    bolt->end_point = data->p1;
    bolt->strike_point = data->p1;
    // The target is remembered by index and identifier, so a target that died
    // and whose slot was reused is not struck by mistake.
    world_point3d point;
    int16_t identifier;
    if (data->target_object_index != NONE && object_point(data->target_object_index, &point, &identifier))
    {
        bolt->target_object_index = data->target_object_index;
        bolt->target_object_identifier = identifier;
    }
    return index;
}

lightning_data *get_lightning_data(int32_t lightning_index)
{
    if (lightning_index < 0 || lightning_index >= lightning_data_globals.count) return nullptr;
    return (lightning_data *)get_datum(&lightning_data_globals, lightning_index);
}

lightning_data *get_lightning_data_by_identifier(int32_t lightning_index, int16_t identifier)
{
    lightning_data *bolt = get_lightning_data(lightning_index);
    return bolt && bolt->identifier == identifier ? bolt : nullptr;
}

int16_t get_lightning_state(int32_t lightning_index)
{
    const lightning_data *bolt = get_lightning_data(lightning_index);
    return bolt ? bolt->state : (int16_t)NONE;
}

void change_lightning_endpoints(int32_t lightning_index, const world_point3d *p0, const world_point3d *p1)
{
    lightning_data *bolt = get_lightning_data(lightning_index);
    if (!bolt) return;
    if (p0) bolt->origin = *p0;
    if (p1) bolt->end_point = *p1;
}

// The end the bolt strikes: its target's point while the target lives, else
// its end point.  A target that is gone is forgotten.
static world_point3d strike_point_of(lightning_data *bolt)
{
    world_point3d point;
    int16_t identifier;
    if (bolt->target_object_index != NONE && object_point(bolt->target_object_index, &point, &identifier) &&
        identifier == bolt->target_object_identifier)
        return point;
    bolt->target_object_index = NONE;
    return bolt->end_point;
}

void update_lightning(void)
{
    data_iterator iterator = data_iterator_new(&lightning_data_globals);
    while (lightning_data *bolt = (lightning_data *)data_iterator_next(&iterator))
    {
        const lightning_definition *definition = get_lightning_definition(bolt->type);
        ++bolt->age;
        if (!definition)
        {
            delete_datum(&lightning_data_globals, iterator.index);
            continue;
        }
        if (bolt->state == _lightning_travelling)
        {
            if (bolt->age >= definition->strike_ticks)
            {
                bolt->state = _lightning_struck;
                bolt->strike_point = strike_point_of(bolt);
            }
        }
        else if (bolt->age >= definition->strike_ticks + definition->linger_ticks)
        {
            delete_datum(&lightning_data_globals, iterator.index);
        }
    }
}

int32_t get_lightning_bolt_count(void)
{
    int32_t count = 0;
    for (int32_t i = 0; i < lightning_data_globals.count; ++i) count += get_datum(&lightning_data_globals, i) != nullptr;
    return count;
}

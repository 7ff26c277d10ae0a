// Scenery and animating scenery.  See scenery.h.

#include "scenery.h"

#include <cstring>

#include "cseries/log.h"
#include "mesh.h"
#include "object_definitions.h"
#include "objects.h"
#include "state_hash.h"
#include "tag_files/tag_files.h"
#include "vesk_random.h"

const byte_swap_code scenery_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, _4byte, _2byte, _2byte, _2byte, _2byte, 104, _2byte, _2byte,
    _end_bs_array};

static void scenery_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                 definition_dependency_report report)
{
    scenery_definition *definition = (scenery_definition *)record;
    report(OBJECT_DEFINITION_GROUP_TAG, definition->object_tag, &definition->object_type, _dependency_optional_flag);
    definition->collection_index = NONE;
    if (get_definition_group(COLLECTION_GROUP_TAG))
        report(COLLECTION_GROUP_TAG, definition->collection_tag, &definition->collection_index,
               _dependency_optional_flag);
}

definition_globals scenery_definitions = {
    .name = "scenery",
    .group = SCENERY_DEFINITION_GROUP_TAG,
    .current_version = SCENERY_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_SCENERY_DEFINITIONS_PER_MAP,
    .size = sizeof(scenery_definition),
    .runtime_size = 0,
    .dependencies = scenery_dependencies,
    .postprocess = nullptr,
    .convert = nullptr,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = scenery_definition_byte_swapping_data,
};

// The shared animation of each scenery definition.
struct scenery_animation
{
    int16_t frame;
    int16_t ticks_left;
};

static struct scenery_globals
{
    bool initialized;
    scenery_animation animations[MAXIMUM_SCENERY_DEFINITIONS_PER_MAP];
} scenery_globals;

bool initialize_scenery(void)
{
    if (scenery_globals.initialized) return true;
    if (!scenery_definitions.registered && !initialize_definitions(&scenery_definitions)) return false;
    register_state_hash_procedure_at_start_up(hash_scenery);
    scenery_globals.initialized = true;
    return true;
}

void initialize_scenery_for_new_map(void)
{
    initialize_definitions_for_new_map(&scenery_definitions);
    memset(scenery_globals.animations, 0, sizeof(scenery_globals.animations));
}

void dispose_scenery_from_old_map(void) { dispose_definitions_from_old_map(&scenery_definitions); }

scenery_definition *get_scenery_definition(int32_t index)
{
    return (scenery_definition *)try_and_get_definition(&scenery_definitions, index);
}

int32_t new_scenery(int16_t definition_index, const world_location3d *location, bool invisible)
{
    const scenery_definition *definition = get_scenery_definition(definition_index);
    if (!definition) return NONE;
    new_object_data data;
    memset(&data, 0, sizeof(data));
    data.type = definition->object_type;
    data.owner = _object_is_scenery;
    data.owner_index = definition_index;
    data.scale = SHORT_FIXED_ONE;
    data.location = *location;
    const world_point2d point = {location->position.x, location->position.y};
    const world_distance surface = get_mesh_height(&point, _mesh_surface_height);
    if (surface != MESH_NO_HEIGHT) data.location.position.z = surface + location->position.z;
    data.collection_index = definition->collection_index;
    data.color_table_index = definition->color_table_index;
    const int32_t object_index = new_object(&data);
    if (object_index == NONE) return NONE;
    uint16_t shape_flags = _loop_sequence_frame_flag;
    if (definition->flags & _scenery_randomizes_initial_frame_flag) shape_flags |= _random_sequence_frame_flag;
    set_object_shape(object_index, definition->sequence_index, SHORT_FIXED_ONE, 0, 0, shape_flags, 0);
    object_data *object = get_object(object_index);
    if (definition->flags & _scenery_is_solid_flag) object->flags |= _object_is_solid_flag;
    object_scan_membership_changed(object_index);
    if (definition->flags & _scenery_is_invisible_on_overhead_map_flag)
        object->flags |= _object_invisible_on_overhead_map_flag;
    if (invisible) object->flags |= _object_is_invisible_flag;
    obstacle_facts_changed(object_index);
    return object_index;
}

void update_animating_scenery(void)
{
    for (int32_t i = 0; i < scenery_definitions.count && i < MAXIMUM_SCENERY_DEFINITIONS_PER_MAP; ++i)
    {
        const scenery_definition *definition = get_scenery_definition(i);
        if (!definition || !(definition->flags & _scenery_animates_flag)) continue;
        scenery_animation *animation = &scenery_globals.animations[i];
        if (--animation->ticks_left > 0) continue;
        const shape_sequence_information information =
            get_shape_sequence_information(definition->collection_index, definition->sequence_index);
        int16_t ticks = definition->ticks_per_frame > 0 ? definition->ticks_per_frame : information.ticks_per_frame;
        animation->ticks_left = ticks > 0 ? ticks : 1;
        animation->frame = (int16_t)((animation->frame + 1) % information.frames_per_view);
    }
}

bool get_animation_parameters_for_scenery(int32_t definition_index, int16_t *sequence, int16_t *frame)
{
    const scenery_definition *definition = get_scenery_definition(definition_index);
    if (!definition) return false;
    *sequence = definition->sequence_index;
    *frame = 0;
    if ((definition->flags & _scenery_animates_flag) && definition_index < MAXIMUM_SCENERY_DEFINITIONS_PER_MAP)
        *frame = scenery_globals.animations[definition_index].frame;
    return true;
}

void hash_scenery(uint32_t *hash)
{
    // Written in place: the fields go straight to the hashed bytes.
    enum { SIZE = 2 * 4 * MAXIMUM_SCENERY_DEFINITIONS_PER_MAP };
    uint8_t unbatched[SIZE];
    uint8_t *out = state_hash_begin_record(hash, SIZE, unbatched);
    for (int32_t i = 0; i < MAXIMUM_SCENERY_DEFINITIONS_PER_MAP; ++i)
    {
        state_hash_write_int32(out + 8 * i, scenery_globals.animations[i].frame);
        state_hash_write_int32(out + 8 * i + 4, scenery_globals.animations[i].ticks_left);
    }
    state_hash_end_record(hash, out, out + SIZE, unbatched, SIZE);
}

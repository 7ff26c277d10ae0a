// Object definitions ('obje').  See object_definitions.h.

#include "object_definitions.h"

#include <cstring>

#include "cseries/log.h"

const byte_swap_code object_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte,
    _begin_bs_array, NUMBER_OF_EFFECT_MODIFIERS, _2byte, _end_bs_array,
    _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte,
    12,
    _end_bs_array};

static void default_object_definition(void *record)
{
    object_definition *definition = (object_definition *)record;
    memset(definition, 0, sizeof(*definition));
    for (int32_t i = 0; i < NUMBER_OF_EFFECT_MODIFIERS; ++i) definition->effect_modifiers[i] = SHORT_FIXED_ONE;
    definition->scale_lower_bound = SHORT_FIXED_ONE;
}

// Refuses what would make the simulation misbehave rather than merely look odd.
static bool postprocess_object_definition(definition_globals *, int32_t, int32_t, void *record)
{
    const object_definition *definition = (const object_definition *)record;
    if (definition->radius < 0 || definition->height < 0 || definition->maximum_vitality < 0 ||
        definition->scale_lower_bound < 0 || definition->scale_delta < 0 || definition->terminal_velocity < 0)
    {
        log_message(__FILE__, __LINE__, "object definition refused: negative size, vitality, scale or speed");
        return false;
    }
    return true;
}

definition_globals object_definitions = {
    .name = "object",
    .group = OBJECT_DEFINITION_GROUP_TAG,
    .current_version = OBJECT_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_OBJECT_DEFINITIONS_PER_MAP,
    .size = sizeof(object_definition),
    .runtime_size = 0,
    .dependencies = nullptr,
    .postprocess = postprocess_object_definition,
    .convert = nullptr,
    .default_definition = default_object_definition,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = object_definition_byte_swapping_data,
};

bool initialize_object_definitions(void)
{
    return object_definitions.registered || initialize_definitions(&object_definitions);
}


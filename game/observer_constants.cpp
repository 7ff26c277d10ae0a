// The 'obpc' definition group.

#include "observer_constants.h"

#include <cstring>

#include "tag_files/definitions.h"

const byte_swap_code observer_physics_constants_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _begin_bs_array, NUMBER_OF_OBSERVER_PHYSICS_CONSTANTS * 2, _4byte, _4byte, _4byte, _end_bs_array,
    88,
    _end_bs_array};

namespace {

#define HALF(maximum, acceleration, deceleration) {(maximum), (acceleration), (deceleration)}
#define BOTH(maximum, acceleration, deceleration) \
    {HALF(maximum, acceleration, deceleration), HALF(maximum, acceleration, deceleration)}

const observer_physics_constants default_constants = {
    {
        BOTH(42, 4, 4),          // parallel
        BOTH(42, 4, 4),          // orthogonal
        BOTH(68, 4, 4),          // yaw
        BOTH(546, 78, 91),       // orbit
        BOTH(8, 2, 2),           // vertical
        BOTH(34, 34, 34),        // pitch
        BOTH(10922, 1560, 1560), // zoom
    },
    {}};

#undef HALF
#undef BOTH

definition_globals observer_physics_constants_definitions = {
    .name = "observer physics constants",
    .group = OBSERVER_PHYSICS_CONSTANTS_GROUP_TAG,
    .current_version = OBSERVER_PHYSICS_CONSTANTS_VERSION,
    .maximum_count = MAXIMUM_OBSERVER_PHYSICS_CONSTANTS_PER_MAP,
    .size = sizeof(observer_physics_constants),
    .runtime_size = 0,
    .dependencies = nullptr,
    .postprocess = nullptr,
    .convert = nullptr,
    .default_definition = default_observer_physics_constants,
    .tag_header_user_data = get_observer_physics_constants_tag_header_user_data,
    .byte_swapping_data = observer_physics_constants_byte_swapping_data,
    .release_runtime = nullptr,
    .definitions = nullptr,
    .flags = nullptr,
    .count = 0,
    .subgroups = nullptr,
    .tag_indexes = nullptr,
    .tag_names = nullptr,
    .runtimes = nullptr,
    .registered = false,
};

} // namespace

bool initialize_observer_physics_constants(void)
{
    return observer_physics_constants_definitions.registered ||
           initialize_definitions(&observer_physics_constants_definitions);
}

const observer_physics_constants *get_default_observer_physics_constants(void)
{
    return &default_constants;
}

void default_observer_physics_constants(void *definition)
{
    memcpy(definition, &default_constants, sizeof(default_constants));
}

uint32_t get_observer_physics_constants_tag_header_user_data(const void *definition)
{
    (void)definition;
    return (uint32_t)NONE;
}

int32_t load_observer_physics_constants(tag subgroup)
{
    if (!observer_physics_constants_definitions.registered) return NONE;
    return try_definition_tag_to_index(&observer_physics_constants_definitions, subgroup, true, 0);
}

const observer_physics_constants *get_observer_physics_constants(int32_t index)
{
    if (index == NONE || !observer_physics_constants_definitions.registered) return nullptr;
    return (const observer_physics_constants *)try_and_get_definition(&observer_physics_constants_definitions, index);
}

void initialize_observer_physics_constants_for_new_map(void)
{
    if (observer_physics_constants_definitions.registered)
        initialize_definitions_for_new_map(&observer_physics_constants_definitions);
}

void dispose_observer_physics_constants_from_old_map(void)
{
    if (observer_physics_constants_definitions.registered)
        dispose_definitions_from_old_map(&observer_physics_constants_definitions);
}

// Local projectile group definitions.  See local_projectile_groups.h.

#include "local_projectile_groups.h"

#include <cstring>

#include "cseries/log.h"
#include "definition_checks.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"

const byte_swap_code local_projectile_group_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte, _4byte,
    _begin_bs_array, 18, _2byte, _end_bs_array,
    80, 4,
    _end_bs_array};

void default_local_projectile_group_definition(void *record)
{
    local_projectile_group_definition *d = (local_projectile_group_definition *)record;
    memset(d, 0, sizeof(*d));
    d->collection_tag = NONE;
    d->sequence_index = NONE;
    d->scale_lower_bound = SHORT_FIXED_ONE;
    d->animation_rate = SHORT_FIXED_ONE;
    d->collection_index = NONE;
}

bool validate_local_projectile_group_definition(local_projectile_group_definition *d, const char *name)
{
    check_flags_32(&d->flags, LOCAL_PROJECTILE_GROUP_FLAGS_MASK, name, "local projectile group flags");
    check_sequence_index(&d->sequence_index, name, "sequence");
    check_count(&d->maximum_projectiles, MAXIMUM_LOCAL_PROJECTILES_PER_GROUP, name, "maximum projectiles");
    int16_t *not_negative[] = {&d->emission_lower_bound, &d->emission_delta, &d->lifespan_lower_bound,
                               &d->lifespan_delta, &d->radius, &d->height, &d->velocity_delta,
                               &d->scale_delta, &d->duration, &d->transition_in, &d->transition_out};
    for (int16_t *value : not_negative) check_not_negative(value, name, "count, time or size");
    if (d->sequence_index != NONE && (d->collection_tag == NONE || d->collection_tag == 0))
    {
        log_message(__FILE__, __LINE__, "local projectile group '%s' refused: a sequence without a collection", name);
        return false;
    }
    d->collection_index = NONE;
    return true;
}

// ---- the definition group --------------------------------------------------------

static void local_projectile_group_definition_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                                           definition_dependency_report report)
{
    local_projectile_group_definition *d = (local_projectile_group_definition *)record;
    // Tools and tests may run without collections: the index stays NONE then.
    d->collection_index = NONE;
    if (get_definition_group(COLLECTION_GROUP_TAG) && d->collection_tag != NONE && d->collection_tag != 0)
        report(COLLECTION_GROUP_TAG, d->collection_tag, &d->collection_index, _dependency_optional_flag);
}

static bool postprocess_local_projectile_group_definition(definition_globals *group, int32_t index, int32_t,
                                                          void *record)
{
    local_projectile_group_definition *d = (local_projectile_group_definition *)record;
    const int16_t collection_index = d->collection_index;
    if (!validate_local_projectile_group_definition(d, get_definition_name(group, index))) return false;
    d->collection_index = collection_index;
    return true;
}

definition_globals local_projectile_group_definitions = {
    .name = "local proj group",
    .group = LOCAL_PROJECTILE_GROUP_DEFINITION_GROUP_TAG,
    .current_version = LOCAL_PROJECTILE_GROUP_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_LOCAL_PROJECTILE_GROUP_DEFINITIONS_PER_MAP,
    .size = sizeof(local_projectile_group_definition),
    .runtime_size = 0,
    .dependencies = local_projectile_group_definition_dependencies,
    .postprocess = postprocess_local_projectile_group_definition,
    .convert = nullptr,
    .default_definition = default_local_projectile_group_definition,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = local_projectile_group_definition_byte_swapping_data,
};

bool initialize_local_projectile_group_definitions(void)
{
    return local_projectile_group_definitions.registered || initialize_definitions(&local_projectile_group_definitions);
}

void initialize_local_projectile_group_definitions_for_new_map(void)
{
    if (local_projectile_group_definitions.registered)
        initialize_definitions_for_new_map(&local_projectile_group_definitions);
}

void dispose_local_projectile_group_definitions_from_old_map(void)
{
    if (local_projectile_group_definitions.registered)
        dispose_definitions_from_old_map(&local_projectile_group_definitions);
}

const local_projectile_group_definition *get_local_projectile_group_definition(int32_t type)
{
    if (type < 0 || !local_projectile_group_definitions.registered) return nullptr;
    return (const local_projectile_group_definition *)try_and_get_definition(&local_projectile_group_definitions, type);
}

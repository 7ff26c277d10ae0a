// Local projectile group definitions.  See local_projectile_groups.h.

#include "local_projectile_groups.h"

#include <cstring>

#include "cseries/log.h"
#include "definition_checks.h"

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

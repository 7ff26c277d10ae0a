// Projectile and projectile group definitions.  See projectile_definitions.h.

#include "projectile_definitions.h"

#include <cstring>

#include "cseries/log.h"
#include "definition_checks.h"
#include "mesh_effects.h"

const byte_swap_code projectile_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte, _4byte, // flags, collection
    _begin_bs_array, NUMBER_OF_PROJECTILE_SEQUENCES, _2byte, _end_bs_array,
    _2byte, // splash
    _4byte, _4byte, // detonation group, contrail
    _2byte, _2byte, // contrail ticks and count
    _4byte, // object
    _begin_bs_array, 10, _2byte, _end_bs_array, // inertia .. class
    _4byte, // lightning
    _2byte, _2byte, // unused
    _begin_bs_array, NUMBER_OF_PROJECTILE_SOUNDS, _4byte, _end_bs_array,
    _begin_bs_array, 8, _2byte, _end_bs_array, // animation rate .. turning speed
    _4byte, _4byte, // promoted projectile, promotion group
    _2byte, _2byte, // safe acceleration, detonation fraction
    _begin_bs_array, 8, _2byte, _end_bs_array, // damage
    _4byte, _4byte, _4byte, // artifact, target detonation group, geometry
    _2byte, _2byte, // delay
    _4byte, // local group
    _2byte, _2byte, // nearby target radii
    _4byte, // promotion unit
    108, // reserved, use_accel and the run-time fields, as stored
    _end_bs_array};

const byte_swap_code projectile_group_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte, _2byte, _2byte, _4byte, _4byte,
    _begin_bs_array, MAXIMUM_PARTS_PER_PROJECTILE_GROUP,
    _4byte, _4byte, _4byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, 8,
    _end_bs_array,
    16,
    _end_bs_array};

void default_projectile_definition(void *record)
{
    projectile_definition *d = (projectile_definition *)record;
    memset(d, 0, sizeof(*d));
    d->collection_tag = NONE;
    for (int16_t &sequence : d->sequence_indexes) sequence = NONE;
    d->detonation_projectile_group_tag = NONE;
    d->contrail_projectile_tag = NONE;
    d->maximum_contrail_count = 32767;
    d->object_tag = NONE;
    d->inertia_lower_bound = SHORT_FIXED_ONE;
    d->detonation_frequency = FIXED_FRACTION_ONE;
    d->media_detonation_frequency = FIXED_FRACTION_ONE;
    d->projectile_class = NONE;
    d->lightning_tag = NONE;
    for (tag &sound : d->sound_tags) sound = NONE;
    d->animation_rate_lower_bound = SHORT_FIXED_ONE;
    d->initial_contrail_frequency = FIXED_FRACTION_ONE;
    d->guided_turning_speed = 546;
    d->promoted_projectile_tag = NONE;
    d->promotion_projectile_group_tag = NONE;
    d->damage.type = NONE;
    d->artifact_tag = NONE;
    d->target_detonation_projectile_group_tag = NONE;
    d->geometry_tag = NONE;
    d->local_projectile_group_tag = NONE;
    d->promotion_unit_tag = 0;
    // The run-time fields are the loader's; they start as "none".
    d->local_projectile_group_type = d->geometry_index = d->target_detonation_projectile_group_type = NONE;
    d->lightning_index = d->artifact_index = d->detonation_projectile_group_type = NONE;
    d->contrail_projectile_type = d->promotion_projectile_group_type = d->promoted_projectile_type = NONE;
    for (int16_t &sound : d->sound_indexes) sound = NONE;
    d->collection_index = d->color_table_index = d->object_type = NONE;
}

const projectile_definition *get_default_projectile_definition(void)
{
    static const projectile_definition definition = [] {
        projectile_definition d;
        default_projectile_definition(&d);
        return d;
    }();
    return &definition;
}

uint32_t get_projectile_definition_tag_header_user_data(const void *) { return (uint32_t)NONE; }

void default_projectile_group_definition(void *record)
{
    projectile_group_definition *d = (projectile_group_definition *)record;
    memset(d, 0, sizeof(*d));
    d->mesh_effect_type = NONE;
    d->sound_tag = NONE;
    d->local_projectile_group_tag = NONE;
    for (projectile_group_part &part : d->parts)
    {
        part.projectile_tag = part.fail_projectile_tag = NONE;
        part.appearing_fraction = FIXED_FRACTION_ONE;
        part.projectile_type = part.fail_projectile_type = NONE;
    }
    d->sound_index = d->local_projectile_group_type = NONE;
}

// The damage a definition carries: a type outside the table would index the
// effect modifiers with it, so it cannot be repaired into a guess.
static bool validate_damage(damage_definition *damage, const char *name)
{
    if (damage->type < NONE || damage->type >= NUMBER_OF_DAMAGE_TYPES)
    {
        log_message(__FILE__, __LINE__, "definition '%s' refused: damage type %d is not one of 0-%d", name,
                    (int)damage->type, NUMBER_OF_DAMAGE_TYPES - 1);
        return false;
    }
    check_flags_16(&damage->flags, DAMAGE_DEFINITION_FLAGS_MASK, name, "damage flags");
    check_not_negative(&damage->damage_delta, name, "damage delta");
    check_not_negative(&damage->radius_lower_bound, name, "damage radius");
    check_not_negative(&damage->radius_delta, name, "damage radius delta");
    return true;
}

bool validate_projectile_definition(projectile_definition *d, const char *name)
{
    if (!validate_damage(&d->damage, name)) return false;
    for (int16_t &sequence : d->sequence_indexes) check_sequence_index(&sequence, name, "sequence");
    if (d->projectile_class < NONE || d->projectile_class >= NUMBER_OF_PROJECTILE_CLASSES)
    {
        log_message(__FILE__, __LINE__, "projectile definition '%s': class %d taken as none", name,
                    (int)d->projectile_class);
        d->projectile_class = NONE;
    }
    check_not_negative(&d->ticks_between_contrails, name, "ticks between contrails");
    check_not_negative(&d->maximum_contrail_count, name, "contrail count");
    check_not_negative(&d->inertia_delta, name, "inertia delta");
    check_not_negative(&d->random_initial_velocity, name, "random initial velocity");
    check_not_negative(&d->animation_rate_delta, name, "animation rate delta");
    check_not_negative(&d->lifespan_lower_bound, name, "lifespan");
    check_not_negative(&d->lifespan_delta, name, "lifespan delta");
    check_not_negative(&d->delay_lower_bound, name, "delay");
    check_not_negative(&d->delay_delta, name, "delay delta");
    check_not_negative(&d->nearby_target_radius, name, "nearby target radius");
    check_not_negative(&d->exclude_nearby_target_radius, name, "excluded nearby target radius");
    // Stored run-time bytes are never trusted: the loader fills these.
    d->local_projectile_group_type = d->geometry_index = d->target_detonation_projectile_group_type = NONE;
    d->lightning_index = d->artifact_index = d->detonation_projectile_group_type = NONE;
    d->contrail_projectile_type = d->promotion_projectile_group_type = d->promoted_projectile_type = NONE;
    for (int16_t &sound : d->sound_indexes) sound = NONE;
    d->collection_index = d->color_table_index = d->object_type = NONE;
    return true;
}

bool validate_projectile_group_definition(projectile_group_definition *d, const char *name)
{
    check_flags_32(&d->flags, 0, name, "projectile group flags");
    if (d->mesh_effect_type < NONE || d->mesh_effect_type >= NUMBER_OF_MESH_EFFECT_TYPES)
    {
        log_message(__FILE__, __LINE__, "projectile group '%s': mesh effect %d taken as none", name,
                    (int)d->mesh_effect_type);
        d->mesh_effect_type = NONE;
    }
    check_count(&d->number_of_parts, MAXIMUM_PARTS_PER_PROJECTILE_GROUP, name, "number of parts");
    for (projectile_group_part &part : d->parts)
    {
        check_flags_32(&part.flags, PROJECTILE_GROUP_PART_FLAGS_MASK, name, "part flags");
        check_not_negative(&part.count_lower_bound, name, "part count");
        check_not_negative(&part.count_delta, name, "part count delta");
        check_not_negative(&part.position_delta, name, "part position delta");
        part.projectile_type = part.fail_projectile_type = NONE;
    }
    d->sound_index = d->local_projectile_group_type = NONE;
    return true;
}

// Monster and artifact definitions.  See monster_definitions.h.

#include "monster_definitions.h"

#include <cstring>

#include "cseries/log.h"
#include "definition_checks.h"

// An attack: flags, tag, eight 16-bit fields with the sequences, then the
// run-time projectile type and the spare bytes left as they are.
#define MONSTER_ATTACK_BYTE_SWAPPING                                                                          \
    _2byte, _2byte, _4byte, _2byte, _2byte, _2byte,                                                           \
    _begin_bs_array, NUMBER_OF_MONSTER_ATTACK_SEQUENCES, _2byte, _2byte, _end_bs_array,                       \
    _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, 18

const byte_swap_code monster_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte, _4byte, _4byte, _4byte, _4byte,
    _begin_bs_array, 34, _2byte, _end_bs_array,
    _begin_bs_array, NUMBER_OF_MONSTER_SEQUENCES, _2byte, _end_bs_array,
    2 * NUMBER_OF_MONSTER_TERRAIN_COSTS,
    _begin_bs_array, NUMBER_OF_MONSTER_DEFINITION_SOUNDS, _2byte, _end_bs_array,
    _begin_bs_array, NUMBER_OF_MONSTER_DEFINITION_SOUNDS, _4byte, _end_bs_array,
    _begin_bs_array, MAXIMUM_ATTACKS_PER_MONSTER, MONSTER_ATTACK_BYTE_SWAPPING, _end_bs_array,
    _begin_bs_array, 13, _4byte, _end_bs_array,
    396, 64,
    _end_bs_array};

const byte_swap_code artifact_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte, _4byte, _4byte,
    _2byte, _2byte, _2byte, _2byte,
    _begin_bs_array, NUMBER_OF_MONSTER_EFFECT_MODIFIERS, _2byte, _end_bs_array,
    _begin_bs_array, NUMBER_OF_ARTIFACT_PROJECTILE_TYPES, _4byte, _end_bs_array,
    MONSTER_ATTACK_BYTE_SWAPPING,
    112, 12,
    _end_bs_array};

static void default_attack(monster_attack_definition *attack)
{
    memset(attack, 0, sizeof(*attack));
    attack->projectile_tag = NONE;
    attack->projectile_type = NONE;
    for (monster_attack_sequence &sequence : attack->sequences) sequence.sequence_index = NONE;
}

void default_monster_definition(void *record)
{
    monster_definition *definition = (monster_definition *)record;
    memset(definition, 0, sizeof(*definition));
    definition->collection_tag = NONE;
    for (int16_t &sequence : definition->sequence_indexes) sequence = NONE;
    for (uint8_t &modifier : definition->movement_modifiers) modifier = 100; // percent of the base speed
    for (int16_t &type : definition->sound_types) type = NONE;
    for (tag &sound : definition->sound_tags) sound = NONE;
    for (monster_attack_definition &attack : definition->attacks) default_attack(&attack);
    definition->names_string_list_tag = definition->spelling_string_list_tag = NONE;
    definition->ammunition_projectile_tag = definition->entrance_projectile_group_tag = NONE;
    definition->exit_projectile_group_tag = definition->melee_impact_projectile_group_tag = NONE;
    definition->blocked_impact_projectile_group_tag = definition->absorbed_impact_projectile_group_tag = NONE;
    definition->burning_death_projectile_group_tag = definition->dying_projectile_group_tag = NONE;
    definition->exploding_projectile_group_tag = definition->local_projectile_group_tag = NONE;
    definition->object_tag = NONE;
    definition->collection_index = definition->object_type = NONE;
    definition->names_string_list_index = definition->spelling_string_list_index = NONE;
    definition->ammunition_projectile_type = definition->entrance_projectile_group_type = NONE;
    definition->exit_projectile_group_type = definition->melee_impact_projectile_group_type = NONE;
    definition->blocked_impact_projectile_group_type = definition->absorbed_impact_projectile_group_type = NONE;
    definition->burning_death_projectile_group_type = definition->dying_projectile_group_type = NONE;
    definition->exploding_projectile_group_type = definition->local_projectile_group_type = NONE;
    for (int16_t &sound : definition->sound_indexes) sound = NONE;
}

void default_artifact_definition(void *record)
{
    artifact_definition *definition = (artifact_definition *)record;
    memset(definition, 0, sizeof(*definition));
    definition->monster_restriction_tag = NONE;
    definition->override_tag = NONE;
    for (short_fixed &modifier : definition->bonus_effect_modifiers) modifier = SHORT_FIXED_ONE;
    for (tag &projectile : definition->projectile_tags) projectile = NONE;
    default_attack(&definition->override_attack);
    definition->monster_restriction_type = NONE;
    definition->monster_override_type = NONE;
    for (int16_t &type : definition->projectile_types) type = NONE;
}

// Repairs what the attack code would index with; an attack has nothing that
// cannot be repaired.
static void validate_attack(monster_attack_definition *attack, const char *name, const char *label)
{
    attack->projectile_type = NONE;
    check_flags_16(&attack->extra_flags, MONSTER_ATTACK_EXTRA_FLAGS_MASK, name, label);
    for (monster_attack_sequence &sequence : attack->sequences)
    {
        check_flags_16(&sequence.flags, MONSTER_ATTACK_SEQUENCE_FLAGS_MASK, name, "attack sequence flags");
        check_sequence_index(&sequence.sequence_index, name, label);
    }
    check_not_negative(&attack->initial_velocity_delta, name, label);
    check_not_negative(&attack->recovery_time, name, label);
}

bool validate_monster_definition(monster_definition *d, const char *name)
{
    if (d->monster_class < 0 || d->monster_class >= NUMBER_OF_MONSTER_CLASSES)
    {
        log_message(__FILE__, __LINE__, "monster definition '%s' refused: class %d is not one of 0-%d", name,
                    (int)d->monster_class, NUMBER_OF_MONSTER_CLASSES - 1);
        return false;
    }
    if (d->base_movement_speed < 0 || d->pathfinding_radius < 0 || d->size < 0)
    {
        log_message(__FILE__, __LINE__, "monster definition '%s' refused: negative speed, radius or size", name);
        return false;
    }
    check_flags_32(&d->flags, MONSTER_DEFINITION_FLAGS_MASK, name, "flags");
    check_flags_32(&d->hack_flags, MONSTER_HACK_FLAGS_MASK, name, "hack flags");
    check_flags_32(&d->more_hack_flags, MONSTER_MORE_HACK_FLAGS_MASK, name, "more hack flags");
    check_flags_32(&d->extra_flags, MONSTER_DEFINITION_EXTRA_FLAGS_MASK, name, "extra flags");
    check_count(&d->number_of_attacks, MAXIMUM_ATTACKS_PER_MONSTER, name, "number of attacks");
    check_count(&d->maximum_artifacts_carried, MAXIMUM_ARTIFACTS_PER_MONSTER, name, "artifacts carried");
    check_not_negative(&d->initial_ammunition_lower_bound, name, "initial ammunition");
    check_not_negative(&d->initial_ammunition_delta, name, "initial ammunition delta");
    check_not_negative(&d->maximum_ammunition_count, name, "maximum ammunition");
    check_not_negative(&d->attack_frequency_lower_bound, name, "attack frequency");
    check_not_negative(&d->attack_frequency_delta, name, "attack frequency delta");
    check_not_negative(&d->maximum_mana, name, "maximum mana");
    for (int16_t &sequence : d->sequence_indexes) check_sequence_index(&sequence, name, "sequence");
    for (int16_t &type : d->sound_types)
        if (type < NONE || type >= NUMBER_OF_MONSTER_DEFINITION_SOUNDS)
        {
            log_message(__FILE__, __LINE__, "monster definition '%s': sound type %d unused (not one of 0-%d)", name,
                        (int)type, NUMBER_OF_MONSTER_DEFINITION_SOUNDS - 1);
            type = NONE;
        }
    for (monster_attack_definition &attack : d->attacks) validate_attack(&attack, name, "attack");
    // Stored run-time bytes are never trusted: the loader fills these.
    monster_definition defaults;
    default_monster_definition(&defaults);
    const size_t runtime = offsetof(monster_definition, collection_index);
    memcpy((uint8_t *)d + runtime, (const uint8_t *)&defaults + runtime, sizeof(*d) - runtime);
    return true;
}

bool validate_artifact_definition(artifact_definition *d, const char *name)
{
    check_flags_32(&d->flags, ARTIFACT_FLAGS_MASK, name, "artifact flags");
    check_not_negative(&d->maximum_charges, name, "maximum charges");
    check_not_negative(&d->initial_charges_lower_bound, name, "initial charges");
    check_not_negative(&d->initial_charges_delta, name, "initial charges delta");
    check_not_negative(&d->expiry_timer, name, "expiry timer");
    if ((d->flags & _artifact_overrides_owner_monster_flag) && (d->override_tag == NONE || d->override_tag == 0))
    {
        log_message(__FILE__, __LINE__, "artifact definition '%s' refused: it overrides its owner but names no unit",
                    name);
        return false;
    }
    validate_attack(&d->override_attack, name, "override attack");
    d->monster_restriction_type = d->monster_override_type = NONE;
    for (int16_t &type : d->projectile_types) type = NONE;
    return true;
}

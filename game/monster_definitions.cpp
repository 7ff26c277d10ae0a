// Monster and artifact definitions.  See monster_definitions.h.

#include "monster_definitions.h"

#include <cstdio>
#include <cstring>

#include "cseries/log.h"
#include "cseries/tags.h"
#include "definition_checks.h"
#include "local_projectile_groups.h"
#include "media.h"
#include "object_definitions.h"
#include "projectile_definitions.h"
#include "vesk/string_lists.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"
#include "unit_definitions.h"
#include "vesk/string_lists.h"

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
    _begin_bs_array, 15, _4byte, _end_bs_array, // 512 .. the initial-artifacts group
    _2byte, // combined_power
    2, // unused
    _4byte, // the special ability's prompt list
    380, 64,
    _end_bs_array};

const byte_swap_code artifact_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte, _4byte, _4byte,
    _2byte, _2byte, _2byte, _2byte,
    _begin_bs_array, NUMBER_OF_MONSTER_EFFECT_MODIFIERS, _2byte, _end_bs_array,
    _begin_bs_array, NUMBER_OF_ARTIFACT_PROJECTILE_TYPES, _4byte, _end_bs_array,
    MONSTER_ATTACK_BYTE_SWAPPING,
    _4byte, // the special ability's prompt list
    106, 14,
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
    // Each unit counts once until a definition weighs it otherwise.
    definition->combined_power = 1;
    definition->collection_index = definition->object_type = NONE;
    definition->names_string_list_index = definition->spelling_string_list_index = NONE;
    definition->ammunition_projectile_type = definition->entrance_projectile_group_type = NONE;
    definition->exit_projectile_group_type = definition->melee_impact_projectile_group_type = NONE;
    definition->blocked_impact_projectile_group_type = definition->absorbed_impact_projectile_group_type = NONE;
    definition->burning_death_projectile_group_type = definition->dying_projectile_group_type = NONE;
    definition->exploding_projectile_group_type = definition->local_projectile_group_type = NONE;
    for (int16_t &sound : definition->sound_indexes) sound = NONE;
    definition->initial_artifacts_projectile_group_type = NONE;
    definition->special_ability_string_list_index = NONE;
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
    definition->special_ability_string_list_index = NONE;
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
    // Sums of powers are taken in 16 and 32 bits: a negative power would turn
    // them, and every ratio built on them, around.
    if (d->combined_power < 0 || d->combined_power > MAXIMUM_MONSTER_COMBINED_POWER)
    {
        char what[48];
        snprintf(what, sizeof(what), "%d is not one of 0-%d", (int)d->combined_power, MAXIMUM_MONSTER_COMBINED_POWER);
        return refuse_definition_field(name, "combined_power", what);
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
    d->special_ability_string_list_index = NONE;
    d->monster_restriction_type = d->monster_override_type = NONE;
    for (int16_t &type : d->projectile_types) type = NONE;
    return true;
}

// ---- the registry rows -----------------------------------------------------

// A group that is not registered (a tool or test without it) leaves the index
// NONE rather than refusing the definition.
static void report_if_registered(definition_dependency_report report, tag group, tag dependency, int16_t *index,
                                 uint32_t flags)
{
    *index = NONE;
    if (dependency == NONE || dependency == 0 || !get_definition_group(group)) return;
    report(group, dependency, index, flags);
}

// Dependencies in the order the record lists them: the collection, the
// object, the two string lists, the ammunition, each attack's projectile, the
// projectile groups, the local projectile group.
static void monster_definition_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                            definition_dependency_report report)
{
    monster_definition *d = (monster_definition *)record;
    report_if_registered(report, COLLECTION_GROUP_TAG, d->collection_tag, &d->collection_index,
                         _dependency_load_eagerly_flag);
    report_if_registered(report, OBJECT_DEFINITION_GROUP_TAG, d->object_tag, &d->object_type,
                         _dependency_load_eagerly_flag);
    report_if_registered(report, STRING_LIST_GROUP_TAG, d->names_string_list_tag, &d->names_string_list_index,
                         _dependency_optional_flag);
    report_if_registered(report, STRING_LIST_GROUP_TAG, d->spelling_string_list_tag,
                         &d->spelling_string_list_index, _dependency_optional_flag);
    // String lists are no definition group: the spellings, which only the
    // interface shows, come from the string-list store itself.
    if (d->spelling_string_list_index == NONE && d->spelling_string_list_tag != NONE &&
        d->spelling_string_list_tag != 0 && !get_definition_group(STRING_LIST_GROUP_TAG))
        d->spelling_string_list_index = (int16_t)string_list_tag_to_string_index(d->spelling_string_list_tag);
    report_if_registered(report, PROJECTILE_DEFINITION_GROUP_TAG, d->ammunition_projectile_tag,
                         &d->ammunition_projectile_type, _dependency_optional_flag);
    for (monster_attack_definition &attack : d->attacks)
        report_if_registered(report, PROJECTILE_DEFINITION_GROUP_TAG, attack.projectile_tag, &attack.projectile_type,
                             _dependency_optional_flag);
    const struct
    {
        tag *group_tag;
        int16_t *type;
    } groups[] = {
        {&d->entrance_projectile_group_tag, &d->entrance_projectile_group_type},
        {&d->exit_projectile_group_tag, &d->exit_projectile_group_type},
        {&d->melee_impact_projectile_group_tag, &d->melee_impact_projectile_group_type},
        {&d->blocked_impact_projectile_group_tag, &d->blocked_impact_projectile_group_type},
        {&d->absorbed_impact_projectile_group_tag, &d->absorbed_impact_projectile_group_type},
        {&d->burning_death_projectile_group_tag, &d->burning_death_projectile_group_type},
        {&d->dying_projectile_group_tag, &d->dying_projectile_group_type},
        {&d->exploding_projectile_group_tag, &d->exploding_projectile_group_type},
    };
    for (const auto &group : groups)
        report_if_registered(report, PROJECTILE_GROUP_DEFINITION_GROUP_TAG, *group.group_tag, group.type,
                             _dependency_optional_flag);
    report_if_registered(report, LOCAL_PROJECTILE_GROUP_DEFINITION_GROUP_TAG, d->local_projectile_group_tag,
                         &d->local_projectile_group_type, _dependency_optional_flag);
    // Optional for the registry: a group that does not load is refused by the
    // postprocess, in its own words.
    report_if_registered(report, PROJECTILE_GROUP_DEFINITION_GROUP_TAG, d->initial_artifacts_projectile_group_tag,
                         &d->initial_artifacts_projectile_group_type, _dependency_optional_flag);
}

static bool names_a_tag(tag value) { return value != NONE && value != 0; }

// The special ability's prompt list: a list of at least the two prompts, else
// NONE and one log line for this load of the definition.  Only the interface
// reads it, so a bad list costs the prompt, never the unit type.  String
// lists are no definition group: they come from the string-list store.
static int16_t resolve_special_ability_prompts(tag list, const char *kind, const char *name)
{
    if (!names_a_tag(list)) return NONE;
    const int32_t index = string_list_tag_to_string_index(list);
    if (index == NONE)
    {
        log_message(__FILE__, __LINE__, "%s definition '%s': special ability prompt list '%s' is missing", kind,
                    name, tag_to_string(list));
        return NONE;
    }
    const int32_t count = count_strings_in_list(index);
    if (count < NUMBER_OF_SPECIAL_ABILITY_PROMPTS)
    {
        log_message(__FILE__, __LINE__,
                    "%s definition '%s': special ability prompt list '%s' has %d strings, not the %d prompts", kind,
                    name, tag_to_string(list), (int)count, NUMBER_OF_SPECIAL_ABILITY_PROMPTS);
        return NONE;
    }
    return (int16_t)index;
}

// The unit's sounds by tag.  A missing one (or a build without the sound
// group) plays nothing and never refuses the type: the simulation does not
// hear sounds.
static void resolve_monster_sounds(monster_definition *d, const char *name)
{
    definition_globals *sounds = get_definition_group(FOUR_CHARACTER_CODE('s', 'o', 'u', 'n'));
    for (int32_t i = 0; i < NUMBER_OF_MONSTER_DEFINITION_SOUNDS; ++i)
    {
        d->sound_indexes[i] = NONE;
        if (!sounds || !names_a_tag(d->sound_tags[i])) continue;
        d->sound_indexes[i] =
            (int16_t)try_definition_tag_to_index(sounds, d->sound_tags[i], true, _definition_lookup_quiet_flag);
        if (d->sound_indexes[i] == NONE)
            log_message(__FILE__, __LINE__, "monster definition '%s': sound '%s' is missing", name,
                        tag_to_string(d->sound_tags[i]));
    }
}

// Validation resets the run-time block, which by now holds the dependency
// indexes: keep them across it.
static bool postprocess_monster_definition(definition_globals *group, int32_t index, int32_t, void *record)
{
    monster_definition *d = (monster_definition *)record;
    const size_t runtime = offsetof(monster_definition, collection_index);
    uint8_t saved[sizeof(monster_definition) - runtime];
    int16_t attack_types[MAXIMUM_ATTACKS_PER_MONSTER];
    memcpy(saved, (const uint8_t *)d + runtime, sizeof(saved));
    for (int32_t i = 0; i < MAXIMUM_ATTACKS_PER_MONSTER; ++i) attack_types[i] = d->attacks[i].projectile_type;
    const char *name = get_definition_name(group, index);
    if (!validate_monster_definition(d, name)) return false;
    memcpy((uint8_t *)d + runtime, saved, sizeof(saved));
    for (int32_t i = 0; i < MAXIMUM_ATTACKS_PER_MONSTER; ++i) d->attacks[i].projectile_type = attack_types[i];
    resolve_monster_sounds(d, name);
    d->special_ability_string_list_index =
        resolve_special_ability_prompts(d->special_ability_string_list_tag, "monster", name);
    // Every new unit of the type would be handed nothing, or the wrong thing,
    // without a word: refuse the type instead.
    if (names_a_tag(d->initial_artifacts_projectile_group_tag) &&
        d->initial_artifacts_projectile_group_type == NONE &&
        get_definition_group(PROJECTILE_GROUP_DEFINITION_GROUP_TAG))
    {
        char what[64];
        snprintf(what, sizeof(what), "'%s' is not a projectile group ('prgr')",
                 tag_to_string(d->initial_artifacts_projectile_group_tag));
        return refuse_definition_field(name, "initial_artifacts_group", what);
    }
    return true;
}

// Version 1 had neither power nor initial artifacts: every unit counted 1 and
// none was handed artifacts, whatever its spare bytes held.  Versions 1 and 2
// had no prompt list.
static bool convert_monster_definition(definition_globals *, int32_t, void *record, int16_t version)
{
    if (version != 1 && version != 2) return false;
    monster_definition *d = (monster_definition *)record;
    if (version == 1)
    {
        d->initial_artifacts_projectile_group_tag = 0;
        d->combined_power = 1;
    }
    d->special_ability_string_list_tag = NONE;
    return true;
}

// Version 1 had no prompt list, whatever its spare bytes held.
static bool convert_artifact_definition(definition_globals *, int32_t, void *record, int16_t version)
{
    if (version != 1) return false;
    ((artifact_definition *)record)->special_ability_string_list_tag = NONE;
    return true;
}

static void artifact_definition_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                             definition_dependency_report report)
{
    artifact_definition *d = (artifact_definition *)record;
    report_if_registered(report, UNIT_DEFINITION_GROUP_TAG, d->monster_restriction_tag, &d->monster_restriction_type,
                         _dependency_optional_flag);
    report_if_registered(report, UNIT_DEFINITION_GROUP_TAG, d->override_tag, &d->monster_override_type,
                         _dependency_optional_flag);
    for (int32_t i = 0; i < NUMBER_OF_ARTIFACT_PROJECTILE_TYPES; ++i)
        report_if_registered(report, PROJECTILE_DEFINITION_GROUP_TAG, d->projectile_tags[i], &d->projectile_types[i],
                             _dependency_optional_flag);
    report_if_registered(report, PROJECTILE_DEFINITION_GROUP_TAG, d->override_attack.projectile_tag,
                         &d->override_attack.projectile_type, _dependency_optional_flag);
}

static bool postprocess_artifact_definition(definition_globals *group, int32_t index, int32_t, void *record)
{
    artifact_definition *d = (artifact_definition *)record;
    const int16_t restriction = d->monster_restriction_type, override_type = d->monster_override_type;
    const int16_t attack_type = d->override_attack.projectile_type;
    int16_t types[NUMBER_OF_ARTIFACT_PROJECTILE_TYPES];
    memcpy(types, d->projectile_types, sizeof(types));
    const char *name = get_definition_name(group, index);
    if (!validate_artifact_definition(d, name)) return false;
    d->special_ability_string_list_index =
        resolve_special_ability_prompts(d->special_ability_string_list_tag, "artifact", name);
    d->monster_restriction_type = restriction;
    d->monster_override_type = override_type;
    d->override_attack.projectile_type = attack_type;
    memcpy(d->projectile_types, types, sizeof(types));
    return true;
}

definition_globals monster_definitions = {
    .name = "monster",
    .group = MONSTER_DEFINITION_GROUP_TAG,
    .current_version = MONSTER_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_MONSTER_DEFINITIONS_PER_MAP,
    .size = sizeof(monster_definition),
    .runtime_size = 0,
    .dependencies = monster_definition_dependencies,
    .postprocess = postprocess_monster_definition,
    .convert = convert_monster_definition,
    .default_definition = default_monster_definition,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = monster_definition_byte_swapping_data,
};

definition_globals artifact_definitions = {
    .name = "artifact",
    .group = ARTIFACT_DEFINITION_GROUP_TAG,
    .current_version = ARTIFACT_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_ARTIFACT_DEFINITIONS_PER_MAP,
    .size = sizeof(artifact_definition),
    .runtime_size = 0,
    .dependencies = artifact_definition_dependencies,
    .postprocess = postprocess_artifact_definition,
    .convert = convert_artifact_definition,
    .default_definition = default_artifact_definition,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = artifact_definition_byte_swapping_data,
};

bool initialize_monster_definitions(void)
{
    return (monster_definitions.registered || initialize_definitions(&monster_definitions)) &&
           (artifact_definitions.registered || initialize_definitions(&artifact_definitions));
}

void initialize_monster_definitions_for_new_map(void)
{
    initialize_definitions_for_new_map(&monster_definitions);
    initialize_definitions_for_new_map(&artifact_definitions);
}

void dispose_monster_definitions_from_old_map(void)
{
    dispose_definitions_from_old_map(&monster_definitions);
    dispose_definitions_from_old_map(&artifact_definitions);
}

bool largest_pathfinding_radius(int32_t *radius)
{
    // Every unit's step asks: the group is checked once, then each slot's
    // used flag (what get_monster_definition tells).
    const definition_globals &group = monster_definitions;
    if (!group.registered || group.count == NONE) return false;
    bool found = false;
    int32_t largest = 0;
    for (int32_t index = 0; index < group.count; ++index)
        if (group.flags[index] & _definition_used_flag)
        {
            const monster_definition *definition =
                (const monster_definition *)((const uint8_t *)group.definitions + (size_t)index * (size_t)group.size);
            if (!found || definition->pathfinding_radius > largest) largest = definition->pathfinding_radius;
            found = true;
        }
    if (found) *radius = largest;
    return found;
}

artifact_definition *get_artifact_definition(int32_t index)
{
    return (artifact_definition *)try_and_get_definition(&artifact_definitions, index);
}

int16_t monster_type_combined_power(int32_t monster_type)
{
    const monster_definition *definition = get_monster_definition(monster_type);
    return definition ? definition->combined_power : 0;
}

#undef MONSTER_ATTACK_BYTE_SWAPPING

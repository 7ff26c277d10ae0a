// Unit definitions.  See unit_definitions.h.

#include "unit_definitions.h"

#include <cstring>

#include "collection_references.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "monster_definitions.h"
#include "players.h"
#include "statistics.h"
#include "tag_files/definitions.h"

const byte_swap_code unit_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, 110, 2, 4, 4, _end_bs_array};

void default_unit_definition(void *record)
{
    unit_definition *definition = (unit_definition *)record;
    memset(definition, 0, sizeof(*definition));
    definition->monster_tag = NONE;
    definition->collection_reference_tag = NONE;
}

bool validate_unit_definition(unit_definition *definition, const char *name)
{
    definition->player_index = NONE;
    definition->parent_unit_tag = NONE;
    definition->monster_type = NONE;
    definition->collection_reference_index = NONE;
    if (definition->monster_tag == NONE || definition->monster_tag == 0 ||
        definition->collection_reference_tag == NONE || definition->collection_reference_tag == 0)
    {
        log_message(__FILE__, __LINE__, "unit definition '%s' refused: it names no monster or no collection reference",
                    name);
        return false;
    }
    return true;
}

// ---- the registry row ------------------------------------------------------

static void unit_definition_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                         definition_dependency_report report)
{
    unit_definition *definition = (unit_definition *)record;
    definition->player_index = NONE;
    definition->parent_unit_tag = NONE;
    definition->monster_type = NONE;
    definition->collection_reference_index = NONE;
    // The collection reference first, then the monster, as the record lists them.
    report(COLLECTION_REFERENCE_GROUP_TAG, definition->collection_reference_tag,
           &definition->collection_reference_index, _dependency_load_eagerly_flag);
    report(MONSTER_DEFINITION_GROUP_TAG, definition->monster_tag, &definition->monster_type,
           _dependency_load_eagerly_flag);
}

static bool postprocess_unit_definition(definition_globals *group, int32_t index, int32_t, void *record)
{
    unit_definition *definition = (unit_definition *)record;
    const char *name = get_definition_name(group, index);
    const int16_t monster_type = definition->monster_type;
    const int16_t reference_index = definition->collection_reference_index;
    if (!validate_unit_definition(definition, name)) return false;
    const monster_definition *monster = get_monster_definition(monster_type);
    const collection_reference_definition *reference = get_collection_reference(reference_index);
    if (!monster || !reference)
    {
        log_message(__FILE__, __LINE__, "unit definition '%s' refused: its %s cannot be loaded", name,
                    monster ? "collection reference" : "monster");
        return false;
    }
    if (monster->collection_tag != reference->collection_tag)
    {
        char reference_text[5], monster_text[5];
        error_message(12, __FILE__, __LINE__,
                      "%s unit definition has mismatched collection reference (%s) and monster (%s).", name,
                      tag_to_string_buffer(reference->collection_tag, reference_text),
                      tag_to_string_buffer(monster->collection_tag, monster_text));
        return false;
    }
    definition->player_index = NONE;
    definition->collection_reference_index = reference_index;
    definition->monster_type = monster_type;
    definition->parent_unit_tag = get_definition_subgroup(group, index);
    return true;
}

static unit_definition default_unit_definition_record = [] {
    unit_definition record;
    default_unit_definition(&record);
    return record;
}();

const unit_definition *get_default_unit_definition(void) { return &default_unit_definition_record; }
uint32_t get_unit_definition_tag_header_user_data(const void *) { return (uint32_t)NONE; }

definition_globals unit_definitions = {
    .name = "unit",
    .group = UNIT_DEFINITION_GROUP_TAG,
    .current_version = UNIT_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_UNIT_DEFINITIONS_PER_MAP,
    .size = sizeof(unit_definition),
    .runtime_size = 0,
    .dependencies = unit_definition_dependencies,
    .postprocess = postprocess_unit_definition,
    .convert = nullptr,
    .default_definition = default_unit_definition,
    .tag_header_user_data = get_unit_definition_tag_header_user_data,
    .byte_swapping_data = unit_definition_byte_swapping_data,
};

bool initialize_unit_definitions(void)
{
    return unit_definitions.registered || initialize_definitions(&unit_definitions);
}
void initialize_unit_definitions_for_new_map(void) { initialize_definitions_for_new_map(&unit_definitions); }
void dispose_unit_definitions_from_old_map(void) { dispose_definitions_from_old_map(&unit_definitions); }

unit_definition *get_unit_definition(int32_t index)
{
    return (unit_definition *)try_and_get_definition(&unit_definitions, index);
}

int32_t get_unit_collection_reference_index(int32_t unit_index, int32_t)
{
    const unit_definition *definition = get_unit_definition(unit_index);
    return definition ? (int32_t)definition->collection_reference_index : (int32_t)NONE;
}

int32_t find_unit_definition_for_player(int32_t player_index, tag parent_unit_tag)
{
    for (int32_t index = 0; index < unit_definitions.count; ++index)
    {
        if (get_definition_subgroup(&unit_definitions, index) == NONE) continue;
        const unit_definition *definition = get_unit_definition(index);
        if (definition && definition->player_index == player_index && definition->parent_unit_tag == parent_unit_tag)
            return index;
    }
    return NONE;
}

int32_t customize_unit_definition_for_player(tag unit_tag, int32_t player_index)
{
    const int32_t existing = find_unit_definition_for_player(player_index, unit_tag);
    if (existing != NONE) return existing;
    const int32_t shared_index = try_definition_tag_to_index(&unit_definitions, unit_tag, true, 0);
    const unit_definition *shared = get_unit_definition(shared_index);
    if (!shared) return NONE;

    const player_data *player = get_player_data(player_index);
    int32_t custom_reference = NONE;
    const tag reference_tag = get_definition_subgroup(&collection_references, shared->collection_reference_index);
    if (reference_tag != NONE)
    {
        if (player && (player->flags & FLAG(_player_uses_appearance_colors_bit)))
        {
            const uint16_t primary[4] = {player->appearance.primary_color.red, player->appearance.primary_color.green,
                                         player->appearance.primary_color.blue, player->appearance.primary_color.flags};
            const uint16_t secondary[4] = {
                player->appearance.secondary_color.red, player->appearance.secondary_color.green,
                player->appearance.secondary_color.blue, player->appearance.secondary_color.flags};
            custom_reference = custom_collection_reference(reference_tag, primary, secondary, false);
        }
        else
            custom_reference = custom_collection_reference(reference_tag, nullptr, nullptr, false);
    }

    unit_definition copy = *shared;
    if (custom_reference != NONE) copy.collection_reference_index = (int16_t)custom_reference;
    copy.parent_unit_tag = unit_tag;
    copy.player_index = (int16_t)player_index;
    const int32_t index = new_definition(&unit_definitions, unit_tag, &copy);
    if (index == NONE && custom_reference != NONE)
    {
        // Nothing refers to the reference made for the copy: give its slot back.
        delete_definition(&collection_references, custom_reference);
    }
    if (index != NONE)
    {
        // The player's kills, losses and damage are counted by this type, for
        // the scores as for the reports; a unit costs what it is worth in
        // trading points.
        const monster_definition *monster = get_monster_definition(copy.monster_type);
        const int32_t cost = monster && monster->experience_point_value > 0 ? monster->experience_point_value : 0;
        set_unit_statistics_type((int16_t)index, (int16_t)player_index, cost);
    }
    return index;
}

void delete_custom_unit_definitions_for_player(int32_t player_index)
{
    if (!ASSERT(player_index != NONE)) return;
    for (int32_t index = unit_definitions.count - 1; index >= 0; --index)
    {
        const unit_definition *definition = get_unit_definition(index);
        if (!definition || definition->player_index != player_index) continue;
        const int32_t parent_index = subgroup_tag_to_definition_index(&unit_definitions, definition->parent_unit_tag);
        const unit_definition *parent = get_unit_definition(parent_index);
        if (!parent) continue;
        if (definition->collection_reference_index != parent->collection_reference_index)
            delete_definition(&collection_references, definition->collection_reference_index);
        clear_unit_statistics((int16_t)index);
        delete_definition(&unit_definitions, index);
    }
}

// Collection references ('core').  See collection_references.h.

#include "collection_references.h"

#include <cstring>

#include "cseries/log.h"
#include "tag_files/collection_procedures.h"
#include "tag_files/tag_files.h"

const byte_swap_code collection_reference_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte,
    _begin_bs_array, MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS, _2byte, _end_bs_array,
    _4byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, 20,
    _end_bs_array};

static void collection_reference_dependencies(definition_globals *, int32_t, int32_t, void *record,
                                              definition_dependency_report report)
{
    collection_reference_definition *reference = (collection_reference_definition *)record;
    reference->collection_index = NONE;
    if (get_definition_group(COLLECTION_GROUP_TAG))
        report(COLLECTION_GROUP_TAG, reference->collection_tag, &reference->collection_index, 0);
}

static bool postprocess_collection_reference(definition_globals *, int32_t, int32_t, void *record)
{
    collection_reference_definition *reference = (collection_reference_definition *)record;
    if (reference->number_of_permutations < 0 ||
        reference->number_of_permutations > MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS)
    {
        log_message(__FILE__, __LINE__, "collection reference refused: %d permutations (0..%d)",
                    (int)reference->number_of_permutations, (int)MAXIMUM_COLLECTION_REFERENCE_PERMUTATIONS);
        return false;
    }
    reference->flags = 0; // the custom bit is run time only
    return true;
}

definition_globals collection_references = {
    .name = "collection reference",
    .group = COLLECTION_REFERENCE_GROUP_TAG,
    .current_version = COLLECTION_REFERENCE_VERSION,
    .maximum_count = MAXIMUM_COLLECTION_REFERENCES_PER_MAP,
    .size = sizeof(collection_reference_definition),
    .runtime_size = 0,
    .dependencies = collection_reference_dependencies,
    .postprocess = postprocess_collection_reference,
    .convert = nullptr,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = collection_reference_byte_swapping_data,
};

bool initialize_collection_references(void)
{
    return collection_references.registered || initialize_definitions(&collection_references);
}

void initialize_collection_references_for_new_map(void)
{
    initialize_definitions_for_new_map(&collection_references);
}

void dispose_collection_references_from_old_map(void) { dispose_definitions_from_old_map(&collection_references); }

collection_reference_definition *get_collection_reference(int32_t index)
{
    return (collection_reference_definition *)try_and_get_definition(&collection_references, index);
}

int32_t custom_collection_reference(tag reference_tag, const uint16_t primary_color[4],
                                    const uint16_t secondary_color[4], bool share)
{
    const int32_t original_index = try_definition_tag_to_index(&collection_references, reference_tag, true, 0);
    const collection_reference_definition *original = get_collection_reference(original_index);
    if (!original) return NONE;
    collection_reference_definition copy = *original;
    copy.flags = _collection_reference_is_custom_flag;
    // A colour not given is the definition's own team colour (its units'
    // colours when their player brings none); a definition without one marks
    // it unused (rgb flag 4), so it recolours nothing.
    memcpy(copy.primary_color, original->primary_color, sizeof(copy.primary_color));
    memcpy(copy.secondary_color, original->secondary_color, sizeof(copy.secondary_color));
    if (primary_color) memcpy(copy.primary_color, primary_color, sizeof(copy.primary_color));
    if (secondary_color) memcpy(copy.secondary_color, secondary_color, sizeof(copy.secondary_color));
    if (share)
        for (int32_t i = 0; i < collection_references.count; ++i)
        {
            const collection_reference_definition *other = get_collection_reference(i);
            if (other && (other->flags & _collection_reference_is_custom_flag) &&
                get_definition_subgroup(&collection_references, i) == reference_tag &&
                memcmp(other->primary_color, copy.primary_color, sizeof(copy.primary_color)) == 0 &&
                memcmp(other->secondary_color, copy.secondary_color, sizeof(copy.secondary_color)) == 0)
                return i;
        }
    const int32_t index = new_definition(&collection_references, reference_tag, &copy);
    const auto color = get_collection_procedures()->color_custom_collection_reference;
    if (index != NONE && color) color(get_collection_reference(index));
    return index;
}

int32_t get_collection_reference_permutation(int32_t reference_index, int32_t color_table_index)
{
    const collection_reference_definition *reference = get_collection_reference(reference_index);
    if (!reference) return NONE;
    for (int32_t i = 0; i < reference->number_of_permutations; ++i)
        if (reference->color_table_indexes[i] == color_table_index) return i;
    return 0;
}

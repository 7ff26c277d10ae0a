#include "collection_services.h"

#include "tag_files/collection_procedures.h"

bool verify_sequence_index(int32_t collection_index, int32_t sequence_index)
{
    if (const auto procedure = get_collection_procedures()->collection_holds_sequence)
        return procedure(collection_index, sequence_index);
    if (collection_index == NONE) return false;
    return sequence_index == NONE || sequence_index >= 0;
}

int32_t add_shading_table_to_collection_index(int32_t collection_index, const rgb_color *primary,
                                              const rgb_color *secondary, int32_t mode, fixed tint_fraction,
                                              const rgb_color *tint_color)
{
    const auto procedure = get_collection_procedures()->add_shading_table;
    if (!procedure) return NONE;
    return procedure(collection_index, primary, secondary, mode, tint_fraction, tint_color);
}

void preload_sequence_index(int32_t collection_index, int32_t sequence_index, bool *had_to_purge)
{
    if (had_to_purge) *had_to_purge = false;
    if (const auto procedure = get_collection_procedures()->preload_sequence)
        procedure(collection_index, sequence_index, had_to_purge);
}

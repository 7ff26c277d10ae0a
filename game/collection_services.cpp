#include "collection_services.h"

#include "cseries/registration.h"

static procedure_slot<verify_sequence_index_procedure> verify_sequence_slot("verify sequence index");
static procedure_slot<verify_sequence_index_procedure> collection_holds_sequence_slot("collection holds sequence");
static procedure_slot<add_shading_table_procedure> add_shading_table_slot("add shading table to collection");
static procedure_slot<preload_sequence_index_procedure> preload_sequence_slot("preload sequence index");

bool register_verify_sequence_index_procedure(verify_sequence_index_procedure procedure)
{
    return verify_sequence_slot.fill(procedure);
}

bool register_collection_holds_sequence_procedure(verify_sequence_index_procedure procedure)
{
    return collection_holds_sequence_slot.fill(procedure);
}

bool register_add_shading_table_to_collection_index_procedure(add_shading_table_procedure procedure)
{
    return add_shading_table_slot.fill(procedure);
}

bool register_preload_sequence_index_procedure(preload_sequence_index_procedure procedure)
{
    return preload_sequence_slot.fill(procedure);
}

bool verify_sequence_index(int32_t collection_index, int32_t sequence_index)
{
    if (verify_sequence_index_procedure procedure = verify_sequence_slot.get())
        return procedure(collection_index, sequence_index);
    if (verify_sequence_index_procedure procedure = collection_holds_sequence_slot.get())
        return procedure(collection_index, sequence_index);
    if (collection_index == NONE) return false;
    return sequence_index == NONE || sequence_index >= 0;
}

int32_t add_shading_table_to_collection_index(int32_t collection_index, const rgb_color *primary,
                                              const rgb_color *secondary, int32_t mode, fixed tint_fraction,
                                              const rgb_color *tint_color)
{
    add_shading_table_procedure procedure = add_shading_table_slot.get();
    if (!procedure) return NONE;
    return procedure(collection_index, primary, secondary, mode, tint_fraction, tint_color);
}

void preload_sequence_index(int32_t collection_index, int32_t sequence_index, bool *had_to_purge)
{
    if (had_to_purge) *had_to_purge = false;
    if (preload_sequence_index_procedure procedure = preload_sequence_slot.get())
        procedure(collection_index, sequence_index, had_to_purge);
}

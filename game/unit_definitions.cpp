// Unit definitions.  See unit_definitions.h.

#include "unit_definitions.h"

#include <cstring>

#include "cseries/log.h"

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

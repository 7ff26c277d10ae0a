// Unit inventory, artifacts and effects.

#include "monster_inventory.h"

#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"

uint32_t monster_could_pick_up_object(int32_t monster_index, int32_t object_index, int16_t object_identifier)
{
    return 0;
}

void delete_monster_carried_object_monsters(int32_t monster_index)
{
}

const short_fixed *get_monster_effect_modifiers(int32_t monster_index, bool use_artifact,
                                                bool prefer_monster_override_effects,
                                                bool default_to_object_effect_modifiers)
{
    static const short_fixed neutral[NUMBER_OF_EFFECT_MODIFIERS] = {256, 256, 256, 256, 256, 256, 256, 256,
                                                                    256, 256, 256, 256, 256, 256, 256, 256};
    return neutral;
}

bool drop_carried_object(int32_t monster_index, int32_t object_index, const new_projectile_group_data *data)
{
    return false;
}

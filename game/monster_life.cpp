// Unit creation and death.

#include "monster_life.h"

#include "monsters.h"

int32_t new_monster(marker_data *marker)
{
    return NONE;
}

int32_t new_monster_at_location(tag parent_unit_tag, const world_location3d *location, int16_t player_index,
                                uint32_t flags_to_add, uint32_t extra_flags_to_add)
{
    return NONE;
}

void kill_monster(int32_t monster_index, const damage_definition *definition, const damage_data *data,
                  int16_t death_type)
{
    delete_monster(monster_index, false);
}

// Queries about one unit.

#include "monster_queries.h"

#include "monsters.h"

int32_t get_relevant_experience(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return 0;
    return monster->experience < MAXIMUM_RELEVANT_EXPERIENCE ? monster->experience : MAXIMUM_RELEVANT_EXPERIENCE;
}

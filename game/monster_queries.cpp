// Queries about one unit.

#include "monster_queries.h"

#include "monsters.h"

int32_t get_relevant_experience(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return 0;
    const int32_t experience = monster->experience;
    return experience < (int32_t)MAXIMUM_RELEVANT_EXPERIENCE ? experience : (int32_t)MAXIMUM_RELEVANT_EXPERIENCE;
}

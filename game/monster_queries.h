#pragma once
// Queries about one unit: names, experience, artifact charges, nearest enemy,
// sounds.

#include <cstdint>

enum
{
    MAXIMUM_RELEVANT_EXPERIENCE = 5,
};

// The experience that sharpens a unit's attacks: one step per kill credited,
// capped at MAXIMUM_RELEVANT_EXPERIENCE.  0 for a free slot or a bad index.
int32_t get_relevant_experience(int32_t monster_index);

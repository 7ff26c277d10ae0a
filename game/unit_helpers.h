#pragma once
// What the units' modules share: the definition sequence numbers they play
// and a few small tests of units.  Private to the units' library.

#include <cstdint>

#include "monsters.h"
#include "objects.h"
#include "vesk_random.h"

// Definition sequence numbers (a monster definition's sequence_indexes).
enum
{
    SEQUENCE_IDLE = 0,
    SEQUENCE_MOVING = 1,
    SEQUENCE_PAUSING = 3,
    SEQUENCE_TURNING = 4,
    SEQUENCE_BLOCKING = 5,
    SEQUENCE_TAKING_DAMAGE = 6,
    SEQUENCE_PICKING_UP = 7,
    SEQUENCE_CELEBRATION = 9,
    SEQUENCE_RUNNING = 13,
    SEQUENCE_HOLDING = 15,
    SEQUENCE_TAUNTING = 16,
    SEQUENCE_GLIDING = 17,
    SEQUENCE_PROPELLED = 18,
};

// The unit in slot `monster_index` while it is still the one of `identifier`;
// null once the slot is free or holds another.
inline monster_data *same_unit(int32_t monster_index, int16_t identifier)
{
    monster_data *monster = get_monster_data(monster_index);
    return monster && monster->identifier == identifier ? monster : nullptr;
}

// A random term of 0 .. delta - 1 (0 for no delta), one draw when delta > 0.
inline int32_t random_term(int32_t delta)
{
    return delta > 0 ? (int32_t)(((int64_t)vesk_random() * delta) >> 16) : 0;
}

inline bool has_flags(uint32_t word, uint32_t flags) { return (word & flags) != 0; }

inline world_point2d position_of(const object_data *object)
{
    return {object->location.position.x, object->location.position.y};
}

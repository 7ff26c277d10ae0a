#pragma once
// Small helpers the selection's modules (selection, selection_orders,
// selection_interface) share.  Private to them.

#include <cstdint>

#include "game_records.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "monster_definitions.h"
#include "monsters.h"

inline bool in_replay(void) { return game_->type == _game_type_replay; }

// A unit's definition; null for no unit.
inline const monster_definition *definition_of(const monster_data *monster)
{
    return monster ? get_monster_definition(monster->type) : nullptr;
}

inline bool shift(const action_data *a) { return test_action_flag(a, _shift_down_bit); }
inline bool option_key(const action_data *a) { return test_action_flag(a, _option_down_bit); }

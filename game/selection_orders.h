#pragma once
// Orders from the selection: the per-action entry of the selection (the
// core's selection consumer), and the orders given from the keys, releases
// and the console.  Each order goes through a builder of monster_commands.h
// with the internal command identifier NONE.  Main thread only.

#include "selection.h"

// Once per action record (the core's selection consumer).  True when the
// console's text input took the action.  Nothing happens before a frame was
// drawn.
bool update_selection(action_data *action);
void handle_selection_action(const action_data *action);
void selection_rotate(bool clockwise);
// Local only: the units' `formation_index` is the interface's memory.
void assign_formation_to_selection(int32_t formation_index, bool in_place);
// NONE finds the one teammate.
void selection_detach_command(int32_t new_owner_player_index);


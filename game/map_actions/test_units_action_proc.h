#pragma once
// The unit test ('tuni'): watches a set of units and succeeds or fails on their state.
//
// Each trigger builds a working list of units (a team, or the 'subj'
// identifiers), narrows it by polygon and circle, and ANDs every test the
// action asks for into one result; 'user' and a 'clos' enemy search replace
// the result gathered before them.  Succeeds with _map_action_proc_succeeded_flag,
// else returns 0; it never asks to be deactivated.
//
// Lock-step simulation: the 'clos' search draws vesk_random in the order
// docs/determinism.md ("The unit test") gives.  The 'sele' test reads the
// local selection bit and so cannot be reproduced by a film.

#include <cstddef>
#include <cstdint>

// The run-time record kept on the action as '#glo' (8 bytes, host order).
struct test_unit_globals
{
    int16_t maximum_monster_count; // the most units the list held at the start of a trigger
    int16_t reserved; // 0
    int32_t initial_vitality; // 16.16: the average health at the first trigger after activation
};
static_assert(sizeof(test_unit_globals) == 8);
static_assert(offsetof(test_unit_globals, initial_vitality) == 4);

uint32_t test_units_action_proc(int32_t action_index);

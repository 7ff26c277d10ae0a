#pragma once
// The mission objectives: which objective of the map's mission list is the
// current one.  Row 0 of the list is its title; rows 1..count are the
// objectives the hints dialog lists, those before the current one done.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

struct mission_globals_data
{
    bool initialized;
    int32_t mission_count;   // objectives: the list's rows less one, never below 0
    int32_t objective_index; // 0..mission_count-1 (0 without objectives)
};

const mission_globals_data *get_console_mission_globals(void);

void initialize_console_mission_text(void);
// Counts the objectives of the map's mission list (`mission_list`, a string
// list tag; NONE or a missing list: none).
void initialize_console_mission_text_for_new_map(tag mission_list);
void dispose_console_mission_text_from_old_map(void);

// The next (forward) or previous objective, kept within 0..count-1; nothing
// without objectives or outside a map.
void advance_mission(bool forward);
// The current objective (0 without objectives or outside a map).
int32_t get_mission_objective_index(void);
int32_t get_mission_count(void);

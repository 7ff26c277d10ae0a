// The mission objectives the console shows.
#include "console/console_mission_text.h"

#include <cstring>

#include "cseries/log.h"
#include "vesk/string_lists.h"

static mission_globals_data mission_globals;

const mission_globals_data *get_console_mission_globals(void) { return &mission_globals; }

void initialize_console_mission_text(void) {}

void initialize_console_mission_text_for_new_map(tag mission_list)
{
    VASSERT(!mission_globals.initialized, "!mission_globals.initialized");
    const int32_t list = mission_list == NONE ? NONE : string_list_tag_to_string_index(mission_list);
    // Row 0 is the title; a map without a list has no objectives (never -1).
    const int32_t rows = count_strings_in_list(list);
    mission_globals.mission_count = rows > 0 ? rows - 1 : 0;
    mission_globals.objective_index = 0;
    mission_globals.initialized = true;
}

void dispose_console_mission_text_from_old_map(void) { mission_globals.initialized = false; }

void advance_mission(bool forward)
{
    if (!mission_globals.initialized || mission_globals.mission_count <= 0) return;
    int32_t index = mission_globals.objective_index + (forward ? 1 : -1);
    if (index < 0) index = 0;
    if (index > mission_globals.mission_count - 1) index = mission_globals.mission_count - 1;
    mission_globals.objective_index = index;
}

int32_t get_mission_objective_index(void) { return mission_globals.initialized ? mission_globals.objective_index : 0; }
int32_t get_mission_count(void) { return mission_globals.initialized ? mission_globals.mission_count : 0; }

#pragma once
// The table of action procedures: every tag a map action may name, the
// procedure that carries it out, the gameplay version after which the tag
// exists and whether the procedure is local to one machine.
//
// A procedure takes the index of the triggered action and returns result
// flags (map_action_engine.h): succeeded 2, deactivate 4 (executed 1 is
// added by the engine).  One that finds its settings unusable traces an
// error with map_action_error and, as a rule, returns 4.

#include <cstdint>

#include "map_actions.h"

typedef uint32_t (*map_action_proc)(int32_t action_index);

enum registered_map_action_proc_flags : uint16_t
{
    // Changes only what one machine shows or plays.
    _map_action_proc_local_flag = 1,
};

struct registered_map_action_proc
{
    action_tag tag;
    map_action_proc action_proc;
    const char *proc_function_str;
    int16_t implemented_after_gameplay_version; // the tag exists only above this version
    uint16_t flags;
};

enum { NUMBER_OF_REGISTERED_MAP_ACTION_PROCS = 62 };

// Installs the game's table (stored sorted by unsigned tag; checked once).
void initialize_action_procs(void);
// The row of `tag` under current_gameplay_version, or null: no row, or the
// version is not above the row's.
const registered_map_action_proc *action_tag_to_action_proc(action_tag tag);
// The game's rows, in tag order.
const registered_map_action_proc *get_registered_map_action_procs(int32_t *count);
// Tests: run the engine over their own rows (sorted by unsigned tag);
// null puts the game's table back.
void set_action_proc_table_for_tests(const registered_map_action_proc *rows, int32_t count);

// 'obmo' flies the camera, which belongs to player control (a later layer):
// its procedure is reached through this point.  Until it is filled (a
// program without a camera) the row traces "no camera" and returns 0.
typedef uint32_t (*observer_movement_action_procedure)(int32_t action_index);
bool register_observer_movement_action_procedure(observer_movement_action_procedure procedure);

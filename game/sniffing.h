#pragma once
// The tutorial watcher: watches the player's actions and commands for the tutorial's scripts.
//
// A map script ('snif') sets a test case; from then on the watcher looks at
// every input action and every command of the local player.  When the player
// does what the case asks for, the script's action is marked successful;
// anything else is swallowed and, at a limited rate, the action is told of
// an error, so the script can repeat its hint.  One case is active at a time.
//
// Determinism: the watcher feeds local input into script state and draws
// vesk_random for the error interval, and films do not record what it saw,
// so a film of a map that uses it does not replay in step
// (docs/determinism.md, "The tutorial watcher").  Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "map_actions/flow_control_action_procs.h" // new_sniffing_data, the request of 'snif'

struct action_data;
struct command_header;

enum
{
    SNIFFING_COMMAND_BUFFER_SIZE = 4096, // the scratch copy a command is decoded from
};

enum sniffing_flag_bits
{
    _sniffing_clear_after_success_bit = 0, // stop watching after the first success
    _sniffing_keep_reporting_errors_after_initial_success_bit = 1,
    _sniffing_already_successful_bit = 2,
    _sniffing_report_errors_bit = 3,

    // Bits 0 and 1 come with the request (new_sniffing_data_flags).
    _sniffing_already_successful_flag = FLAG(_sniffing_already_successful_bit),
    _sniffing_report_errors_flag = FLAG(_sniffing_report_errors_bit),
};

// The test cases.
enum sniffing_test_case
{
    _sniffing_not_watching = 0,
    _sniffing_overhead_map_is_shown = 1, // a question, not a watch
    _sniffing_input_toggle_overhead_map = 50,
    _sniffing_input_orbit = 51,
    _sniffing_input_move_forward_or_backward = 52,
    _sniffing_input_yaw = 53,
    _sniffing_input_move_sideways = 54,
    _sniffing_input_zoom = 55,
    _sniffing_command_general_first = 100, // 100 + the general order's type, up to 104
    _sniffing_command_movement = 105,
    _sniffing_command_target = 106,
    _sniffing_command_attack_location = 107,
    _sniffing_command_pick_up = 108,
    _sniffing_command_target_movement_or_stop = 109,
    _sniffing_command_special_ability_on_self = 150,
    _sniffing_command_special_ability_on_others = 151,
    _sniffing_command_special_ability = 152,
    _sniffing_command_loose_line_formation = 160,
    _sniffing_command_vanguard_formation = 161,
    _sniffing_command_any_formation = 162,
};

// ---- life cycle ------------------------------------------------------------------------

// The map step "tutorial": no case is watched; the scratch buffer is
// allocated (fatal error 8, "couldn't allocate #%d bytes for command header",
// when it cannot).
bool initialize_sniffing_for_new_map(void);
void dispose_sniffing_from_old_map(void);

// ---- the script's switch -------------------------------------------------------------------

// Test case 1 only answers whether the overhead map is fully shown (nothing
// changes).  Any other case replaces the watch: the request's flags with
// errors reported, its identifier, case and intervals; the first error may
// come after the initial delay.  False for every case but 1.
bool toggle_sniffing(const new_sniffing_data *data);

// ---- the watchers ----------------------------------------------------------------------------

// Whether the record holds input worth judging: any camera control (action
// flags 0-9), the overhead-map or pause key, or a key press other than
// Escape, a function key, Print Screen, Scroll Lock or Pause.
bool we_have_action_flags(const action_data *action);

// The tutorial watcher's place among the action consumers.  During an input
// case (50-55) a record worth judging that carries one of the case's flags
// succeeds and passes; any other such record is cleared (all zero, key and
// character -1), so nothing after the watcher sees it.  True when it cleared
// the record.
bool handle_action_sniffing(action_data *action);

// Sees each local command before it is queued (header in host order, fields
// still encoded).  During a command case (100-162) a command that meets the
// case succeeds and passes; null and sync commands pass; any other command is
// dropped.  A command is decoded from a copy, never in place; one whose size
// lies outside 8..SNIFFING_COMMAND_BUFFER_SIZE is never copied and is dropped
// (logged).  True when the command may go on.
bool handle_command_sniffing(command_header *command);

// The watch as it stands (tests, the console).
int16_t get_sniffing_test_case(void);
uint32_t get_sniffing_flags(void);
int32_t get_sniffing_next_possible_error_time(void);

// ---- registration points -------------------------------------------------------------------

// Whether the overhead map is fully shown, for test case 1, comes from the
// overhead map's table (overhead_map_procedures.h); until it registers, it is
// not shown.

// The watcher tells the map action with `action_identifier` that the player
// did what its case asked (set_map_action_success) or did something else
// (set_map_action_error).  Tests only: replaces that report (null: the map
// actions again); the previous procedure.
typedef void (*sniffing_report_procedure)(int16_t action_identifier, bool succeeded);
sniffing_report_procedure set_sniffing_report_procedure_for_tests(sniffing_report_procedure procedure);

// Registers the map step, the action consumer, the command sniffer and the
// map actions' 'snif' watcher (game/subsystems.cpp).
void register_sniffing_hooks(void);

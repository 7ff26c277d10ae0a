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
// vesk_random for the error interval.  Below gameplay version 1840 it judged
// on this machine alone, as commands were queued, so a film of a map that
// used it did not replay in step.  From 1840 everything it decides comes from
// the command stream: it judges the local player's commands as the executor
// runs them (the command sniffing point of commands.h), and its verdicts on
// local input (the camera, overhead-map and pause keys, which only this
// machine sees) and the overhead map's state travel as _command_tutorial_input
// commands that act when they run, so films and saved games replay them
// (docs/determinism.md, "The tutorial watcher").  Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
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

// The data of a _command_tutorial_input command (big-endian in the stream).
enum tutorial_input_verdict
{
    _tutorial_input_erred = 0,     // input the watch did not ask for
    _tutorial_input_succeeded = 1, // input the watch asked for
    _tutorial_overhead_map_hidden = 2, // the overhead map's state, for test case 1
    _tutorial_overhead_map_shown = 3,
};
struct command_tutorial_input_data
{
    int16_t test_case; // the watch the verdict was made for (1 with the overhead map's state)
    int16_t verdict;   // tutorial_input_verdict
};
static_assert(sizeof(command_tutorial_input_data) == 4);
static_assert(offsetof(command_tutorial_input_data, verdict) == 2);
extern const byte_swap_code command_tutorial_input_data_byte_swapping_data[];

// Queues a verdict as the local player's command; false when the outgoing
// ring is full (the verdict is lost; the input that made it comes again).
bool queue_tutorial_input_command(const command_tutorial_input_data *data);

// ---- life cycle ------------------------------------------------------------------------

// The map step "tutorial": no case is watched; the scratch buffer is
// allocated (fatal error 8, "couldn't allocate #%d bytes for command header",
// when it cannot).
bool initialize_sniffing_for_new_map(void);
void dispose_sniffing_from_old_map(void);

// ---- the script's switch -------------------------------------------------------------------

// Test case 1 only answers whether the overhead map is fully shown (nothing
// changes): from 1840 as the stream last reported it, below 1840 as this
// machine shows it.  Any other case replaces the watch: the request's flags with
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
// the record.  From 1840 it judges only in a single-player game, and success
// and error are queued as verdicts (at most one of a kind in 15 ticks, none
// that could change nothing) that act when they run; it also reports the
// overhead map's state whenever this machine's differs from the stream's.
bool handle_action_sniffing(action_data *action);

// Sees each command of the judged player (below 1840 as the local game
// queues it; from 1840 as the executor runs it, in a single-player game or a
// replay of one; header in host order, fields still encoded); other commands
// pass.  During a command case (100-162) a command that meets the case
// succeeds and passes; null and sync commands, the watcher's own verdicts and
// selection reports pass; any other command is dropped.  A command is
// decoded from a copy, never in place; one whose size lies outside
// 8..SNIFFING_COMMAND_BUFFER_SIZE is never copied and is dropped (logged).
// True when the command may go on.
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

// Registers the map step, the action consumer, the command sniffer, the
// verb _command_tutorial_input (its procedure and reader) and the map
// actions' 'snif' watcher (game/subsystems.cpp).
void register_sniffing_hooks(void);

// The tutorial watcher: watches the player's actions and commands for the tutorial's scripts.

#include "sniffing.h"
#include "overhead_map_procedures.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "map_actions/map_actions.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/flow_control_action_procs.h"
#include "map_actions/map_action_parameters.h"
#include "commands.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "input/action_queue.h"
#include "monster_commands.h"
#include "unit_commands.h"
#include "vesk_random.h"

enum
{
    NUMBER_OF_VALID_ACTION_FLAGS = 12,
    NUMBER_OF_INVALID_KEY_CODES = 16,
    // Formations the formation cases ask for.
    SNIFFING_LOOSE_LINE_FORMATION = 2,
    SNIFFING_VANGUARD_FORMATION = 8,
};

// The input a tutorial judges: the camera controls, the overhead map, pause.
static const int32_t valid_action_flags[NUMBER_OF_VALID_ACTION_FLAGS] = {
    _orbit_left_bit, _orbit_right_bit, _move_forward_bit, _move_backward_bit, _yaw_left_bit, _yaw_right_bit,
    _move_left_bit,  _move_right_bit,  _zoom_in_bit,      _zoom_out_bit,      _toggle_overhead_map_bit, _pause_game_bit,
};

// Keys that are never judged: Escape (0), the function keys F1-F12 (1-12),
// Print Screen (13), Scroll Lock (14) and Pause (15).
static const int16_t invalid_key_codes[NUMBER_OF_INVALID_KEY_CODES] = {0, 1, 2, 3, 4, 5, 6, 7,
                                                                       8, 9, 10, 11, 12, 13, 14, 15};

static struct sniffing_globals
{
    uint32_t flags; // sniffing_flag_bits
    struct command_header *command_header; // the scratch copy; null outside a map
    int16_t internal_action_identifier;
    int16_t test_case;
    int32_t next_possible_error_time; // game tick
    int32_t time_between_errors_min, time_between_errors_delta;
    // From the stream (1840 on): whether the overhead map was last reported shown.
    bool overhead_map_shown;

    // This machine's alone (what it has put into the stream, so that a held
    // key does not flood it): the game time of the last verdict of each kind
    // queued, NONE for none, and the overhead map's report on its way.
    int32_t last_verdict_time[2]; // by tutorial_input_verdict: erred, succeeded
    int8_t overhead_map_report_on_its_way; // NONE, or the state queued and not yet run (0 hidden, 1 shown)
} sniffing_globals;

enum
{
    // A verdict of a kind goes into the stream at most once in this many
    // ticks: a verdict runs a tick or two after it is queued, and once it
    // has run the watch itself holds the next one back.
    SNIFFING_VERDICT_INTERVAL = 15,
};

const byte_swap_code command_tutorial_input_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _2byte,
                                                                         _end_bs_array};



static void report_sniffing_to_map_action(int16_t action_identifier, bool succeeded);
// The map actions, unless a test replaced them.
static sniffing_report_procedure replaced_report = nullptr;

sniffing_report_procedure set_sniffing_report_procedure_for_tests(sniffing_report_procedure procedure)
{
    return std::exchange(replaced_report, procedure);
}

int16_t get_sniffing_test_case(void) { return sniffing_globals.test_case; }
uint32_t get_sniffing_flags(void) { return sniffing_globals.flags; }
int32_t get_sniffing_next_possible_error_time(void) { return sniffing_globals.next_possible_error_time; }

// ---- life cycle ------------------------------------------------------------------------

bool initialize_sniffing_for_new_map(void)
{
    sniffing_globals.test_case = _sniffing_not_watching;
    sniffing_globals.overhead_map_shown = false;
    sniffing_globals.last_verdict_time[0] = sniffing_globals.last_verdict_time[1] = NONE;
    sniffing_globals.overhead_map_report_on_its_way = NONE;
    if (!sniffing_globals.command_header)
    {
        // 8-byte aligned: the codec reads the 32-bit fields of the copy in place.
        sniffing_globals.command_header = (struct command_header *)aligned_alloc(8, SNIFFING_COMMAND_BUFFER_SIZE);
        if (!sniffing_globals.command_header)
        {
            ERROR_MESSAGE(8, "couldn't allocate #%d bytes for command header", (int)SNIFFING_COMMAND_BUFFER_SIZE);
            return false;
        }
    }
    return true;
}

void dispose_sniffing_from_old_map(void)
{
    free(sniffing_globals.command_header);
    sniffing_globals.command_header = nullptr;
    sniffing_globals.test_case = _sniffing_not_watching;
}

static bool sniffing_map_step(const new_game_data *) { return initialize_sniffing_for_new_map(); }

// ---- whose input is judged ----------------------------------------------------------------

// From 1840 the verdicts travel in the command stream and are acted on as
// commands run; below it the watcher judged on this machine alone.
static bool verdicts_in_stream(void)
{
    return current_gameplay_version >= FIRST_GAMEPLAY_VERSION_SNIFFING_RUNNING_COMMANDS;
}

// A command the watcher judges: its local player's, in a game whose stream
// carries that player's input (a single-player game or its replay).  Below
// 1840 the watcher sees only the commands a local game queues: its player's.
static bool command_is_judged(const command_header *command)
{
    if (command->player_index != local_player_index || local_player_index == NONE) return false;
    return !verdicts_in_stream() || game_carries_local_player_input();
}

// ---- the script's switch -----------------------------------------------------------------

bool toggle_sniffing(const new_sniffing_data *data)
{
    if (!data) return false;
    if (data->test_case == _sniffing_overhead_map_is_shown)
    {
        // From 1840 the answer is the stream's, as every replay reads it.
        if (verdicts_in_stream()) return sniffing_globals.overhead_map_shown;
        const auto shown = get_overhead_map_procedures()->map_is_shown;
        return shown && shown();
    }
    sniffing_globals.last_verdict_time[0] = sniffing_globals.last_verdict_time[1] = NONE;
    sniffing_globals.flags = data->flags | _sniffing_report_errors_flag;
    sniffing_globals.test_case = data->test_case;
    sniffing_globals.internal_action_identifier = data->action_identifier;
    sniffing_globals.time_between_errors_min = data->time_between_errors_min;
    sniffing_globals.time_between_errors_delta = data->time_between_errors_delta;
    sniffing_globals.next_possible_error_time = wrap_add32(game_->game_time, data->initial_delay_before_errors);
    return false;
}

// ---- success and error -------------------------------------------------------------------

static void report_to_action(bool succeeded)
{
    const sniffing_report_procedure report = replaced_report ? replaced_report : report_sniffing_to_map_action;
    report(sniffing_globals.internal_action_identifier, succeeded);
}

static void sniffing_succeeded(void)
{
    if (!(sniffing_globals.flags & _sniffing_already_successful_flag)) report_to_action(true);
    if (sniffing_globals.flags & _sniffing_clear_after_success_flag) sniffing_globals.test_case = _sniffing_not_watching;
    if (!(sniffing_globals.flags & _sniffing_keep_reporting_errors_after_initial_success_flag))
        sniffing_globals.flags &= ~(uint32_t)_sniffing_report_errors_flag;
    sniffing_globals.flags |= _sniffing_already_successful_flag;
}

// Reports an error when errors are reported and one is due, and sets when
// the next may come: one vesk_random draw when the interval has a random part.
static void sniffing_error(bool due_without_time)
{
    if (!(sniffing_globals.flags & _sniffing_report_errors_flag)) return;
    const bool due = game_->game_time > sniffing_globals.next_possible_error_time ||
                     (due_without_time && sniffing_globals.next_possible_error_time == NONE);
    if (!due) return;
    report_to_action(false);
    int32_t next = wrap_add32(game_->game_time, sniffing_globals.time_between_errors_min);
    if (sniffing_globals.time_between_errors_delta > 0)
        next = wrap_add32(next, (int32_t)(((int64_t)vesk_random() * sniffing_globals.time_between_errors_delta) >> 16));
    sniffing_globals.next_possible_error_time = next;
}

// ---- input ---------------------------------------------------------------------------------

bool we_have_action_flags(const action_data *action)
{
    if (!action) return false;
    for (int32_t i = 0; i < NUMBER_OF_VALID_ACTION_FLAGS; ++i)
        if (test_action_flag(action, valid_action_flags[i])) return true;
    if (action->key_code == NONE) return false;
    for (int32_t i = 0; i < NUMBER_OF_INVALID_KEY_CODES; ++i)
        if (action->key_code == invalid_key_codes[i]) return false;
    return true;
}

// The two action flags each input case succeeds on (the same one twice for
// the overhead map); false for a case that is not an input case.
static bool input_case_flags(int16_t test_case, int32_t *first, int32_t *second)
{
    switch (test_case)
    {
    case _sniffing_input_toggle_overhead_map: *first = *second = _toggle_overhead_map_bit; return true;
    case _sniffing_input_orbit: *first = _orbit_left_bit, *second = _orbit_right_bit; return true;
    case _sniffing_input_move_forward_or_backward: *first = _move_forward_bit, *second = _move_backward_bit; return true;
    case _sniffing_input_yaw: *first = _yaw_left_bit, *second = _yaw_right_bit; return true;
    case _sniffing_input_move_sideways: *first = _move_left_bit, *second = _move_right_bit; return true;
    case _sniffing_input_zoom: *first = _zoom_in_bit, *second = _zoom_out_bit; return true;
    default: return false;
    }
}

// Puts a verdict on local input into the stream (1840 on), unless one of its
// kind went out within the interval or running it could change nothing.
static void queue_input_verdict(int16_t verdict)
{
    const int32_t now = game_->game_time;
    int32_t *last = &sniffing_globals.last_verdict_time[verdict == _tutorial_input_succeeded ? 1 : 0];
    if (*last != NONE && now >= *last && now - *last < SNIFFING_VERDICT_INTERVAL) return;
    if (verdict == _tutorial_input_succeeded && (sniffing_globals.flags & _sniffing_already_successful_flag)) return;
    if (verdict == _tutorial_input_erred &&
        (!(sniffing_globals.flags & _sniffing_report_errors_flag) || now <= sniffing_globals.next_possible_error_time))
        return;
    const command_tutorial_input_data data = {sniffing_globals.test_case, verdict};
    if (queue_tutorial_input_command(&data)) *last = now;
}

// The overhead map's state goes into the stream whenever this machine's
// differs from the stream's (a local game, 1840 on), for test case 1; a
// state already on its way is not sent again.  A restored game's stream may
// say shown while the map is closed: the first record after it says so.
static void report_overhead_map_state(void)
{
    const auto shown_procedure = get_overhead_map_procedures()->map_is_shown;
    const int8_t shown = shown_procedure && shown_procedure() ? 1 : 0;
    if (shown == (sniffing_globals.overhead_map_shown ? 1 : 0) ||
        shown == sniffing_globals.overhead_map_report_on_its_way)
        return;
    const command_tutorial_input_data data = {_sniffing_overhead_map_is_shown,
                                              (int16_t)(shown ? _tutorial_overhead_map_shown
                                                              : _tutorial_overhead_map_hidden)};
    if (queue_tutorial_input_command(&data)) sniffing_globals.overhead_map_report_on_its_way = shown;
}

bool handle_action_sniffing(action_data *action)
{
    // From 1840 only a single-player game judges its player's input, and its
    // verdicts run from the stream; a replay shows them as the film has them
    // and leaves the viewer's camera alone.
    const bool in_stream = verdicts_in_stream();
    if (in_stream)
    {
        if (game_->type != _game_type_local) return false;
        report_overhead_map_state();
    }
    int32_t first, second;
    if (!action || !input_case_flags(sniffing_globals.test_case, &first, &second)) return false;
    if (!we_have_action_flags(action)) return false;
    if (test_action_flag(action, first) || test_action_flag(action, second))
    {
        if (in_stream)
            queue_input_verdict(_tutorial_input_succeeded);
        else
            sniffing_succeeded();
        return false;
    }
    if (in_stream)
        queue_input_verdict(_tutorial_input_erred);
    else
        sniffing_error(false);
    memset(action, 0, sizeof(*action));
    action->key_code = NONE;
    action->ascii_code = NONE;
    return true;
}

// ---- the verdicts in the stream ------------------------------------------------------------

bool queue_tutorial_input_command(const command_tutorial_input_data *data)
{
    if (!data) return false;
    alignas(8) uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    command_codec_state state;
    command_encode_new(&state, buffer, _command_tutorial_input);
    command_encode_data(&state, sizeof(*data), data, command_tutorial_input_data_byte_swapping_data);
    return !state.failed && queue_outgoing_command(state.header);
}

static void read_tutorial_input_command(command_codec_state *state, command_header *command)
{
    command_decode_new(state, command, _command_tutorial_input);
    command_decode_data(state, sizeof(command_tutorial_input_data), command_tutorial_input_data_byte_swapping_data);
}

// A verdict acts for the judged player of a game that carries its input, on
// the watch it was made for: one made for a case since replaced changes
// nothing.  Success and error follow the same rules as below 1840, at the
// tick the verdict runs (the error's draw included).
static bool execute_tutorial_input_command(command_header *command)
{
    command_codec_state state;
    command_decode_new(&state, command, _command_tutorial_input);
    const command_tutorial_input_data *data = (const command_tutorial_input_data *)command_decode_data(
        &state, sizeof(command_tutorial_input_data), command_tutorial_input_data_byte_swapping_data);
    if (!data) return false;
    if (!verdicts_in_stream() || !command_is_judged(command)) return true;
    int32_t first, second;
    switch (data->verdict)
    {
    case _tutorial_overhead_map_hidden:
    case _tutorial_overhead_map_shown:
        sniffing_globals.overhead_map_shown = data->verdict == _tutorial_overhead_map_shown;
        if (sniffing_globals.overhead_map_report_on_its_way == (sniffing_globals.overhead_map_shown ? 1 : 0))
            sniffing_globals.overhead_map_report_on_its_way = NONE;
        break;
    case _tutorial_input_succeeded:
    case _tutorial_input_erred:
        if (data->test_case != sniffing_globals.test_case ||
            !input_case_flags(sniffing_globals.test_case, &first, &second))
            break;
        if (data->verdict == _tutorial_input_succeeded)
            sniffing_succeeded();
        else
            sniffing_error(false);
        break;
    default:
        // A damaged film may hold many: logged once in a while, not each.
        LOG_REPEATED("tutorial input verdict %d of player %d at tick %d is unknown; skipped", data->verdict,
                     command->player_index, command->time);
        break;
    }
    return true;
}

// ---- commands ------------------------------------------------------------------------------

// The parts of a decoded command the cases look at.
struct sniffed_command
{
    int16_t verb;
    uint16_t flags;
    int16_t general_type;
    int16_t formation_index;
    bool special_ability_on_self; // the target list repeats the aggressor list over the shorter one
    bool selection_report;        // a preset-selection command reporting the current selection
};

// Decodes the copy in the scratch buffer.  False when it cannot be decoded.
static bool decode_sniffed_command(command_header *copy, sniffed_command *command)
{
    command->verb = copy->verb;
    command_codec_state state;
    switch (copy->verb)
    {
    case _command_general:
    {
        command_decode_new(&state, copy, _command_general);
        const command_general_data *data = (const command_general_data *)command_decode_data(
            &state, sizeof(command_general_data), command_general_data_byte_swapping_data);
        if (!data) return false;
        command->general_type = data->type;
        return true;
    }
    case _command_movement:
    {
        command_decode_new(&state, copy, _command_movement);
        const command_movement_data *data = (const command_movement_data *)command_decode_data(
            &state, sizeof(command_movement_data), command_movement_data_byte_swapping_data);
        if (!data) return false;
        command->flags = data->flags;
        command->formation_index = data->formation_index;
        return true;
    }
    case _command_target:
    {
        command_decode_new(&state, copy, _command_target);
        const command_target_data *data = (const command_target_data *)command_decode_data(
            &state, sizeof(command_target_data), command_target_data_byte_swapping_data);
        int16_t aggressor_count = 0, target_count = 0;
        const int16_t *aggressors = data ? (const int16_t *)command_decode_array(
                                               &state, &aggressor_count, sizeof(int16_t),
                                               command_unit_identifier_byte_swapping_data)
                                         : nullptr;
        const int16_t *targets = aggressors ? (const int16_t *)command_decode_array(
                                                  &state, &target_count, sizeof(int16_t),
                                                  command_unit_identifier_byte_swapping_data)
                                            : nullptr;
        if (!targets) return false;
        command->flags = data->flags;
        const int16_t shorter = aggressor_count < target_count ? aggressor_count : target_count;
        command->special_ability_on_self = true;
        for (int16_t i = 0; i < shorter; ++i)
            if (aggressors[i] != targets[i]) command->special_ability_on_self = false;
        return true;
    }
    case _command_preset_selection:
    {
        command_decode_new(&state, copy, _command_preset_selection);
        const command_preset_selection_data *data = (const command_preset_selection_data *)command_decode_data(
            &state, sizeof(command_preset_selection_data), command_preset_selection_data_byte_swapping_data);
        if (!data) return false;
        command->selection_report = (data->flags & _preset_selection_reports_current_selection_flag) != 0;
        return true;
    }
    default: return true; // the cases look at nothing but the verb
    }
}

static bool command_meets_case(const sniffed_command *command, int16_t test_case)
{
    const bool special = command->verb == _command_target && (command->flags & _command_target_special_ability_flag);
    const bool formation = command->verb == _command_movement && (command->flags & _command_movement_formation_flag);
    if (test_case >= _sniffing_command_general_first && test_case <= _sniffing_command_general_first + 4)
        return command->verb == _command_general && command->general_type == test_case - _sniffing_command_general_first;
    switch (test_case)
    {
    case _sniffing_command_movement: return command->verb == _command_movement;
    case _sniffing_command_target: return command->verb == _command_target;
    case _sniffing_command_attack_location: return command->verb == _command_attack_location;
    case _sniffing_command_pick_up: return command->verb == _command_pick_up;
    case _sniffing_command_target_movement_or_stop:
        return command->verb == _command_target || command->verb == _command_movement ||
               (command->verb == _command_general && command->general_type == _command_general_stop);
    case _sniffing_command_special_ability_on_self: return special && command->special_ability_on_self;
    case _sniffing_command_special_ability_on_others: return special && !command->special_ability_on_self;
    case _sniffing_command_special_ability: return special;
    case _sniffing_command_loose_line_formation:
        return formation && command->formation_index == SNIFFING_LOOSE_LINE_FORMATION;
    case _sniffing_command_vanguard_formation:
        return formation && command->formation_index == SNIFFING_VANGUARD_FORMATION;
    case _sniffing_command_any_formation: return formation;
    default: return false;
    }
}

bool handle_command_sniffing(command_header *command)
{
    const int16_t test_case = sniffing_globals.test_case;
    if (test_case < _sniffing_command_general_first || test_case > _sniffing_command_any_formation) return true;
    if (!command) return false;
    if (!command_is_judged(command)) return true;
    if (!VASSERT(sniffing_globals.command_header, "globals.command_header")) return false;
    if (command->size < MINIMUM_COMMAND_SIZE || command->size > SNIFFING_COMMAND_BUFFER_SIZE)
    {
        log_message(__FILE__, __LINE__, "tutorial watcher: a command of %d bytes cannot be judged; dropped",
                    (int)command->size);
        return false;
    }
    memcpy(sniffing_globals.command_header, command, (size_t)command->size);
    // What the player does not order: keep-alives, sync checks, the
    // watcher's own verdicts and the selection's reports (choosing units
    // is how an order begins, and 'sele' reads the reports).
    if (command->verb == _command_null || command->verb == _command_sync || command->verb == _command_tutorial_input)
        return true;

    sniffed_command sniffed = {};
    const bool decoded = decode_sniffed_command(sniffing_globals.command_header, &sniffed);
    if (decoded && sniffed.selection_report) return true;
    if (decoded && command_meets_case(&sniffed, test_case))
    {
        sniffing_succeeded();
        return true;
    }
    sniffing_error(true);
    return false;
}

// ---- registration ----------------------------------------------------------------------------

// The tutorial watcher's verdicts go to the action that asked for them.
static void report_sniffing_to_map_action(int16_t action_identifier, bool succeeded)
{
    const int32_t action_index = action_identifier_to_action_index(action_identifier);
    if (action_index == NONE) return;
    if (succeeded) set_map_action_success(action_index);
    else set_map_action_error(action_index);
}

void register_sniffing_hooks(void)
{
    register_map_procedures(_map_tutorial, sniffing_map_step, dispose_sniffing_from_old_map);
    register_action_procedure(_action_tutorial_watcher, handle_action_sniffing);
    register_command_sniffing_procedure(handle_command_sniffing);
    register_toggle_sniffing_procedure(toggle_sniffing);
    register_command_verb_procedure(_command_tutorial_input, execute_tutorial_input_command);
    register_command_verb_reader_procedure(_command_tutorial_input, read_tutorial_input_command);
}

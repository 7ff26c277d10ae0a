// Start-up, the main loop, state changes, action dispatch and map life.

#include "vesk.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/tags.h"
#include "cseries/timers.h"
#include "action_queue_procedures.h"
#include "front_end_procedures.h"
#include "recording_procedures.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "iniparser3.0b/inifile.h"
#include "lobby_procedures.h"
#include "networking_procedures.h"
#include "platform_events.h"
#include "sound_procedures.h"
#include "tag_files/tag_files.h"
#include "vesk_random.h"

static const char OOS_CHECKER_FILMS_DIRECTORY[] = "oos_checker_films";

enum
{
    MAXIMUM_OOS_CHECKER_FILMS = 256,
    MAXIMUM_COMMAND_LINE_FILM_PATH = 4096,
    // Local ticks handed to a film per pass while checking: the film's target
    // time moves this far, and the unbounded budget runs up to it.
    OOS_CHECK_TICKS_PER_PASS = 30 * 60,
    // Passes without a tick before a film that will not end counts as stalled.
    OOS_CHECK_STALLED_PASSES = 64,
};

static struct vesk_globals
{
    bool map_loaded;
    bool local_folder_disabled;
    bool headless;
    bool assert_warning_given;
    bool playing_command_line_film;
    char command_line_film[MAXIMUM_COMMAND_LINE_FILM_PATH]; // as the player named it, made whole
    bool without_single_instance_lock;
    int32_t exit_status;
    int32_t last_local_time;
    uint32_t main_flags;
    new_game_data next_game;
    new_game_data current_game;
} vesk_globals;

// ---- refusals a player reads --------------------------------------------------

// A film started from the command line, and the out-of-sync check, run from a
// terminal: what they refuse is written to standard error as well as the log,
// so that an exit status of 1 never comes without a word.
static void report_refusal(const char *format, ...)
{
    char text[MAXIMUM_LOG_MESSAGE_LENGTH + 1];
    va_list arguments;
    va_start(arguments, format);
    if (vsnprintf(text, sizeof(text), format, arguments) < 0) text[0] = 0;
    va_end(arguments);
    log_message(nullptr, -1, "%s", text);
    fprintf(stderr, "vesk: %s\n", text);
    fflush(stderr);
}

// Why a step refused: the error it left pending, when none was pending
// before it (the first pending error is the one kept); else `fallback`.
static void refusal_reason(bool pending_before, char *reason, size_t size, const char *fallback)
{
    reason[0] = 0;
    if (!pending_before) error_pending(nullptr, reason, size);
    if (!reason[0]) strlcpy(reason, fallback, size);
}

// ---- start-up ----------------------------------------------------------------

bool initialize_vesk(void)
{
    int32_t built = 0;
    for (int32_t index = 0; index < NUMBER_OF_STARTUP_STEPS; ++index)
    {
        const startup_step step = (startup_step)index;
        startup_procedure procedure = get_startup_procedure(step);
        if (!procedure) continue;
        log_message(nullptr, -1, "initializing %s", startup_step_name(step));
        if (!procedure())
        {
            log_message(nullptr, -1, "start-up stopped at %s", startup_step_name(step));
            return false;
        }
        ++built;
    }
    log_message(nullptr, -1, "start-up done: %d of %d subsystems built", built, (int32_t)NUMBER_OF_STARTUP_STEPS);
    return true;
}

static bool startup_poweruser_settings(void)
{
    load_poweruser_settings(); // optional: without it every section keeps its defaults
    return true;
}

static bool startup_game_record(void)
{
    initialize_game_record();
    // The local generator differs from run to run; it also draws new games' seeds.
    set_local_random_seed((uint32_t)time(nullptr) ^ ((uint32_t)getpid() << 16) ^ machine_tick_count());
    get_default_new_game_data(&vesk_globals.next_game, _game_type_local, NONE);
    vesk_globals.current_game = vesk_globals.next_game;
    return true;
}

static bool startup_errors(void)
{
    // The definitions registry needs no start-up: each group registers itself.
    set_ignore_errors(false);
    clear_pending_error();
    return true;
}

static bool startup_tag_files(void)
{
    initialize_tag_files();
    // A missing or refused file has been reported; the pending error reaches
    // the player at the first frame, and the other files stay open.
    const int32_t code = tag_files_open(0, nullptr, 0, -1, 0);
    if (code != 0) log_message(nullptr, -1, "the tag files opened with error %d", code);
    return true;
}

static bool startup_game_preferences(void) { return initialize_game_preferences(true); }

bool verify_required_patches(void)
{
    char missing[MAXIMUM_FILE_NAME] = "";
    if (tag_files_check_required_patches(missing, sizeof(missing))) return true;
    char text[MAXIMUM_FILE_NAME + 64];
    slprintf(text, sizeof(text), "Required patch file '%s' is missing.", missing);
    log_message(nullptr, -1, "%s", text);
    show_message_box(text);
    return false;
}

static bool mesh_tag_exists(tag mesh_tag)
{
    return tag_file_open(MESH_GROUP_TAG, mesh_tag) != NONE;
}

static bool startup_single_instance_lock(void)
{
    if (vesk_globals.without_single_instance_lock) return true;
    if (acquire_single_instance_lock()) return true;
    log_message(nullptr, -1, "Another copy of the game is already running.");
    show_message_box("Another copy of the game is already running.");
    return false;
}

// Before every assertion's log line: under the default rules, tell the player
// once per game that a film of it would help.
static void vesk_game_triggered_assert(void)
{
    if (!vesk_globals.map_loaded || current_gameplay_version != DEFAULT_GAMEPLAY_VERSION) return;
    if (vesk_globals.assert_warning_given) return;
    vesk_globals.assert_warning_given = true;
    print_to_console_procedure print = get_print_to_console_procedure();
    if (print)
        print("[WARNING] Assert encountered! Please submit a bug report with a film of the game.");
}

bool vesk_assert_warning_given(void) { return vesk_globals.assert_warning_given; }
void set_vesk_assert_warning_given(bool given) { vesk_globals.assert_warning_given = given; }

// ---- the per-map stores (map step _map_definitions) ------------------------------

static void dispose_map_stores_before(int32_t end)
{
    for (int32_t step = end - 1; step >= 0; --step)
    {
        map_dispose_procedure dispose = get_map_store_dispose_procedure((startup_step)step);
        if (dispose) dispose();
    }
}

static bool initialize_map_stores(const new_game_data *data)
{
    for (int32_t index = 0; index < NUMBER_OF_STARTUP_STEPS; ++index)
    {
        const startup_step step = (startup_step)index;
        map_initialize_procedure initialize = get_map_store_initialize_procedure(step);
        if (initialize && !initialize(data))
        {
            log_message(nullptr, -1, "the stores of %s could not be emptied for the map", startup_step_name(step));
            dispose_map_stores_before(index);
            return false;
        }
    }
    return true;
}

static void dispose_map_stores(void) { dispose_map_stores_before(NUMBER_OF_STARTUP_STEPS); }

void register_game_core_hooks(void)
{
    register_map_procedures(_map_definitions, initialize_map_stores, dispose_map_stores);
    register_startup_procedure(_startup_definitions_and_errors, startup_errors);
    register_startup_procedure(_startup_poweruser_settings, startup_poweruser_settings);
    register_startup_procedure(_startup_game_record, startup_game_record);
    register_startup_procedure(_startup_tag_files, startup_tag_files);
    register_startup_procedure(_startup_single_instance_lock, startup_single_instance_lock);
    register_startup_procedure(_startup_game_preferences, startup_game_preferences);
    set_game_triggered_assert_proc(vesk_game_triggered_assert);
}

// ---- states ------------------------------------------------------------------

static void fall_back_from_state(int16_t state)
{
    switch (state)
    {
    case _game_state_displaying_intro_sequence:
        set_game_state(_game_state_displaying_main_menu);
        break;
    case _game_state_displaying_mesh_prologue:
        set_game_state(_game_state_running);
        break;
    case _game_state_displaying_main_menu:
        // Without a front end there is nothing to show or choose.
        log_message(nullptr, -1, "no main menu is registered: nothing to show, quitting");
        set_game_state(_game_state_quit);
        break;
    default:
        log_message(nullptr, -1, "no subsystem registered the %s state: back to the main menu", game_state_name(state));
        set_game_state(_game_state_displaying_main_menu);
        break;
    }
}

static void enter_game_state(int16_t state)
{
    game_state_procedure entry = get_game_state_entry_procedure((game_state)state);
    if (state == _game_state_running)
    {
        const bool pending_before = error_pending(nullptr, nullptr, 0);
        if (!initialize_vesk_for_new_map(&vesk_globals.next_game, vesk_globals.local_folder_disabled))
        {
            if (vesk_globals.playing_command_line_film)
            {
                vesk_globals.exit_status = 1;
                char reason[MAXIMUM_LOG_MESSAGE_LENGTH + 1];
                refusal_reason(pending_before, reason, sizeof(reason), "the log names the step that failed");
                report_refusal("the film \"%s\" cannot be played: its map could not start: %s",
                               vesk_globals.command_line_film, reason);
            }
            set_game_state(_game_state_displaying_main_menu);
            return;
        }
        if (entry) entry();
        return;
    }
    if (state == _game_state_quit) return;
    if (entry)
        entry();
    else
        fall_back_from_state(state);
}

bool apply_pending_game_state_change(void)
{
    int16_t next;
    if (!game_state_change_pending(&next)) return false;
    if (game_state_is_interrupting(game_->state)) return false; // waits for the outermost loop to end
    clear_pending_game_state();

    const int16_t old = game_->state;
    log_message(nullptr, -1, "game state: %s -> %s", game_state_name(old), game_state_name(next));
    game_state_procedure exit = get_game_state_exit_procedure((game_state)old);
    if (exit) exit();
    if (vesk_globals.map_loaded && (old == _game_state_running || old == _game_state_displaying_main_menu))
        dispose_vesk_from_old_map();
    const auto flush = get_action_queue_procedures()->flush_actions;
    if (flush) flush();
    set_screen_parameters_for_new_state_procedure set_screen = get_set_screen_parameters_for_new_state_procedure();
    if (set_screen) set_screen(next);
    game_->state = next;
    enter_game_state(next);
    return true;
}

void pick_first_game_state(void)
{
    if (get_game_state_entry_procedure(_game_state_displaying_intro_sequence))
        set_game_state(_game_state_displaying_intro_sequence);
    else
        set_game_state(_game_state_displaying_main_menu);
}

bool game_world_is_shown(void)
{
    const int16_t state = get_underlying_game_state();
    return vesk_globals.map_loaded && (state == _game_state_running || state == _game_state_displaying_main_menu);
}

// ---- the main loop ---------------------------------------------------------------

// A film that played to its end, or stopped on damage it could not read
// (`failed`: an error is pending, `reason` its text), returns to the main menu.
// True when it does.
static bool end_finished_film(bool failed, const char *reason)
{
    if (!vesk_globals.map_loaded || game_->type != _game_type_replay || game_->state != _game_state_running) return false;
    const auto replay_over = get_recording_procedures()->replay_over;
    if (!replay_over || !replay_over() || game_state_change_pending(nullptr)) return false;
    log_message(nullptr, -1, failed ? "the film stopped at tick %d: it could not be read further"
                                    : "the film ended at tick %d",
                game_->game_time);
    const auto save_statistics = get_recording_procedures()->save_film_statistics;
    if (!failed && save_statistics) save_statistics();
    if (failed && vesk_globals.playing_command_line_film)
    {
        vesk_globals.exit_status = 1;
        report_refusal("the film \"%s\" stopped at tick %d: %s", vesk_globals.command_line_film, game_->game_time,
                       reason);
    }
    set_game_state(_game_state_displaying_main_menu);
    return true;
}

void update_everything(void)
{
    platform_specific_update(true);
    if (const auto update_metaserver = get_lobby_procedures()->update_metaserver) update_metaserver();
    if (const auto net_process = get_networking_procedures()->vesk_net_process) net_process();
    apply_pending_game_state_change();

    // Without an input layer the local ticks come from local time alone.
    const int32_t now = game_->local_time.load();
    const auto update_actions = get_action_queue_procedures()->update_actions;
    int32_t local_ticks = update_actions ? update_actions() : now - vesk_globals.last_local_time;
    vesk_globals.last_local_time = now;
    if (local_ticks < 0) local_ticks = 0;

    idle_vesk(local_ticks);
    if (const auto update_sound_manager = get_sound_procedures()->update_sound_manager)
        update_sound_manager(local_ticks);

    int32_t code;
    char text[MAXIMUM_LOG_MESSAGE_LENGTH + 1];
    // The error that stopped a film waits for the menu: in the game going
    // away it would be a console line nobody sees.
    const bool film_stopped = end_finished_film(error_pending(&code, text, sizeof(text)), text);
    if (!film_stopped && error_pending(&code, text, sizeof(text)))
    {
        // Cleared first: the report may run a dialog whose own passes come
        // back here, and would report the same error again, without end.
        clear_pending_error();
        const auto report = get_front_end_procedures()->report_pending_error;
        if (report) report(code, text);
    }
}

void idle_vesk(int32_t local_ticks)
{
    const bool world = game_world_is_shown();
    const int32_t game_ticks = world ? update_vesk(local_ticks) : 0;
    update_camera_procedure update_camera = get_update_camera_procedure();
    if (world && update_camera) update_camera(game_ticks);
    draw_frame_procedure draw_frame = get_draw_frame_procedure();
    if (draw_frame) draw_frame(game_ticks, world);
}

static inline bool offer_action(action_consumer consumer, action_data *action)
{
    action_procedure procedure = get_action_procedure(consumer);
    return procedure ? procedure(action) : false;
}

void process_action(action_data *action)
{
    offer_action(_action_cursor_visibility, action);
    if (offer_action(_action_modal_loop, action)) return;
    offer_action(_action_global_keys, action);
    if (offer_action(_action_dialogs, action)) return;
    if (!game_world_is_shown()) return;
    offer_action(_action_pointer_to_view, action);
    offer_action(_action_tutorial_watcher, action);
    if (offer_action(_action_overhead_map, action)) return;
    if (!offer_action(_action_selection, action)) offer_action(_action_camera, action);
}

// ---- map life --------------------------------------------------------------------

static void dispose_map_steps_before(int32_t end)
{
    for (int32_t step = end - 1; step >= 0; --step)
    {
        map_dispose_procedure dispose = get_map_dispose_procedure((map_step)step);
        if (dispose) dispose();
    }
}

bool initialize_vesk_for_new_map(const new_game_data *data, bool disable_local_folder)
{
    const auto flush = get_action_queue_procedures()->flush_actions;
    if (flush) flush();
    if (vesk_globals.map_loaded) dispose_vesk_from_old_map();
    vesk_globals.local_folder_disabled = disable_local_folder;
    if (!data)
    {
        map_initialize_procedure tag_files = get_map_initialize_procedure(_map_tag_files);
        return tag_files ? tag_files(nullptr) : true;
    }

    new_game_data checked = *data;
    if (!verify_new_game_data(&checked))
    {
        ERROR_MESSAGE(_error_data_corrupted, "The game's set-up is damaged and cannot be played.");
        return false;
    }
    if (checked.parameters.type != _game_type_replay)
        current_gameplay_version =
            compute_gameplay_version(&checked.parameters, compute_minimum_build_number(&checked));
    if (!gameplay_version_is_known(current_gameplay_version))
    {
        // Named by what the set-up holds: the identifier's own release name
        // would name a version this program knows.
        ERROR_MESSAGE(_error_data_version_mismatch,
                      "The game uses an unknown version of the rules (version identifier %d, version option bits "
                      "0x%x).",
                      (int)(checked.parameters.version & 0xFFFF),
                      (unsigned)(checked.parameters.option_flags & GAMEPLAY_VERSION_OPTION_FLAGS));
        current_gameplay_version = DEFAULT_GAMEPLAY_VERSION;
        return false;
    }

    vesk_globals.current_game = checked;
    vesk_globals.assert_warning_given = false;
    begin_game_time(&checked);
    local_player_index = checked.local_player_index;
    // The set-up's word until the players step has placed the local player
    // (an observer has no team; a team out of range is repaired there).
    local_player_team_index = NONE;
    if (local_player_index != NONE)
    {
        const new_player_data *local = &checked.players[local_player_index];
        if (!(local->flags & _player_is_observer_flag) && local->team_index >= 0 &&
            local->team_index < MAXIMUM_TEAMS_PER_MAP)
            local_player_team_index = local->team_index;
    }

    for (int32_t index = 0; index < NUMBER_OF_MAP_STEPS; ++index)
    {
        const map_step step = (map_step)index;
        map_initialize_procedure initialize = get_map_initialize_procedure(step);
        if (initialize && !initialize(&checked))
        {
            log_message(nullptr, -1, "the map could not start (step %d, %s)", index, map_step_name(step));
            dispose_map_steps_before(index);
            return false;
        }
        const auto progress = get_front_end_procedures()->map_loading_progress;
        if (progress) progress(index + 1, NUMBER_OF_MAP_STEPS);
    }
    vesk_globals.map_loaded = true;
    tick_procedure map_actions = get_tick_procedure(_tick_map_actions);
    if (map_actions) map_actions();
    begin_sync_snapshots();
    log_message(nullptr, -1, "map '%s' started: game type %d, rules %s, seed 0x%08x",
                tag_to_string(checked.parameters.scenario_tag), checked.parameters.type,
                gameplay_version_to_string(current_gameplay_version), checked.parameters.random_seed);
    return true;
}

void dispose_vesk_from_old_map(void)
{
    if (!vesk_globals.map_loaded) return;
    dispose_map_steps_before(NUMBER_OF_MAP_STEPS);
    vesk_globals.map_loaded = false;
}

bool vesk_map_is_loaded(void) { return vesk_globals.map_loaded; }
bool vesk_local_folder_disabled(void) { return vesk_globals.local_folder_disabled; }

void set_next_game_data(const new_game_data *data) { vesk_globals.next_game = *data; }
const new_game_data *get_next_game_data(void) { return &vesk_globals.next_game; }
const new_game_data *get_current_game_data(void) { return &vesk_globals.current_game; }

bool change_single_player_map(tag mesh_tag, bool enter_immediately)
{
    const bool current = mesh_tag == NONE;
    const tag level = current ? vesk_globals.current_game.parameters.scenario_tag : mesh_tag;
    if (!mesh_tag_exists(level))
    {
        log_message(__FILE__, __LINE__, "level '%s' does not exist", tag_to_string(level));
        return false;
    }
    if (current) vesk_globals.next_game = vesk_globals.current_game;
    vesk_globals.next_game.parameters.type = _game_type_local;
    vesk_globals.next_game.parameters.scenario_tag = level;
    set_game_state(enter_immediately ? _game_state_running : _game_state_displaying_mesh_prologue);
    return true;
}

void restart_game(void)
{
    vesk_globals.next_game = vesk_globals.current_game;
    set_game_state(_game_state_running);
}

int32_t wait_local_time(int32_t ticks)
{
    const int32_t start = game_->local_time.load();
    const uint32_t start_ms = machine_tick_count();
    // In 64 bits: a long wait must not wrap into a short one.
    const uint64_t wanted_ms = (uint64_t)(ticks > 0 ? ticks : 0) * 1000u / GAME_TICKS_PER_SECOND + 1000u;
    const uint32_t limit_ms = wanted_ms > UINT32_MAX / 2 ? UINT32_MAX / 2 : (uint32_t)wanted_ms;
    for (;;)
    {
        const int32_t passed = game_->local_time.load() - start;
        if (passed >= ticks || machine_tick_count() - start_ms >= limit_ms) return passed;
        // No frame is drawn while waiting: events only, then a short sleep.
        platform_specific_update(false);
        usleep(1000);
    }
}

void draw_dialogs_immediately(void)
{
    draw_frame_procedure draw_frame = get_draw_frame_procedure();
    if (draw_frame) draw_frame(0, game_world_is_shown());
    platform_specific_update(false);
}

// ---- command-line modes ------------------------------------------------------------

bool vesk_is_headless(void) { return vesk_globals.headless; }
void set_vesk_without_single_instance_lock(bool without) { vesk_globals.without_single_instance_lock = without; }
void set_vesk_headless(bool headless) { vesk_globals.headless = headless; }
int32_t get_vesk_exit_status(void) { return vesk_globals.exit_status; }
uint32_t get_main_global_flags(void) { return vesk_globals.main_flags; }
void set_main_global_flags(uint32_t flags) { vesk_globals.main_flags = flags; }

bool start_film_from_path(const char *path)
{
    strlcpy(vesk_globals.command_line_film, path, sizeof(vesk_globals.command_line_film));
    const auto begin_film = get_recording_procedures()->begin_film_from_path;
    if (!begin_film)
    {
        report_refusal("the film \"%s\" cannot be played: no film playback is registered", path);
        return false;
    }
    new_game_data data;
    const bool pending_before = error_pending(nullptr, nullptr, 0);
    if (!begin_film(path, &data))
    {
        char reason[MAXIMUM_LOG_MESSAGE_LENGTH + 1];
        refusal_reason(pending_before, reason, sizeof(reason), "the log names the fault");
        if (strstr(reason, path)) // the reason names the film already
            report_refusal("%s", reason);
        else
            report_refusal("the film \"%s\" cannot be played: %s", path, reason);
        return false;
    }
    set_next_game_data(&data);
    vesk_globals.playing_command_line_film = true;
    set_game_state(_game_state_running);
    return true;
}

// Files in the check folder, for when no film reader is there to list them;
// NONE when the folder exists but cannot be read.
static int32_t count_files_in_oos_checker_folder(void)
{
    DIR *directory = opendir(OOS_CHECKER_FILMS_DIRECTORY);
    if (!directory) return 0; // a missing folder holds nothing to check
    int32_t count = 0;
    for (const dirent *entry = readdir(directory); entry; entry = readdir(directory))
        if (entry->d_name[0] != '.') ++count;
    closedir(directory);
    return count;
}

// Plays one film to its end at full speed; true when it stayed in step.
static bool check_one_film(int32_t film)
{
    const auto begin_film = get_recording_procedures()->begin_oos_checker_film;
    const auto replay_over = get_recording_procedures()->replay_over;
    new_game_data data;
    char name[MAXIMUM_FILE_NAME] = "";
    clear_pending_error();
    char reason[MAXIMUM_LOG_MESSAGE_LENGTH + 1];
    if (!begin_film(film, &data, name, sizeof(name)))
    {
        refusal_reason(false, reason, sizeof(reason), "the log names the fault");
        report_refusal("out-of-sync check: film \"%s/%s\" cannot be played: %s", OOS_CHECKER_FILMS_DIRECTORY,
                       name[0] ? name : "?", reason);
        clear_pending_error();
        return false;
    }
    if (!initialize_vesk_for_new_map(&data, true))
    {
        refusal_reason(false, reason, sizeof(reason), "the log names the step that failed");
        report_refusal("out-of-sync check: film \"%s/%s\": its map could not start: %s", OOS_CHECKER_FILMS_DIRECTORY,
                       name, reason);
        clear_pending_error();
        return false;
    }
    game_->state = _game_state_running;
    int32_t stalled = 0;
    bool finished = false;
    while (stalled < OOS_CHECK_STALLED_PASSES)
    {
        if (replay_over && replay_over())
        {
            finished = true;
            break;
        }
        stalled = update_vesk(OOS_CHECK_TICKS_PER_PASS) > 0 ? 0 : stalled + 1;
    }
    // A film that stopped on damage has reported it: not all of it was checked.
    int32_t code = _error_none;
    reason[0] = 0;
    const bool damaged = error_pending(&code, reason, sizeof(reason));
    clear_pending_error();
    const bool out_of_sync = (game_->flags.load() & _game_is_out_of_sync_flag) != 0;
    const bool in_step = finished && !damaged && !out_of_sync;
    // A game found out of step is told as such, whatever error came after
    // (a film read to a damaged block, or data the map lacks): the error
    // must not hide it.
    if (out_of_sync)
        report_refusal("out-of-sync check: film \"%s\": OUT OF SYNC at tick %d (its end is tick %d)%s%s", name,
                       get_out_of_sync_tick(), game_->game_time, damaged ? "; then: " : "", damaged ? reason : "");
    else if (damaged)
        report_refusal("out-of-sync check: film \"%s\": could not be read at tick %d (%s)", name, game_->game_time,
                       reason);
    else if (!in_step)
        report_refusal("out-of-sync check: film \"%s\": stalled before its end at tick %d", name, game_->game_time);
    else
        log_message(nullptr, -1, "out-of-sync check: film \"%s\": in step at tick %d", name, game_->game_time);
    dispose_vesk_from_old_map();
    return in_step;
}

int32_t run_out_of_sync_check(void)
{
    const auto find_films = get_recording_procedures()->find_oos_checker_films;
    int32_t films[MAXIMUM_OOS_CHECKER_FILMS];
    int32_t count;
    if (find_films && get_recording_procedures()->begin_oos_checker_film)
    {
        count = find_films(films, MAXIMUM_OOS_CHECKER_FILMS);
        if (count < 0)
        {
            report_refusal("out-of-sync check: the folder \"%s\" cannot be read, or holds films it cannot check",
                           OOS_CHECKER_FILMS_DIRECTORY);
            return 1;
        }
        if (count > MAXIMUM_OOS_CHECKER_FILMS) count = MAXIMUM_OOS_CHECKER_FILMS;
    }
    else
    {
        count = count_files_in_oos_checker_folder();
        if (count > 0)
        {
            report_refusal("out-of-sync check: %d files in \"%s\", but no film playback is registered: nothing was checked",
                           count, OOS_CHECKER_FILMS_DIRECTORY);
            return 1;
        }
    }
    if (count == 0)
    {
        log_message(nullptr, -1, "out-of-sync check: no films in \"%s\": nothing to check", OOS_CHECKER_FILMS_DIRECTORY);
        return 0;
    }

    set_unbounded_game_ticks(true);
    int32_t failed = 0;
    for (int32_t i = 0; i < count; ++i)
        if (!check_one_film(films[i])) ++failed;
    set_unbounded_game_ticks(false);
    if (failed)
        report_refusal("out-of-sync check: %d films, %d in step, %d failed", count, count - failed, failed);
    else
        log_message(nullptr, -1, "out-of-sync check: %d films, %d in step, %d failed", count, count - failed, failed);
    return failed ? 1 : 0;
}

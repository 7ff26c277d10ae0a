#pragma once
// The game core's life: start-up of every subsystem, the main loop, the
// game-state changes, the dispatch of input actions, and a map's life.  What
// the later subsystems do here they do through the hook table (game_hooks.h).

#include <cstddef>

#include "cseries/cseries.h"

struct action_data;
struct new_game_data;

// Brings every subsystem up once, in the order of the start-up steps, logging
// each one.  False when a step stopped the start-up (it has said why).
bool initialize_vesk(void);

// Installs the core's own start-up steps (power-user settings, the game
// record, the single-instance lock, the game preferences), the map step that
// empties every module's per-map stores, and its assertion hook.  Call once
// before initialize_vesk.
void register_game_core_hooks(void);

// The program's check of the required patch files, once the input timer runs:
// true when the store has them all; otherwise "Required patch file '...' is
// missing." is logged and shown, and false (the program exits with 11).
bool verify_required_patches(void);

// One pass of the main loop: platform events, network polling, a pending
// state change, input actions, game ticks and drawing, sound, then the
// frame's pending error is collected and cleared.  Modal loops call it too.
void update_everything(void);

// Runs the game ticks of `local_ticks` when a game is behind the current
// state, then draws the frame.
void idle_vesk(int32_t local_ticks);

// Hands one input action to its consumers in order (game_hooks.h).
void process_action(action_data *action);

// Applies a pending state change, when one waits and no interrupting state
// runs.  True when a change was applied.  update_everything calls it.
bool apply_pending_game_state_change(void);

// Requests the first state: the intro when one is built, else the main menu.
void pick_first_game_state(void);

// True while a map is loaded and the current state (or the one under an
// interrupting state) shows it: a game running, or the demo behind the menu.
bool game_world_is_shown(void);

// ---- map life ------------------------------------------------------------------

// Starts a map from `data`: the set-up is checked (refused: error 10), the
// gameplay version computed (an unknown one is refused: error 9; a film has
// set it before), the game record and seed set up, every map step initialized
// in order, the sync snapshots begun and the map actions updated once.  A map
// still loaded is disposed first; each step done is reported to the front
// end's progress dialog (front_end_procedures.h).  With `data` null the map
// state is only disposed and the tag files reopened without a game.  False
// when refused or a step failed (the steps done are disposed again).
bool initialize_vesk_for_new_map(const new_game_data *data, bool disable_local_folder);

// Disposes the loaded map's steps in reverse order; nothing without a map.
void dispose_vesk_from_old_map(void);

bool vesk_map_is_loaded(void);

// The once-per-game notice that an assertion was met has been printed
// ("[WARNING] Assert encountered! ..."); cleared when a map starts.  The
// console reads and sets this one flag.
bool vesk_assert_warning_given(void);
void set_vesk_assert_warning_given(bool given);
// True when the map in play was started with the local tag folder left out.
bool vesk_local_folder_disabled(void);

// The set-up of the game that the "running" state starts next, and of the one
// in play.
void set_next_game_data(const new_game_data *data);
const new_game_data *get_next_game_data(void);
const new_game_data *get_current_game_data(void);

// Requests the state that starts a single-player level (`mesh_tag`, or NONE
// for the level in play): "running" directly with `enter_immediately`, else
// its prologue.  False (logged) when the level does not exist.
bool change_single_player_map(tag mesh_tag, bool enter_immediately);

// Starts the game in play again from its set-up.
void restart_game(void);

// Waits, pumping platform events (no frame is drawn), until local time has
// advanced by `ticks`; returns the ticks that passed.  Gives up after the
// wall-clock time of those ticks plus one second, so a stopped input timer
// cannot hang the caller.
int32_t wait_local_time(int32_t ticks);

// One drawing pass of the open dialogs and one event pump, without game ticks.
void draw_dialogs_immediately(void);

// ---- the modes of the command line -------------------------------------------

// True when the program runs without a window (checking films).
bool vesk_is_headless(void);
void set_vesk_headless(bool headless);

// A run that may share its directory with a running game (the headless
// determinism harness) leaves the single-instance lock alone.
void set_vesk_without_single_instance_lock(bool without);

// Starts the film at `path` as the first game.  False (logged) when films
// cannot be played or the film is refused.
bool start_film_from_path(const char *path);

// Replays every film of "oos_checker_films" at full speed and logs whether
// each stays in step.  Returns the exit status: 0 when every film stayed in
// step (or there was nothing to check), 1 otherwise.
int32_t run_out_of_sync_check(void);

// The program's exit status so far: 1 when the film named on the command line
// could not start, else 0.
int32_t get_vesk_exit_status(void);

enum main_global_flag_bits
{
    _network_game_only_flag = 4,
    _network_client_only_flag = 8,
    _local_network_only_flag = 16,
    _metaserver_only_flag = 32,
};
// The main flags word (main_global_flag_bits); 0 unless a later subsystem set it.
uint32_t get_main_global_flags(void);
void set_main_global_flags(uint32_t flags);

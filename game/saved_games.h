#pragma once
// Saved games: saving, autosaving, continuing and reverting single-player games.
//
// A saved game is a 'save' tag laid out as a film (recording_format.h) whose
// snapshot region holds a save_game_header and a 160 x 120 picture; it holds
// the level's film up to the moment of saving, and restoring it replays that
// film at full speed (recording.h, private_start_replay with replay false).
//
// Every failure is reported (error codes 3, 4 or 10, never the fatal 8) and
// answered with false; a save that fails leaves no 'save' tag behind.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/cseries.h"
#include "film_dialog_procedures.h"
#include "game_records.h"
#include "recording_format.h"
#include "world.h"

// What a continued or reverted game hands back for the caller to restore:
// the save's game time, the camera and the console's last lines.
struct saved_game_restoration
{
    int32_t save_game_ticks; // recording_ending_time of the saved game
    observer_location observer;
    fixed zoom_factor;
    cached_line cached_console_text[NUMBER_OF_CACHED_CONSOLE_LINES];
    int16_t cached_console_line_count; // 0..10
};

// ---- saving --------------------------------------------------------------------

// True in a single-player game (type 2) on any map but 'mt00'.
bool can_save_game(void);
// Refused (false, no dialog) where can_save_game is false; else
// create_saved_game with no name (the save dialog).
bool save_game(void);

// The level-end dialogs ask for an autosave when the next level begins.
void set_autosave_for_new_level_hack(bool requested);
bool get_autosave_for_new_level_hack(void);
// With `keeper` true and a request pending, creates "Autosave <local time>"
// and prints "Autosave created." on the console; the request is cleared in
// every case.  True when a saved game was created.  The tick's last step
// calls it with true in single-player games; the main loop with false when a
// game starts.
bool autosave_game(bool keeper);

// Creates a saved game of the game being recorded: named `name`, or, with
// null, the name the save dialog asks for.  True when the saved game was
// written whole, or when the player cancelled the dialog (nothing written).
// False, with the partial tag deleted, when it could not be written (no
// recording, no dialog, the tag, a header or the commands not written).
bool create_saved_game(const char *name);

// The save dialog, and the load dialog below, are members of the film
// dialogs' table (film_dialog_procedures.h).

// ---- continuing and reverting -----------------------------------------------------

// Runs the load dialog; on a choice closes the film being recorded and
// continues the chosen game (below).  False when nothing was chosen or it
// cannot be continued.
bool continue_saved_game(new_game_data *data, saved_game_restoration *restoration);
// Reads both headers of the saved game at `tag_index` (refused with code 3 or
// 10 when either is unsound) and sets up its replay: `data` is the set-up to
// start the map with (type replay), `restoration` what to put back once it
// runs.  Remembers it as the last saved game.
bool continue_saved_game_from_header(int32_t tag_index, new_game_data *data, saved_game_restoration *restoration);
// Continues the last saved game when it still opens (closing the film being
// recorded); otherwise requests a restart of the current single-player level
// and returns false.
bool revert_to_last_saved_game(new_game_data *data, saved_game_restoration *restoration);
bool could_revert_to_last_saved_game(void);
void reset_last_saved_game(void);
// The name of the last saved game created or loaded ("" when none).
const char *get_last_save_game_name(void);

// Whether any 'save' (any 'reco') tag exists.
bool save_game_exists(void);
bool replay_saved_game_available(void);

// The game core's services on top of these: continue a game chosen in the
// load dialog, or go back to the last save, and start its map; the camera and
// console are put back when the restored game's first tick has run.  False
// when no game was started (revert_game then restarts the level).
bool handle_continue_game(void);
bool revert_game(void);

// ---- reading --------------------------------------------------------------------------

// Reads and checks both headers of the saved game at `tag_index`: the film
// header (read_recording_header, type saved game), then the 2608-byte
// saved-game header, converted.  Refused (false, code 3 or 10 with the
// reason) when either cannot be read or breaks the layout: the snapshot's
// encoding outside 0..2, a width or height not positive, or 2608 + width x
// height x bytes per pixel larger than snapshot_length.
bool read_saved_game_headers(int32_t tag_index, recording_file_header *file_header, save_game_header *header);

// Checks a converted saved-game header against its film header; null when
// sound, else the reason (a static text).  No tag is read.
const char *save_game_header_problem(const recording_file_header *file_header, const save_game_header *header);

// The saved game's picture: newly allocated pixels (host order, row by row,
// 2 or 4 bytes each; the caller frees them), with its size and the screen
// encoding (stored value + 1: 1 555, 2 565, 3 32-bit).  Null, reported,
// when the headers are refused or the pixels cannot be read; nothing is
// allocated before the headers pass.
void *read_save_game_snapshot(int32_t tag_index, int16_t *width, int16_t *height, int16_t *encoding);
// The same in the form of the dialogs' snapshot control reader
// (read_save_game_snapshot_proc): false when there is none.
bool read_save_game_snapshot_picture(int32_t tag_index, uint8_t **pixels, int16_t *width, int16_t *height,
                                     int16_t *encoding);

// ---- registration points -------------------------------------------------------------

// The picture of the current view for a new saved game: newly allocated
// pixels of width x height (host order, row by row, no padding) and their
// screen encoding (1..3), or null when it cannot be made.  Until the renderer
// registers, or when it gives none, the picture is black.
typedef void *(*render_saved_game_snapshot_procedure)(int16_t width, int16_t height, int16_t *encoding);
bool register_render_saved_game_snapshot_procedure(render_saved_game_snapshot_procedure procedure);

// The console's last 10 lines go out when saving and back in when restoring
// through the console's table (console_procedures.h); until the console
// registers, a saved game keeps no lines.

// What a continued or reverted game's replay to its save point shows, in
// RESTORE_PROGRESS_STEPS even steps of its ticks: `_restore_progress_open`
// (with the step count) on its first tick, one `_restore_progress_step` per
// step reached, `_restore_progress_close` at the save point, or when the next
// game is continued first.  Called at the end of a tick, after every other
// tick step; it must not change the game.  The front end shows them
// (front_end_procedures.h, `restore_progress`); until it registers, nothing is
// shown.
enum restore_progress_event
{
    _restore_progress_open,
    _restore_progress_step,
    _restore_progress_close,
};
enum
{
    RESTORE_PROGRESS_STEPS = 32,
};

// The tick step `_tick_autosave`, the snapshot reader of the dialogs' snapshot
// control and the core's continue and revert.
void register_saved_games_hooks(void);

// Test support: forgets the last saved game, the pending request and restoration.
void dispose_saved_games(void);

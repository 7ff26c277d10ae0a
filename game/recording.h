#pragma once
// Films: every network game and every single-player level (except the 'mt00'
// map) is recorded while it is played, as the stream of commands it executed
// (format in recording_format.h).  A film plays back by feeding its commands
// into the incoming command queue at their ticks; a saved game is restored by
// the same playback at full speed and, once its end is reached, recording of
// the continued game takes over.  Every recorded command is also offered to
// the lobby stream.
//
// The tag being recorded is always the film named by string 0 of 'inrf'
// ("Last Game" without the list); the previous one is deleted when a map
// starts.
//
// Main thread only, except recording_crash_handler (inside the crash signal
// handler).

#include <cstddef>
#include <cstdint>

#include "commands.h"
#include "cseries/cseries.h"
#include "game_records.h"
#include "recording_format.h"
#include "tag_files/plugins.h"

enum recording_state
{
    _state_uninitialized = 0, // nothing recorded or replayed
    _state_recording,         // commands are being recorded
    _state_starting_replay,   // a replay is set up; the next map plays it
    _state_replaying,         // blocks are read and queued
    _state_replay_finishing,  // the last block is read; the game runs to the end
    _state_replay_done,       // over (or failed)
    NUMBER_OF_RECORDING_STATES
};

enum
{
    NORMAL_REPLAY_SPEED_INDEX = 5,
};

// ---- life cycle --------------------------------------------------------------

// Start-up: allocates the globals (fatal code 8 when it cannot), state 0, and
// has the film closed at exit and after a crash.
bool initialize_recording(void);
// Map start: records a network game or a single-player game on any map but
// 'mt00' (a new last-recording film, the unit initializers, the header);
// a prepared replay begins.  False when the film cannot be created (reported;
// the game is then played without one).
bool initialize_recording_for_new_map(const new_game_data *data);
// Map end: a recording is closed; a prepared replay waits for the next map;
// anything else returns to state 0.
void dispose_recording_from_old_map(void);

// Appends one command (host order) to the film; only while recording.  One
// stamped after the tick the game has reached is held until it is reached
// (and left out if the film closes first): a block written holds only
// commands that ran.  Null commands go to the lobby stream only (at once,
// as every command).  A command larger than a block (2048 bytes) cannot be
// stored: it is logged as an error and the film is marked incomplete.  One over MAXIMUM_COMMAND_SIZE, which no ring holds, is
// refused with an assertion and streamed nowhere.
void record_incoming_command(const command_header *command);

// Closes the film being recorded: the lobby stream is told the ending time,
// the buffer is written as the last block with that time in the header, the
// tags are flushed; state 0.  Nothing when not recording.
void stop_recording(void);

// Writes to `stored` (MAXIMUM_RECORDING_END_RECORD_SIZE bytes) the end record
// of the current tick (its seed and state hash, and with sync chains its
// chain and `file_checksum`, the file's recording_file_checksum;
// recording_format.h) as a file holds it; returns its size.
int32_t build_end_record_of_current_tick(uint32_t file_checksum, uint8_t *stored);

// The crash procedure: closes the film being recorded with plain system
// calls and copies it to a film named "Crash <local date and time>".
// Async-signal-safe; a second call while one runs does nothing.
void recording_crash_handler(void);

// ---- playback ----------------------------------------------------------------

// Starts the film 'reco' `replay_tag` chosen by the player: fails (false) when
// it needs plug-ins that are missing (the missing-plug-ins dialog is shown
// when one is registered), when its plug-in list does not decode or when its
// map is not available.  `data` receives the game's set-up, of type 0.
bool begin_replay(new_game_data *data, tag replay_tag);
// The same without those checks: films the program starts by itself (the
// command line, the out-of-sync check).
bool enter_replay_immediately(tag subgroup_tag, new_game_data *data);
// Sets up the replay of the film (`replay` true) or saved game (false) of
// `subgroup_tag`; the next map plays it.  Needs state 0 (else an assertion,
// false).  False, reported, when the tag does not open or its header or unit
// initializers do not read.
bool private_start_replay(tag subgroup_tag, new_game_data *data, bool replay);

// Per pass of the command queue in a replay: moves the target time and
// queues the commands of the next block when the queue has room.  A film
// that cannot be read ends (state 5) with a logged reason, code 3 or 10.
void update_replay(int32_t local_ticks_elapsed);

// True in states 0, 1 and 5.
bool replay_over(void);
// True when the replay stopped on a film it could not read (since the replay
// started).
bool replay_failed(void);
int16_t get_replay_game_type(void);
bool game_is_solo_replay(void);
// The name of the tag being recorded or replayed ("" when none).
const char *get_saved_game_name(void);
// Writes the statistics of the film just replayed to "recording_stats/<file>.csv",
// <file> being the film's file name (not the name stored in the film); a
// refusal or a failed write is logged and leaves every file as it was.
void save_game_statistics_to_last_viewed_recording_csv(void);

// ---- the last recording --------------------------------------------------------

// The subgroup of the last-recording film, NONE when there is none.
tag get_last_recording_subgroup(void);
// Copies the last recording byte for byte into the film of `new_subgroup_tag`
// (both must exist).  False (reported) otherwise.
bool duplicate_last_replay(tag new_subgroup_tag);
// Creates a film named `name` with a random subgroup and copies the last
// recording into it.  False (reported) when it cannot.
bool duplicate_last_replay_as(const char *name);
// Asks for a film name through the tag-save dialog (default `name`, or string
// 2 of 'inrf' when null) and copies the last recording into the new film,
// whose index goes to `tag_index_out` (NONE on failure or without a dialog).
bool save_last_replay(const char *name, int32_t *tag_index_out);
// A saved game has reached its end: the commands it holds up to that time
// become the start of a new last recording, and recording goes on.
bool duplicate_current_recording_into_last_recording(void);

// The local time as "%Y-%m-%d %H.%M.%S", in a static buffer.
const char *get_recording_time_string(void);
// Shortens `name` (a buffer of `size` bytes), made with the recording time
// `time` in it, to what a film's name may hold: whole words before the time
// go first, the time stays.  A name that fits is left alone.
void fit_dated_film_name(char *name, size_t size, const char *time);

// ---- for saved games -------------------------------------------------------------------

// The film being recorded, for a saved game taken from it: its subgroup, the
// offset where its written blocks end, and the commands not written yet (as
// stored: headers big-endian), which are those of ticks the game has reached
// (commands stamped later are held for the film).  Writes the blocks those
// fill first.  False when nothing is being recorded.
bool get_recording_in_progress(tag *subgroup_tag, int32_t *written_end, const uint8_t **unwritten,
                               int16_t *unwritten_size, int16_t *unwritten_count);
// The saved game created or loaded last (NONE and "" when none); restoring one
// sets it too.  The name is cut to 32 characters.
tag get_last_save_game_tag(void);
const char *get_recording_last_save_game_name(void);
void set_last_save_game(tag subgroup_tag, const char *name);

// ---- the out-of-sync check and the command line -----------------------------------

// Opens the film at `path` (a local tag file anywhere) and sets its replay up.
bool begin_film_from_path(const char *path, new_game_data *data);
// The same for the saved game at `path`: its replay (of a saved game, so
// recording goes on from its end) is set up.
bool begin_saved_game_from_path(const char *path, new_game_data *data);
// Lists the films in "oos_checker_films" (file-name order); at most `maximum`
// numbers written to `films`.  NONE when the folder cannot be read or holds a
// film the check would have to leave out (more than 256, or a name too long),
// so the check fails instead of passing films it never played.
int32_t find_oos_checker_films(int32_t *films, int32_t maximum);
// Sets up the replay of listed film `film`; its name goes to `name`.
bool begin_oos_checker_film(int32_t film, new_game_data *data, char *name, size_t name_size);

// ---- registration points ----------------------------------------------------------

// The lobby stream of the game being recorded goes through the lobby's table
// (lobby_procedures.h): the film so far, each command, the ending time;
// nothing is streamed until the lobby fills it.  A film that needs missing
// plug-ins opens networking's missing-plug-ins dialog (mode 2,
// networking_procedures.h); until networking fills it, the film is refused
// with a log line.

// save_last_replay asks the front end's standard tag-save dialog
// (front_end_procedures.h) for the film's name; until the front end fills it,
// nothing is saved.

// Registers the recording's start-up, map, crash and core procedures.
void register_recording_hooks(void);

// Test support: frees the globals so that initialize_recording may run again.
void dispose_recording(void);

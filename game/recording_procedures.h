#pragma once
// What the game core and the command stream ask of the films and saved games
// (game/recording), in one table the recording module registers whole
// (`register_recording_procedures`).
//
// Every member may be null, and each is until the films register their table; the
// default of a null member is said beside it.  The table is kept by pointer:
// register a static record.  A null table, or a second one, is refused with an
// assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include <cstddef>
#include <cstdint>

struct command_header;
struct new_game_data;

struct recording_procedures
{
    // Told of every local command once it is queued as incoming (header in
    // host order), to go into the film (null member: nothing is recorded).
    void (*record_incoming_command)(const command_header *command);
    // A film's or saved game's replay sets the target time for `local_ticks`
    // of the frame (null member: a replay's time stands still).
    void (*update_replay)(int32_t local_ticks);
    // Whether the film being replayed has played to its end (null member: a
    // film never ends by itself).
    bool (*replay_over)(void);
    // Opens the film at `path` and fills its set-up; false when it cannot be
    // played (null member: a film on the command line is refused, reported).
    bool (*begin_film_from_path)(const char *path, new_game_data *data);
    // The out-of-step checker's films: their numbers into `films` (at most
    // `maximum`), their count, NONE when the folder is unreadable; and the set-up
    // of film `film`, its name to `name` (either null: nothing is checked,
    // reported).
    int32_t (*find_oos_checker_films)(int32_t *films, int32_t maximum);
    bool (*begin_oos_checker_film)(int32_t film, new_game_data *data, char *name, size_t name_size);
    // A film played to its end: its statistics file is written, named after
    // it (null member: none is written).
    void (*save_film_statistics)(void);
    // The type the game being replayed was played as (a saved game's too),
    // NONE outside a replay (null member: NONE).
    int16_t (*replay_game_type)(void);
};

bool register_recording_procedures(const recording_procedures *procedures);
// Never null: an empty table until one is registered.
const recording_procedures *get_recording_procedures(void);

#pragma once
// A headless game for proving determinism: starts a map from a seed without a
// window, feeds a scripted stream of commands at their ticks, runs ticks with
// a chosen frame pacing and game speed, and records the state hash after
// every tick.  Two runs from the same map, seed and commands must give the
// same trace; frame pacing, speed and local_random draws must not change it.
//
// The commands are the harness's own, outside the command stream: they call
// the simulation services directly, between the end of the tick before and
// the start of the tick they name.  The hash is taken through the core's
// after-tick observer (game_hooks.h), so the harness holds no tick step.
//
// Main thread only; one simulation at a time.

#include <cstddef>

#include "cseries/cseries.h"

struct new_game_data;

enum simulation_verb
{
    _simulation_score_points = 0, // team = a, points = b
    _simulation_start_fire,       // cell (x, y)
    _simulation_new_mesh_effect,  // type a at (x, y)
    _simulation_switch_snowing,
    _simulation_eliminate_team,   // team a
    _simulation_damage,           // unit type a hurts unit type b by x, died when y is non-zero
    _simulation_end_game,         // immediate when a is non-zero
    _simulation_ally,             // team a towards team b, forms when x is non-zero
    NUMBER_OF_SIMULATION_VERBS
};

struct simulation_command
{
    int32_t tick;   // the game time at which it runs
    int16_t verb;   // simulation_verb
    int16_t a, b;
    int32_t x, y;
};

struct simulation_pacing
{
    int32_t local_ticks_per_frame; // at least 1
    int16_t game_speed;            // speed index; normal is NORMAL_GAME_SPEED_INDEX
    int32_t local_random_draws_per_frame; // drawn between frames: must change nothing
};

// Brings the game up headless once per process, with every built subsystem
// registered as the program registers them, in `data_directory` (null: the
// current directory), and starts the map `map` as a single-player game of two
// players on teams 0 and 1, seeded with `seed`: the game state is "running".
// False with a one-line reason in `reason` when the map cannot start; what
// was set up is disposed and the game rests in the main-menu state.
bool start_simulation(const char *data_directory, tag map, uint32_t seed, char *reason, size_t reason_size);

// The game start_simulation starts: a single-player game of `map` seeded
// with `seed`, under the default rules without scoring, with two players,
// the local human player 0 on team 0 and the computer's player 1 on team 1.
// vesk_shot starts the same game, so that a drawn run's trace is vesk_sim's.
void get_simulation_game_data(tag map, uint32_t seed, struct new_game_data *data);

// The gameplay version the next start_simulation writes into its game's
// parameters (so that its film replays under it too); NONE, the default,
// leaves the program's own.  False, changing nothing, for a version the
// gameplay-version table does not hold.
bool set_simulation_gameplay_version(int32_t gameplay_version);

// The difficulty level (0..4) the next start_simulation writes into its
// game's parameters; NONE, the default, leaves the new-game default.
void set_simulation_difficulty_level(int16_t difficulty_level);

// The time limit (ticks) the next start_simulation writes into its game's
// parameters: the game ends when it runs out.  0, the default: none.
void set_simulation_time_limit(int32_t ticks);

// Brings the game up as start_simulation does and starts the film at
// `film_path` (a local tag file; absolute, or relative to `data_directory`)
// instead of a seeded game: the film gives the map, seed and players, and
// `ticks` receives its length (the game time at which it was closed).  False
// with a one-line reason when the film cannot be read or its map started.
bool start_simulation_from_film(const char *data_directory, const char *film_path, int32_t *ticks, char *reason,
                                size_t reason_size);

// Copies the film of the last simulation, closed by stop_simulation, to
// `path` as a local tag file (replaced when it exists).  False with a
// one-line reason when there is none or it cannot be written.
bool save_simulation_film(const char *path, char *reason, size_t reason_size);

// Saves the running simulation as a saved game through the autosave path (no
// dialog) and copies it to `path` as a local tag file (replaced when it
// exists); the saved game is then deleted from the data directory's "saved
// games".  False with a one-line reason when it cannot be made or written.
bool save_simulation_game(const char *path, char *reason, size_t reason_size);
// The same for the game the program runs however it was entered (vesk_shot
// enters it through the game states, not as a simulation); called between
// ticks, never inside one.
bool save_running_game(const char *path, char *reason, size_t reason_size);

// Brings the game up as start_simulation does and continues the saved game at
// `path`: its film replays at full speed up to the save, then the game goes
// on, recorded.  `save_ticks` receives the game time of the save.  False with
// a one-line reason when the saved game is refused or its map cannot start.
bool start_simulation_from_saved_game(const char *data_directory, const char *path, int32_t *save_ticks, char *reason,
                                      size_t reason_size);

// Runs `ticks` ticks from where the game stands, executing each command at
// its tick, and writes the state hash after each tick into `hashes` (`ticks`
// entries; may be null: no hash is computed then).  Commands must be in tick
// order.  False when no simulation runs.
bool run_simulation(int32_t ticks, const simulation_command *commands, int32_t command_count,
                    const simulation_pacing *pacing, uint32_t *hashes);

// One tick's result as it is computed: `tick` counts from 1 for the first
// tick of the run.
typedef void (*simulation_report_procedure)(int32_t tick, uint32_t hash, void *context);

// run_simulation that also hands each tick's hash to `report` (may be null)
// when the tick ends; `hashes` may be null then.
bool run_simulation_reporting(int32_t ticks, const simulation_command *commands, int32_t command_count,
                              const simulation_pacing *pacing, uint32_t *hashes, simulation_report_procedure report,
                              void *report_context);

// Brings the game up headless as start_simulation does, without starting a
// map (a network game starts its map once its players are known).
bool bring_up_simulation(const char *data_directory, char *reason, size_t reason_size);

// Starts the map of `data`, a game set up elsewhere (a network game), on a
// game brought up; the game state is "running".  False with a one-line reason.
bool start_simulation_from_game_data(const new_game_data *data, char *reason, size_t reason_size);

// Called before every frame of run_simulation_frames; false ends the run.
typedef bool (*simulation_frame_procedure)(void *context);

// Runs frames (update_vesk with one local tick each) until game time has
// advanced `ticks` past where it stands or `frame` returns false, handing each
// tick's hash to `report`.  No idle limit: the frame procedure bounds the run
// (a network game waits for its stream).  True when the ticks ran.
bool run_simulation_frames(int32_t ticks, simulation_frame_procedure frame, void *frame_context,
                           simulation_report_procedure report, void *report_context);

// Called at the start of every tick of a run (with the game time the tick
// will have), after the harness commands of that tick: the place where a
// tool gives orders through the game's own command builders.  Null: none.
typedef void (*simulation_tick_procedure)(int32_t tick, void *context);
void set_simulation_tick_procedure(simulation_tick_procedure procedure, void *context);

// Takes every command waiting in the outgoing ring, stamps it with `tick` and
// `player_index` as the command stream stamps the local player's, queues it
// incoming and records it in the film: orders given "as" any player of the
// single-player game.  The local player's pass the tutorial watcher as the
// game's own commands do (one it drops is neither queued nor recorded below
// gameplay version 1840; from 1840 it is judged as it runs): the core's own
// queue_local_commands does it.
void queue_outgoing_commands_as_player(int32_t tick, int16_t player_index);

// Disposes the map; the program stays in the main-menu state.
void stop_simulation(void);

// Parses a verb name ("score", "fire", "effect", "snow", "eliminate",
// "damage", "end", "ally"); NONE when unknown.
int16_t simulation_verb_from_name(const char *name);

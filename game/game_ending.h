#pragma once
// The end of a game, in one place: why it ends (a table of reasons), its
// countdown and suspension, the last tick every machine plays, and what the
// local player made of it.  The tick-end state a film or saved game closes
// with is game_time's (set_tick_end_state); an end between two ticks holds it
// here.  docs/scoring.md says when each kind of game ends.
//
// Simulation thread only.

#include "cseries/cseries.h"

// Why a game ends; each reason's row in game_ending.cpp says how.
enum game_end_reason
{
    // A script, the standings (one side left, every flag collected) or the
    // time limit decided: the 300-tick ending countdown.
    _game_end_decided = 0,
    // The network's game-over command, or a tool's game of a given length:
    // the countdown's one tick.
    _game_end_game_over,
    // The player quit (the quit dialog), between two ticks: the state the last
    // tick left is held as the game's end, the game is left (neither won nor
    // lost, unless it had already ended), and the state that follows it is
    // asked for at once.
    _game_end_player_left,
    // No tick may follow (a network game whose host left): ended as it
    // stands, won, lost or drawn by its standings, and what follows asked for
    // at once.
    _game_end_no_tick_follows,
    NUMBER_OF_GAME_END_REASONS
};

enum
{
    ENDGAME_COUNTDOWN_TICKS = 300,
    IMMEDIATE_ENDGAME_COUNTDOWN_TICKS = 1,
};

// A new map: no end pending, no countdown, nothing left or told.
void initialize_game_ending_for_new_map(void);
// Adds what of the end the state hash covers (the countdown and a pending end).
void hash_game_ending(uint32_t *hash);

// Ends the game for `reason`.  While the end is suspended it only marks the
// end pending (time state "suspended ending"); the end happens when the
// suspension is lifted.  Otherwise: statistics and rankings updated, the
// winning team settled (a script's choice stands; else the team alone in
// first place, or NONE for a shared first place), endgame state resolved,
// game_time_at_end recorded, the standings, report and lasting rankings
// built, the victory or defeat sound played for the local player, and the
// ending countdown started as the reason says.  A game already ending keeps
// its end (a reason that asks for what follows at once still asks).
// A reason out of range is refused (assertion) and nothing ends.
void end_game(int16_t reason);

// True once the game has ended or is ending (its end resolved, its countdown
// running, or over).
bool game_has_ended(void);

// What the game ended (or ending) is for the local team (statistics.h's
// postgame_outcome): left when the player left before its end; else none
// without a local team, drawn without a winner, won when the winner is the
// local team or a team it is allied with, lost otherwise.
int16_t get_local_postgame_outcome(void);

// Sets or clears the postponement of the end.  Clearing it with an end
// pending ends the game then.
void suspend_end_game(bool suspend);

// Ticks left of the ending countdown; NONE when the game is not ending.
int32_t get_endgame_countdown(void);

// Told once the ending countdown of a game has begun: the game's last tick
// (the tick at which the countdown ends, the same on every machine).  The
// network game's command relay takes it, so that no command is stamped past
// that tick.  Refused (assertion, the first kept) for a null procedure or a
// second registration; while empty nobody is told.
typedef void (*game_last_tick_procedure)(int32_t last_tick);
bool register_game_last_tick_procedure(game_last_tick_procedure procedure);

// The ending countdown, one tick: at 0 the game is over, and the front end's
// game-over member (front_end_procedures.h) says what follows; without it the
// state that follows a game of its type is asked for.  The core's endgame
// tick step.
void update_endgame(void);

// The time limit ran out: the game ends (decided).  The core's tick step.
void handle_time_limit_expired(void);

// Asks for the state that follows a game of its type: the epilogue for a
// single-player game, the post-game state for a network game, the main menu
// for films and the demo.  The front end's game-over calls it when its
// report closes.
void request_state_after_game(void);

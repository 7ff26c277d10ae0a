#pragma once
// Players, teams and alliances of the game in play.
//
// A game starts with at most 16 players (new_game_data), but the player array
// holds 127 records: players who join a game in progress take new records and
// keep the ones of players who dropped, and the statistics keep a column for
// every record.  Teams are at most 16.  Every record here is synchronized
// (it goes into the state hash) except the appearance, which only the interface
// reads.
//
// Simulation thread only.

#include "cseries/cseries.h"
#include "game_records.h"

enum
{
    MAXIMUM_PLAYERS_PER_GAME = 127,
    MAXIMUM_TEAMS_PER_GAME = 16,
};

enum player_data_flag_bits
{
    _player_uses_appearance_colors_bit = 0,
    _player_has_been_dropped_bit = 2,
    _player_is_observer_bit = 6,
};

// A player of the game.
struct player_data
{
    int16_t identifier;               // 0: unused record
    int16_t type;                     // player_type
    uint16_t flags;                   // player_data_flag_bits, as new_player_data's
    int8_t team_index;                // NONE for an observer
    int8_t original_team_index;       // the team at the start (kept when the team changes)
    int32_t unique_identifier;        // the network player identifier
    int32_t metaserver_player_id;
    int32_t game_time_at_join;
    int32_t game_time_at_drop;        // NONE while playing
    player_appearance_data appearance; // local: names and colours for the interface
};

enum team_data_flag_bits
{
    _team_has_been_eliminated_bit = 0,
    _team_has_been_eliminated_flag = 1 << _team_has_been_eliminated_bit,
};

// A team of the game.
struct team_data
{
    int16_t identifier;               // 0: unused record
    uint16_t flags;                   // team_data_flag_bits
    int16_t number_of_players;
    int16_t captain_player_index;     // NONE when the team has no player
    int32_t score;
    int32_t game_time_at_elimination; // NONE while in the game
    uint32_t numbered_flags_captured_flags; // bit n & 31: numbered flag n captured
    int32_t game_time_of_possession;  // ticks the team held what the scoring counts; NONE: never
    int32_t game_time_at_last_capture; // NONE: never
    uint16_t allied_team_flags;       // bit t: this team is allied towards team t
};

// Once at start-up: no players, no teams.
void initialize_players(void);

// Creates the players and teams of `data` (already checked by the core):
// players in set-up order, a player's team index out of 0..15 is repaired to
// the lowest free team with a log line, observers get no team.  The team count
// is one more than the highest team any player names.  A captain is the
// player whose unique identifier the team's players name, else the team's
// first player.  With the alliances option, teams start allied to nobody;
// every team is always allied with itself.  Never fails.
bool initialize_players_for_new_map(const new_game_data *data);

// Keeps the players and teams of the ended map for the post-game dialogs
// (ressurect_players_from_old_map), then empties them.
void dispose_players_from_old_map(void);

// Restores the players and teams of the map that ended last.  False when no
// map has ended since start-up.
bool ressurect_players_from_old_map(void);

// ---- access ------------------------------------------------------------------

// Records in use are 0 .. count-1 (a dropped player keeps its record).
int16_t get_player_count(void);
int16_t get_team_count(void);

// Raises the team count to `count` (the map's own team count, at most 16);
// never lowers it.
void set_minimum_team_count(int16_t count);

// The record, or null (logged) for an index out of range or unused.
player_data *get_player_data(int32_t player_index);
// The record of a player in use, or null (not logged) for an index out of range.
inline const player_data *player_or_null(int32_t index)
{
    return index >= 0 && index < get_player_count() ? get_player_data(index) : nullptr;
}
team_data *get_team_data(int32_t team_index);

// The player with that network identifier, or NONE.
int16_t find_player_by_unique_identifier(int32_t unique_identifier);

// Adds a player joining the game in progress, on the team its set-up names
// (repaired as at the start).  NONE (logged) when all 127 records are taken.
int16_t new_player_in_game(const new_player_data *player);

// Marks a player dropped at the current game time; its record stays.
void drop_player(int16_t player_index);

// ---- alliances -----------------------------------------------------------------

// True when both teams are the same, or team a is allied towards team b.
// False for an index out of range (NONE included) unless both are the same
// valid team.
bool teams_are_allied(int32_t team_a, int32_t team_b);

// True when the units at `unit_a` and `unit_b` ("monster" indexes) are on
// teams_are_allied teams (the unit layer gives their teams, unit_facts.h).
// False when either does not exist or belongs to no team.
bool monsters_are_allied(int32_t unit_a, int32_t unit_b);

// Forms (or with `form` false ends) the alliance of team0 towards team1; the
// other direction is not touched.  Ignored (logged) for an index out of range
// or a team allying with itself.
void ally_with_team(int32_t team0, int32_t team1, bool form);

// ---- elimination -----------------------------------------------------------------

// The units of a beaten team are removed by the unit layer, which registers
// this (until then elimination only marks the team).
typedef void (*eliminate_units_procedure)(int16_t team_index);
bool register_eliminate_units_procedure(eliminate_units_procedure procedure);

// Eliminates a team: flag bit 0, the current game time, its units removed.
// A team already eliminated, or an index out of range, is left alone.
void eliminate_team(int32_t team_index);

// The number of sides still in the game: teams not eliminated, counting
// mutually allied teams as one side.  Teams without players do not count.
int32_t count_remaining_sides(void);

// ---- set-up helpers ------------------------------------------------------------------

// Orders set-up records in place as the game numbers its players: by team
// index (observers last), each team's captain first, otherwise keeping the
// order given.  With `fix_dangling_players`, a captain identifier that names
// no player of the same team is cleared (-1) first.
void sort_new_player_data(new_player_data *players, int32_t count, bool fix_dangling_players);

// Makes the players' primary colours distinct between teams: a player whose
// colour equals that of a player of another team earlier in the list takes
// the first colour pair (primary and secondary) of the built-in palette whose
// primary nobody uses.  Teammates keep their captain's colour; a player of
// team NONE has no teammates.
void arbitrate_player_appearances(new_player_data *players, int32_t count);

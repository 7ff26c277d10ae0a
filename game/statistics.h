#pragma once
// Statistics of the game in play: what each player's units cost, lost, killed
// and dealt; samples of it over time for the post-game graphs; the rankings of
// teams and players; the lasting rankings of a session; the post-game report;
// the standings record sent to the lobby service; the CSV file of a film.
//
// Units are counted by "unit type": the index of the map's unit palette entry
// (a unit definition for one player).  The unit layer tells the statistics
// which player owns a type and what one unit of it costs before it adjusts the
// type's counts.
//
// The counts are kept once, for the owners set_unit_statistics_type names (the
// unit layer names each player's copy of a unit definition).  From gameplay
// version FIRST_GAMEPLAY_VERSION_WITH_OWNED_STATISTICS the state hash covers
// them and the scoring rules read them.  Games of earlier rules counted every
// unit for nobody: for those, the state hash and the scoring rules see the
// counts folded into nobody's record (get_player_statistics and
// get_team_statistics give zeros), so their films replay in step, while the
// rankings, the post-game report, the standings, the statistics file and the
// samples read the counts as they are.
//
// Everything here is deterministic; only the synchronized counts are hashed.
// The samples' kills_against_by_local_team depend on which team this machine
// plays.
//
// Simulation thread only.

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "players.h"
#include "world.h"

enum
{
    MAXIMUM_UNIT_STATISTICS_TYPES = 1024,
    MAXIMUM_STATISTICS_SAMPLES = 128,
    INITIAL_TICKS_PER_STATISTICS_SAMPLE = 15 * 30,
    NUMBER_OF_PERMANENT_STANDINGS = 3, // first, second, third places
    FIRST_GAMEPLAY_VERSION_WITH_OWNED_STATISTICS = 1825,
    // From this version the scripts read the rankings of the tick (earlier
    // rules read them as the last forced update left them), and in a hunting
    // game a kill of a scoring target (a hunted creature) scores for the
    // hunting team and is never friendly fire.
    FIRST_GAMEPLAY_VERSION_WITH_CURRENT_RANKINGS = 1830,
    FIRST_GAMEPLAY_VERSION_WITH_HUNTED_QUARRY = 1830,
};

// Whether the game in play hashes and scores the counts by owner (its
// gameplay version is FIRST_GAMEPLAY_VERSION_WITH_OWNED_STATISTICS or later).
bool statistics_name_owners_in_play(void);

// ---- life --------------------------------------------------------------------------

// Once at start-up (and the lasting rankings are emptied).
void initialize_statistics(void);
// Empties the game's statistics and samples for a new map, the map
// `scenario_tag` (named in the saved statistics).
void initialize_statistics_for_new_map(tag scenario_tag);
// Keeps the ended map's statistics for the post-game dialogs, then empties them.
void dispose_statistics_from_old_map(void);
// Restores the statistics of the map that ended last.  False when none was kept.
bool ressurect_player_statistics_from_old_map(void);

// The per-tick step: the open sample takes the tick, team score changes are
// recorded on their captain, and a full sample is closed (the samples are
// compacted two into one when all are used, and the ticks per sample double).
// Then, until the game has ended, the teams and players are ranked again, so
// that every reader sees the standings of this tick (the end's ranking stays).
void update_statistics(void);

// ---- counting -------------------------------------------------------------------------

// Names the owner and the cost of one unit of `unit_type`.  Refused (logged)
// for a type or player out of range.
void set_unit_statistics_type(int16_t unit_type, int16_t player_index, int32_t cost);

// Units of a type appear or disappear (count) and gain or lose vitality.
void adjust_unit_statistics(int16_t unit_type, int32_t count_delta, int32_t vitality_delta);
// Units of a type leave (negative) or return to their player's control.
void adjust_unit_statistics_for_uncontrollability(int16_t unit_type, int32_t delta);
// Forgets what is counted for the type (its units leave the extant counts).
void clear_unit_statistics(int16_t unit_type);

// Records damage done by a unit of `aggressor_unit_type` (NONE: nobody's,
// counted as unattributed) to a unit of `target_unit_type`.  `died`: the
// target died of it.  `netgame_target`: the target was a scoring target (a
// kill counts in assassination).  `ambient_life`: the target belongs to
// nobody (its damage and death count only for hunting).  `adjust_damage`:
// the damage amounts are recorded (else only the death).  `scoring_hack`:
// the target is game in hunting.  Damage between allied teams is
// friendly fire: it counts as damage to subtract, never as a kill.  From
// FIRST_GAMEPLAY_VERSION_WITH_HUNTED_QUARRY, in a hunting game a scoring
// target is the quarry: never friendly, and its death scores as game.
void adjust_damage_statistics_for_unit_type(int16_t aggressor_unit_type, int16_t target_unit_type, int32_t damage,
                                            bool died, bool netgame_target, bool ambient_life, bool adjust_damage,
                                            bool scoring_hack);

// The same for the unit at `target_unit` (a "monster" index), whose unit type
// the unit layer gives (unit_facts.h).  Nothing is recorded (logged) when no
// such unit exists.
void adjust_damage_statistics(int16_t aggressor_unit_type, int32_t target_unit, int32_t damage, bool died,
                              bool netgame_target, bool ambient_life, bool adjust_damage, bool scoring_hack);

// ---- reading the counts ------------------------------------------------------------------

struct player_statistics
{
    int32_t casualty_count;
    int32_t casualty_cost;
    int32_t extant_unit_count;
    int32_t extant_cost;
    int32_t uncontrollable_count;
    int32_t total_kill_count;
    int32_t total_damage;
    int32_t total_damage_taken;
    int32_t points_killed;       // cost of the enemy units killed
    int32_t damage_to_allies;
};

struct team_statistics
{
    int32_t enemy_kills;
    int32_t damage_to_enemies;
    int32_t netgame_target_kills; // assassination
    int32_t game_kills;           // hunting: targets marked as game
};

// The counts as the rules of the game in play see them (zeros for players
// and teams under the earlier rules).  Null for an index out of range.
const player_statistics *get_player_statistics(int32_t player_index);
const team_statistics *get_team_statistics(int32_t team_index);
const player_statistics *get_unattributed_statistics(void);

// ---- samples ------------------------------------------------------------------------------

struct statistics_sample_player
{
    int32_t damage_to_subtract;
    int32_t score;
};
struct statistics_sample_team
{
    int32_t enemy_kills;
    int32_t damage_to_enemies;
    int32_t kills_against_by_local_team;
};
struct statistics_sample
{
    statistics_sample_player players[MAXIMUM_PLAYERS_PER_GAME];
    statistics_sample_team teams[MAXIMUM_TEAMS_PER_GAME];
    statistics_sample_team unattributed;
};

// The samples (`*count` closed ones, then the open one), the ticks each
// closed sample covers and the ticks the open one holds so far.
const statistics_sample *get_player_statistics_sample_range(int32_t *count, int32_t *ticks_per_sample,
                                                            int32_t *ticks_in_last_sample);

// ---- teams out of the game ------------------------------------------------------------------

// Takes note of the teams standing now (bits by team: a unit of its own on
// the map or one to come): a team with players that does not stand is
// recorded out of the game at this tick (kept until it stands again).  The
// record only: nothing the simulation or the state hash reads changes, so a
// game that does not eliminate such a team (one player's level, whose end is
// its script's) still tells when the team was wiped out.
void note_teams_standing(uint32_t standing_teams);

// The tick the team left the game: its elimination, else the tick it was
// recorded wiped out; NONE while it is in the game or for a bad index.
int32_t get_team_time_out_of_game(int16_t team_index);

// ---- rankings -------------------------------------------------------------------------------

struct player_ranking_data
{
    int16_t player_index;
    int16_t rejoined_as_player_index; // NONE: this record was not replaced by a later one
    int32_t casualty_count;
    int32_t casualty_cost;
    int32_t extant_unit_count;
    int32_t extant_cost;
    int32_t uncontrollable_count;
    int32_t total_kill_count;
    int32_t total_damage;
    int32_t total_damage_taken;
};

struct team_ranking_data
{
    int16_t team_index;
    int16_t place;  // 0 first; teams with equal results share a place and the next place skips
    int32_t score;
    int32_t casualty_count;
    int32_t casualty_cost;
    int32_t extant_unit_count;
    int32_t extant_cost;
    int32_t uncontrollable_count;
    int32_t total_kill_count;
    int32_t total_damage;
    int32_t total_damage_taken;
};

// Ranks the teams (the named winner first; then teams in the game above
// eliminated ones, the later eliminated above the earlier; then by score,
// higher first; equal results share a place) and the players (in their
// team's order, by player index within a team; players without a team last)
// now, mid-tick, and keeps the team ranking for the scripts of earlier rules.
// A ranking's survivors (`extant_unit_count`) are the units alive at the
// update, asked of the unit layer: call it while the map lives (end_game does).
void force_player_statistics_update(void);

// The ranking at `place` (0 .. team count - 1) / `rank` (0 .. player count - 1)
// as of the last update (forced, or the last tick's); null out of range.
const team_ranking_data *get_team_ranking(int32_t place);
const player_ranking_data *get_player_ranking(int32_t rank);

// The team ranking a script's test reads: get_team_ranking from
// FIRST_GAMEPLAY_VERSION_WITH_CURRENT_RANKINGS; under earlier rules the
// ranking of the last forced update (none before the first), as their
// films were played.
const team_ranking_data *get_team_ranking_for_scripts(int32_t place);

// A player's results over the games of a session (kept across maps).
struct permanent_player_ranking_data
{
    int16_t player_index;             // in the last game played
    int16_t rejoined_as_player_index; // NONE
    int32_t unique_identifier;
    fixed score;                      // 1.0 per first place, 0.5 per second, 0.25 per third
    int32_t casualty_count;
    int32_t total_kill_count;
    int32_t total_damage;
    int32_t standings[NUMBER_OF_PERMANENT_STANDINGS]; // times placed first, second, third
};

// The lasting rankings and their count.
const permanent_player_ranking_data *get_permanent_player_rankings(int32_t *count);
// Adds the game just ranked to the lasting rankings (end_game calls it once).
void add_game_to_permanent_player_rankings(void);
// Forgets the lasting rankings (a new session).
void reset_permanent_player_rankings(void);

// ---- the post-game report -----------------------------------------------------------------

enum
{
    NUMBER_OF_POSTGAME_REPORT_TABLES = 6,
    POSTGAME_REPORT_STRING_BUFFER_SIZE = 1024,
};

// Six titled tables of text: 0 title only, 1 four columns, 2 three, 3 two,
// 4 and 5 title only.  Strings are read in order: each present table's title,
// then its rows cell by cell.
struct encoded_postgame_report
{
    uint16_t valid_table_flags; // bit t: table t present
    int16_t table_row_counts[NUMBER_OF_POSTGAME_REPORT_TABLES];
    int16_t string_count;
    int16_t string_buffer_size; // bytes used in `strings`
    char strings[POSTGAME_REPORT_STRING_BUFFER_SIZE];
};

// What the game just ended was for the local team; the report's title says it.
enum postgame_outcome : int16_t
{
    _postgame_outcome_none,  // no local team (a film, the demo): "Game Over"
    _postgame_outcome_won,   // its side won: "Victory"
    _postgame_outcome_lost,  // another side won: "Defeat"
    _postgame_outcome_drawn, // the game ended with no winner: "Draw"
    _postgame_outcome_left,  // left before its end (the quit dialog): "Game Over"
    NUMBER_OF_POSTGAME_OUTCOMES
};
const char *postgame_outcome_title(int16_t outcome);

// Builds the report of the game just ranked, from the local player's side,
// titled by `outcome` (end_game calls it, the epilogue again once it knows
// where the campaign goes).  Texts that do not fit are left out with their rows.
void build_postgame_report(int16_t outcome);
const encoded_postgame_report *get_encoded_postgame_report(void);
// The string at `*position` (0 for the first); advances `*position`.  Null
// when no string is left.
const char *get_next_encoded_postgame_report_string(const encoded_postgame_report *report, int32_t *position);

// "1234" below ten thousand, "12.3k" below a million, else "1.2M".
char *format_damage_string(int32_t damage, char *buffer, size_t size);

// ---- the standings record ----------------------------------------------------------------

enum
{
    DRAXIL_NET_GAME_STANDINGS_PLAYERS_OFFSET = 216, // the header and the 16 team records
    DRAXIL_NET_GAME_STANDINGS_PLAYER_SIZE = 28,
    MINIMUM_DRAXIL_NET_GAME_STANDINGS_PLAYERS = 16,
};

struct draxil_net_game_standings_team
{
    int16_t place;
    int16_t captain_player_index;
    int16_t team_valid_flag;
    int16_t team_eliminated_flag;
    int32_t time_of_elimination;
};
static_assert(sizeof(draxil_net_game_standings_team) == 12);

struct draxil_net_game_standings_player
{
    int16_t team_index;
    int16_t player_finished_game_flag;
    int32_t time_played;
    int32_t units_killed;
    int32_t units_lost;
    int32_t points_killed;
    int32_t points_lost;
    int32_t draxil_net_player_id;
};
static_assert(sizeof(draxil_net_game_standings_player) == DRAXIL_NET_GAME_STANDINGS_PLAYER_SIZE);
static_assert(offsetof(draxil_net_game_standings_player, time_played) == 4);
static_assert(offsetof(draxil_net_game_standings_player, draxil_net_player_id) == 24);

// The standings of a network game as the lobby service takes them: a header,
// 16 team records (unused teams zero), then one record per player.  On the
// wire the player records are max(16, number_of_players) long
// (draxil_net_game_standings_size); the rest of `players` is zero.
struct draxil_net_game_standings
{
    int16_t game_ended_code;
    int16_t game_scoring;
    int32_t game_version;
    int32_t time_limit;
    int32_t actual_time_elapsed;
    int32_t draxil_net_player_id; // the local player's
    int16_t number_of_players;
    int16_t number_of_teams;
    draxil_net_game_standings_team teams[MAXIMUM_TEAMS_PER_GAME];
    draxil_net_game_standings_player players[MAXIMUM_PLAYERS_PER_GAME];
};
static_assert(offsetof(draxil_net_game_standings, actual_time_elapsed) == 12);
static_assert(offsetof(draxil_net_game_standings, number_of_players) == 20);
static_assert(offsetof(draxil_net_game_standings, teams) == 24);
static_assert(offsetof(draxil_net_game_standings, players) == DRAXIL_NET_GAME_STANDINGS_PLAYERS_OFFSET);
static_assert(sizeof(draxil_net_game_standings) == DRAXIL_NET_GAME_STANDINGS_PLAYERS_OFFSET +
                                                      DRAXIL_NET_GAME_STANDINGS_PLAYER_SIZE * (int)MAXIMUM_PLAYERS_PER_GAME);

// The header with the team records, and one player record.
extern const byte_swap_code draxil_net_game_standings_byte_swapping_data[];
extern const byte_swap_code draxil_net_game_standings_player_byte_swapping_data[];

// Builds the standings of the game just ended (host order).  `game_ended_code`
// as the caller gives it (the quit dialog: 2 clean, 1 with an error pending).
void build_draxil_net_game_standings(int16_t game_ended_code);

// The standings last built (host order), the one record the lobby reads.
const draxil_net_game_standings *get_draxil_net_game_standings(void);

// Bytes of `standings` on the wire: 216 + 28 x max(16, number_of_players);
// a player count outside 0..127 counts as 127.
int32_t draxil_net_game_standings_size(const draxil_net_game_standings *standings);

// The wire form of the last built standings, big-endian, into `buffer`.
// Returns the size, or NONE when `size` is too small.
int32_t encode_draxil_net_game_standings(uint8_t *buffer, int32_t size);

// ---- the statistics file -------------------------------------------------------------------

// Writes the statistics of the game just played to "recording_stats/<name>.csv"
// (the directory is made when missing), replacing an earlier file of that
// name whole: it is never seen half written.  False
// (logged) when the name is empty, too long, holds a path separator or starts
// with '.', or the file cannot be written; an earlier file of that name is
// then left as it was.
bool save_game_statistics_csv(const char *name);

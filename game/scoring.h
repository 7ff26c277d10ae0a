#pragma once
// The scoring of a game: each scoring type's rule (a table of procedures run
// once per tick), the scores scripts set, goals, and the ends a scoring
// decides (game_ending.h ends the game).  docs/scoring.md gives the rules of
// the scoring types.
//
// Simulation thread only.

#include "cseries/cseries.h"
#include "world.h"

enum game_scoring_type
{
    _scoring_attrition = 0,
    _scoring_steal_the_bacon,
    _scoring_last_man_on_the_hill,
    _scoring_scavenger_hunt,
    _scoring_flag_rally,
    _scoring_capture_the_flag,
    _scoring_balls_on_parade,
    _scoring_territories,
    _scoring_captures,
    _scoring_king_of_the_hill,
    _scoring_cattle_drive,
    _scoring_assassination,
    _scoring_hunting,
    _scoring_custom,
    _scoring_king_of_the_hill_vux,
    _scoring_king_of_the_map,
    NUMBER_OF_SCORING_TYPES
};

enum
{
    MAXIMUM_GOALS_PER_MAP = 16,
    MAXIMUM_POINTS_PER_GOAL = 32,
};

// Once at start-up.
void initialize_scoring(void);
// A new map: no goals, no end pending, the scoring bookkeeping cleared.
void initialize_scoring_for_new_map(void);

// The scoring types a map offers are bits 0-15 of its flags.  When the map
// offers some and not the game's, the game's scoring becomes the lowest one
// offered (logged).  A map that offers none takes any scoring.  Returns the
// scoring in force.
int16_t repair_game_scoring_for_map(uint32_t map_scoring_flags);

// The scoring a game of `scoring` plays on a map of those flags, by the same
// rule, changing nothing: what a description of the game names.
int16_t scoring_played_on_map(int16_t scoring, uint32_t map_scoring_flags);

// The per-tick step of the scoring (before the statistics take the tick):
// flag control, the scoring type's rule, and the end of a game decided by it
// (one side left, every numbered flag collected).  Nothing once the game ended.
void update_game_scoring(void);

// ---- scores ----------------------------------------------------------------------

// Sets / adds to a team's score.  Ignored (logged) for a team out of range.
void set_points(int32_t team_index, int32_t score);
void score_points(int32_t team_index, int32_t points);
// Switches the game to custom scoring: only scripts change scores from now on.
void use_custom_scoring(void);

// A goal outline a script gives a team (shown by the interface).  Points past
// MAXIMUM_POINTS_PER_GOAL are dropped, a goal past MAXIMUM_GOALS_PER_MAP or a
// team out of range is refused (logged).
struct goal_data
{
    int16_t team_index;
    int16_t point_count;
    world_point2d points[MAXIMUM_POINTS_PER_GOAL];
};
void new_goal(int32_t team_index, int32_t point_count, const world_point2d *points);
int32_t get_goal_count(void);
const goal_data *get_goal(int32_t index);

// Records in the statistics which teams still stand as the game ends: a
// team wiped out on the tick a script ends the game, before the scoring step
// of that tick ran, has its time too.  Statistics only; nothing in the
// planning time.
void note_standing_teams_at_end(void);

// ---- texts ----------------------------------------------------------------------

// The name of the game's scoring ("Capture the Flag") and its rule in one line.
// The map actions that end a game ('endg', 'end2').
#define ENDGAME_ACTION_TAG FOUR_CHARACTER_CODE('e', 'n', 'd', 'g')
#define CUSTOM_ENDGAME_ACTION_TAG FOUR_CHARACTER_CODE('e', 'n', 'd', '2')

// Whether a stored map action block (`count` records, then their parameters,
// `size` bytes in all, big-endian) holds an action that ends the game.
bool map_action_block_ends_the_game(const void *block, int32_t count, int32_t size);

// The words a description of a game (a film's) gives for its scoring, as
// get_game_scoring_string gives them in the game: for a game of one side
// (`type` local, or cooperative `option_flags`) on a map `mesh_tag` whose
// script ends the game, "Objective" or "Last side standing"; null when the
// scoring type's own name applies (or the map cannot be read).
const char *scripted_game_scoring_words(tag mesh_tag, int16_t type, uint32_t option_flags);

// True when the game is one side's (one player's level, a cooperative game,
// or a film of one) and its map's script ends it: its script, not a scoring
// type, decides who wins.
bool game_is_decided_by_its_script(void);

// The words of the game's scoring and its rules.  A game its script decides
// says so: "Objective" and the map's first objective when its mission list
// has one, else "Last side standing" and what that means; never the name of
// a scoring type that does not decide it.
const char *get_game_scoring_string(void);
const char *get_game_rules_string(void);

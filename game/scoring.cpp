// Scoring rules, scores and goals.

#include "scoring.h"


#include <cstdlib>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

#include "flags.h"
#include "game_ending.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "markers.h"
#include "mesh.h"
#include "mesh_format.h"
#include "players.h"
#include "state_hash.h"
#include "statistics.h"
#include "unit_facts.h"

static struct scoring_globals
{
    int32_t starting_sides;    // sides in the game at its first scoring tick; NONE before
    int32_t counted_target_kills[MAXIMUM_TEAMS_PER_GAME];
    int32_t counted_game_kills[MAXIMUM_TEAMS_PER_GAME];
    goal_data goals[MAXIMUM_GOALS_PER_MAP];
    int32_t goal_count;
} scoring_globals;

static void hash_scoring(uint32_t *hash)
{
    // The end's share first, where the scoring's own hash always had it.
    hash_game_ending(hash);
    state_hash_add_int32(hash, scoring_globals.starting_sides);
    state_hash_add_int32(hash, scoring_globals.goal_count);
}

void initialize_scoring(void)
{
    scoring_globals = {};
    scoring_globals.starting_sides = NONE;
    initialize_game_ending_for_new_map();
    register_state_hash_procedure_at_start_up(hash_scoring);
}

void initialize_scoring_for_new_map(void)
{
    scoring_globals = {};
    scoring_globals.starting_sides = NONE;
    initialize_game_ending_for_new_map();
}

int16_t scoring_played_on_map(int16_t scoring, uint32_t map_scoring_flags)
{
    const uint32_t offered = map_scoring_flags & 0xFFFFu;
    if (offered == 0 || (scoring >= 0 && scoring < NUMBER_OF_SCORING_TYPES && (offered & (1u << scoring))))
        return scoring;
    int16_t lowest = 0;
    while (!(offered & (1u << lowest))) ++lowest;
    return lowest;
}

int16_t repair_game_scoring_for_map(uint32_t map_scoring_flags)
{
    const int16_t played = scoring_played_on_map(game_->scoring, map_scoring_flags);
    if (played == game_->scoring) return played;
    log_message(__FILE__, __LINE__, "the map does not offer scoring %d: playing scoring %d", game_->scoring, played);
    game_->scoring = played;
    return played;
}

// ---- scores ----------------------------------------------------------------------

static team_data *scoring_team(int32_t team_index, const char *caller)
{
    if (team_index < 0 || team_index >= get_team_count())
    {
        log_message(__FILE__, __LINE__, "%s: no team %d", caller, team_index);
        return nullptr;
    }
    return get_team_data(team_index);
}

void set_points(int32_t team_index, int32_t score)
{
    team_data *team = scoring_team(team_index, "set_points");
    if (team) team->score = score;
}

void score_points(int32_t team_index, int32_t points)
{
    team_data *team = scoring_team(team_index, "score_points");
    if (team) team->score = wrap_add32(team->score, points);
}

void use_custom_scoring(void) { game_->scoring = _scoring_custom; }

void new_goal(int32_t team_index, int32_t point_count, const world_point2d *points)
{
    if (team_index < 0 || team_index >= MAXIMUM_TEAMS_PER_GAME || scoring_globals.goal_count >= MAXIMUM_GOALS_PER_MAP ||
        point_count < 0 || (point_count > 0 && !points))
    {
        log_message(__FILE__, __LINE__, "goal of team %d with %d points refused", team_index, point_count);
        return;
    }
    goal_data *goal = &scoring_globals.goals[scoring_globals.goal_count++];
    memset(goal, 0, sizeof(*goal));
    goal->team_index = (int16_t)team_index;
    goal->point_count = (int16_t)(point_count > MAXIMUM_POINTS_PER_GOAL ? MAXIMUM_POINTS_PER_GOAL : point_count);
    if (goal->point_count > 0) memcpy(goal->points, points, sizeof(world_point2d) * (size_t)goal->point_count);
}

int32_t get_goal_count(void) { return scoring_globals.goal_count; }
const goal_data *get_goal(int32_t index)
{
    return index >= 0 && index < scoring_globals.goal_count ? &scoring_globals.goals[index] : nullptr;
}

// ---- the rules -------------------------------------------------------------------------

typedef void (*scoring_rule_procedure)(void);

static void take_possession(flag_data *flag, int16_t team)
{
    if (flag->owner_team_index == team) return;
    flag->owner_team_index = team;
    team_data *owner = get_team_data(team);
    if (owner) owner->game_time_at_last_capture = game_->game_time;
}

static void count_possession(team_data *team)
{
    team->game_time_of_possession = (team->game_time_of_possession == NONE ? 0 : team->game_time_of_possession) + 1;
}

static int32_t flags_owned_by(int16_t team, bool only_taken_from_others)
{
    int32_t owned = 0;
    for (int32_t i = 0; i < get_flag_slot_count(); ++i)
    {
        const flag_data *flag = get_flag_data(i);
        if (flag && flag->owner_team_index == team && (!only_taken_from_others || (flag->home_team_index != NONE && flag->home_team_index != team)))
            ++owned;
    }
    return owned;
}

// Attrition: a team's score is the damage it dealt to its enemies.
static void attrition_rule(void)
{
    for (int16_t t = 0; t < get_team_count(); ++t) get_team_data(t)->score = get_team_statistics(t)->damage_to_enemies;
}

// Steal the bacon, last man on the hill, balls on parade: a team alone at a
// flag takes it; a team holding any flag scores 1 (else 0) and counts the
// ticks it holds one.
static void possession_rule(void)
{
    for (int32_t i = 0; i < get_flag_slot_count(); ++i)
    {
        flag_data *flag = get_flag_data(i);
        if (flag && flag->controlling_team_index != NONE) take_possession(flag, flag->controlling_team_index);
    }
    for (int16_t t = 0; t < get_team_count(); ++t)
    {
        team_data *team = get_team_data(t);
        team->score = flags_owned_by(t, false) > 0 ? 1 : 0;
        if (team->score) count_possession(team);
    }
}

// The numbers of the numbered flags on the map, bit n for flag n.
static uint32_t numbered_flags_on_map(void)
{
    uint32_t numbers = 0;
    for (int32_t i = 0; i < get_flag_slot_count(); ++i)
    {
        const flag_data *flag = get_flag_data(i);
        if (flag && flag->number != NONE) numbers |= 1u << (flag->number & 31);
    }
    return numbers;
}

// Scavenger hunt (any order) and flag rally (in order of number): a team alone
// at a numbered flag collects it; the score is the number collected.
static void collection_rule(bool in_order)
{
    const uint32_t numbers = numbered_flags_on_map();
    for (int32_t i = 0; i < get_flag_slot_count(); ++i)
    {
        const flag_data *flag = get_flag_data(i);
        if (!flag || flag->number == NONE || flag->controlling_team_index == NONE) continue;
        team_data *team = get_team_data(flag->controlling_team_index);
        if (!team) continue;
        const uint32_t bit = 1u << (flag->number & 31);
        if (team->numbered_flags_captured_flags & bit) continue;
        if (in_order && ((numbers & (bit - 1)) & ~team->numbered_flags_captured_flags)) continue;
        team->numbered_flags_captured_flags |= bit;
        team->game_time_at_last_capture = game_->game_time;
    }
    for (int16_t t = 0; t < get_team_count(); ++t)
    {
        team_data *team = get_team_data(t);
        team->score = __builtin_popcount(team->numbered_flags_captured_flags);
    }
}

static void scavenger_hunt_rule(void) { collection_rule(false); }
static void flag_rally_rule(void) { collection_rule(true); }

// Capture the flag: a team alone at an enemy's flag takes it (its owner
// retakes it the same way); a team scores the flags it holds of other teams.
static void capture_the_flag_rule(void)
{
    for (int32_t i = 0; i < get_flag_slot_count(); ++i)
    {
        flag_data *flag = get_flag_data(i);
        if (!flag || flag->controlling_team_index == NONE) continue;
        const int16_t taker = flag->controlling_team_index;
        if (flag->owner_team_index == NONE || !teams_are_allied(taker, flag->owner_team_index) ||
            taker == flag->home_team_index)
            take_possession(flag, taker);
    }
    for (int16_t t = 0; t < get_team_count(); ++t) get_team_data(t)->score = flags_owned_by(t, true);
}

// Territories: a team alone at a flag takes it; the score is the flags held now.
static void territories_rule(void)
{
    for (int32_t i = 0; i < get_flag_slot_count(); ++i)
    {
        flag_data *flag = get_flag_data(i);
        if (flag && flag->controlling_team_index != NONE) take_possession(flag, flag->controlling_team_index);
    }
    for (int16_t t = 0; t < get_team_count(); ++t) get_team_data(t)->score = flags_owned_by(t, false);
}

// Captures: every time a team takes a flag it did not hold, it scores 1.
static void captures_rule(void)
{
    for (int32_t i = 0; i < get_flag_slot_count(); ++i)
    {
        flag_data *flag = get_flag_data(i);
        if (!flag || flag->controlling_team_index == NONE || flag->owner_team_index == flag->controlling_team_index)
            continue;
        take_possession(flag, flag->controlling_team_index);
        ++get_team_data(flag->controlling_team_index)->score;
    }
}

// King of the hill: a team alone at any flag scores one per tick (its score
// is the time it held the hill).  King of the map: only while alone at every flag.
static void hill_rule(bool every_flag)
{
    uint32_t holding = 0, flags_seen = 0;
    uint32_t holding_all = 0xFFFFu;
    for (int32_t i = 0; i < get_flag_slot_count(); ++i)
    {
        const flag_data *flag = get_flag_data(i);
        if (!flag) continue;
        ++flags_seen;
        const uint32_t bit = flag->controlling_team_index != NONE ? 1u << flag->controlling_team_index : 0;
        holding |= bit;
        holding_all &= bit;
    }
    if (every_flag) holding = flags_seen ? holding_all : 0;
    for (int16_t t = 0; t < get_team_count(); ++t)
    {
        if (!(holding & (1u << t))) continue;
        team_data *team = get_team_data(t);
        ++team->score;
        count_possession(team);
    }
}

static void king_of_the_hill_rule(void) { hill_rule(false); }
static void king_of_the_map_rule(void) { hill_rule(true); }

// Assassination and hunting: scripts may set scores too, so kills are added
// as they happen rather than overwriting the score.
static void kill_count_rule(bool target_kills)
{
    for (int16_t t = 0; t < get_team_count(); ++t)
    {
        const team_statistics *statistics = get_team_statistics(t);
        const int32_t now = target_kills ? statistics->netgame_target_kills : statistics->game_kills;
        int32_t *counted = target_kills ? &scoring_globals.counted_target_kills[t] : &scoring_globals.counted_game_kills[t];
        if (now != *counted) score_points(t, now - *counted);
        *counted = now;
    }
}

static void assassination_rule(void) { kill_count_rule(true); }
static void hunting_rule(void) { kill_count_rule(false); }
// Cattle drive and custom: scores come from scripts only.
static void scripted_rule(void) {}

static const scoring_rule_procedure scoring_rules[NUMBER_OF_SCORING_TYPES] = {
    attrition_rule,        possession_rule,    possession_rule, scavenger_hunt_rule,
    flag_rally_rule,       capture_the_flag_rule, possession_rule, territories_rule,
    captures_rule,         king_of_the_hill_rule, scripted_rule, assassination_rule,
    hunting_rule,          scripted_rule,      king_of_the_hill_rule, king_of_the_map_rule,
};

// Teams with a unit of their own on the map or waiting off it (ambient life
// is nobody's strength), as bits by team.
static uint32_t teams_with_units(void)
{
    uint32_t teams = 0;
    for (int32_t unit = 0; unit < MAXIMUM_UNIT_INDEX_COUNT; ++unit)
    {
        unit_facts facts;
        if (!get_unit_facts(unit, &facts) || facts.ambient_life) continue;
        if (facts.team_index >= 0 && facts.team_index < MAXIMUM_TEAMS_PER_GAME) teams |= 1u << facts.team_index;
    }
    return teams;
}

// Teams a unit marker may still bring a unit to: a hidden unit a script calls
// in, one awaiting a manual respawn, one a captain may buy.
static uint32_t teams_with_units_to_come(void)
{
    const uint32_t waiting = _marker_is_invisible_flag | _marker_manual_respawn_flag | _marker_is_trade_reserve_flag;
    uint32_t teams = 0;
    for (int32_t m = 0; m < get_marker_count(_marker_monster); ++m)
    {
        const marker_data *marker = get_marker_by_index(_marker_monster, m);
        if (!marker || marker->data_index != NONE || !(marker->flags & waiting)) continue;
        const marker_palette_entry *entry = get_marker_palette_entry(_marker_monster, marker->palette_index);
        if (!entry || (entry->flags & _marker_palette_ambient_life_flag)) continue;
        const player_data *owner =
            marker->player_index != NONE && marker->player_index < get_player_count() ? get_player_data(marker->player_index)
                                                                                    : nullptr;
        const int32_t team = owner ? owner->team_index : entry->team_index;
        if (team >= 0 && team < MAXIMUM_TEAMS_PER_GAME) teams |= 1u << team;
    }
    return teams;
}

// From gameplay version 1850 a network game eliminates a team whose every
// unit is gone and cannot come back (the game played as a network game:
// its films replay by the same rule).  Earlier games, and games of one
// player, end only as their scripts or limits end them.
static void eliminate_wiped_out_teams(uint32_t standing)
{
    if (current_gameplay_version < 1850 || game_->played_type != _game_type_networked) return;
    for (int16_t t = 0; t < get_team_count() && t < MAXIMUM_TEAMS_PER_GAME; ++t)
    {
        const team_data *team = get_team_data(t);
        if (team->number_of_players == 0 || (team->flags & _team_has_been_eliminated_flag) ||
            (standing & (1u << t)))
            continue;
        log_message(__FILE__, __LINE__, "team %d is wiped out at tick %d", t, game_->game_time);
        eliminate_team(t);
    }
}

// Every game records the tick a team is wiped out (statistics only: no
// simulated state changes); the games of the rule above also eliminate it.
// The planning time is not played: its armies are still being bought.
static void note_wiped_out_teams_and_eliminate_them(void)
{
    if (game_->time_state == _game_time_pregame) return;
    const uint32_t standing = teams_with_units() | teams_with_units_to_come();
    note_teams_standing(standing);
    eliminate_wiped_out_teams(standing);
}

void note_standing_teams_at_end(void)
{
    if (game_->time_state != _game_time_pregame) note_teams_standing(teams_with_units() | teams_with_units_to_come());
}

void update_game_scoring(void)
{
    if (game_has_ended()) return;
    update_flag_control();
    if (game_->scoring >= 0 && game_->scoring < NUMBER_OF_SCORING_TYPES) scoring_rules[game_->scoring]();

    // One side left of a game that began with several ends it.  The sides
    // at the start are counted before any is found wiped out, so that a side
    // that never had a unit still leaves the other alone.
    if (scoring_globals.starting_sides == NONE) scoring_globals.starting_sides = count_remaining_sides();
    note_wiped_out_teams_and_eliminate_them();
    const int32_t sides = count_remaining_sides();
    if (scoring_globals.starting_sides > 1 && sides <= 1)
    {
        end_game(_game_end_decided);
        return;
    }
    // A collection game ends when a team has every numbered flag.
    if (game_->scoring == _scoring_scavenger_hunt || game_->scoring == _scoring_flag_rally)
    {
        const uint32_t numbers = numbered_flags_on_map();
        for (int16_t t = 0; numbers && t < get_team_count(); ++t)
        {
            if ((get_team_data(t)->numbered_flags_captured_flags & numbers) == numbers)
            {
                end_game(_game_end_decided);
                return;
            }
        }
    }
}

// ---- texts ----------------------------------------------------------------------

// The names the scoring list of the films' and network dialogs gives them
// (data/strings/stli/innn.txt): one name for a scoring wherever it is shown.
static const char *const scoring_names[NUMBER_OF_SCORING_TYPES] = {
    "Most Damage",   "Hold the Relic", "Last Standing", "Gathering",      "Flag Race",
    "Take the Flag", "Escort",         "Land Grab",     "Captures",       "Hold the Hill",
    "Drive the Herd", "Hunt the Leader", "Hunting",     "Custom",         "Hold the Hill (small)",
    "Hold the Hill (single)",
};

static const char *const scoring_rules_texts[NUMBER_OF_SCORING_TYPES] = {
    "The team that deals the most damage to its enemies wins.",
    "Stand alone at the flag to take it; the team holding it at the end wins.",
    "Stand alone on the hill to take it; the team holding it at the end wins.",
    "Stand alone at each numbered flag to collect it; the team with the most flags wins.",
    "Collect the numbered flags in order by standing alone at each; the team with the most flags wins.",
    "Stand alone at an enemy flag to take it; the team holding the most enemy flags wins.",
    "Push the balls and stand alone at one to take it; the team holding a ball at the end wins.",
    "Stand alone at a flag to take it; the team holding the most flags at the end wins.",
    "Each flag taken from another team scores a point; the team with the most points wins.",
    "Stand alone on a hill to hold it; the team that holds a hill longest wins.",
    "Drive the herd; the map's own rules give the points.",
    "Kill the enemy's marked units; each kill scores a point.",
    "Hunt the game; each kill scores a point.",
    "The map's own rules give the points.",
    "Stand alone on a hill to hold it; the team that holds a hill longest wins.",
    "Stand alone at every flag at once to hold the map; the team that holds it longest wins.",
};

// Where a stored map action keeps its procedure's tag (map_actions.h asserts
// the same offset of its record).
enum { STORED_MAP_ACTION_TAG_OFFSET = 4 };

// Whether an action block of a map (`count` records of MAP_ACTION_RECORD_SIZE
// bytes, big-endian as stored, then their parameters) holds an action that
// ends the game.  A count the block cannot hold is read as far as it goes.
bool map_action_block_ends_the_game(const void *block, int32_t count, int32_t size)
{
    if (!block || count <= 0 || size <= 0) return false;
    if (count > size / MAP_ACTION_RECORD_SIZE) count = size / MAP_ACTION_RECORD_SIZE;
    const uint8_t *records = (const uint8_t *)block;
    for (int32_t i = 0; i < count; ++i)
    {
        const tag action = read_be32(records + (size_t)i * MAP_ACTION_RECORD_SIZE + STORED_MAP_ACTION_TAG_OFFSET);
        if (action == ENDGAME_ACTION_TAG || action == CUSTOM_ENDGAME_ACTION_TAG) return true;
    }
    return false;
}

bool game_is_decided_by_its_script(void)
{
    // A network game between sides keeps its scoring, whatever its map's script does.
    const bool one_side_of_players =
        game_->played_type == _game_type_local || (game_->option_flags & _game_option_cooperative_flag);
    if (!one_side_of_players) return false;
    int32_t count = 0, size = 0;
    const void *block = get_mesh_map_action_block(&count, &size);
    return map_action_block_ends_the_game(block, count, size);
}

// The first objective of a mission list (row 0 is its title), "" without one.
static const char *first_objective_of(tag mission_list)
{
    if (mission_list == (tag)NONE) return "";
    return get_string_from_list(string_list_tag_to_string_index(mission_list), 1);
}

static const char *first_objective(void)
{
    const mesh_header *mesh = get_mesh_header();
    return mesh ? first_objective_of(mesh->map_description_string_list_tag) : "";
}

const char *scripted_game_scoring_words(tag mesh_tag, int16_t type, uint32_t option_flags)
{
    if (type != _game_type_local && !(option_flags & _game_option_cooperative_flag)) return nullptr;
    mesh_header header;
    const int32_t tag_index = tag_file_open(MESH_GROUP_TAG, mesh_tag);
    tag_file_info info;
    if (tag_index == NONE || !tag_file_info_get(tag_index, &info) || !read_mesh_header(mesh_tag, &header)) return nullptr;
    const int32_t size = header.map_action_buffer_size;
    // A block the tag cannot hold is the loader's to refuse: no words from it.
    if (size <= 0 || header.map_actions_offset < 0 || (int64_t)header.map_actions_offset + size > info.size)
        return nullptr;
    uint8_t *block = (uint8_t *)malloc((size_t)size);
    const bool ends = block && tag_file_read(tag_index, header.map_actions_offset, size, block) &&
                      map_action_block_ends_the_game(block, header.map_action_count, size);
    free(block);
    if (!ends) return nullptr;
    return first_objective_of(header.map_description_string_list_tag)[0] ? "Objective" : "Last side standing";
}

const char *get_game_scoring_string(void)
{
    // A level its script decides plays no scoring type: the words say what
    // decides it, never a scoring whose result is not the game's.
    if (game_is_decided_by_its_script()) return first_objective()[0] ? "Objective" : "Last side standing";
    return game_->scoring >= 0 && game_->scoring < NUMBER_OF_SCORING_TYPES ? scoring_names[game_->scoring] : "";
}

const char *get_game_rules_string(void)
{
    if (game_is_decided_by_its_script())
    {
        const char *objective = first_objective();
        return objective[0] ? objective : "The last side with units on the field wins.";
    }
    return game_->scoring >= 0 && game_->scoring < NUMBER_OF_SCORING_TYPES ? scoring_rules_texts[game_->scoring] : "";
}

// Statistics, samples, rankings, reports, standings and the statistics file.

#include "statistics.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cseries/files.h"
#include "cseries/tags.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "state_hash.h"
#include "unit_facts.h"

struct unit_statistics_type
{
    int16_t player_index; // NONE: type not named
    int32_t cost;
    int32_t count;
    int32_t vitality;
    int32_t uncontrollable;
};

// What is counted for the players, the teams and nobody.
struct statistics_tally
{
    player_statistics players[MAXIMUM_PLAYERS_PER_GAME];
    team_statistics teams[MAXIMUM_TEAMS_PER_GAME];
    player_statistics unattributed;
};

// Every event is counted once, for the owners the unit layer names.  Games
// of earlier rules hashed and scored these counts as if nobody owned a unit;
// they see them through ownerless_view below.
struct game_statistics
{
    statistics_tally tally;
    unit_statistics_type types[MAXIMUM_UNIT_STATISTICS_TYPES];

    statistics_sample samples[MAXIMUM_STATISTICS_SAMPLES + 1]; // closed ones, then the open one
    int32_t sample_count;
    int32_t ticks_per_sample;
    int32_t ticks_in_last_sample;
    int32_t last_team_scores[MAXIMUM_TEAMS_PER_GAME];

    team_ranking_data team_rankings[MAXIMUM_TEAMS_PER_GAME];
    player_ranking_data player_rankings[MAXIMUM_PLAYERS_PER_GAME];
    int32_t team_ranking_count;
    int32_t player_ranking_count;
    // The team ranking as the last forced update left it: what the scripts
    // of earlier rules read, for they saw no other.
    team_ranking_data forced_team_rankings[MAXIMUM_TEAMS_PER_GAME];
    int32_t forced_team_ranking_count;
    // The tick each team's last unit went with none to come (NONE while it
    // stands): the record of games that do not eliminate such a team.  Never
    // hashed and never read by the simulation.
    int32_t wiped_out_at[MAXIMUM_TEAMS_PER_GAME];
};

static struct statistics_globals
{
    game_statistics current;
    game_statistics old_map;
    bool old_map_kept;
    tag scenario_tag; // the map of the game counted, kept past its end for the report

    permanent_player_ranking_data permanent[MAXIMUM_PLAYERS_PER_GAME];
    int32_t permanent_count;

    encoded_postgame_report report;

    draxil_net_game_standings standings;
} statistics_globals;

static struct statistics_globals &globals(void)
{
    return statistics_globals;
}

static void hash_player_statistics(uint32_t *hash, const player_statistics *s)
{
    state_hash_add_int32(hash, s->casualty_count);
    state_hash_add_int32(hash, s->casualty_cost);
    state_hash_add_int32(hash, s->extant_unit_count);
    state_hash_add_int32(hash, s->extant_cost);
    state_hash_add_int32(hash, s->uncontrollable_count);
    state_hash_add_int32(hash, s->total_kill_count);
    state_hash_add_int32(hash, s->total_damage);
    state_hash_add_int32(hash, s->total_damage_taken);
    state_hash_add_int32(hash, s->points_killed);
    state_hash_add_int32(hash, s->damage_to_allies);
}

bool statistics_name_owners_in_play(void)
{
    return current_gameplay_version >= FIRST_GAMEPLAY_VERSION_WITH_OWNED_STATISTICS;
}

// A hunting game whose rules take scoring targets as the quarry.
static bool hunted_quarry_in_play(void)
{
    return game_->scoring == _game_scoring_hunting && current_gameplay_version >= FIRST_GAMEPLAY_VERSION_WITH_HUNTED_QUARRY;
}

// The counts as the earlier rules kept them, when no unit type had an owner:
// every unit was nobody's, so nobody's record held the sums, no team ever
// killed or dealt damage, a death was always a kill, and a unit cost nothing.
// Friendly fire did not exist: every point of damage was dealt.  Ambient
// records are folded in nowhere, as they never were.
static player_statistics ownerless_view(const statistics_tally *tally)
{
    player_statistics view = {};
    for (int32_t i = 0; i <= MAXIMUM_PLAYERS_PER_GAME; ++i)
    {
        const player_statistics *s = i < MAXIMUM_PLAYERS_PER_GAME ? &tally->players[i] : &tally->unattributed;
        view.casualty_count += s->casualty_count;
        view.extant_unit_count += s->extant_unit_count;
        view.uncontrollable_count += s->uncontrollable_count;
        view.total_damage_taken += s->total_damage_taken;
    }
    view.total_kill_count = view.casualty_count;
    view.total_damage = view.total_damage_taken;
    return view;
}

static void hash_statistics(uint32_t *hash)
{
    const game_statistics *g = &globals().current;
    const statistics_tally *tally = &g->tally;
    const bool owned = statistics_name_owners_in_play();
    // Folded only for the earlier rules: the default ones hash the tally as it is.
    const player_statistics nobody = {}, everything = owned ? nobody : ownerless_view(tally);
    const int32_t players = get_player_count(), teams = get_team_count();
    for (int32_t i = 0; i < players; ++i) hash_player_statistics(hash, owned ? &tally->players[i] : &nobody);
    hash_player_statistics(hash, owned ? &tally->unattributed : &everything);
    for (int32_t i = 0; i < teams; ++i)
    {
        const team_statistics *team = &tally->teams[i];
        state_hash_add_int32(hash, owned ? team->enemy_kills : 0);
        state_hash_add_int32(hash, owned ? team->damage_to_enemies : 0);
        state_hash_add_int32(hash, owned ? team->netgame_target_kills : 0);
        state_hash_add_int32(hash, owned ? team->game_kills : 0);
    }
    state_hash_add_int32(hash, g->sample_count);
    state_hash_add_int32(hash, g->ticks_per_sample);
    state_hash_add_int32(hash, g->ticks_in_last_sample);
    // The open sample stands for all of them: closed samples only ever merge.
    // Which team this machine plays is left out: it differs between peers.
    const statistics_sample *open = &g->samples[g->sample_count];
    for (int32_t i = 0; i < players; ++i)
    {
        state_hash_add_int32(hash, owned ? open->players[i].damage_to_subtract : 0);
        state_hash_add_int32(hash, open->players[i].score);
    }
    for (int32_t i = 0; i < teams; ++i)
    {
        state_hash_add_int32(hash, owned ? open->teams[i].enemy_kills : 0);
        state_hash_add_int32(hash, owned ? open->teams[i].damage_to_enemies : 0);
    }
}

static void clear_game_statistics(game_statistics *g)
{
    memset(g, 0, sizeof(*g));
    for (int32_t i = 0; i < MAXIMUM_UNIT_STATISTICS_TYPES; ++i) g->types[i].player_index = NONE;
    g->ticks_per_sample = INITIAL_TICKS_PER_STATISTICS_SAMPLE;
    for (int32_t i = 0; i < MAXIMUM_TEAMS_PER_GAME; ++i) g->wiped_out_at[i] = NONE;
}

void initialize_statistics(void)
{
    memset(&statistics_globals, 0, sizeof(statistics_globals));
    clear_game_statistics(&globals().current);
    register_state_hash_procedure_at_start_up(hash_statistics);
}

void initialize_statistics_for_new_map(tag scenario_tag)
{
    globals().scenario_tag = scenario_tag;
    clear_game_statistics(&globals().current);
    memset(&globals().report, 0, sizeof(globals().report));
}

void dispose_statistics_from_old_map(void)
{
    globals().old_map = globals().current;
    globals().old_map_kept = true;
    clear_game_statistics(&globals().current);
}

bool ressurect_player_statistics_from_old_map(void)
{
    if (!globals().old_map_kept) return false;
    globals().current = globals().old_map;
    return true;
}

// ---- counting -------------------------------------------------------------------------

static unit_statistics_type *get_type(int16_t unit_type)
{
    if (unit_type < 0 || unit_type >= MAXIMUM_UNIT_STATISTICS_TYPES) return nullptr;
    return &globals().current.types[unit_type];
}

// A type as the tally counts it: its owner (NONE: nobody) and the cost of
// one of its units.  An unnamed type is nobody's and costs nothing.
struct counted_type
{
    int16_t player_index;
    int32_t cost;
};

static counted_type counted_as(const unit_statistics_type *type)
{
    if (!type) return {NONE, 0};
    return {type->player_index, type->cost};
}

// The statistics of the type's owner in `tally`; the unattributed record for nobody.
static player_statistics *owner_statistics(statistics_tally *tally, counted_type type)
{
    return type.player_index == NONE ? &tally->unattributed : &tally->players[type.player_index];
}

static int16_t team_of(counted_type type)
{
    if (type.player_index == NONE || type.player_index >= get_player_count()) return NONE;
    return get_player_data(type.player_index)->team_index;
}

void set_unit_statistics_type(int16_t unit_type, int16_t player_index, int32_t cost)
{
    unit_statistics_type *type = get_type(unit_type);
    if (!type || player_index < NONE || player_index >= MAXIMUM_PLAYERS_PER_GAME)
    {
        log_message(__FILE__, __LINE__, "unit statistics type %d of player %d refused", unit_type, player_index);
        return;
    }
    type->player_index = player_index;
    type->cost = cost;
}

void adjust_unit_statistics(int16_t unit_type, int32_t count_delta, int32_t vitality_delta)
{
    unit_statistics_type *type = get_type(unit_type);
    if (!type) return;
    type->count += count_delta;
    type->vitality += vitality_delta;
    const counted_type counted = counted_as(type);
    player_statistics *owner = owner_statistics(&globals().current.tally, counted);
    owner->extant_unit_count += count_delta;
    owner->extant_cost += count_delta * counted.cost;
}

void adjust_unit_statistics_for_uncontrollability(int16_t unit_type, int32_t delta)
{
    unit_statistics_type *type = get_type(unit_type);
    if (!type) return;
    type->uncontrollable += delta;
    owner_statistics(&globals().current.tally, counted_as(type))->uncontrollable_count += delta;
}

void clear_unit_statistics(int16_t unit_type)
{
    unit_statistics_type *type = get_type(unit_type);
    if (!type) return;
    const counted_type counted = counted_as(type);
    player_statistics *owner = owner_statistics(&globals().current.tally, counted);
    owner->extant_unit_count -= type->count;
    owner->extant_cost -= type->count * counted.cost;
    owner->uncontrollable_count -= type->uncontrollable;
    type->count = type->vitality = type->uncontrollable = 0;
}

void adjust_damage_statistics(int16_t aggressor_unit_type, int32_t target_unit, int32_t damage, bool died,
                              bool netgame_target, bool ambient_life, bool adjust_damage, bool scoring_hack)
{
    unit_facts target;
    if (!get_unit_facts(target_unit, &target))
    {
        log_message(__FILE__, __LINE__, "damage to unit #%d not counted: no such unit", (int)target_unit);
        return;
    }
    adjust_damage_statistics_for_unit_type(aggressor_unit_type, target.unit_type, damage, died, netgame_target,
                                           ambient_life, adjust_damage, scoring_hack);
}

// One damage event in one tally and its open sample.
static void count_damage(statistics_tally *tally, statistics_sample *sample, counted_type aggressor_type,
                         counted_type target_type, int32_t damage, bool died, bool netgame_target, bool ambient_life,
                         bool adjust_damage, bool scoring_hack)
{
    player_statistics *aggressor = owner_statistics(tally, aggressor_type);
    const int16_t aggressor_team = team_of(aggressor_type);
    const int16_t target_team = team_of(target_type);
    statistics_sample_team *sample_team =
        aggressor_team != NONE ? &sample->teams[aggressor_team] : &sample->unattributed;
    const int16_t aggressor_player = aggressor_type.player_index;
    // The hunted are fair game whoever's marker placed them.
    const bool quarry = netgame_target && hunted_quarry_in_play();

    if (ambient_life)
    {
        // Nobody's units: they only count as game in hunting.
        if (died && (scoring_hack || quarry) && aggressor_team != NONE) ++tally->teams[aggressor_team].game_kills;
        return;
    }

    player_statistics *target = owner_statistics(tally, target_type);
    const bool friendly =
        !quarry && aggressor_team != NONE && target_team != NONE && teams_are_allied(aggressor_team, target_team);
    if (adjust_damage && damage != 0)
    {
        target->total_damage_taken += damage;
        if (friendly)
        {
            aggressor->damage_to_allies += damage;
            if (aggressor_player != NONE) sample->players[aggressor_player].damage_to_subtract += damage;
        }
        else
        {
            aggressor->total_damage += damage;
            if (aggressor_team != NONE) tally->teams[aggressor_team].damage_to_enemies += damage;
            sample_team->damage_to_enemies += damage;
        }
    }
    if (died)
    {
        ++target->casualty_count;
        target->casualty_cost += target_type.cost;
        if (!friendly)
        {
            ++aggressor->total_kill_count;
            aggressor->points_killed += target_type.cost;
            if (aggressor_team != NONE)
            {
                ++tally->teams[aggressor_team].enemy_kills;
                if (netgame_target) ++tally->teams[aggressor_team].netgame_target_kills;
                if (quarry) ++tally->teams[aggressor_team].game_kills;
            }
            ++sample_team->enemy_kills;
            if (target_team != NONE && local_player_team_index != NONE && aggressor_team == local_player_team_index)
                ++sample->teams[target_team].kills_against_by_local_team;
        }
    }
}

void adjust_damage_statistics_for_unit_type(int16_t aggressor_unit_type, int16_t target_unit_type, int32_t damage,
                                            bool died, bool netgame_target, bool ambient_life, bool adjust_damage,
                                            bool scoring_hack)
{
    game_statistics *g = &globals().current;
    count_damage(&g->tally, &g->samples[g->sample_count], counted_as(get_type(aggressor_unit_type)),
                 counted_as(get_type(target_unit_type)), damage, died, netgame_target, ambient_life, adjust_damage,
                 scoring_hack);
}

// What the earlier rules read in place of a player's or a team's counts.
static const player_statistics no_player_statistics = {};
static const team_statistics no_team_statistics = {};

const player_statistics *get_player_statistics(int32_t player_index)
{
    if (player_index < 0 || player_index >= MAXIMUM_PLAYERS_PER_GAME) return nullptr;
    if (!statistics_name_owners_in_play()) return &no_player_statistics;
    return &globals().current.tally.players[player_index];
}

const team_statistics *get_team_statistics(int32_t team_index)
{
    if (team_index < 0 || team_index >= MAXIMUM_TEAMS_PER_GAME) return nullptr;
    if (!statistics_name_owners_in_play()) return &no_team_statistics;
    return &globals().current.tally.teams[team_index];
}

const player_statistics *get_unattributed_statistics(void)
{
    static player_statistics everything;
    if (statistics_name_owners_in_play()) return &globals().current.tally.unattributed;
    everything = ownerless_view(&globals().current.tally);
    return &everything;
}

// ---- samples ------------------------------------------------------------------------------

static void add_sample(statistics_sample *into, const statistics_sample *from)
{
    for (int32_t i = 0; i < MAXIMUM_PLAYERS_PER_GAME; ++i)
    {
        into->players[i].damage_to_subtract += from->players[i].damage_to_subtract;
        into->players[i].score += from->players[i].score;
    }
    for (int32_t i = 0; i <= MAXIMUM_TEAMS_PER_GAME; ++i)
    {
        statistics_sample_team *a = i < MAXIMUM_TEAMS_PER_GAME ? &into->teams[i] : &into->unattributed;
        const statistics_sample_team *b = i < MAXIMUM_TEAMS_PER_GAME ? &from->teams[i] : &from->unattributed;
        a->enemy_kills += b->enemy_kills;
        a->damage_to_enemies += b->damage_to_enemies;
        a->kills_against_by_local_team += b->kills_against_by_local_team;
    }
}

// All samples used: pairs merge into one, each covering twice the ticks.  The
// open sample moves down with them and keeps its ticks.
static void compact_samples(game_statistics *g)
{
    const int32_t half = g->sample_count / 2;
    for (int32_t i = 0; i < half; ++i)
    {
        statistics_sample merged = g->samples[2 * i];
        add_sample(&merged, &g->samples[2 * i + 1]);
        g->samples[i] = merged;
    }
    g->samples[half] = g->samples[g->sample_count];
    memset(&g->samples[half + 1], 0, sizeof(statistics_sample) * (size_t)(g->sample_count - half));
    g->sample_count = half;
    g->ticks_per_sample *= 2;
}

static void rank_teams_and_players(game_statistics *g);

void update_statistics(void)
{
    game_statistics *g = &globals().current;
    statistics_sample *sample = &g->samples[g->sample_count];
    for (int16_t t = 0; t < get_team_count(); ++t)
    {
        const team_data *team = get_team_data(t);
        const int32_t delta = team->score - g->last_team_scores[t];
        if (delta != 0 && team->captain_player_index != NONE) sample->players[team->captain_player_index].score += delta;
        g->last_team_scores[t] = team->score;
    }
    if (++g->ticks_in_last_sample >= g->ticks_per_sample)
    {
        g->ticks_in_last_sample = 0;
        ++g->sample_count;
        if (g->sample_count == MAXIMUM_STATISTICS_SAMPLES) compact_samples(g);
    }
    // The standings the end of the game ranked are the ones it reports.
    if (game_->time_state != _game_time_ending) rank_teams_and_players(g);
}

const statistics_sample *get_player_statistics_sample_range(int32_t *count, int32_t *ticks_per_sample,
                                                            int32_t *ticks_in_last_sample)
{
    const game_statistics *g = &globals().current;
    if (count) *count = g->sample_count;
    if (ticks_per_sample) *ticks_per_sample = g->ticks_per_sample;
    if (ticks_in_last_sample) *ticks_in_last_sample = g->ticks_in_last_sample;
    return g->samples;
}

// ---- teams out of the game ------------------------------------------------------------------

void note_teams_standing(uint32_t standing_teams)
{
    game_statistics *g = &globals().current;
    for (int16_t t = 0; t < get_team_count() && t < MAXIMUM_TEAMS_PER_GAME; ++t)
    {
        const team_data *team = get_team_data(t);
        if (standing_teams & (1u << t))
            g->wiped_out_at[t] = NONE; // a team that stands again is back in the game
        else if (team->number_of_players != 0 && g->wiped_out_at[t] == NONE)
            g->wiped_out_at[t] = game_->game_time;
    }
}

int32_t get_team_time_out_of_game(int16_t team_index)
{
    if (team_index < 0 || team_index >= get_team_count() || team_index >= MAXIMUM_TEAMS_PER_GAME) return NONE;
    const team_data *team = get_team_data(team_index);
    if (team->flags & _team_has_been_eliminated_flag) return team->game_time_at_elimination;
    return globals().current.wiped_out_at[team_index];
}

// ---- rankings -------------------------------------------------------------------------------

// Whether team a ranks strictly above team b; equal keys share a place.  The
// named winner (a script may name a team that is neither alone nor ahead)
// ranks alone above every other team.
static int32_t compare_team_results(int16_t a, int16_t b)
{
    const int16_t winner = game_->winning_team_index;
    if (winner != NONE && (a == winner) != (b == winner)) return a == winner ? -1 : 1;
    const team_data *ta = get_team_data(a), *tb = get_team_data(b);
    const bool ea = ta->flags & _team_has_been_eliminated_flag, eb = tb->flags & _team_has_been_eliminated_flag;
    if (ea != eb) return ea ? 1 : -1;
    if (ea && ta->game_time_at_elimination != tb->game_time_at_elimination)
        return ta->game_time_at_elimination > tb->game_time_at_elimination ? -1 : 1;
    if (ta->score != tb->score) return ta->score > tb->score ? -1 : 1;
    return 0;
}

static void add_counts(team_ranking_data *team, const player_statistics *s)
{
    team->casualty_count += s->casualty_count;
    team->casualty_cost += s->casualty_cost;
    team->extant_unit_count += s->extant_unit_count;
    team->extant_cost += s->extant_cost;
    team->uncontrollable_count += s->uncontrollable_count;
    team->total_kill_count += s->total_kill_count;
    team->total_damage += s->total_damage;
    team->total_damage_taken += s->total_damage_taken;
}

// The units alive now and what they cost, by owning player and by team, as
// the unit layer knows them: a unit whose type is named for nobody is still
// somebody's.  (The extant counts only ever grow as units appear: a death
// leaves them as they were.)
struct survivors
{
    int32_t players[MAXIMUM_PLAYERS_PER_GAME];
    int32_t player_costs[MAXIMUM_PLAYERS_PER_GAME];
    int32_t teams[MAXIMUM_TEAMS_PER_GAME];
    int32_t team_costs[MAXIMUM_TEAMS_PER_GAME];
};

static void count_survivors(survivors *alive)
{
    memset(alive, 0, sizeof(*alive));
    for (int32_t unit = 0; unit < MAXIMUM_UNIT_INDEX_COUNT; ++unit)
    {
        unit_facts facts;
        if (!get_unit_facts(unit, &facts) || facts.object_index == NONE) continue;
        const unit_statistics_type *type = get_type(facts.unit_type);
        const int32_t cost = type ? type->cost : 0;
        if (facts.player_index >= 0 && facts.player_index < MAXIMUM_PLAYERS_PER_GAME)
        {
            ++alive->players[facts.player_index];
            alive->player_costs[facts.player_index] += cost;
        }
        if (facts.team_index >= 0 && facts.team_index < MAXIMUM_TEAMS_PER_GAME)
        {
            ++alive->teams[facts.team_index];
            alive->team_costs[facts.team_index] += cost;
        }
    }
}

static void rank_teams_and_players(game_statistics *g)
{
    const int16_t team_count = get_team_count(), player_count = get_player_count();
    survivors alive;
    count_survivors(&alive);

    // Insertion sort by results, ties kept in team order: stable and at most 16.
    int16_t order[MAXIMUM_TEAMS_PER_GAME];
    for (int16_t t = 0; t < team_count; ++t)
    {
        int16_t j = t;
        while (j > 0 && compare_team_results(t, order[j - 1]) < 0)
        {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = t;
    }
    g->team_ranking_count = team_count;
    for (int16_t i = 0; i < team_count; ++i)
    {
        team_ranking_data *ranking = &g->team_rankings[i];
        memset(ranking, 0, sizeof(*ranking));
        ranking->team_index = order[i];
        ranking->place = (i > 0 && compare_team_results(order[i], order[i - 1]) == 0) ? g->team_rankings[i - 1].place : i;
        ranking->score = get_team_data(order[i])->score;
        for (int16_t p = 0; p < player_count; ++p)
        {
            if (get_player_data(p)->team_index == order[i]) add_counts(ranking, &g->tally.players[p]);
        }
        ranking->extant_unit_count = alive.teams[order[i]];
        ranking->extant_cost = alive.team_costs[order[i]];
    }

    int32_t rank = 0;
    for (int32_t pass = 0; pass <= team_count; ++pass)
    {
        const int16_t team = pass < team_count ? order[pass] : (int16_t)NONE;
        for (int16_t p = 0; p < player_count; ++p)
        {
            const player_data *player = get_player_data(p);
            const int16_t player_team = player->team_index >= 0 && player->team_index < team_count ? player->team_index
                                                                                                  : (int16_t)NONE;
            if (player_team != team) continue;
            player_ranking_data *ranking = &g->player_rankings[rank++];
            const player_statistics *s = &g->tally.players[p];
            ranking->player_index = p;
            ranking->rejoined_as_player_index = NONE;
            ranking->casualty_count = s->casualty_count;
            ranking->casualty_cost = s->casualty_cost;
            ranking->extant_unit_count = alive.players[p];
            ranking->extant_cost = alive.player_costs[p];
            ranking->uncontrollable_count = s->uncontrollable_count;
            ranking->total_kill_count = s->total_kill_count;
            ranking->total_damage = s->total_damage;
            ranking->total_damage_taken = s->total_damage_taken;
        }
    }
    // A dropped player who came back holds a later record with the same
    // network identifier: the earlier record points at it.
    for (int32_t r = 0; r < rank; ++r)
    {
        const player_data *player = get_player_data(g->player_rankings[r].player_index);
        if (!(player->flags & _player_has_been_dropped_flag)) continue;
        for (int16_t later = (int16_t)(g->player_rankings[r].player_index + 1); later < player_count; ++later)
        {
            if (get_player_data(later)->unique_identifier == player->unique_identifier)
                g->player_rankings[r].rejoined_as_player_index = later;
        }
    }
    g->player_ranking_count = rank;
}

void force_player_statistics_update(void)
{
    game_statistics *g = &globals().current;
    rank_teams_and_players(g);
    memcpy(g->forced_team_rankings, g->team_rankings, sizeof(g->forced_team_rankings));
    g->forced_team_ranking_count = g->team_ranking_count;
}

const team_ranking_data *get_team_ranking(int32_t place)
{
    const game_statistics *g = &globals().current;
    if (place < 0 || place >= g->team_ranking_count) return nullptr;
    return &g->team_rankings[place];
}

const team_ranking_data *get_team_ranking_for_scripts(int32_t place)
{
    if (current_gameplay_version >= FIRST_GAMEPLAY_VERSION_WITH_CURRENT_RANKINGS) return get_team_ranking(place);
    const game_statistics *g = &globals().current;
    if (place < 0 || place >= g->forced_team_ranking_count) return nullptr;
    return &g->forced_team_rankings[place];
}

const player_ranking_data *get_player_ranking(int32_t rank)
{
    const game_statistics *g = &globals().current;
    if (rank < 0 || rank >= g->player_ranking_count) return nullptr;
    return &g->player_rankings[rank];
}

// ---- lasting rankings --------------------------------------------------------------------------

static int16_t team_place(int16_t team_index)
{
    for (int32_t i = 0; i < globals().current.team_ranking_count; ++i)
    {
        if (globals().current.team_rankings[i].team_index == team_index) return globals().current.team_rankings[i].place;
    }
    return NONE;
}

void add_game_to_permanent_player_rankings(void)
{
    auto &s = globals();
    for (int16_t p = 0; p < get_player_count(); ++p)
    {
        const player_data *player = get_player_data(p);
        if (player->flags & _player_is_observer_flag) continue;
        permanent_player_ranking_data *entry = nullptr;
        for (int32_t i = 0; i < s.permanent_count && !entry; ++i)
        {
            if (s.permanent[i].unique_identifier == player->unique_identifier) entry = &s.permanent[i];
        }
        if (!entry)
        {
            if (s.permanent_count >= MAXIMUM_PLAYERS_PER_GAME) continue;
            entry = &s.permanent[s.permanent_count++];
            memset(entry, 0, sizeof(*entry));
            entry->unique_identifier = player->unique_identifier;
        }
        entry->player_index = p;
        entry->rejoined_as_player_index = NONE;
        const player_statistics *stats = &s.current.tally.players[p];
        entry->casualty_count += stats->casualty_count;
        entry->total_kill_count += stats->total_kill_count;
        entry->total_damage += stats->total_damage;
        const int16_t place = team_place(player->team_index);
        if (place >= 0 && place < NUMBER_OF_PERMANENT_STANDINGS)
        {
            ++entry->standings[place];
            entry->score += FIXED_ONE >> place;
        }
    }
}

const permanent_player_ranking_data *get_permanent_player_rankings(int32_t *count)
{
    if (count) *count = globals().permanent_count;
    return globals().permanent;
}

void reset_permanent_player_rankings(void) { globals().permanent_count = 0; }

// ---- the post-game report -----------------------------------------------------------------

char *format_damage_string(int32_t damage, char *buffer, size_t size)
{
    const int64_t value = damage < 0 ? -(int64_t)damage : damage;
    const char *sign = damage < 0 ? "-" : "";
    if (value < 10000)
        slprintf(buffer, size, "%s%d", sign, (int32_t)value);
    else if (value < 1000000)
        slprintf(buffer, size, "%s%d.%dk", sign, (int32_t)(value / 1000), (int32_t)(value % 1000 / 100));
    else
        slprintf(buffer, size, "%s%d.%dM", sign, (int32_t)(value / 1000000), (int32_t)(value % 1000000 / 100000));
    return buffer;
}

struct report_builder
{
    encoded_postgame_report *report;
    bool full;
};

static bool report_add(report_builder *builder, const char *text)
{
    encoded_postgame_report *report = builder->report;
    const size_t length = strlen(text) + 1;
    if (builder->full || report->string_buffer_size + length > POSTGAME_REPORT_STRING_BUFFER_SIZE)
    {
        builder->full = true;
        return false;
    }
    memcpy(report->strings + report->string_buffer_size, text, length);
    report->string_buffer_size = (int16_t)(report->string_buffer_size + length);
    ++report->string_count;
    return true;
}

// Adds a row of `columns` cells; a row that does not fit is taken back whole.
static void report_add_row(report_builder *builder, int32_t table, const char *const *cells, int32_t columns)
{
    encoded_postgame_report *report = builder->report;
    const int16_t size = report->string_buffer_size, count = report->string_count;
    for (int32_t c = 0; c < columns; ++c)
    {
        if (!report_add(builder, cells[c]))
        {
            report->string_buffer_size = size;
            report->string_count = count;
            return;
        }
    }
    ++report->table_row_counts[table];
}

static void report_add_table(report_builder *builder, int32_t table, const char *title)
{
    if (report_add(builder, title)) builder->report->valid_table_flags |= (uint16_t)(1u << table);
}

const char *postgame_outcome_title(int16_t outcome)
{
    static const char *const titles[NUMBER_OF_POSTGAME_OUTCOMES] = {"Game Over", "Victory", "Defeat", "Draw",
                                                                    "Game Over"};
    return outcome >= 0 && outcome < NUMBER_OF_POSTGAME_OUTCOMES ? titles[outcome] : titles[_postgame_outcome_none];
}

// A team as the report names it: its captain's team name, else "Team N".
static void team_name(int16_t team_index, char *buffer, size_t size)
{
    const team_data *team = team_index >= 0 && team_index < get_team_count() ? get_team_data(team_index) : nullptr;
    const int16_t captain = team ? team->captain_player_index : (int16_t)NONE;
    const char *name =
        captain >= 0 && captain < get_player_count() ? get_player_data(captain)->appearance.team_name : "";
    if (name[0])
        slprintf(buffer, size, "%.*s", (int)PLAYER_NAME_SIZE, name);
    else
        slprintf(buffer, size, "Team %d", team_index + 1);
}

void build_postgame_report(int16_t outcome)
{
    encoded_postgame_report *report = &globals().report;
    memset(report, 0, sizeof(*report));
    report_builder builder = {report, false};
    const game_statistics *g = &globals().current;
    char a[64], b[32], c[32], d[32];

    report_add_table(&builder, 0, postgame_outcome_title(outcome));

    // Table 1: the local side's players.
    report_add_table(&builder, 1, "Your forces");
    const char *header1[] = {"Player", "Kills", "Losses", "Damage"};
    report_add_row(&builder, 1, header1, 4);
    for (int16_t p = 0; p < get_player_count(); ++p)
    {
        const player_data *player = get_player_data(p);
        if (local_player_team_index == NONE || player->team_index != local_player_team_index) continue;
        const player_statistics *s = &g->tally.players[p];
        slprintf(a, sizeof(a), "%d", s->total_kill_count);
        slprintf(b, sizeof(b), "%d", s->casualty_count);
        format_damage_string(s->total_damage, c, sizeof(c));
        const char *row[] = {player->appearance.name, a, b, c};
        report_add_row(&builder, 1, row, 4);
    }

    // Table 2: every team's result.
    report_add_table(&builder, 2, "Standings");
    const char *header2[] = {"Team", "Place", "Score"};
    report_add_row(&builder, 2, header2, 3);
    for (int32_t i = 0; i < g->team_ranking_count; ++i)
    {
        const team_ranking_data *ranking = &g->team_rankings[i];
        team_name(ranking->team_index, a, sizeof(a));
        // A team out of the game says when it went.
        const int32_t out_at = get_team_time_out_of_game(ranking->team_index);
        if (out_at != NONE)
            slprintfcat(a, sizeof(a), ", out at %s", time_to_string_bounded(out_at, d, sizeof(d)));
        slprintf(b, sizeof(b), "%d", ranking->place + 1);
        slprintf(c, sizeof(c), "%d", ranking->score);
        const char *row[] = {a, b, c};
        report_add_row(&builder, 2, row, 3);
    }

    // Table 3: the losses of the other teams, whoever felled them.  They can
    // exceed the kills of table 1 (friendly fire, a fall, another enemy): the
    // last row says how many the local side did not fell, so the two agree.
    report_add_table(&builder, 3, "Enemy losses");
    int32_t other_losses = 0;
    for (int32_t i = 0; i < g->team_ranking_count; ++i)
    {
        const team_ranking_data *ranking = &g->team_rankings[i];
        if (ranking->team_index == local_player_team_index) continue;
        team_name(ranking->team_index, a, sizeof(a));
        slprintf(b, sizeof(b), "%d", ranking->casualty_count);
        other_losses += ranking->casualty_count;
        const char *row[] = {a, b};
        report_add_row(&builder, 3, row, 2);
    }
    int32_t local_kills = 0;
    for (int16_t p = 0; p < get_player_count(); ++p)
        if (local_player_team_index != NONE && get_player_data(p)->team_index == local_player_team_index)
            local_kills += g->tally.players[p].total_kill_count;
    if (local_player_team_index != NONE && other_losses > local_kills)
    {
        slprintf(b, sizeof(b), "%d", other_losses - local_kills);
        const char *row[] = {"Not felled by you", b};
        report_add_row(&builder, 3, row, 2);
    }

    time_to_string_bounded(game_->game_time, d, sizeof(d));
    slprintf(a, sizeof(a), "Time played: %s", d);
    report_add_table(&builder, 4, a);
    report_add_table(&builder, 5, gameplay_version_to_string(current_gameplay_version));
}

const encoded_postgame_report *get_encoded_postgame_report(void) { return &globals().report; }

const char *get_next_encoded_postgame_report_string(const encoded_postgame_report *report, int32_t *position)
{
    if (!report || !position || *position < 0 || *position >= report->string_buffer_size ||
        report->string_buffer_size > POSTGAME_REPORT_STRING_BUFFER_SIZE)
        return nullptr;
    const char *text = report->strings + *position;
    const size_t length = strnlen(text, (size_t)(report->string_buffer_size - *position));
    if (*position + (int32_t)length >= report->string_buffer_size) return nullptr; // unterminated
    *position += (int32_t)length + 1;
    return text;
}

// ---- the standings record ----------------------------------------------------------------

const byte_swap_code draxil_net_game_standings_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _2byte, _2byte, _4byte, _4byte, _4byte, _4byte, _2byte, _2byte,
    _begin_bs_array, MAXIMUM_TEAMS_PER_GAME, _2byte, _2byte, _2byte, _2byte, _4byte, _end_bs_array,
    _end_bs_array};
const byte_swap_code draxil_net_game_standings_player_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _4byte, _4byte, _4byte, _4byte, _4byte, _4byte, _end_bs_array};

void build_draxil_net_game_standings(int16_t game_ended_code)
{
    auto &s = globals();
    const game_statistics *g = &s.current;
    draxil_net_game_standings *standings = &s.standings;
    memset(standings, 0, sizeof(*standings));

    const int16_t player_count = get_player_count(), team_count = get_team_count();
    const int32_t end = game_->game_time_at_end != NONE ? game_->game_time_at_end : game_->game_time;
    standings->game_ended_code = game_ended_code;
    standings->game_scoring = game_->scoring;
    standings->game_version = current_gameplay_version;
    standings->time_limit = game_->time_limit;
    standings->actual_time_elapsed = end;
    standings->draxil_net_player_id =
        local_player_index != NONE && local_player_index < player_count
            ? get_player_data(local_player_index)->metaserver_player_id
            : NONE;
    standings->number_of_players = player_count;
    standings->number_of_teams = team_count;
    for (int16_t t = 0; t < team_count; ++t)
    {
        const team_data *team = get_team_data(t);
        draxil_net_game_standings_team *record = &standings->teams[t];
        const int16_t place = team_place(t);
        record->place = place;
        record->captain_player_index = team->captain_player_index;
        record->team_valid_flag = team->number_of_players > 0;
        // A team wiped out in a game that does not eliminate it (one player's
        // level) is out all the same: the standings give its tick.
        record->time_of_elimination = get_team_time_out_of_game((int16_t)t);
        record->team_eliminated_flag = record->time_of_elimination != NONE;
    }
    for (int16_t p = 0; p < player_count; ++p)
    {
        const player_data *player = get_player_data(p);
        const player_statistics *stats = &g->tally.players[p];
        draxil_net_game_standings_player *record = &standings->players[p];
        const bool dropped = (player->flags & _player_has_been_dropped_flag) != 0;
        record->team_index = player->team_index;
        record->player_finished_game_flag = !dropped;
        record->time_played = (dropped ? player->game_time_at_drop : end) - player->game_time_at_join;
        record->units_killed = stats->total_kill_count;
        record->units_lost = stats->casualty_count;
        record->points_killed = stats->points_killed;
        record->points_lost = stats->casualty_cost;
        record->draxil_net_player_id = player->metaserver_player_id;
    }
}

const draxil_net_game_standings *get_draxil_net_game_standings(void) { return &globals().standings; }

int32_t draxil_net_game_standings_size(const draxil_net_game_standings *standings)
{
    int32_t records = standings->number_of_players;
    if (records < 0 || records > MAXIMUM_PLAYERS_PER_GAME) records = MAXIMUM_PLAYERS_PER_GAME;
    if (records < MINIMUM_DRAXIL_NET_GAME_STANDINGS_PLAYERS) records = MINIMUM_DRAXIL_NET_GAME_STANDINGS_PLAYERS;
    return DRAXIL_NET_GAME_STANDINGS_PLAYERS_OFFSET + DRAXIL_NET_GAME_STANDINGS_PLAYER_SIZE * records;
}

int32_t encode_draxil_net_game_standings(uint8_t *buffer, int32_t size)
{
    const draxil_net_game_standings *standings = &globals().standings;
    const int32_t total = draxil_net_game_standings_size(standings);
    const int32_t records = (total - DRAXIL_NET_GAME_STANDINGS_PLAYERS_OFFSET) / DRAXIL_NET_GAME_STANDINGS_PLAYER_SIZE;
    if (!buffer || size < total) return NONE;
    memcpy(buffer, standings, (size_t)total);
    byte_swap_data("draxil_net_game_standings", buffer, DRAXIL_NET_GAME_STANDINGS_PLAYERS_OFFSET, 1,
                   draxil_net_game_standings_byte_swapping_data);
    byte_swap_data("draxil_net_game_standings_player", buffer + DRAXIL_NET_GAME_STANDINGS_PLAYERS_OFFSET,
                   DRAXIL_NET_GAME_STANDINGS_PLAYER_SIZE, records, draxil_net_game_standings_player_byte_swapping_data);
    return total;
}

// ---- the statistics file -------------------------------------------------------------------

static const char RECORDING_STATS_DIRECTORY[] = "recording_stats";

bool save_game_statistics_csv(const char *name)
{
    if (!name || !name[0] || name[0] == '.' || strchr(name, '/') || strchr(name, '\\'))
    {
        log_message(__FILE__, __LINE__, "statistics file name refused: \"%s\"", name ? name : "(null)");
        return false;
    }
    file_reference directory;
    file_reference_create(&directory, _file_reference_application_relative);
    if (!file_reference_add_directory(&directory, RECORDING_STATS_DIRECTORY) ||
        (!file_exists(&directory) && !file_create(&directory)))
    {
        log_message(__FILE__, __LINE__, "cannot make the directory \"%s\"", RECORDING_STATS_DIRECTORY);
        return false;
    }
    char file_name[MAXIMUM_FILE_NAME];
    file_reference file = directory;
    if (slprintf(file_name, sizeof(file_name), "%s.csv", name) >= (int32_t)sizeof(file_name) - 1 ||
        !file_reference_set_name(&file, file_name))
    {
        log_message(__FILE__, __LINE__, "statistics file name refused: \"%s\"", name);
        return false;
    }

    // The whole text first, then one write.
    force_player_statistics_update();
    const game_statistics *g = &globals().current;
    size_t capacity = 4096 + 512 * (size_t)(get_player_count() + get_team_count());
    char *text = (char *)malloc(capacity);
    if (!text) return false;
    text[0] = 0;
    char time_text[32];
    slprintfcat(text, capacity, "game,scoring,rules,ticks,time\n%s,%d,%s,%d,%s\n",
                tag_to_string(globals().scenario_tag), game_->scoring,
                gameplay_version_to_string(current_gameplay_version), game_->game_time,
                time_to_string_bounded(game_->game_time, time_text, sizeof(time_text)));
    slprintfcat(text, capacity, "\nteam,place,score,eliminated_at,enemy_kills,damage_to_enemies\n");
    for (int32_t i = 0; i < g->team_ranking_count; ++i)
    {
        const team_ranking_data *ranking = &g->team_rankings[i];
        slprintfcat(text, capacity, "%d,%d,%d,%d,%d,%d\n", ranking->team_index, ranking->place + 1, ranking->score,
                    get_team_time_out_of_game(ranking->team_index), g->tally.teams[ranking->team_index].enemy_kills,
                    g->tally.teams[ranking->team_index].damage_to_enemies);
    }
    slprintfcat(text, capacity,
                "\nplayer,name,team,type,kills,casualties,casualty_cost,survivors,surviving_cost,"
                "damage_dealt,damage_taken,damage_to_allies\n");
    for (int16_t p = 0; p < get_player_count(); ++p)
    {
        const player_data *player = get_player_data(p);
        const player_statistics *s = &g->tally.players[p];
        // Quotes inside a name are doubled so that every reader splits the line alike.
        char name_field[2 * PLAYER_NAME_SIZE + 3];
        size_t n = 0;
        name_field[n++] = '"';
        for (const char *c = player->appearance.name; *c && n < sizeof(name_field) - 3; ++c)
        {
            if (*c == '"') name_field[n++] = '"';
            name_field[n++] = *c;
        }
        name_field[n++] = '"';
        name_field[n] = 0;
        // Survivors are the units living now, as the rankings just counted them.
        int32_t survivors = 0, surviving_cost = 0;
        for (int32_t r = 0; r < g->player_ranking_count; ++r)
        {
            if (g->player_rankings[r].player_index != p) continue;
            survivors = g->player_rankings[r].extant_unit_count;
            surviving_cost = g->player_rankings[r].extant_cost;
        }
        slprintfcat(text, capacity, "%d,%s,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d\n", p, name_field, player->team_index,
                    player->type, s->total_kill_count, s->casualty_count, s->casualty_cost, survivors, surviving_cost,
                    s->total_damage, s->total_damage_taken, s->damage_to_allies);
    }

    // Replaced whole: a failed write leaves the earlier file of that name as it was.
    const bool ok = file_write_from_memory(&file, (int32_t)strlen(text), text);
    free(text);
    if (!ok) log_message(__FILE__, __LINE__, "could not write the statistics file \"%s\"", file_name);
    return ok;
}

// Players, teams and alliances.

#include "players.h"

#include "cseries/registration.h"

#include <cstring>

#include "game_time.h"
#include "state_hash.h"
#include "unit_facts.h"

static struct player_globals
{
    player_data players[MAXIMUM_PLAYERS_PER_GAME];
    team_data teams[MAXIMUM_TEAMS_PER_GAME];
    int16_t player_count;
    int16_t team_count;


    // The ended map's records, for the post-game dialogs.
    bool old_map_kept;
    player_data old_players[MAXIMUM_PLAYERS_PER_GAME];
    team_data old_teams[MAXIMUM_TEAMS_PER_GAME];
    int16_t old_player_count;
    int16_t old_team_count;
} player_globals;

// Outside player_globals: a module's start-up and map changes never empty a registration.
static procedure_slot<eliminate_units_procedure> eliminate_units_slot("eliminate units");

static void hash_players_and_teams(uint32_t *hash)
{
    state_hash_add_int32(hash, player_globals.player_count);
    state_hash_add_int32(hash, player_globals.team_count);
    for (int32_t i = 0; i < player_globals.player_count; ++i)
    {
        const player_data *player = &player_globals.players[i];
        state_hash_add_int32(hash, player->identifier);
        state_hash_add_int32(hash, player->type);
        state_hash_add_int32(hash, player->flags);
        state_hash_add_int32(hash, player->team_index);
        state_hash_add_int32(hash, player->original_team_index);
        state_hash_add_int32(hash, player->unique_identifier);
        state_hash_add_int32(hash, player->game_time_at_join);
        state_hash_add_int32(hash, player->game_time_at_drop);
    }
    for (int32_t i = 0; i < player_globals.team_count; ++i)
    {
        const team_data *team = &player_globals.teams[i];
        state_hash_add_int32(hash, team->identifier);
        state_hash_add_int32(hash, team->flags);
        state_hash_add_int32(hash, team->number_of_players);
        state_hash_add_int32(hash, team->captain_player_index);
        state_hash_add_int32(hash, team->score);
        state_hash_add_int32(hash, team->game_time_at_elimination);
        state_hash_add_int32(hash, (int32_t)team->numbered_flags_captured_flags);
        state_hash_add_int32(hash, team->game_time_of_possession);
        state_hash_add_int32(hash, team->game_time_at_last_capture);
        state_hash_add_int32(hash, team->allied_team_flags);
    }
}

void initialize_players(void)
{
    memset(&player_globals, 0, sizeof(player_globals));
    register_state_hash_procedure_at_start_up(hash_players_and_teams);
}

static void clear_team(int16_t team_index)
{
    team_data *team = &player_globals.teams[team_index];
    memset(team, 0, sizeof(*team));
    team->identifier = (int16_t)(team_index + 1);
    team->captain_player_index = NONE;
    team->game_time_at_elimination = NONE;
    team->game_time_of_possession = NONE;
    team->game_time_at_last_capture = NONE;
}

void set_minimum_team_count(int16_t count)
{
    if (count > MAXIMUM_TEAMS_PER_GAME) count = MAXIMUM_TEAMS_PER_GAME;
    while (player_globals.team_count < count) clear_team(player_globals.team_count++);
}

// A team index from a set-up record: 0..15 as given, else the lowest team no
// player has taken yet (logged), so a damaged record still plays.
static int8_t repaired_team_index(const new_player_data *player, int16_t player_index)
{
    if (player->team_index >= 0 && player->team_index < MAXIMUM_TEAMS_PER_GAME) return (int8_t)player->team_index;
    int8_t team = 0;
    for (; team < MAXIMUM_TEAMS_PER_GAME - 1; ++team)
    {
        if (team >= player_globals.team_count || player_globals.teams[team].number_of_players == 0) break;
    }
    log_message(__FILE__, __LINE__, "player %d names team %d, which cannot be: put on team %d", player_index,
                player->team_index, team);
    return team;
}

static void add_player_to_team(int16_t player_index)
{
    player_data *player = &player_globals.players[player_index];
    if (player->team_index == NONE) return;
    set_minimum_team_count((int16_t)(player->team_index + 1));
    team_data *team = &player_globals.teams[player->team_index];
    if (team->number_of_players++ == 0) team->captain_player_index = player_index;
}

static int16_t fill_player(const new_player_data *setup)
{
    if (player_globals.player_count >= MAXIMUM_PLAYERS_PER_GAME) return NONE;
    const int16_t index = player_globals.player_count++;
    player_data *player = &player_globals.players[index];
    memset(player, 0, sizeof(*player));
    player->identifier = (int16_t)(index + 1);
    player->type = setup->type == _player_is_computer ? (int16_t)_player_is_computer : (int16_t)_player_is_human;
    player->flags = setup->flags & (FLAG(_player_uses_appearance_colors_bit) | FLAG(_player_is_observer_bit));
    player->team_index = (setup->flags & _player_is_observer_flag) ? (int8_t)NONE : repaired_team_index(setup, index);
    player->original_team_index = player->team_index;
    player->unique_identifier = setup->unique_identifier;
    player->metaserver_player_id = setup->metaserver_player_id;
    player->game_time_at_join = game_->game_time;
    player->game_time_at_drop = NONE;
    player->appearance = setup->appearance;
    player->appearance.name[PLAYER_NAME_SIZE - 1] = 0;
    player->appearance.team_name[PLAYER_NAME_SIZE - 1] = 0;
    add_player_to_team(index);
    return index;
}

bool initialize_players_for_new_map(const new_game_data *data)
{
    player_globals.player_count = 0;
    player_globals.team_count = 0;
    memset(player_globals.players, 0, sizeof(player_globals.players));
    memset(player_globals.teams, 0, sizeof(player_globals.teams));

    int32_t count = data->player_count;
    if (count < 0 || count > MAXIMUM_PLAYERS_PER_MAP)
    {
        log_message(__FILE__, __LINE__, "set-up with %d players: only %d taken", count, (int32_t)MAXIMUM_PLAYERS_PER_MAP);
        count = count < 0 ? 0 : MAXIMUM_PLAYERS_PER_MAP;
    }
    for (int32_t i = 0; i < count; ++i) fill_player(&data->players[i]);

    // A team's players name their captain by unique identifier; a name that
    // matches nobody on the team leaves the first player captain.
    for (int16_t t = 0; t < player_globals.team_count; ++t)
    {
        team_data *team = &player_globals.teams[t];
        for (int32_t i = 0; i < count; ++i)
        {
            const player_data *player = &player_globals.players[i];
            if (player->team_index != t) continue;
            const int16_t captain = find_player_by_unique_identifier(data->players[i].team_captain_identifier);
            if (captain != NONE && player_globals.players[captain].team_index == t)
            {
                team->captain_player_index = captain;
                break;
            }
        }
    }
    return true;
}

void dispose_players_from_old_map(void)
{
    player_globals.old_map_kept = true;
    memcpy(player_globals.old_players, player_globals.players, sizeof(player_globals.players));
    memcpy(player_globals.old_teams, player_globals.teams, sizeof(player_globals.teams));
    player_globals.old_player_count = player_globals.player_count;
    player_globals.old_team_count = player_globals.team_count;
    player_globals.player_count = 0;
    player_globals.team_count = 0;
}

bool ressurect_players_from_old_map(void)
{
    if (!player_globals.old_map_kept) return false;
    memcpy(player_globals.players, player_globals.old_players, sizeof(player_globals.players));
    memcpy(player_globals.teams, player_globals.old_teams, sizeof(player_globals.teams));
    player_globals.player_count = player_globals.old_player_count;
    player_globals.team_count = player_globals.old_team_count;
    return true;
}

int16_t get_player_count(void) { return player_globals.player_count; }
int16_t get_team_count(void) { return player_globals.team_count; }

player_data *get_player_data(int32_t player_index)
{
    if (!VASSERT(player_index >= 0 && player_index < player_globals.player_count, "player index out of range"))
        return nullptr;
    return &player_globals.players[player_index];
}

team_data *get_team_data(int32_t team_index)
{
    if (!VASSERT(team_index >= 0 && team_index < player_globals.team_count, "team index out of range")) return nullptr;
    return &player_globals.teams[team_index];
}

int16_t find_player_by_unique_identifier(int32_t unique_identifier)
{
    for (int16_t i = 0; i < player_globals.player_count; ++i)
    {
        if (player_globals.players[i].unique_identifier == unique_identifier) return i;
    }
    return NONE;
}

int16_t new_player_in_game(const new_player_data *player)
{
    const int16_t index = fill_player(player);
    if (index == NONE)
        log_message(__FILE__, __LINE__, "a player cannot join: all %d player records are taken",
                    (int32_t)MAXIMUM_PLAYERS_PER_GAME);
    return index;
}

void drop_player(int16_t player_index)
{
    player_data *player = get_player_data(player_index);
    if (!player || (player->flags & _player_has_been_dropped_flag)) return;
    player->flags |= _player_has_been_dropped_flag;
    player->game_time_at_drop = game_->game_time;
}

// ---- alliances -----------------------------------------------------------------

static inline bool team_index_is_valid(int32_t team_index)
{
    return team_index >= 0 && team_index < player_globals.team_count;
}

bool teams_are_allied(int32_t team_a, int32_t team_b)
{
    if (!team_index_is_valid(team_a) || !team_index_is_valid(team_b)) return false;
    if (team_a == team_b) return true;
    return TEST_FLAG(player_globals.teams[team_a].allied_team_flags, team_b) != 0;
}

bool monsters_are_allied(int32_t unit_a, int32_t unit_b)
{
    unit_facts a, b;
    if (!get_unit_facts(unit_a, &a) || !get_unit_facts(unit_b, &b)) return false;
    if (a.team_index == NONE || b.team_index == NONE) return false;
    return teams_are_allied(a.team_index, b.team_index);
}

void ally_with_team(int32_t team0, int32_t team1, bool form)
{
    if (!team_index_is_valid(team0) || !team_index_is_valid(team1) || team0 == team1)
    {
        log_message(__FILE__, __LINE__, "alliance of team %d towards team %d ignored", team0, team1);
        return;
    }
    uint16_t *flags = &player_globals.teams[team0].allied_team_flags;
    *flags = form ? (uint16_t)(*flags | FLAG(team1)) : (uint16_t)(*flags & ~FLAG(team1));
}

// ---- elimination -----------------------------------------------------------------

bool register_eliminate_units_procedure(eliminate_units_procedure procedure)
{
    return eliminate_units_slot.fill(procedure);
}

void eliminate_team(int32_t team_index)
{
    if (!team_index_is_valid(team_index))
    {
        log_message(__FILE__, __LINE__, "eliminate_team(%d): no such team", team_index);
        return;
    }
    team_data *team = &player_globals.teams[team_index];
    if (team->flags & _team_has_been_eliminated_flag) return;
    team->flags |= _team_has_been_eliminated_flag;
    team->game_time_at_elimination = game_->game_time;
    if (eliminate_units_slot.get()) eliminate_units_slot.get()((int16_t)team_index);
}

int32_t count_remaining_sides(void)
{
    // Teams in one side are mutually allied; each side is counted at its
    // lowest team, so the answer does not depend on the order of the teams.
    int32_t sides = 0;
    for (int32_t t = 0; t < player_globals.team_count; ++t)
    {
        const team_data *team = &player_globals.teams[t];
        if (team->number_of_players == 0 || (team->flags & _team_has_been_eliminated_flag)) continue;
        bool counted = false;
        for (int32_t u = 0; u < t && !counted; ++u)
        {
            const team_data *other = &player_globals.teams[u];
            if (other->number_of_players == 0 || (other->flags & _team_has_been_eliminated_flag)) continue;
            counted = teams_are_allied(t, u) && teams_are_allied(u, t);
        }
        if (!counted) ++sides;
    }
    return sides;
}

// ---- set-up helpers ------------------------------------------------------------------

static int32_t sort_key(const new_player_data *player)
{
    const bool observer = (player->flags & _player_is_observer_flag) != 0;
    const int32_t team = observer || player->team_index < 0 ? 0x7FFF : player->team_index;
    const bool captain = player->team_captain_identifier == player->unique_identifier;
    return team * 2 + (captain ? 0 : 1);
}

void sort_new_player_data(new_player_data *players, int32_t count, bool fix_dangling_players)
{
    if (!players || count <= 0) return;
    if (count > MAXIMUM_PLAYERS_PER_MAP) count = MAXIMUM_PLAYERS_PER_MAP;
    if (fix_dangling_players)
    {
        for (int32_t i = 0; i < count; ++i)
        {
            bool found = false;
            for (int32_t j = 0; j < count && !found; ++j)
                found = players[j].unique_identifier == players[i].team_captain_identifier &&
                        players[j].team_index == players[i].team_index;
            if (!found) players[i].team_captain_identifier = -1;
        }
    }
    // Insertion sort: stable, and at most 16 records.
    for (int32_t i = 1; i < count; ++i)
    {
        const new_player_data moving = players[i];
        const int32_t key = sort_key(&moving);
        int32_t j = i - 1;
        while (j >= 0 && sort_key(&players[j]) > key)
        {
            players[j + 1] = players[j];
            --j;
        }
        players[j + 1] = moving;
    }
}

// The colour pairs handed out, in order: a primary and its secondary.
static const rgb_color player_palette[][2] = {
    {{65535, 0, 0, 0}, {65535, 49152, 0, 0}},         {{0, 0, 65535, 0}, {0, 65535, 65535, 0}},
    {{0, 52428, 0, 0}, {65535, 65535, 0, 0}},         {{65535, 65535, 0, 0}, {32768, 16384, 0, 0}},
    {{65535, 32768, 0, 0}, {16384, 16384, 16384, 0}}, {{32768, 0, 65535, 0}, {65535, 65535, 65535, 0}},
    {{0, 65535, 65535, 0}, {0, 0, 32768, 0}},         {{65535, 0, 65535, 0}, {16384, 0, 32768, 0}},
    {{65535, 65535, 65535, 0}, {32768, 32768, 32768, 0}}, {{16384, 16384, 16384, 0}, {65535, 0, 0, 0}},
    {{32768, 16384, 0, 0}, {65535, 49152, 32768, 0}}, {{0, 32768, 32768, 0}, {65535, 65535, 65535, 0}},
    {{65535, 32768, 32768, 0}, {32768, 0, 0, 0}},     {{32768, 65535, 32768, 0}, {0, 32768, 0, 0}},
    {{32768, 32768, 65535, 0}, {0, 0, 32768, 0}},     {{49152, 49152, 0, 0}, {0, 0, 0, 0}},
};

static bool colors_equal(const rgb_color *a, const rgb_color *b)
{
    return a->red == b->red && a->green == b->green && a->blue == b->blue;
}

void arbitrate_player_appearances(new_player_data *players, int32_t count)
{
    if (!players || count <= 0) return;
    if (count > MAXIMUM_PLAYERS_PER_MAP) count = MAXIMUM_PLAYERS_PER_MAP;
    for (int32_t i = 0; i < count; ++i)
    {
        rgb_color *color = &players[i].appearance.primary_color;
        // A teammate earlier in the list sets the team's colour; players
        // without a team (a set-up's list) are nobody's teammates.
        bool teammate = false;
        for (int32_t j = 0; j < i && !teammate && players[i].team_index != NONE; ++j)
        {
            if (players[j].team_index == players[i].team_index)
            {
                *color = players[j].appearance.primary_color;
                teammate = true;
            }
        }
        if (teammate) continue;
        bool clash = false;
        for (int32_t j = 0; j < i && !clash; ++j) clash = colors_equal(&players[j].appearance.primary_color, color);
        if (!clash) continue;
        for (size_t p = 0; p < NUMBER_OF(player_palette); ++p)
        {
            bool used = false;
            for (int32_t j = 0; j < count && !used; ++j)
                used = j != i && colors_equal(&players[j].appearance.primary_color, &player_palette[p][0]);
            if (!used)
            {
                *color = player_palette[p][0];
                players[i].appearance.secondary_color = player_palette[p][1];
                break;
            }
        }
    }
}

// 'plyc', 'plan', 'ngty', 'scor' and 'goal': tests and changes of the game's
// teams, players, clock and scores.  Simulation procedures: every machine of
// a game reads the same synchronized records here.

#include "netgame_action_procs.h"

#include <cstring>
#include <vector>

#include "action_proc_helpers.h"
#include "cseries/log.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "players.h"
#include "scoring.h"
#include "statistics.h"

namespace {

enum
{
    MAXIMUM_DESIRED_SCORING_TYPES = 10,
    MAXIMUM_SCORED_TEAMS = 16,
    // The last gameplay version that counts a patch level below 5 as 5.
    LAST_VERSION_WITH_PATCH_FLOOR = 1801,
    MINIMUM_PATCH_LEVEL = 5,
    // The team filter of 'plyc' exists above this version.
    FIRST_VERSION_BEFORE_TEAM_FILTER = 1510,
};

bool first_integer(int32_t action_index, field_tag name, int32_t *value)
{
    return get_indexed_long_integer_parameter(action_index, name, _parameter_integer, value, 0);
}

// One comparison of 'plyc': the named value, when given, must stand in this
// relation to the count.
enum count_relation
{
    _count_equal,
    _count_less_than,
    _count_greater_than,
};
struct count_test
{
    field_tag name;
    count_relation relation;
};
constexpr count_test team_count_tests[] = {
    {field('t', 'c', '_', '='), _count_equal},
    {field('t', 'c', '_', '<'), _count_less_than},
    {field('t', 'c', '_', '>'), _count_greater_than},
};
constexpr count_test player_count_tests[] = {
    {field('p', 'c', '_', '='), _count_equal},
    {field('p', 'c', '_', '<'), _count_less_than},
    {field('p', 'c', '_', '>'), _count_greater_than},
};

// Whether every given test of the three holds for `count`; `any_given`
// tells whether one of them was present.
bool count_tests_hold(int32_t action_index, const count_test (&tests)[3], int32_t count, bool *any_given)
{
    bool ok = true;
    *any_given = false;
    for (const count_test &test : tests)
    {
        int32_t value;
        if (!first_integer(action_index, test.name, &value)) continue;
        *any_given = true;
        switch (test.relation)
        {
        case _count_equal: ok = ok && count == value; break;
        case _count_less_than: ok = ok && count < value; break;
        case _count_greater_than: ok = ok && count > value; break;
        }
    }
    return ok;
}

} // namespace

uint32_t player_count_action_proc(int32_t action_index)
{
    bool given;
    if (!count_tests_hold(action_index, team_count_tests, get_team_count(), &given)) return 0;

    bool players_tested = false;
    for (const count_test &test : player_count_tests)
        players_tested = players_tested || get_map_action_parameter(nullptr, action_index, 0, test.name, _parameter_integer);
    if (!players_tested) return _map_action_proc_succeeded_flag;

    int32_t team_filter = NONE;
    if (current_gameplay_version > FIRST_VERSION_BEFORE_TEAM_FILTER &&
        !first_integer(action_index, field('t', 'e', 'a', 'm'), &team_filter))
        team_filter = NONE;

    int32_t human_players = 0;
    const int32_t player_count = get_player_count();
    for (int32_t i = 0; i < player_count; i++)
    {
        const player_data *player = get_player_data(i);
        if (!player || player->type != _player_is_human) continue;
        if (team_filter != NONE && player->team_index != team_filter) continue;
        human_players++;
    }
    return count_tests_hold(action_index, player_count_tests, human_players, &given) ? _map_action_proc_succeeded_flag
                                                                                      : 0;
}

uint32_t netgame_time_action_proc(int32_t action_index)
{
    const int16_t state = game_->time_state;
    if (has_flag(action_index, field('p', 'l', 'a', 'n')) && state == _game_time_pregame) return 0;
    if (has_flag(action_index, field('d', 'e', 't', 'h')) && state != _game_time_suspended_ending) return 0;
    if (has_flag(action_index, field('o', 'v', 'e', 'r')) && state != _game_time_ending) return 0;
    int32_t seconds;
    if (first_integer(action_index, field('t', 'i', 'm', 'e'), &seconds))
    {
        // A clock without a limit (NONE) has more time left than any bound.
        if (game_->time_remaining == NONE) return 0;
        if ((int64_t)game_->time_remaining > (int64_t)seconds * TICKS_PER_SECOND) return 0;
    }
    return _map_action_proc_succeeded_flag;
}

uint32_t game_type_action_proc(int32_t action_index)
{
    bool ok = true;
    int32_t types[MAXIMUM_DESIRED_SCORING_TYPES];
    const int32_t type_count = get_combined_map_action_parameter(action_index, field('t', 'y', 'p', 'e'),
                                                                 _parameter_integer, types, MAXIMUM_DESIRED_SCORING_TYPES);
    if (type_count > 0)
    {
        ok = false;
        for (int32_t i = 0; i < type_count; i++)
            if (types[i] == game_->scoring) ok = true;
    }

    int32_t team;
    if (first_integer(action_index, field('t', 'e', 'a', 'm'), &team))
    {
        // The rankings alone decide: the 'type' result is replaced.
        int32_t minimum_score = 0;
        if (!first_integer(action_index, field('s', 'c', 'o', 'r'), &minimum_score)) minimum_score = 0;
        const bool ties = has_flag(action_index, field('t', 'i', 'e', 's'));
        ok = false;
        const int32_t team_count = get_team_count();
        for (int32_t place = 0; place < team_count; place++)
        {
            const team_ranking_data *ranking = get_team_ranking_for_scripts(place);
            if (!ranking || ranking->place != 0) continue;
            if (ranking->team_index == team)
            {
                if (ranking->score >= minimum_score) ok = true;
            }
            else if (!ties)
            {
                ok = false;
                break;
            }
        }
    }

    int32_t wanted_patch;
    if (first_integer(action_index, field('p', 'a', 't', 'c'), &wanted_patch))
    {
        int32_t patch = (current_gameplay_version - 1000) / 100;
        VASSERT(patch >= 0, "version >= 0");
        if (current_gameplay_version <= LAST_VERSION_WITH_PATCH_FLOOR && patch < MINIMUM_PATCH_LEVEL)
            patch = MINIMUM_PATCH_LEVEL;
        if (wanted_patch > patch) return 0;
    }
    return ok ? _map_action_proc_succeeded_flag : 0;
}

uint32_t custom_scoring_action_proc(int32_t action_index)
{
    if (game_->scoring < _game_scoring_cattle_drive || game_->scoring > _game_scoring_custom) return 0;
    if (game_->scoring == _game_scoring_custom) use_custom_scoring();

    map_action_parameter teams_parameter;
    if (!get_map_action_parameter(&teams_parameter, action_index, 0, field('t', 'e', 'a', 'm'), _parameter_integer))
        return _map_action_proc_succeeded_flag;

    // The values are copied out first: the result below may move the buffer.
    std::vector<int32_t> values((size_t)(teams_parameter.count > 0 ? teams_parameter.count : 0));
    const int32_t value_count =
        values.empty() ? 0 : copy_map_action_parameter_values(&teams_parameter, values.data(), (int32_t)values.size());
    int32_t teams[MAXIMUM_SCORED_TEAMS];
    int32_t listed = 0, refused = 0, first_refused = NONE;
    const int32_t team_count = get_team_count();
    for (int32_t i = 0; i < value_count; i++)
    {
        const int32_t team = values[(size_t)i];
        if (team < 0 || team >= MAXIMUM_SCORED_TEAMS || team >= team_count)
        {
            if (refused++ == 0) first_refused = team;
            continue;
        }
        bool already_listed = false;
        for (int32_t j = 0; j < listed; j++) already_listed = already_listed || teams[j] == team;
        if (!already_listed) teams[listed++] = team;
    }
    if (refused > 0)
        map_action_error(action_index, "%d team values name no team of this game (first: %d)", (int)refused,
                         (int)first_refused);
    if (listed == 0) return _map_action_proc_succeeded_flag;

    int32_t value;
    if (first_integer(action_index, field('s', 'e', 't', 's'), &value))
        for (int32_t i = 0; i < listed; i++) set_points(teams[i], (int16_t)value);
    if (first_integer(action_index, field('a', 'd', 'd', 's'), &value))
        for (int32_t i = 0; i < listed; i++) score_points(teams[i], (int16_t)value);

    map_action_parameter result;
    if (get_map_action_parameter(&result, action_index, _return_empty_arrays_flag, field('s', 'c', 'o', 'r'),
                                 _parameter_integer))
    {
        int32_t scores[MAXIMUM_SCORED_TEAMS];
        for (int32_t i = 0; i < listed; i++)
        {
            const team_data *team = get_team_data(teams[i]);
            scores[i] = team ? team->score : 0;
        }
        if (!set_map_action_parameter(&result, listed, scores))
            map_action_error(action_index, "no room for %d scores", (int)listed);
    }
    return _map_action_proc_succeeded_flag;
}

uint32_t goal_action_proc(int32_t action_index)
{
    int32_t team;
    map_action_parameter outline;
    if (!first_integer(action_index, field('t', 'e', 'a', 'm'), &team) ||
        !get_map_action_parameter(&outline, action_index, 0, field('p', 'o', 'l', 'y'), _parameter_world_point2d))
        return 0;
    std::vector<world_point2d> points((size_t)(outline.count > 0 ? outline.count : 0));
    const int32_t point_count =
        points.empty() ? 0 : copy_map_action_parameter_values(&outline, points.data(), (int32_t)points.size());
    new_goal(team, point_count, points.data());
    return 0;
}

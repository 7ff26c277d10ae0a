// Players, teams, alliances, scoring, the end of a game, statistics and the
// standings record, driven through their services as the tick would.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "cseries/byte_swapping.h"
#include "cseries/files.h"
#include "cseries/registration.h"
#include "flags.h"
#include "front_end_procedures.h"
#include "game_records.h"
#include "game_states.h"
#include "game_sounds.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "players.h"
#include "game_ending.h"
#include "scoring.h"
#include "state_hash.h"
#include "statistics.h"
#include "story_dialogs.h"
#include "support/game_core_fixture.h"
#include "support/scratch.h"
#include "unit_facts.h"

namespace players_scoring_test_file {

namespace {

class players_scoring_test : public ::testing::Test
{
protected:
    new_game_data data;

    // A game of `teams` teams with one player each (player i on team i), or
    // the player records given.
    void start(int16_t teams, int16_t scoring = 0)
    {
        reset_game_core();
        initialize_players();
        initialize_scoring();
        initialize_statistics();
        initialize_flags();
        initialize_game_sounds();
        data = make_test_game_data(_game_type_local, DEFAULT_GAMEPLAY_VERSION, 1, teams);
        for (int16_t i = 0; i < teams; ++i) data.players[i].unique_identifier = 100 + i;
        data.parameters.scoring = scoring;
        begin_game_time(&data);
        local_player_index = 0;
        local_player_team_index = 0;
        initialize_players_for_new_map(&data);
        initialize_flags_for_new_map();
        initialize_scoring_for_new_map();
        initialize_statistics_for_new_map(data.parameters.scenario_tag);
    }
    void tick(int32_t count = 1)
    {
        for (int32_t i = 0; i < count; ++i)
        {
            update_game_scoring();
            update_statistics();
            ++game_->game_time;
            update_endgame();
        }
    }
};

TEST_F(players_scoring_test, alliances_are_one_directional_and_teams_ally_with_themselves)
{
    start(3);
    EXPECT_TRUE(teams_are_allied(1, 1));
    EXPECT_FALSE(teams_are_allied(0, 1));
    ally_with_team(0, 1, true);
    ally_with_team(1, 0, true);
    EXPECT_TRUE(teams_are_allied(0, 1));
    ally_with_team(0, 1, false);
    EXPECT_FALSE(teams_are_allied(0, 1));
    EXPECT_TRUE(teams_are_allied(1, 0)); // only team 0's side ended
    EXPECT_FALSE(teams_are_allied(NONE, NONE));
    EXPECT_FALSE(teams_are_allied(0, 16));
    ally_with_team(0, 0, false); // ignored
    EXPECT_TRUE(teams_are_allied(0, 0));
}

TEST_F(players_scoring_test, set_up_is_repaired_and_captains_found)
{
    reset_game_core();
    initialize_players();
    data = make_test_game_data(_game_type_local, 1820, 1, 4);
    const int16_t teams[] = {1, 1, 40, -3};
    for (int16_t i = 0; i < 4; ++i)
    {
        data.players[i].team_index = teams[i];
        data.players[i].unique_identifier = 10 + i;
        data.players[i].team_captain_identifier = 11; // player 1 leads team 1
    }
    begin_game_time(&data);
    initialize_players_for_new_map(&data);
    ASSERT_EQ(get_player_count(), 4);
    EXPECT_EQ(get_team_data(1)->captain_player_index, 1);
    EXPECT_EQ(get_team_data(1)->number_of_players, 2);
    // Damaged team indexes land on the lowest team nobody took.
    EXPECT_EQ(get_player_data(2)->team_index, 0);
    EXPECT_EQ(get_player_data(3)->team_index, 2);
    EXPECT_EQ(get_team_count(), 3);
}

TEST_F(players_scoring_test, joins_fill_127_records_then_are_refused_and_ended_map_is_kept)
{
    start(2);
    new_player_data joiner = data.players[1];
    for (int32_t i = get_player_count(); i < MAXIMUM_PLAYERS_PER_GAME; ++i) ASSERT_NE(new_player_in_game(&joiner), NONE);
    EXPECT_EQ(new_player_in_game(&joiner), NONE);
    EXPECT_EQ(get_player_count(), MAXIMUM_PLAYERS_PER_GAME);
    set_points(1, 42);
    dispose_players_from_old_map();
    EXPECT_EQ(get_player_count(), 0);
    ASSERT_TRUE(ressurect_players_from_old_map());
    EXPECT_EQ(get_player_count(), MAXIMUM_PLAYERS_PER_GAME);
    EXPECT_EQ(get_team_data(1)->score, 42);
}

TEST_F(players_scoring_test, sort_puts_teams_in_order_with_captains_first)
{
    new_player_data players[4] = {};
    const int16_t teams[] = {1, 0, 1, 0};
    for (int i = 0; i < 4; ++i)
    {
        players[i].team_index = teams[i];
        players[i].unique_identifier = i;
        players[i].team_captain_identifier = teams[i] == 1 ? 2 : 77; // team 0's captain is nobody
    }
    players[0].flags = _player_is_observer_flag;
    sort_new_player_data(players, 4, true);
    EXPECT_EQ(players[0].unique_identifier, 1);
    EXPECT_EQ(players[1].unique_identifier, 3);
    EXPECT_EQ(players[2].unique_identifier, 2); // team 1's captain
    EXPECT_EQ(players[3].unique_identifier, 0); // the observer last
    EXPECT_EQ(players[0].team_captain_identifier, -1);
}

TEST_F(players_scoring_test, end_game_counts_down_300_or_1_and_suspension_only_marks_it_pending)
{
    struct
    {
        bool immediate;
        int32_t countdown;
    } cases[] = {{false, ENDGAME_COUNTDOWN_TICKS}, {true, IMMEDIATE_ENDGAME_COUNTDOWN_TICKS}};
    for (const auto &c : cases)
    {
        start(2);
        end_game(c.immediate);
        EXPECT_EQ(game_->endgame_state, _endgame_resolved);
        EXPECT_EQ(game_->game_time_at_end, 0);
        EXPECT_EQ(get_endgame_countdown(), c.countdown);
        tick(c.countdown - 1);
        EXPECT_FALSE(game_->flags.load() & _game_is_over_flag);
        tick();
        EXPECT_TRUE(game_->flags.load() & _game_is_over_flag);
    }

    start(2);
    suspend_end_game(_game_end_game_over);
    end_game(_game_end_decided);
    EXPECT_EQ(game_->endgame_state, _endgame_unresolved);
    EXPECT_EQ(game_->time_state, _game_time_suspended_ending);
    EXPECT_EQ(get_endgame_countdown(), NONE);
    tick(10);
    suspend_end_game(_game_end_decided);
    EXPECT_EQ(game_->endgame_state, _endgame_resolved);
    EXPECT_EQ(game_->game_time_at_end, 10);
    // A script may overwrite the state after the end (a light victory).
    game_->endgame_state = _endgame_successful_victory;
    end_game(_game_end_decided);
    EXPECT_EQ(game_->endgame_state, _endgame_successful_victory);
}

int32_t front_end_games_over;
void count_game_over(void) { ++front_end_games_over; }

// When the countdown runs out the front end says what follows; without it
// the game asks for the state that follows a game of its type.
TEST_F(players_scoring_test, the_end_of_the_countdown_goes_to_the_front_end_or_to_the_state_after_the_game)
{
    static const front_end_procedures front_end = {.game_over = count_game_over};
    const struct
    {
        bool front_end;
        int16_t type;
        int16_t state; // NONE: no change asked for
    } cases[] = {{false, _game_type_local, _game_state_displaying_mesh_epilogue},
                 {false, _game_type_networked, _game_state_post_game},
                 {false, _game_type_replay, _game_state_displaying_main_menu},
                 {true, _game_type_local, NONE}};
    for (const auto &c : cases)
    {
        start(2); // empties the registrations and the pending state
        game_->type = c.type;
        if (c.front_end) { ASSERT_TRUE(register_front_end_procedures(&front_end)); }
        front_end_games_over = 0;
        end_game(_game_end_game_over);
        tick(IMMEDIATE_ENDGAME_COUNTDOWN_TICKS);
        int16_t state = NONE;
        EXPECT_EQ(game_state_change_pending(&state), c.state != NONE) << c.type;
        EXPECT_EQ(state, c.state) << c.type;
        EXPECT_EQ(front_end_games_over, c.front_end ? 1 : 0) << c.type;
    }
}

TEST_F(players_scoring_test, rankings_share_places_and_the_next_place_skips)
{
    start(5, _scoring_custom);
    const int32_t scores[] = {10, 30, 30, 5, 10};
    for (int32_t t = 0; t < 5; ++t) set_points(t, scores[t]);
    eliminate_team(3);
    force_player_statistics_update();
    const int16_t expected_team[] = {1, 2, 0, 4, 3};
    const int16_t expected_place[] = {0, 0, 2, 2, 4};
    for (int32_t i = 0; i < 5; ++i)
    {
        ASSERT_NE(get_team_ranking(i), nullptr);
        EXPECT_EQ(get_team_ranking(i)->team_index, expected_team[i]) << i;
        EXPECT_EQ(get_team_ranking(i)->place, expected_place[i]) << i;
    }
    EXPECT_EQ(get_team_ranking(5), nullptr);
    end_game(_game_end_game_over);
    EXPECT_EQ(game_->winning_team_index, NONE); // first place is shared
    EXPECT_EQ(get_game_sound_request_count(_game_sound_game_over), 1);
}

// Every tick ranks the teams for every reader; the scripts of earlier rules
// read only what a forced update ranked; the end's ranking stays.
TEST_F(players_scoring_test, rankings_follow_each_tick_and_scripts_read_them_from_1830)
{
    for (const int32_t version : {(int32_t)DEFAULT_GAMEPLAY_VERSION, 1825})
    {
        start(2, _scoring_custom);
        current_gameplay_version = version;
        set_points(1, 5);
        tick();
        ASSERT_NE(get_team_ranking(0), nullptr) << version;
        EXPECT_EQ(get_team_ranking(0)->team_index, 1) << version;
        const team_ranking_data *seen = get_team_ranking_for_scripts(0);
        EXPECT_EQ(seen ? (int32_t)seen->team_index : (int32_t)NONE, version >= 1830 ? 1 : (int32_t)NONE) << version;
        end_game(_game_end_decided);
        EXPECT_EQ(get_team_ranking_for_scripts(0)->team_index, 1) << version << ": the end forces a ranking";
        set_points(0, 20);
        tick();
        EXPECT_EQ(get_team_ranking(1)->score, 0) << version << ": the end's standings stay";
    }
}

TEST_F(players_scoring_test, the_last_side_standing_ends_the_game_and_wins)
{
    start(3);
    ally_with_team(1, 2, true);
    ally_with_team(2, 1, true);
    tick();
    eliminate_team(0);
    EXPECT_EQ(get_team_data(0)->game_time_at_elimination, 1);
    tick();
    EXPECT_EQ(game_->endgame_state, _endgame_resolved);
    EXPECT_NE(game_->winning_team_index, 0);
}

TEST_F(players_scoring_test, damage_lands_in_player_team_and_unattributed_buckets)
{
    start(3);
    ally_with_team(0, 1, true);
    set_unit_statistics_type(0, 0, 100); // player 0's units cost 100
    set_unit_statistics_type(1, 1, 50);
    set_unit_statistics_type(2, 2, 20);
    adjust_unit_statistics(2, 3, 300);
    EXPECT_EQ(get_player_statistics(2)->extant_unit_count, 3);
    EXPECT_EQ(get_player_statistics(2)->extant_cost, 60);

    adjust_damage_statistics_for_unit_type(0, 2, 40, true, false, false, true, false);   // enemy kill
    adjust_damage_statistics_for_unit_type(0, 1, 15, false, false, false, true, false);  // friendly fire
    adjust_damage_statistics_for_unit_type(NONE, 0, 7, false, false, false, true, false); // nobody's
    adjust_damage_statistics_for_unit_type(2, NONE, 9, true, false, true, true, true);   // game killed
    EXPECT_EQ(get_player_statistics(0)->total_damage, 40);
    EXPECT_EQ(get_player_statistics(0)->total_kill_count, 1);
    EXPECT_EQ(get_player_statistics(0)->points_killed, 20);
    EXPECT_EQ(get_player_statistics(0)->damage_to_allies, 15);
    EXPECT_EQ(get_player_statistics(0)->total_damage_taken, 7);
    EXPECT_EQ(get_player_statistics(2)->casualty_count, 1);
    EXPECT_EQ(get_player_statistics(2)->casualty_cost, 20);
    EXPECT_EQ(get_team_statistics(0)->enemy_kills, 1);
    EXPECT_EQ(get_team_statistics(0)->damage_to_enemies, 40);
    EXPECT_EQ(get_team_statistics(2)->game_kills, 1);
    EXPECT_EQ(get_unattributed_statistics()->total_damage, 7);

    int32_t count = 0, per_sample = 0, in_last = 0;
    const statistics_sample *samples = get_player_statistics_sample_range(&count, &per_sample, &in_last);
    EXPECT_EQ(samples[count].teams[0].damage_to_enemies, 40);
    EXPECT_EQ(samples[count].players[0].damage_to_subtract, 15);
    EXPECT_EQ(samples[count].unattributed.damage_to_enemies, 7);
    EXPECT_EQ(samples[count].teams[2].kills_against_by_local_team, 1);

    tick(); // attrition: the score is the damage dealt to enemies
    EXPECT_EQ(get_team_data(0)->score, 40);
}

// A blow of each kind the scoring rules count (40 damage, `died`: it kills),
// in a game of three teams, team 0 allied with team 1; unit type t is player
// t's, type 3 nobody's game.  The earlier rules scored none of them, and a
// hunt's quarry (a scoring target) only from 1830.
TEST_F(players_scoring_test, each_kind_of_kill_scores_under_its_rule)
{
    const int32_t now = DEFAULT_GAMEPLAY_VERSION, before = 1820;
    const struct { int16_t scoring; int32_t version; int16_t from, to; bool died, target, game; int32_t scores[3]; } cases[] = {
        {_scoring_attrition, now, 0, 2, false, false, false, {40, 0, 0}},    // damage to an enemy
        {_scoring_attrition, now, 2, 0, true, false, false, {0, 0, 40}},     // a kill counts its damage
        {_scoring_attrition, now, 0, 1, true, false, false, {0, 0, 0}},      // friendly fire
        {_scoring_attrition, now, NONE, 2, true, false, false, {0, 0, 0}},   // nobody's blow
        {_scoring_attrition, before, 0, 2, true, false, false, {0, 0, 0}},
        {_scoring_assassination, now, 1, 2, true, true, false, {0, 1, 0}},  // a target killed
        {_scoring_assassination, now, 1, 2, false, true, false, {0, 0, 0}}, // only hurt
        {_scoring_assassination, now, 1, 2, true, false, false, {0, 0, 0}}, // no target
        {_scoring_assassination, now, 0, 1, true, true, false, {0, 0, 0}},  // an ally's target
        {_scoring_assassination, before, 1, 2, true, true, false, {0, 0, 0}},
        {_scoring_hunting, now, 2, 3, true, false, true, {0, 0, 1}},        // game killed
        {_scoring_hunting, now, 2, 3, false, false, true, {0, 0, 0}},       // only hurt
        {_scoring_hunting, now, NONE, 3, true, false, true, {0, 0, 0}},     // by a hunted creature
        {_scoring_hunting, now, 2, 0, true, false, false, {0, 0, 0}},       // an enemy is no game
        {_scoring_hunting, before, 2, 3, true, false, true, {0, 0, 0}},
        {_scoring_hunting, now, 2, 0, true, true, false, {0, 0, 1}},        // a hunted creature killed
        {_scoring_hunting, now, 0, 1, true, true, false, {1, 0, 0}},        // an ally's is quarry too
        {_scoring_hunting, now, 2, 0, false, true, false, {0, 0, 0}},       // only hurt
        {_scoring_hunting, 1825, 2, 0, true, true, false, {0, 0, 0}},       // scored no quarry
    };
    for (const auto &c : cases)
    {
        start(3, c.scoring);
        current_gameplay_version = c.version;
        ally_with_team(0, 1, true);
        for (int16_t type = 0; type < 3; ++type) set_unit_statistics_type(type, type, 10);
        adjust_damage_statistics_for_unit_type(c.from, c.to, 40, c.died, c.target, c.game, true, c.game);
        tick();
        for (int16_t team = 0; team < 3; ++team)
            EXPECT_EQ(get_team_data(team)->score, c.scores[team]) << "case " << &c - cases << ", team " << team;
    }
}

TEST_F(players_scoring_test, samples_grow_then_compact_keeping_their_totals)
{
    start(2, _scoring_custom);
    int32_t count = 0, per_sample = 0, in_last = 0;
    const int32_t ticks = INITIAL_TICKS_PER_STATISTICS_SAMPLE * MAXIMUM_STATISTICS_SAMPLES + 7;
    set_unit_statistics_type(0, 0, 1);
    for (int32_t i = 0; i < ticks; ++i)
    {
        adjust_damage_statistics_for_unit_type(0, NONE, 1, false, false, false, true, false);
        tick();
    }
    const statistics_sample *samples = get_player_statistics_sample_range(&count, &per_sample, &in_last);
    EXPECT_EQ(per_sample, 2 * INITIAL_TICKS_PER_STATISTICS_SAMPLE);
    EXPECT_EQ(count * per_sample + in_last, ticks);
    int64_t total = 0;
    for (int32_t i = 0; i <= count; ++i) total += samples[i].teams[0].damage_to_enemies;
    EXPECT_EQ(total, ticks);
    EXPECT_EQ(samples[0].teams[0].damage_to_enemies, per_sample);
}

TEST_F(players_scoring_test, standings_record_has_its_golden_bytes)
{
    start(2, _scoring_custom);
    get_player_data(0)->metaserver_player_id = 0x01020304;
    set_unit_statistics_type(0, 0, 30);
    set_unit_statistics_type(1, 1, 25);
    adjust_damage_statistics_for_unit_type(0, 1, 25, true, false, false, true, false);
    set_points(0, 3);
    tick(99);
    end_game(_game_end_decided);
    const draxil_net_game_standings *standings = get_draxil_net_game_standings();
    ASSERT_EQ(draxil_net_game_standings_size(standings), 216 + 28 * 16);
    EXPECT_EQ(standings->players[0].points_killed, 25); // one record: header, teams and players
    std::vector<uint8_t> wire(216 + 28 * 16);
    ASSERT_EQ(encode_draxil_net_game_standings(wire.data(), (int32_t)wire.size()), (int32_t)wire.size());
    EXPECT_EQ(encode_draxil_net_game_standings(wire.data(), (int32_t)wire.size() - 1), NONE);
    const uint8_t head[] = {0, 2, 0, 13, 0, 0, 7, 0x3A, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 99, 1, 2, 3, 4, 0, 2, 0, 2};
    EXPECT_EQ(0, memcmp(wire.data(), head, sizeof(head)));
    // Team 0: place 0, captain 0, valid, out at tick 0 (no unit layer runs here: no team ever had a unit); team 1: place 1.
    const uint8_t teams[] = {0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(wire.data() + 24, teams, sizeof(teams)));
    EXPECT_EQ(wire[24 + 12 * 2 + 4], 0); // team 2 unused: not valid
    // Player 0: team 0, finished, 99 ticks, 1 killed, 0 lost, 25 points killed, 0 lost, lobby id.
    const uint8_t player0[] = {0, 0, 0, 1, 0, 0, 0, 99, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 25, 0, 0, 0, 0, 1, 2, 3, 4};
    EXPECT_EQ(0, memcmp(wire.data() + 216, player0, sizeof(player0)));
    EXPECT_EQ(wire[216 + 28 + 11], 0);   // player 1 killed nothing
    EXPECT_EQ(wire[216 + 28 + 15], 1);   // and lost one
    for (size_t i = 216 + 28 * 2; i < wire.size(); ++i) ASSERT_EQ(wire[i], 0) << i;

    // The player records on the wire: at least 16, one per player beyond, never past the record.
    draxil_net_game_standings sized = {};
    const struct { int16_t players; int32_t size; } sizes[] = {
        {0, 216 + 28 * 16}, {16, 216 + 28 * 16}, {17, 216 + 28 * 17}, {127, 216 + 28 * 127},
        {128, 216 + 28 * 127}, {-1, 216 + 28 * 127},
    };
    for (const auto &c : sizes)
    {
        sized.number_of_players = c.players;
        EXPECT_EQ(draxil_net_game_standings_size(&sized), c.size) << c.players;
    }
}

TEST_F(players_scoring_test, flag_rules_take_hold_and_collect)
{
    struct case_data
    {
        int16_t scoring;
        int32_t expected_score_team1;
    } cases[] = {
        {_scoring_territories, 2},   {_scoring_king_of_the_hill, 5}, {_scoring_scavenger_hunt, 2},
        {_scoring_flag_rally, 0},    {_scoring_captures, 2},         {_scoring_capture_the_flag, 1},
        {_scoring_steal_the_bacon, 1},
    };
    for (const auto &c : cases)
    {
        start(2, c.scoring);
        const world_point3d a = {1000, 1000, 0}, b = {9000, 9000, 0}, far = {30000, 30000, 0};
        new_flag(_flag_banner, 1, 0, 11, &a); // team 0's flag, numbered 1
        new_flag(_flag_banner, 2, NONE, 12, &b);
        new_flag(_flag_banner, 0, NONE, 13, &far); // number 0: team 1 never stands there
        // Team 1 alone stands at the first two flags.
        register_teams_near_point_procedure([](const world_point2d *point, int32_t radius) -> uint32_t {
            return point->x < 20000 ? 2u : 0u;
        });
        tick(5);
        EXPECT_EQ(get_team_data(1)->score, c.expected_score_team1) << "scoring " << c.scoring;
        clear_all_registrations();
    }
}

TEST_F(players_scoring_test, units_of_a_team_the_game_lacks_control_no_flag)
{
    for (const int16_t scoring : {_scoring_captures, _scoring_territories, _scoring_king_of_the_hill})
    {
        start(2, scoring);
        const world_point3d at = {1000, 1000, 0};
        new_flag(_flag_banner, NONE, NONE, 11, &at);
        register_teams_near_point_procedure([](const world_point2d *, int32_t) -> uint32_t { return 1u << 20; });
        tick(3);
        EXPECT_EQ(get_flag_data(0)->controlling_team_index, NONE) << "scoring " << scoring;
        EXPECT_EQ(get_team_data(0)->score + get_team_data(1)->score, 0) << "scoring " << scoring;
        clear_all_registrations();
    }
}

TEST_F(players_scoring_test, balls_move_away_from_their_pusher_and_banners_do_not)
{
    start(2);
    const world_point3d at = {5000, 5000, 0};
    new_flag(_flag_ball, NONE, NONE, 21, &at);
    new_flag(_flag_banner, NONE, NONE, 22, &at);
    const world_point2d west = {4000, 5000};
    EXPECT_EQ(push_flag_from_point(&west, 21, 160, 8192, 8192), 1);
    EXPECT_EQ(get_flag_data(0)->location.x, 5010);
    EXPECT_EQ(get_flag_data(0)->location.y, 5000);
    EXPECT_EQ(push_flag_from_point(&west, 22, 160, 8192, 8192), 0);
    EXPECT_EQ(push_flag_from_point(&west, 99, 160, 8192, 8192), 0);
    for (int i = 0; i < 1000; ++i) push_flag_from_point(&west, 21, 4000, 8192, 8192);
    EXPECT_EQ(get_flag_data(0)->location.x, 8191); // never off the map
    reclaim_dormant_flag(21);
    EXPECT_EQ(get_flag_data(0)->location.x, 5000);
}

// Four units as the unit layer would describe them: one per team 0-2, and
// one of nobody's (ambient life).
bool test_unit_facts(int32_t unit_index, unit_facts *facts)
{
    static const unit_facts units[] = {
        {0, 0, 0, 21, {4000, 5000, 0}},
        {1, 1, 1, NONE, {0, 0, 0}},
        {2, 2, 2, NONE, {0, 0, 0}},
        {NONE, NONE, NONE, NONE, {0, 0, 0}},
    };
    if (unit_index < 0 || unit_index >= 4) return false;
    *facts = units[unit_index];
    return true;
}

TEST_F(players_scoring_test, services_taking_a_unit_ask_the_unit_layer_and_ignore_units_that_do_not_exist)
{
    start(3);
    ally_with_team(0, 1, true);
    set_unit_statistics_type(0, 0, 100);
    set_unit_statistics_type(2, 2, 20);
    const world_point3d at = {5000, 5000, 0};
    new_flag(_flag_ball, NONE, NONE, 21, &at);
    const int16_t saved_width = mesh_width, saved_height = mesh_height;
    mesh_width = 16; // 8192 world units
    mesh_height = 16;

    // Before the unit layer registers, no unit exists: nothing happens.
    EXPECT_FALSE(monsters_are_allied(0, 0));
    adjust_damage_statistics(0, 2, 40, true, false, false, true, false);
    EXPECT_EQ(get_player_statistics(0)->total_damage, 0);
    EXPECT_EQ(monster_bumped_flag(0, 21, 160), 0);
    EXPECT_EQ(get_flag_data(0)->location.x, 5000);

    ASSERT_TRUE(register_unit_facts_procedure(test_unit_facts));
    const struct
    {
        int32_t a, b;
        bool allied;
    } pairs[] = {
        {0, 0, true}, {0, 1, true}, {1, 0, false}, // team 0 allied towards 1 only
        {0, 2, false}, {3, 3, false}, {0, 3, false}, {0, 99, false}, {NONE, 0, false},
    };
    for (const auto &p : pairs) EXPECT_EQ(monsters_are_allied(p.a, p.b), p.allied) << p.a << " " << p.b;

    adjust_damage_statistics(0, 2, 40, true, false, false, true, false); // unit 2 is of type 2
    adjust_damage_statistics(0, 99, 40, true, false, false, true, false); // no such unit
    EXPECT_EQ(get_player_statistics(0)->total_damage, 40);
    EXPECT_EQ(get_player_statistics(0)->total_kill_count, 1);
    EXPECT_EQ(get_player_statistics(2)->casualty_count, 1);

    EXPECT_EQ(monster_bumped_flag(0, 21, 160), 1); // unit 0 stands west of the ball
    EXPECT_EQ(get_flag_data(0)->location.x, 5010);
    EXPECT_EQ(monster_bumped_flag(99, 21, 160), 0);
    for (int i = 0; i < 1000; ++i) monster_bumped_flag(0, 21, 4000);
    EXPECT_EQ(get_flag_data(0)->location.x, 8191); // never off the map

    mesh_width = saved_width;
    mesh_height = saved_height;
    clear_all_registrations();
}

// Two armies of one unit per team, which a row kills off; a third unit of
// team 0's is ambient life, which counts for no team's strength.
struct two_armies
{
    bool alive[2];
    bool ambient_of_team_1;
};
two_armies armies;

bool two_armies_facts(int32_t unit_index, unit_facts *facts)
{
    if (unit_index < 0 || unit_index > 2) return false;
    if (unit_index < 2 && !armies.alive[unit_index]) return false;
    if (unit_index == 2 && !armies.ambient_of_team_1) return false;
    const int16_t team = unit_index < 2 ? (int16_t)unit_index : (int16_t)1;
    *facts = {team, team, team, unit_index, {0, 0, 0}, (int16_t)(unit_index == 2)};
    return true;
}

// From 1850 a network game (and its film) eliminates a team whose units are
// all gone at the tick they go, and the last side standing wins; games of one
// player and earlier versions go on, and only record the tick (`out_at`: the
// statistics file, the standings and the report give it once the game ends,
// as a script ends it).  Both sides gone at one tick is a draw in which each
// team's elimination time is that tick.
TEST_F(players_scoring_test, a_team_wiped_out_in_a_network_game_is_eliminated_at_its_tick)
{
    const struct
    {
        const char *name;
        int16_t type, played_type;
        int32_t version;
        bool alive_at_start[2];
        int32_t team_0_dies_at, team_1_dies_at; // NONE: never
        int32_t eliminated_at[2];
        int16_t winner;
        bool ends;
        int32_t out_at[2];
    } rows[] = {
        {"network game", _game_type_networked, NONE, 1850, {true, true}, NONE, 5, {-1, 5}, 0, true, {-1, 5}},
        {"its film", _game_type_replay, _game_type_networked, 1850, {true, true}, NONE, 5, {-1, 5}, 0, true, {-1, 5}},
        {"earlier version", _game_type_networked, NONE, 1840, {true, true}, NONE, 5, {-1, -1}, NONE, false, {-1, 5}},
        {"game of one player", _game_type_local, NONE, 1850, {true, true}, NONE, 5, {-1, -1}, NONE, false, {-1, 5}},
        {"film of a game of one player", _game_type_replay, _game_type_local, 1850, {true, true}, NONE, 5, {-1, -1},
         NONE, false, {-1, 5}},
        {"both die at one tick", _game_type_networked, NONE, 1850, {true, true}, 7, 7, {7, 7}, NONE, true, {7, 7}},
        {"both die at one tick, one player", _game_type_local, NONE, 1850, {true, true}, 7, 7, {-1, -1}, NONE, false,
         {7, 7}},
        {"one side never had a unit", _game_type_networked, NONE, 1850, {true, false}, NONE, NONE, {-1, 0}, 0, true,
         {-1, 0}},
    };
    for (const auto &row : rows)
    {
        SCOPED_TRACE(row.name);
        if (row.played_type != NONE) note_replayed_game_type(row.played_type);
        start(2);
        data = make_test_game_data(row.type, row.version, 1, 2);
        current_gameplay_version = row.version;
        begin_game_time(&data);
        initialize_players_for_new_map(&data);
        initialize_scoring_for_new_map();
        initialize_statistics_for_new_map(data.parameters.scenario_tag);
        armies = {{row.alive_at_start[0], row.alive_at_start[1]}, true};
        ASSERT_TRUE(register_unit_facts_procedure(two_armies_facts));
        for (int32_t t = 0; t < 20; ++t)
        {
            if (t == row.team_0_dies_at) armies.alive[0] = false;
            if (t == row.team_1_dies_at) armies.alive[1] = false;
            tick();
        }
        for (int16_t team = 0; team < 2; ++team)
            EXPECT_EQ(get_team_data(team)->game_time_at_elimination, row.eliminated_at[team]) << team;
        EXPECT_EQ(game_->endgame_state == _endgame_resolved, row.ends);
        EXPECT_EQ(game_->winning_team_index, row.winner);
        if (!row.ends) end_game(_game_end_decided); // as the level's script ends it, later
        {
            // The standings the lobby is sent carry the same times, and the report.
            const draxil_net_game_standings *standings = get_draxil_net_game_standings();
            for (int16_t team = 0; team < 2; ++team)
            {
                EXPECT_EQ(standings->teams[team].time_of_elimination, row.out_at[team]) << team;
                EXPECT_EQ(standings->teams[team].team_eliminated_flag, row.out_at[team] != NONE) << team;
            }
            std::string report;
            const encoded_postgame_report *r = get_encoded_postgame_report();
            for (int32_t at = 0; const char *text = get_next_encoded_postgame_report_string(r, &at);) report += text;
            EXPECT_EQ(report.find("Team 2, out at 0:00") != std::string::npos, row.out_at[1] != NONE) << report;
            // And the statistics file: its teams' rows, "team,place,score,eliminated_at,...".
            ASSERT_TRUE(save_game_statistics_csv("wiped out"));
            const std::string csv = read_whole_file("recording_stats/wiped out.csv");
            const size_t teams = csv.find("\nteam,place,score,eliminated_at,");
            ASSERT_NE(teams, std::string::npos) << csv;
            std::istringstream lines(csv.substr(csv.find('\n', teams + 1) + 1));
            for (int16_t team = 0; team < 2; ++team)
            {
                std::string line, field;
                std::getline(lines, line);
                std::istringstream fields(line);
                for (int32_t column = 0; column < 4; ++column) std::getline(fields, field, ',');
                EXPECT_EQ(field, std::to_string(row.out_at[std::stoi(line)])) << line;
            }
        }
        clear_all_registrations();
        note_replayed_game_type(_game_type_local);
    }
    current_gameplay_version = DEFAULT_GAMEPLAY_VERSION;
}

TEST_F(players_scoring_test, report_strings_read_back_in_order_and_bad_positions_stop)
{
    start(2);
    set_points(0, 1);
    end_game(_game_end_game_over);
    const encoded_postgame_report *report = get_encoded_postgame_report();
    EXPECT_EQ(report->valid_table_flags, 0x3F);
    int32_t position = 0, strings = 0;
    const char *first = get_next_encoded_postgame_report_string(report, &position);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "Victory"); // team 0 alone ahead
    for (++strings; get_next_encoded_postgame_report_string(report, &position); ++strings) {}
    EXPECT_EQ(strings, report->string_count);
    position = -5;
    EXPECT_EQ(get_next_encoded_postgame_report_string(report, &position), nullptr);
    encoded_postgame_report damaged = *report;
    memset(damaged.strings, 'x', sizeof(damaged.strings)); // no terminator anywhere
    position = 0;
    EXPECT_EQ(get_next_encoded_postgame_report_string(&damaged, &position), nullptr);
}

// Each way a game ends, on its real path: report title/first team/places/epilogue's title/its offer/survivors.
TEST_F(players_scoring_test, the_report_and_the_epilogue_tell_the_local_teams_real_outcome)
{
    const std::pair<void (*)(void), const char *> cases[] = {
        {[] { eliminate_team(1); }, "Victory/Team 1/12/Victory/next/0:2 1:3 "},
        {[] { game_->winning_team_index = 1, end_game(_game_end_decided); }, "Defeat/Red Hand/12/Defeat/again/1:3 0:2 "}, // script
        // A script ends the level with both sides standing, the loser ahead on damage: the winner still leads.
        {[] { set_points(0, 6981), set_points(1, 6116), game_->winning_team_index = 1, end_game(_game_end_decided); },
         "Defeat/Red Hand/12/Defeat/again/1:3 0:2 "},
        {[] { handle_time_limit_expired(); }, "Draw/Team 1/11/Draw/again/0:2 1:3 "},
        {[] { set_points(0, 5), end_game(_game_end_player_left); }, "Game Over/Team 1/12/Game Over/again/0:2 1:3 "}, // quit
        {[] { game_->winning_team_index = 0, end_game(_game_end_decided), game_->endgame_state = _endgame_failed_victory; },
         "Victory/Team 1/12/Defeat/again/0:2 1:3 "}, // no level after failure
        {[] { game_->type = _game_type_networked, set_points(1, 3), end_game(_game_end_game_over); },
         "Defeat/Red Hand/12/Defeat/again/1:3 0:2 "},
    };
    const tag next[2] = {FOUR_CHARACTER_CODE('n', 'e', 'x', 't'), NONE};
    for (const auto &[end, told] : cases)
    {
        start(2);
        strcpy(get_player_data(1)->appearance.team_name, "Red Hand");
        ASSERT_TRUE(register_unit_facts_procedure([](int32_t unit, unit_facts *facts) {
            *facts = {0, (int16_t)(unit / 3), (int16_t)(unit / 3), unit == 2 ? NONE : 40 + unit, {0, 0, 0}}; // 2 dead
            return unit >= 0 && unit < 6;
        }));
        tick(); // begun with two sides
        end();
        tick(2);
        std::vector<std::string> t; // title, your forces (1 + 4 + 4), standings (1 + 3 + 3 + 3)
        const encoded_postgame_report *r = get_encoded_postgame_report();
        for (int32_t at = 0; const char *text = get_next_encoded_postgame_report_string(r, &at);) t.push_back(text);
        ASSERT_GE(t.size(), 20u) << told;
        leave_running_state_for_story();
        const int16_t story = get_cached_endgame_state();
        const bool offers_next =
            choose_epilogue_outcome(story, next, false, 0, false).default_result == _epilogue_result_next_level;
        const int16_t shown = epilogue_report_outcome(story, get_local_postgame_outcome(), next);
        std::string told_now = t[0] + "/" + t[14] + "/" + t[15] + t[18] + "/" + postgame_outcome_title(shown);
        told_now += offers_next ? "/next/" : "/again/"; // then each rank's player:survivors
        for (const player_ranking_data *p : {get_player_ranking(0), get_player_ranking(1)})
            told_now += std::to_string(p->player_index) + ":" + std::to_string(p->extant_unit_count) + " ";
        EXPECT_EQ(told_now, told);
        clear_all_registrations();
    }
}

} // namespace

namespace {

// The statistics file of a game of two: its three blocks, refused names, and
// the file replaced only by a complete one.
TEST_F(players_scoring_test, statistics_file_is_written_whole_with_its_three_blocks)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);
    start(2);
    strcpy(get_player_data(0)->appearance.name, "Ann \"the\" Axe");
    strcpy(get_player_data(1)->appearance.name, "Bo");
    set_unit_statistics_type(0, 0, 100); // unit type 0 is player 0's, type 1 player 1's
    set_unit_statistics_type(1, 1, 50);
    adjust_unit_statistics(1, 2, 100);
    adjust_damage_statistics_for_unit_type(0, 1, 40, true, false, false, true, false);
    tick(45);

    ASSERT_TRUE(save_game_statistics_csv("game one"));
    const std::string text = read_whole_file("recording_stats/game one.csv");
    const std::string expected_tail =
        "\nteam,place,score,eliminated_at,enemy_kills,damage_to_enemies\n"
        "0,1,40,0,1,40\n" // out at tick 0: no unit layer runs here, so no team ever had a unit
        "1,2,0,0,0,0\n"
        "\nplayer,name,team,type,kills,casualties,casualty_cost,survivors,surviving_cost,damage_dealt,damage_taken,"
        "damage_to_allies\n"
        "0,\"Ann \"\"the\"\" Axe\",0,0,1,0,0,0,0,40,0,0\n"
        "1,\"Bo\",1,0,0,1,50,0,0,0,40,0\n"; // survivors: the units living, and no unit layer runs here
    EXPECT_EQ(text.rfind("game,scoring,rules,ticks,time\n", 0), 0u) << text;
    EXPECT_NE(text.find(",1.8.5,45,0:01\n"), std::string::npos) << text;
    ASSERT_GE(text.size(), expected_tail.size());
    EXPECT_EQ(text.substr(text.size() - expected_tail.size()), expected_tail) << text;

    const std::string long_name(300, 'x');
    const char *const refused[] = {nullptr, "", ".hidden", "a/b", "a\\b", "..", long_name.c_str()};
    for (const char *name : refused) EXPECT_FALSE(save_game_statistics_csv(name)) << (name ? name : "(null)");

    // A write that cannot finish leaves the earlier file as it was, and no partial file.
    ASSERT_TRUE(write_whole_file("recording_stats/kept.csv", "earlier\n", 8));
    set_file_step_procedure([](const char *step, const char *) { return strcmp(step, "rename") != 0; });
    EXPECT_FALSE(save_game_statistics_csv("kept"));
    set_file_step_procedure(nullptr);
    EXPECT_EQ(read_whole_file("recording_stats/kept.csv"), "earlier\n");
    EXPECT_TRUE(save_game_statistics_csv("kept"));
    EXPECT_EQ(read_whole_file("recording_stats/kept.csv"), text);
    for (const auto &entry : std::filesystem::directory_iterator("recording_stats"))
        EXPECT_EQ(entry.path().extension(), ".csv") << entry.path(); // no aside file
}

} // namespace

} // namespace players_scoring_test_file

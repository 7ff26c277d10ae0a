// The netgame procedures: the team and human-player counts of 'plyc' with its
// team filter from 1511; the clock tests of 'plan'; 'ngty' with its scoring
// types, the leading team with and without 'ties' and the patch-level floor;
// 'scor' listing each team once, at most 16, writing 16-bit scores and
// reporting them; 'goal'; 'obco' revealing and hiding one subgroup with one
// draw and the carried test by version.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <vector>

#include "map_actions/map_action_engine.h"
#include "map_actions/netgame_action_procs.h"
#include "players.h"
#include "projectile_definitions.h"
#include "scoring.h"
#include "statistics.h"
#include "vesk_random.h"

namespace netgame_action_procs_test_file {

namespace {

constexpr uint32_t OK = _map_action_proc_succeeded_flag;

struct player_setup
{
    int16_t team;
    int16_t type;
};

class netgame_action_procs_test : public script_test_world
{
protected:
    // A 16 x 16 world with these players; scoring `scoring`, the clock running.
    void start(int32_t version, const std::vector<player_setup> &players, int16_t scoring = _game_scoring_custom)
    {
        new_game_data data = make_test_game_data(_game_type_local, version, 1, (int16_t)players.size());
        for (size_t i = 0; i < players.size(); i++)
        {
            data.players[i].team_index = players[i].team;
            data.players[i].type = players[i].type;
        }
        objects_world_map map;
        map.width = map.height = 16;
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        register_map_action_procedures(map_action_engine_procedures());
        current_gameplay_version = version;
        game_->time_state = _game_time_no_countdown;
        game_->scoring = scoring;
        initialize_script_modules_for_new_map();
        game_->game_time = 0;
        set_random_seed(5);
    }
    // Runs the procedure on one action made of `action`'s entries.
    uint32_t run(uint32_t (*procedure)(int32_t), const test_action &action)
    {
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        EXPECT_TRUE(import_test_actions({action}));
        return procedure(0);
    }
    void rank_teams(const std::vector<int32_t> &scores)
    {
        for (size_t t = 0; t < scores.size(); t++) get_team_data((int32_t)t)->score = scores[t];
        force_player_statistics_update();
    }
};

test_action action(const char *tag) { return test_action{1, four(tag)}; }
test_action with_points(test_action a, const char *name, const std::vector<world_point2d> &values)
{
    points(a, name, values);
    return a;
}

const std::vector<player_setup> two_humans_and_a_computer = {
    {0, _player_is_human}, {1, _player_is_computer}, {0, _player_is_human}};

// ---- 'plyc' ------------------------------------------------------------------------------

TEST_F(netgame_action_procs_test, player_count_tests_teams_then_human_players_with_the_team_filter_from_1511)
{
    struct
    {
        const char *name;
        int32_t version;
        std::vector<std::pair<const char *, int32_t>> tests;
        uint32_t result;
    } cases[] = {
        {"two teams, more than one", 1820, {{"tc_>", 1}}, OK},
        {"two teams, exactly three", 1820, {{"tc_=", 3}}, 0},
        {"two teams, fewer than two", 1820, {{"tc_<", 2}}, 0},
        {"all three team tests", 1820, {{"tc_=", 2}, {"tc_<", 3}, {"tc_>", 1}}, OK},
        {"teams fail before players are counted", 1820, {{"tc_=", 1}, {"pc_=", 2}}, 0},
        {"two humans, the computer left out", 1820, {{"pc_=", 2}}, OK},
        {"humans fewer than three", 1820, {{"pc_<", 3}}, OK},
        {"humans more than two", 1820, {{"pc_>", 2}}, 0},
        {"team 1 has no human", 1820, {{"pc_=", 0}, {"team", 1}}, OK},
        {"team 0 has both humans", 1820, {{"pc_=", 2}, {"team", 0}}, OK},
        {"the filter is ignored at 1510", 1510, {{"pc_=", 2}, {"team", 1}}, OK},
        {"the filter counts at 1511", 1511, {{"pc_=", 2}, {"team", 1}}, 0},
        {"no test at all", 1820, {}, OK},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(start(c.version, two_humans_and_a_computer));
        test_action a = action("plyc");
        for (const auto &[name, value] : c.tests) a.ints(four(name), {value});
        EXPECT_EQ(run(player_count_action_proc, a), c.result);
        stop();
    }
}

TEST_F(netgame_action_procs_test, player_count_counts_no_computer_player)
{
    ASSERT_NO_FATAL_FAILURE(start(1820, {{0, _player_is_computer}, {1, _player_is_computer}}));
    EXPECT_EQ(run(player_count_action_proc, action("plyc").ints(four("pc_="), {0})), OK);
    EXPECT_EQ(run(player_count_action_proc, action("plyc").ints(four("pc_>"), {0})), 0u);
}

// ---- 'plan' ------------------------------------------------------------------------------

TEST_F(netgame_action_procs_test, netgame_time_tests_the_clock_state_and_the_seconds_left)
{
    ASSERT_NO_FATAL_FAILURE(start(1820, two_humans_and_a_computer));
    struct
    {
        const char *name;
        int16_t state;
        int32_t remaining;
        const char *flag;  // null: none
        int32_t seconds;   // NONE: no 'time'
        uint32_t result;
    } cases[] = {
        {"planning over, still in the pregame", _game_time_pregame, 100, "plan", NONE, 0},
        {"planning over, playing", _game_time_no_countdown, 100, "plan", NONE, OK},
        {"sudden death", _game_time_suspended_ending, 100, "deth", NONE, OK},
        {"no sudden death while ending", _game_time_ending, 100, "deth", NONE, 0},
        {"game over", _game_time_ending, 100, "over", NONE, OK},
        {"not over in the countdown", _game_time_countdown, 100, "over", NONE, 0},
        {"a minute left exactly", _game_time_countdown, 1800, nullptr, 60, OK},
        {"a tick more than a minute", _game_time_countdown, 1801, nullptr, 60, 0},
        {"no time limit is never running out", _game_time_no_countdown, NONE, nullptr, 60, 0},
        {"no test", _game_time_pregame, NONE, nullptr, NONE, OK},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        game_->time_state = c.state;
        game_->time_remaining = c.remaining;
        test_action a = action("plan");
        if (c.flag) a.flag(four(c.flag));
        if (c.seconds != NONE) a.ints(four("time"), {c.seconds});
        EXPECT_EQ(run(netgame_time_action_proc, a), c.result);
    }
}

// ---- 'ngty' ------------------------------------------------------------------------------

TEST_F(netgame_action_procs_test, game_type_matches_scoring_types_and_the_leading_team_replaces_them)
{
    ASSERT_NO_FATAL_FAILURE(start(1820, {{0, 0}, {1, 0}, {2, 0}}, _game_scoring_hunting));
    rank_teams({10, 30, 20});
    EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("type"), {11, 12})), OK);
    EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("type"), {10, 13})), 0u);
    // Types spread over two entries are combined.
    EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("type"), {10}).ints(four("type"), {12})), OK);
    // With 'team' the rankings alone decide, whatever the scoring type.
    EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("type"), {10}).ints(four("team"), {1})), OK);
    EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("type"), {12}).ints(four("team"), {2})), 0u);
    EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("team"), {1}).ints(four("scor"), {30})), OK);
    EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("team"), {1}).ints(four("scor"), {31})), 0u);
}

TEST_F(netgame_action_procs_test, game_type_shared_first_place_wins_only_with_ties)
{
    ASSERT_NO_FATAL_FAILURE(start(1820, {{0, 0}, {1, 0}, {2, 0}}));
    rank_teams({30, 10, 30});
    for (int32_t team : {0, 2})
    {
        SCOPED_TRACE(team);
        EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("team"), {team})), 0u);
        EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("team"), {team}).flag(four("ties"))), OK);
    }
    EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("team"), {1}).flag(four("ties"))), 0u);
    EXPECT_EQ(run(game_type_action_proc,
                  action("ngty").ints(four("team"), {0}).ints(four("scor"), {31}).flag(four("ties"))),
              0u);
}

TEST_F(netgame_action_procs_test, game_type_patch_levels_below_5_count_as_5_up_to_1801)
{
    struct
    {
        int32_t version;
        int32_t wanted;
        uint32_t result;
    } cases[] = {
        {1300, 5, OK}, {1300, 6, 0}, {1499, 5, OK}, {1510, 5, OK}, {1510, 6, 0},
        {1699, 6, OK}, {1699, 7, 0}, {1801, 8, OK}, {1820, 8, OK}, {1820, 9, 0},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.version << " patc " << c.wanted);
        ASSERT_NO_FATAL_FAILURE(start(c.version, {{0, 0}, {1, 0}}));
        EXPECT_EQ(run(game_type_action_proc, action("ngty").ints(four("patc"), {c.wanted})), c.result);
        stop();
    }
}

// ---- 'scor' ------------------------------------------------------------------------------

TEST_F(netgame_action_procs_test, custom_scoring_changes_nothing_outside_types_10_to_13)
{
    for (int16_t scoring : {_scoring_attrition, _scoring_king_of_the_hill, _scoring_king_of_the_hill_vux})
    {
        SCOPED_TRACE(scoring);
        ASSERT_NO_FATAL_FAILURE(start(1820, {{0, 0}, {1, 0}}, scoring));
        EXPECT_EQ(run(custom_scoring_action_proc,
                      action("scor").ints(four("team"), {0, 1}).ints(four("sets"), {50}).ints(four("scor"), {})),
                  0u);
        EXPECT_EQ(get_team_data(0)->score, 0);
        EXPECT_EQ(get_team_data(1)->score, 0);
        EXPECT_EQ(values_of<int32_t>(0, four("scor"), _parameter_integer).size(), 0u);
        stop();
    }
}

TEST_F(netgame_action_procs_test, custom_scoring_lists_each_team_once_and_reports_16_bit_scores_in_list_order)
{
    ASSERT_NO_FATAL_FAILURE(start(1820, {{0, 0}, {1, 0}, {2, 0}}, _game_scoring_cattle_drive));
    get_team_data(2)->score = 9;
    {
        // 7 names no team of this game, -1 no team at all: both refused.
        test_action a = action("scor").ints(four("team"), {1, 1, 0, 7, -1, 1, 0}).ints(four("sets"), {70000});
        a.ints(four("adds"), {-3}).ints(four("scor"), {});
        EXPECT_EQ(run(custom_scoring_action_proc, a), OK);
    }
    const int32_t sixteen_bits = (int16_t)70000 - 3;
    EXPECT_EQ(get_team_data(0)->score, sixteen_bits);
    EXPECT_EQ(get_team_data(1)->score, sixteen_bits);
    EXPECT_EQ(get_team_data(2)->score, 9);
    EXPECT_EQ(values_of<int32_t>(0, four("scor"), _parameter_integer), (std::vector<int32_t>{sixteen_bits, sixteen_bits}));

    // Only adds, reporting through a result entry that had values.
    get_team_data(1)->score = 4;
    test_action a = action("scor").ints(four("team"), {2, 1}).ints(four("adds"), {1}).ints(four("scor"), {0, 0, 0});
    EXPECT_EQ(run(custom_scoring_action_proc, a), OK);
    EXPECT_EQ(values_of<int32_t>(0, four("scor"), _parameter_integer), (std::vector<int32_t>{10, 5}));

    // Without 'team', or with no valid team, nothing changes and the test succeeds.
    EXPECT_EQ(run(custom_scoring_action_proc, action("scor").ints(four("sets"), {1}).ints(four("scor"), {})), OK);
    EXPECT_EQ(run(custom_scoring_action_proc,
                  action("scor").ints(four("team"), {5}).ints(four("sets"), {1}).ints(four("scor"), {})),
              OK);
    EXPECT_EQ(values_of<int32_t>(0, four("scor"), _parameter_integer).size(), 0u);
    EXPECT_EQ(get_team_data(2)->score, 10);
}

TEST_F(netgame_action_procs_test, custom_scoring_lists_at_most_16_teams)
{
    std::vector<player_setup> players;
    for (int16_t t = 0; t < 16; t++) players.push_back({t, _player_is_human});
    ASSERT_NO_FATAL_FAILURE(start(1820, players, _game_scoring_custom));
    ASSERT_EQ(get_team_count(), 16);
    std::vector<int32_t> teams;
    for (int32_t round = 0; round < 3; round++)
        for (int32_t t = 15; t >= 0; t--) teams.push_back(t);
    teams.push_back(16);
    EXPECT_EQ(run(custom_scoring_action_proc,
                  action("scor").ints(four("team"), teams).ints(four("adds"), {2}).ints(four("scor"), {})),
              OK);
    EXPECT_EQ(game_->scoring, _game_scoring_custom);
    const std::vector<int32_t> reported = values_of<int32_t>(0, four("scor"), _parameter_integer);
    EXPECT_EQ(reported, std::vector<int32_t>(16, 2)) << "each team added to once";
    for (int32_t t = 0; t < 16; t++) EXPECT_EQ(get_team_data(t)->score, 2);
}

// ---- 'goal' ------------------------------------------------------------------------------

TEST_F(netgame_action_procs_test, goal_needs_a_team_and_an_outline_and_never_succeeds)
{
    ASSERT_NO_FATAL_FAILURE(start(1820, {{0, 0}, {1, 0}}));
    EXPECT_EQ(run(goal_action_proc, action("goal").ints(four("team"), {1})), 0u);
    EXPECT_EQ(run(goal_action_proc, with_points(action("goal"), "poly", {{0, 0}, {512, 0}})), 0u);
    EXPECT_EQ(get_goal_count(), 0);
    EXPECT_EQ(run(goal_action_proc,
                  with_points(action("goal").ints(four("team"), {1}), "poly", {{0, 0}, {512, 0}, {512, 512}})),
              0u);
    ASSERT_EQ(get_goal_count(), 1);
    EXPECT_EQ(get_goal(0)->team_index, 1);
    ASSERT_EQ(get_goal(0)->point_count, 3);
    EXPECT_EQ(get_goal(0)->points[2].y, 512);
}

// ---- 'obco' ------------------------------------------------------------------------------

class object_control_test : public netgame_action_procs_test
{
protected:
    static constexpr tag FLAG_TAG = FOUR_CHARACTER_CODE('f', 'l', 'a', 'g');
    static constexpr tag BALL_TAG = FOUR_CHARACTER_CODE('b', 'a', 'l', 'l');
    int16_t flag_type = NONE, ball_type = NONE;

    void start_with_objects(int32_t version)
    {
        ASSERT_NO_FATAL_FAILURE(start(version, {{0, 0}, {1, 0}}));
        projectile_definition d;
        default_projectile_definition(&d);
        flag_type = (int16_t)new_definition(get_projectile_definition_group(), FLAG_TAG, &d);
        ball_type = (int16_t)new_definition(get_projectile_definition_group(), BALL_TAG, &d);
        ASSERT_NE(flag_type, NONE);
        ASSERT_NE(ball_type, NONE);
    }
    int32_t dormant(int16_t projectile_type, bool invisible)
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = _object_is_dormant_projectile;
        request.owner_index = projectile_type;
        request.location.position = {2000, 2000, 0};
        request.collection_index = NONE;
        const int32_t index = new_object(&request);
        EXPECT_NE(index, NONE);
        if (invisible) get_object(index)->flags |= _object_is_invisible_flag;
        else get_object(index)->flags &= ~(uint32_t)_object_is_invisible_flag;
        return index;
    }
    static bool hidden(int32_t object_index) { return get_object(object_index)->flags & _object_is_invisible_flag; }
    test_action control(const char *flag)
    {
        test_action a = action("obco").ints(four("type"), {(int32_t)FLAG_TAG}, _parameter_field_name);
        if (flag) a.flag(four(flag));
        return a;
    }
};

TEST_F(object_control_test, reveal_random_takes_one_draw_and_hides_the_others)
{
    ASSERT_NO_FATAL_FAILURE(start_with_objects(1820));
    set_random_seed(77);
    const int32_t expected = (int32_t)(((uint32_t)vesk_random() * 3u) >> 16);
    // Each flag starts the other way round from where it should end.
    const int32_t flags[3] = {dormant(flag_type, expected == 0), dormant(flag_type, expected == 1),
                              dormant(flag_type, expected == 2)};
    const int32_t ball = dormant(ball_type, false);
    set_random_seed(77);
    reset_random_draw_counts();
    EXPECT_EQ(run(object_control_action_proc, control("rera")), OK);
    EXPECT_EQ(get_vesk_random_draw_count(), 1u);
    for (int32_t i = 0; i < 3; i++) EXPECT_EQ(hidden(flags[i]), i != expected) << i;
    EXPECT_FALSE(hidden(ball)) << "another subgroup is left alone";

    // One object: still one draw.
    for (int32_t i = 1; i < 3; i++) delete_object(flags[i]);
    get_object(flags[0])->flags |= _object_is_invisible_flag;
    reset_random_draw_counts();
    EXPECT_EQ(run(object_control_action_proc, control("rera")), OK);
    EXPECT_EQ(get_vesk_random_draw_count(), 1u);
    EXPECT_FALSE(hidden(flags[0]));
}

TEST_F(object_control_test, reveal_all_and_hide_all_leave_carried_objects_with_the_carried_bit_of_the_version)
{
    struct
    {
        int32_t version;
        bool carried_by_flags; // bit 0 of flags, else the extra flag
        bool hide_all_exists;
    } cases[] = {{1690, true, false}, {1691, true, true}, {1710, true, true}, {1711, false, true}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.version);
        ASSERT_NO_FATAL_FAILURE(start_with_objects(c.version));
        const int32_t loose = dormant(flag_type, true);
        const int32_t by_flags = dormant(flag_type, true);
        const int32_t by_extra = dormant(flag_type, true);
        get_object(by_flags)->flags |= 1u;
        get_object(by_extra)->extra_flags |= _object_is_being_carried_extra_flag;
        const int32_t carried = c.carried_by_flags ? by_flags : by_extra;
        const int32_t not_carried = c.carried_by_flags ? by_extra : by_flags;

        reset_random_draw_counts();
        EXPECT_EQ(run(object_control_action_proc, control("real")), OK);
        EXPECT_FALSE(hidden(loose));
        EXPECT_FALSE(hidden(not_carried));
        EXPECT_TRUE(hidden(carried));

        get_object(carried)->flags &= ~(uint32_t)_object_is_invisible_flag;
        EXPECT_EQ(run(object_control_action_proc, control("hial")), c.hide_all_exists ? OK : 0u);
        EXPECT_EQ(hidden(loose), c.hide_all_exists);
        EXPECT_EQ(hidden(not_carried), c.hide_all_exists);
        EXPECT_FALSE(hidden(carried));
        EXPECT_EQ(get_vesk_random_draw_count(), 0u);
        stop();
    }
}

TEST_F(object_control_test, without_a_type_or_objects_nothing_happens)
{
    ASSERT_NO_FATAL_FAILURE(start_with_objects(1820));
    const int32_t ball = dormant(ball_type, true);
    reset_random_draw_counts();
    EXPECT_EQ(run(object_control_action_proc, action("obco").flag(four("rera"))), 0u);
    EXPECT_EQ(run(object_control_action_proc, control("rera")), 0u) << "no flag objects";
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    EXPECT_TRUE(hidden(ball));
    dormant(flag_type, true);
    EXPECT_EQ(run(object_control_action_proc, control(nullptr)), 0u) << "no flag given";
}

} // namespace

} // namespace netgame_action_procs_test_file

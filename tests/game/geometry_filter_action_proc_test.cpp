// The geometry filter 'geom': a polygon's inside and outside lists written to
// result actions and read back by a 'tuni', the random choices at 1720 and
// 1721 against draws of a known seed, a full list of 400, the running count
// up to 1600 held to the list's room, the conflict of inputs, 'coun', the
// list-building tests and their locations, and the result passes.

#include "script_unit_world.h"

#include "support/expected_assertions.h"

#include <algorithm>

#include "map_actions/geometry_filter_action_proc.h"

namespace geometry_filter_action_proc_test_file {

namespace {

constexpr uint32_t ran = _map_action_proc_executed_flag;
constexpr uint32_t passed = _map_action_proc_executed_flag | _map_action_proc_succeeded_flag;

// A square from (1000, 1000) to (3000, 3000), wound so that its inside is on
// the inner side of every edge.
const std::vector<world_point2d> square = {{1000, 1000}, {3000, 1000}, {3000, 3000}, {1000, 3000}};

class geometry_filter_action_proc_test : public script_unit_world
{
protected:
    // Units 101..103 inside the square, 104 and 105 outside, listed mixed.
    std::vector<int16_t> five_units(void)
    {
        place_unit(0, {3800, 3800}, 104);
        place_unit(0, {1500, 1500}, 101);
        place_unit(1, {500, 500}, 105);
        place_unit(0, {2000, 2000}, 102);
        place_unit(1, {2500, 2500}, 103);
        return {104, 101, 105, 102, 103};
    }
    test_action result_action(int16_t identifier) { return test_action{identifier, (action_tag)NONE}; }
};

TEST_F(geometry_filter_action_proc_test, polygon_lists_reach_their_result_actions_and_a_unit_test_counts_them)
{
    const std::vector<int16_t> subjects = five_units();
    test_action geom{1, four("geom")};
    geom.units(four("subj"), subjects).flag(four("clpo")).ids(four("resu"), {2, 3});
    points(geom, "poly", square);
    names(geom, "insi", {"in__", "subj"});
    names(geom, "outs", {"out_", "xout"});
    test_action tuni{3, four("tuni")};
    tuni.ints(four("___="), {3});
    ASSERT_TRUE(import_test_actions({geom, result_action(2), tuni}));

    EXPECT_EQ(trigger_map_action(0), passed);
    EXPECT_EQ(unit_list(1, "in__"), (std::vector<int16_t>{101, 102, 103}));
    EXPECT_EQ(unit_list(1, "out_"), (std::vector<int16_t>{104, 105}));
    EXPECT_EQ(unit_list(2, "subj"), (std::vector<int16_t>{101, 102, 103}));
    EXPECT_EQ(unit_list(2, "xout"), (std::vector<int16_t>{104, 105}));
    EXPECT_EQ(trigger_map_action(2), passed);

    // A second run replaces the lists rather than appending to them.
    EXPECT_EQ(trigger_map_action(0), passed);
    EXPECT_EQ(unit_list(1, "in__").size(), 3u);
    EXPECT_EQ(trigger_map_action(2), passed);
}

TEST_F(geometry_filter_action_proc_test, only_passes_with_a_list_name_of_their_own_are_written)
{
    five_units();
    test_action geom{1, four("geom")};
    geom.units(four("subj"), {101, 104}).flag(four("_map")).ids(four("resu"), {2, 3, 99});
    names(geom, "insi", {"in__"});
    ASSERT_TRUE(import_test_actions({geom, result_action(2), result_action(3)}));
    EXPECT_EQ(trigger_map_action(0), passed);
    EXPECT_EQ(unit_list(1, "in__"), (std::vector<int16_t>{101, 104}));
    EXPECT_TRUE(unit_list(2, "in__").empty());
    map_action_parameter absent;
    EXPECT_FALSE(get_map_action_parameter(&absent, 2, _dont_resolve_links_flag | _return_empty_arrays_flag, four("in__"),
                                          _parameter_monster_identifier));
}

TEST_F(geometry_filter_action_proc_test, refusals_write_nothing)
{
    five_units();
    struct row
    {
        const char *name;
        std::function<void(test_action &)> build;
    };
    const std::vector<row> rows = {
        {"units and objects", [](test_action &a) { a.units(four("subj"), {101}); names(a, "type", {"pra0"}); }},
        {"no test", [](test_action &a) { a.units(four("subj"), {101}); }},
        {"too few items", [](test_action &a) { a.units(four("subj"), {101}).flag(four("_map")).ints(four("_min"), {2}); }},
        {"nothing to test", [](test_action &a) { a.units(four("subj"), {999}).flag(four("_map")); }},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        test_action geom{1, four("geom")};
        r.build(geom);
        names(geom, "insi", {"in__"});
        ASSERT_TRUE(import_test_actions({geom}));
        EXPECT_EQ(trigger_map_action(0), ran);
        EXPECT_TRUE(unit_list(0, "in__").empty());
    }
}

TEST_F(geometry_filter_action_proc_test, count_marks_the_first_items_inside_whatever_the_polygon_said)
{
    five_units();
    test_action geom{1, four("geom")};
    geom.units(four("subj"), {104, 101, 105, 102, 103}).flag(four("clpo")).ints(four("coun"), {3});
    points(geom, "poly", square);
    names(geom, "insi", {"in__"});
    names(geom, "outs", {"out_"});
    ASSERT_TRUE(import_test_actions({geom}));
    EXPECT_EQ(trigger_map_action(0), passed);
    EXPECT_EQ(unit_list(0, "in__"), (std::vector<int16_t>{104, 101, 105}));
    EXPECT_EQ(unit_list(0, "out_"), (std::vector<int16_t>{102, 103}));
}

// Five candidates, at most three chosen, seed 11.  From 1721 a partial
// shuffle: j = i + (r * remaining) >> 16.  Up to 1720 each pick draws
// k = (r * (n - 1)) >> 16 until an untaken one comes up.
TEST_F(geometry_filter_action_proc_test, random_choices_follow_their_draws_at_1720_and_1721)
{
    five_units();
    const std::vector<int16_t> order = {104, 101, 105, 102, 103};
    for (int32_t version : {1720, 1721})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        set_random_seed(11);
        std::vector<uint32_t> r;
        for (int i = 0; i < 64; i++) r.push_back(vesk_random());
        std::vector<int16_t> expected;
        size_t used = 0;
        if (version == 1721)
        {
            std::vector<int16_t> pool = order;
            for (int32_t i = 0; i < 3; i++)
            {
                const int32_t j = i + (int32_t)((r[used++] * (uint32_t)(5 - i)) >> 16);
                std::swap(pool[i], pool[j]);
                expected.push_back(pool[i]);
            }
        }
        else
        {
            bool taken[5] = {};
            while (expected.size() < 3)
            {
                int32_t pick = -1;
                for (int draw = 0; draw < 20 && pick < 0; draw++)
                {
                    const int32_t k = (int32_t)((r[used++] * 4u) >> 16);
                    if (!taken[k]) pick = k;
                }
                ASSERT_GE(pick, 0);
                ASSERT_LT(pick, 4); // the last candidate is never drawn
                taken[pick] = true;
                expected.push_back(order[pick]);
            }
        }

        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        test_action geom{1, four("geom")};
        geom.units(four("subj"), order).flag(four("_map")).flag(four("rand")).ints(four("_max"), {3});
        names(geom, "insi", {"in__"});
        ASSERT_TRUE(import_test_actions({geom}));
        set_random_seed(11);
        EXPECT_EQ(trigger_map_action(0), passed);
        EXPECT_EQ(unit_list(0, "in__"), expected);
        EXPECT_EQ(vesk_random(), r[used]);
    }
}

TEST_F(geometry_filter_action_proc_test, random_outside_lists_are_drawn_from_the_inside_items)
{
    five_units();
    for (int32_t version : {1720, 1721})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        test_action geom{1, four("geom")};
        geom.units(four("subj"), {104, 101, 102}).flag(four("clpo")).flag(four("rand"));
        points(geom, "poly", square);
        names(geom, "outs", {"out_"});
        ASSERT_TRUE(import_test_actions({geom}));
        EXPECT_EQ(trigger_map_action(0), passed);
        std::vector<int16_t> written = unit_list(0, "out_");
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, (std::vector<int16_t>{101, 102})); // 104 is the one outside
    }
    // Up to 1720 a single pick among two always lands on the first.
    current_gameplay_version = 1720;
    for (uint32_t seed : {1u, 2u, 3u, 77u})
    {
        int16_t chosen[1];
        const int16_t candidates[2] = {7, 8};
        set_random_seed(seed);
        ASSERT_EQ(bogo_select(candidates, 2, 1, chosen), 1);
        EXPECT_EQ(chosen[0], 7) << seed;
    }
}

// A full list: 400 units.  Up to 1600 the 'team' test's running count starts
// from the polygon's 400 inside items; the list still ends at 400.
TEST_F(geometry_filter_action_proc_test, the_list_holds_four_hundred_items_and_never_more)
{
    std::vector<int16_t> all;
    for (int16_t i = 0; i < 400; i++)
    {
        place_unit((int16_t)(i % 2), {100 + (i % 20) * 190, 100 + (i / 20) * 190}, (int16_t)(1000 + i));
        all.push_back((int16_t)(1000 + i));
    }
    const std::vector<world_point2d> everywhere = {{0, 0}, {4000, 0}, {4000, 4000}, {0, 4000}};
    for (int32_t version : {1600, 1601})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        dispose_map_actions_from_old_map();
        initialize_map_actions_for_new_map();
        test_action geom{1, four("geom")};
        geom.units(four("subj"), all).flag(four("clpo")).ints(four("team"), {0});
        points(geom, "poly", everywhere);
        names(geom, "insi", {"in__"});
        ASSERT_TRUE(import_test_actions({geom}));
        EXPECT_EQ(trigger_map_action(0), passed);
        const std::vector<int16_t> inside = unit_list(0, "in__");
        if (version == 1600)
        {
            ASSERT_EQ(inside.size(), 400u);
            EXPECT_EQ(inside[0], 1000); // the team's units first, then the earlier items
            EXPECT_EQ(inside[199], 1398);
            EXPECT_EQ(inside[200], all[200]);
        }
        else
        {
            ASSERT_EQ(inside.size(), 200u); // exactly the team's units
            EXPECT_EQ(inside[1], 1002);
        }
    }
}

TEST_F(geometry_filter_action_proc_test, team_and_type_tests_build_the_list_with_unit_positions)
{
    int16_t other_unit = NONE;
    const int16_t other_type = add_monster_type(&other_unit);
    get_unit_definition(other_unit)->monster_tag = four("mon2");
    place_unit(0, {1000, 1200}, 1);
    place_unit(1, {2000, 2200}, 2);
    const int32_t stranger = make_unit(0, {3000, 3200, 0}, other_type, other_unit);
    monster(stranger)->identifier = 3;

    current_gameplay_version = 1700;
    test_action geom{1, four("geom")};
    geom.ints(four("team"), {0});
    names(geom, "mons", {"mons"});
    names(geom, "insi", {"in__"});
    names(geom, "inlo", {"at__"});
    ASSERT_TRUE(import_test_actions({geom}));
    EXPECT_EQ(trigger_map_action(0), passed);
    // The type test comes last and restarts the list: the 'mons' units of both teams.
    EXPECT_EQ(unit_list(0, "in__"), (std::vector<int16_t>{1, 2}));
    const std::vector<world_point2d> at = values_of<world_point2d>(0, four("at__"), _parameter_world_point2d);
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[0].x, 1000);
    EXPECT_EQ(at[0].y, 1200);
    EXPECT_EQ(at[1].x, 2000);
    EXPECT_EQ(at[1].y, 2200);
}

} // namespace

} // namespace geometry_filter_action_proc_test_file

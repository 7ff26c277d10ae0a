// The group state procedures over a world of units: a group runs its states
// until one changes them; a guard attacks by the radii rule with exactly
// one draw in the band beyond the inner radius; a split picks its setup by
// thresholds, sizes subgroups by counts and fractions and never hangs on a
// negative count; a platoon picks and drops its state; squads are placed
// around the platoon's destination turned by its facing.

#include "group_script_world.h"

#include <string>

#include "cseries/log.h"
#include "support/expected_assertions.h"
#include "support/scratch.h"

namespace group_action_procs_test_file {

namespace {

class group_action_procs_test : public group_script_world
{
};

// The band of the guard rule, with its draw counted: inside the inner
// radius, already attacking, beyond the band and beyond the outer radius no
// value is drawn; inner = outer never divides.
TEST_F(group_action_procs_test, guard_radii_rule_attacks_by_band_with_one_draw_in_the_band)
{
    struct row
    {
        int32_t distance, inner, outer;
        bool attacking;
        int32_t chance; // the draw must lie below it; -1: no draw, `expected` stands
        bool expected;
    };
    const row rows[] = {
        {500, 1024, 4096, false, -1, true},           // inside the inner radius
        {1124, 1024, 4096, true, -1, true},           // p = 100, already attacking
        {1124, 1024, 4096, false, 16384 - 533, false}, // p = 100: 16384 + 100 x 16384 / -3072
        {1024, 1024, 4096, false, 16384, false},      // p = 0
        {1024 + 8191, 1024, 16384, false, 16384 - 8191 * 16384 / 15360, false},
        {1024 + 8192, 1024, 16384, true, -1, false},  // beyond the band
        {4096, 1024, 4096, true, -1, false},          // at the outer radius
        {2000, 2000, 2000, false, -1, false},         // inner = outer: no band
        {1999, 2000, 2000, false, -1, true},
    };
    for (const row &r : rows)
        for (uint32_t seed = 1; seed <= 24; seed++)
        {
            SCOPED_TRACE(testing::Message() << r.distance << " " << r.inner << " " << r.outer << " seed " << seed);
            set_random_seed(seed);
            const int32_t draw = vesk_random();
            set_random_seed(seed);
            const uint32_t mark = get_vesk_random_draw_count();
            const bool attack = guard_radii_call_for_attack(r.distance, r.inner, r.outer, r.attacking);
            if (r.chance < 0)
            {
                EXPECT_EQ(attack, r.expected);
                EXPECT_EQ(draws_since(mark), 0u);
            }
            else
            {
                EXPECT_EQ(attack, r.chance > draw);
                EXPECT_EQ(draws_since(mark), 1u);
            }
        }
}

// A seed whose first draw lies below (or at or above) `chance`.
uint32_t seed_drawing(bool below, int32_t chance)
{
    for (uint32_t seed = 1;; seed++)
    {
        set_random_seed(seed);
        if ((vesk_random() < chance) == below) return seed;
    }
}

TEST_F(group_action_procs_test, group_stops_running_states_once_one_changes_the_state)
{
    start();
    test_action group{1, four("grou")};
    group.ids(four("stat"), {2, 3});
    test_action changer{2, four("chng")};
    changer.ids(four("next"), {3});
    test_action second{3, four("recd")};
    test_action not_a_group{4, four("recd")};
    ASSERT_TRUE(import_test_actions({group, changer, second, not_a_group}));

    trigger_map_action(action(1));
    EXPECT_EQ(runs(), std::vector<int16_t>({2}));
    EXPECT_EQ(own_identifiers(2, "owgr"), std::vector<int16_t>({1}));
    EXPECT_EQ(own_identifiers(1, "stat"), std::vector<int16_t>({3}));
    EXPECT_EQ(own_integer(1, "subs"), NONE);
    EXPECT_EQ(own_integer(3, "subs"), NONE);
    runs().clear();
    trigger_map_action(action(1));
    EXPECT_EQ(runs(), std::vector<int16_t>({3}));
    EXPECT_EQ(own_integer(1, "subs"), _substate_active);

    // More than 16 states keep the first 16; an action that is no group keeps nothing.
    std::vector<int16_t> many;
    for (int16_t i = 0; i < 20; i++) many.push_back((int16_t)(100 + i));
    set_group_action_state(action(1), many.data(), (int32_t)many.size());
    EXPECT_EQ(own_identifiers(1, "stat").size(), 16u);
    set_group_action_state(action(4), many.data(), 3);
    EXPECT_FALSE(has_own(4, "stat", _parameter_action_identifier));
}

class guard_test : public group_action_procs_test
{
protected:
    // Group 1 of three units of team 0 around (8000, 8000) (and `missing`,
    // an identifier naming no unit), guard 2, its states 3 (guarding) and 4
    // (attacking), reset 5; one enemy unit `enemy_distance` east of the point.
    void build(int32_t enemy_distance, bool missing_unit)
    {
        start();
        std::vector<int16_t> ours = {soldier(0, {8000, 7900}, 11), soldier(0, {8000, 8000}, 12),
                                     soldier(0, {8000, 8100}, 13)};
        if (missing_unit) ours.push_back(99);
        soldier(1, {8000 + enemy_distance, 8000}, 21);
        test_action group{1, four("grou")};
        group.units(four("subj"), ours).ids(four("stat"), {2});
        test_action guard{2, four("guar")};
        points(guard, "poin", {{8000, 8000}});
        distances(guard, "radi", {1024, 4096});
        guard.ids(four("acti"), {3, 4}).ids(four("rese"), {5});
        ASSERT_TRUE(import_test_actions({group, guard, {3, four("recd")}, {4, four("recd")}, {5, four("recd")}}));
        build_spatial_groups();
    }
};

TEST_F(guard_test, a_guard_near_the_inner_radius_attacks_on_one_draw_and_then_keeps_attacking)
{
    const int32_t chance = 16384 - 533; // p = 100
    build(1124, false);
    set_random_seed(seed_drawing(true, chance));
    uint32_t mark = get_vesk_random_draw_count();
    trigger_map_action(action(1));
    EXPECT_EQ(draws_since(mark), 1u);
    EXPECT_EQ(own_integer(2, "subs"), _substate_attacking);
    EXPECT_TRUE(runs().empty()); // the attack goes to the attack AI, not to a state action

    // Attacking, the band attacks again without a draw.
    mark = get_vesk_random_draw_count();
    trigger_map_action(action(1));
    EXPECT_EQ(draws_since(mark), 0u);
    EXPECT_EQ(own_integer(2, "subs"), _substate_attacking);

    // The enemy gone past the outer radius: the group guards again.
    place(index_of(21), {8000 + 5000, 8000});
    build_spatial_groups();
    trigger_map_action(action(1));
    EXPECT_EQ(own_integer(2, "subs"), _substate_guarding);
    EXPECT_EQ(runs(), std::vector<int16_t>({3}));
    EXPECT_EQ(own_identifiers(3, "subj", _parameter_monster_identifier), std::vector<int16_t>({11, 12, 13}));
}

TEST_F(guard_test, a_guard_that_loses_the_draw_guards_once_and_then_stays_quiet)
{
    build(1124, false);
    set_random_seed(seed_drawing(false, 16384 - 533));
    trigger_map_action(action(1));
    EXPECT_EQ(own_integer(2, "subs"), _substate_guarding);
    EXPECT_EQ(runs(), std::vector<int16_t>({3}));
    // Unchanged and not attacking: nothing more happens.
    set_random_seed(seed_drawing(false, 16384 - 533));
    trigger_map_action(action(1));
    EXPECT_EQ(runs(), std::vector<int16_t>({3}));
}

TEST_F(guard_test, a_guard_that_lost_units_calls_its_reset_action_without_storing_its_state)
{
    build(20000, true);
    trigger_map_action(action(1));
    EXPECT_EQ(runs(), std::vector<int16_t>({5}));
    EXPECT_EQ(own_integer(2, "subs"), -12345);
}

class split_test : public group_action_procs_test
{
protected:
    // Group 1 owns `count` units of team 0 in a row eastwards from x = 2000,
    // 100 apart (identifiers 101...); split 2 is its state.  Thresholds
    // [5, 10]: 'few_' (one setup taking all), 'some' (two), 'many' (four:
    // 5 units nearest the east end, half of the rest, a negative count, the
    // rest).
    void build(int32_t count)
    {
        start();
        std::vector<int16_t> ours;
        for (int32_t i = 0; i < count; i++) ours.push_back(soldier(0, {2000 + 100 * i, 4000}, (int16_t)(101 + i)));
        test_action group{1, four("grou")};
        group.units(four("subj"), ours).ids(four("stat"), {2});
        test_action split{2, four("spup")};
        split.ints(four("thre"), {5, 10});
        split.ints(four("setu"), {(int32_t)four("few_"), (int32_t)four("some"), (int32_t)four("many")},
                   _parameter_field_name);
        split.ids(four("few_"), {10}).ids(four("some"), {10, 10}).ids(four("many"), {11, 12, 13, 10});
        test_action all{10, four("recd")};
        all.ids(four("init"), {20});
        test_action east{11, four("recd")};
        east.ints(four("coun"), {5});
        points(east, "deci", {{100000, 4000}});
        test_action half{12, four("recd")};
        half.fixeds(four("coun"), {0x8000});
        test_action negative{13, four("recd")};
        negative.ints(four("coun"), {-2});
        ASSERT_TRUE(import_test_actions({group, split, all, east, half, negative, {20, four("recd")}}));
    }
    std::vector<size_t> subgroup_sizes(void)
    {
        std::vector<size_t> sizes;
        for (int16_t child : own_identifiers(2, "chil"))
            sizes.push_back(own_identifiers(child, "subj", _parameter_monster_identifier).size());
        return sizes;
    }
};

TEST_F(split_test, thresholds_choose_the_setup_list_by_the_living_unit_count)
{
    const struct
    {
        int32_t units;
        std::vector<size_t> sizes;
    } rows[] = {{12, {5, 3, 0, 4}}, {11, {5, 3, 0, 3}}, {10, {10, 0}}, {6, {6, 0}}, {5, {5}}, {1, {1}}};
    for (const auto &r : rows)
    {
        SCOPED_TRACE(r.units);
        build(r.units);
        trigger_map_action(action(1));
        EXPECT_EQ(subgroup_sizes(), r.sizes);
        // The owner's state is the subgroups, each a group with its setup's initial state.
        const std::vector<int16_t> children = own_identifiers(2, "chil");
        EXPECT_EQ(own_identifiers(1, "stat"), children);
        EXPECT_EQ(own_integer(1, "subs"), NONE);
        for (int16_t child : children) EXPECT_EQ(get_map_action_tag(action(child)), four("grou"));
        EXPECT_EQ(own_identifiers(children.back(), "stat"), std::vector<int16_t>({20}));
        if (r.sizes.size() == 4)
        {
            EXPECT_TRUE(own_identifiers(children[0], "stat").empty());
        }
        stop();
    }
}

TEST_F(split_test, subgroups_take_the_nearest_units_first_and_a_new_split_replaces_them)
{
    build(12);
    trigger_map_action(action(1));
    const std::vector<int16_t> first = own_identifiers(2, "chil");
    ASSERT_EQ(first.size(), 4u);
    // The east setup takes the five units nearest its point, nearest first.
    EXPECT_EQ(own_identifiers(first[0], "subj", _parameter_monster_identifier),
              std::vector<int16_t>({112, 111, 110, 109, 108}));
    // Half of the seven left (3.5) is three, taken in list order without a point.
    EXPECT_EQ(own_identifiers(first[1], "subj", _parameter_monster_identifier), std::vector<int16_t>({101, 102, 103}));
    EXPECT_EQ(own_identifiers(first[3], "subj", _parameter_monster_identifier),
              std::vector<int16_t>({104, 105, 106, 107}));

    // Run again: the old subgroups are deleted, new ones made.
    set_group_action_state(action(1), std::vector<int16_t>({2}).data(), 1);
    trigger_map_action(action(1));
    EXPECT_EQ(own_identifiers(2, "chil").size(), 4u);
    int32_t groups = 0;
    for (int32_t index = 0; index < get_map_action_array()->count; index++)
        if (get_map_action_tag(index) == four("grou")) groups++;
    EXPECT_EQ(groups, 1 + 4);
}

TEST_F(group_action_procs_test, split_without_matching_setup_lists_changes_nothing)
{
    start();
    soldier(0, {2000, 2000}, 101);
    test_action group{1, four("grou")};
    group.units(four("subj"), {101}).ids(four("stat"), {2});
    test_action split{2, four("spup")};
    split.ints(four("thre"), {5, 10}).ints(four("setu"), {(int32_t)four("few_")}, _parameter_field_name);
    ASSERT_TRUE(import_test_actions({group, split}));
    trigger_map_action(action(1));
    EXPECT_FALSE(has_own(2, "chil", _parameter_action_identifier));
    EXPECT_EQ(own_identifiers(1, "stat"), std::vector<int16_t>({2}));
}

class platoon_test : public group_action_procs_test
{
};

TEST_F(platoon_test, a_platoon_with_nothing_to_do_asks_to_be_deactivated)
{
    start();
    ASSERT_TRUE(import_test_actions({{1, four("plat")}}));
    EXPECT_EQ(trigger_map_action(0), _map_action_proc_executed_flag | _map_action_proc_deactivate_flag);
}

TEST_F(platoon_test, a_platoon_picks_one_state_at_random_and_its_squads_report)
{
    start();
    soldier(0, {3000, 3000}, 31);
    test_action platoon{1, four("plat")};
    platoon.ids(four("stat"), {2, 3, 99}).ids(four("init"), {5, 6});
    test_action squad_a{5, four("squa")};
    squad_a.units(four("subj"), {31});
    ASSERT_TRUE(import_test_actions({platoon, {2, four("recd")}, {3, four("recd")}, squad_a, {6, four("squa")}}));

    uint32_t seed = 1;
    for (;; seed++)
    {
        set_random_seed(seed);
        if (vesk_random() % 3 == 1) break;
    }
    set_random_seed(seed);
    const uint32_t mark = get_vesk_random_draw_count();
    EXPECT_EQ(trigger_map_action(action(1)), _map_action_proc_executed_flag);
    EXPECT_EQ(draws_since(mark), 1u);
    EXPECT_FALSE(has_own(1, "stat", _parameter_action_identifier)); // the whole list is used up
    EXPECT_EQ(own_identifiers(1, "#cst"), std::vector<int16_t>({3}));
    EXPECT_EQ(own_identifiers(3, "#own"), std::vector<int16_t>({1}));
    EXPECT_EQ(own_integer(3, "#sub"), NONE);
    EXPECT_EQ(runs(), std::vector<int16_t>({3}));
    EXPECT_EQ(own_identifiers(1, "#squ"), std::vector<int16_t>({5, 6}));
    EXPECT_EQ(own_identifiers(5, "#owp"), std::vector<int16_t>({1}));
    // Later runs trigger the state without drawing.
    EXPECT_EQ(trigger_map_action(action(1)), _map_action_proc_executed_flag);
    EXPECT_EQ(runs(), std::vector<int16_t>({3, 3}));
}

TEST_F(platoon_test, a_picked_state_naming_no_action_is_traced_as_none_and_ends_the_platoon)
{
    start();
    test_action platoon{1, four("plat")};
    platoon.ids(four("stat"), {99}).flag(four("debg"));
    ASSERT_TRUE(import_test_actions({platoon}));
    scratch_directory directory;
    ASSERT_TRUE(directory.entered);
    ASSERT_TRUE(open_log_file_at("trace.txt", "test"));
    const uint32_t result = trigger_map_action(0);
    close_log_file();
    EXPECT_EQ(result, _map_action_proc_executed_flag | _map_action_proc_deactivate_flag);
    const std::string trace = read_whole_file("trace.txt");
    EXPECT_NE(trace.find("platoon state set to: <none>"), std::string::npos) << trace;
    EXPECT_NE(trace.find("no state (deactivating)"), std::string::npos) << trace;
}

// Two squads of one unit each; the platoon faces a quarter turn and is sent
// to (5000, 5000) facing 0: each squad's place, taken relative to the
// platoon's centre, turns a quarter turn anticlockwise.
TEST_F(platoon_test, squads_are_sent_to_their_places_turned_by_the_platoon_facing)
{
    start();
    soldier(0, {1000, 1500}, 41);
    soldier(0, {1500, 1000}, 42);
    test_action platoon{1, four("plat")};
    points(platoon, "cent", {{1000, 1000}});
    angles(platoon, "faci", {16384});
    platoon.ids(four("init"), {5, 6, 7, 8});
    test_action squad_a{5, four("squa")};
    squad_a.units(four("subj"), {41}).ints(four("form"), {0});
    points(squad_a, "cent", {{1000, 1500}});
    test_action squad_b{6, four("squa")};
    squad_b.units(four("subj"), {42}).ints(four("form"), {4});
    points(squad_b, "cent", {{1500, 1000}});
    angles(squad_b, "faci", {8192});
    test_action no_units{7, four("squa")};
    no_units.units(four("subj"), {77}).ints(four("form"), {0});
    points(no_units, "cent", {{0, 0}});
    test_action no_formation{8, four("squa")};
    no_formation.units(four("subj"), {41});
    points(no_formation, "cent", {{0, 0}});
    ASSERT_TRUE(import_test_actions({platoon, squad_a, squad_b, no_units, no_formation}));

    reset_platoon(action(1));
    EXPECT_EQ(own_identifiers(1, "#squ"), std::vector<int16_t>({5, 6, 7, 8}));
    const world_point2d destination = {5000, 5000};
    generate_platoon_movement_commands(action(1), &destination, 0);

    const monster_data *a = unit(index_of(41));
    const monster_data *b = unit(index_of(42));
    EXPECT_EQ(a->waypoints[0].x, 4500);
    EXPECT_EQ(a->waypoints[0].y, 5000);
    EXPECT_EQ(a->final_desired_yaw, 0);
    EXPECT_EQ(b->waypoints[0].x, 5000);
    EXPECT_EQ(b->waypoints[0].y, 5500);
    EXPECT_EQ(b->final_desired_yaw, 8192);
    EXPECT_EQ(b->internal_command_identifier, 6); // in the squad's name
    // Squads that cannot be ordered count as arrived.
    EXPECT_FALSE(succeeded(5));
    EXPECT_FALSE(succeeded(6));
    EXPECT_TRUE(succeeded(7));
    EXPECT_TRUE(succeeded(8));
    // Unit 41 keeps the order of its own squad, not the one without a formation.
    EXPECT_EQ(a->internal_command_identifier, 5);

    // A squad whose units are all gone is marked by the elimination test.
    test_squad_for_elimination(action(6));
    EXPECT_FALSE(succeeded(6));
    test_squad_for_elimination(action(7));
    EXPECT_TRUE(succeeded(7));
}

} // namespace

} // namespace group_action_procs_test_file

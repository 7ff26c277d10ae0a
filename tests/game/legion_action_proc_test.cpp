// Legions over a world of units: the retreat along the line and the
// fallback when the enemy's range covers all of it, the set-up's partial
// failures, guard dependencies outside the legion by version, the thresholds
// below which a group gets no new order, and ally calls, damage and the
// attack they start.

#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <string>
#include <vector>

#include "map_actions/legion_action_proc.h"
#include "monster_commands.h"

namespace legion_action_proc_test_file {

namespace {

constexpr uint32_t executed = _map_action_proc_executed_flag;
constexpr uint32_t deactivated = _map_action_proc_deactivate_flag;

class legion_action_proc_test : public script_test_world
{
protected:
    void SetUp() override
    {
        start_unit_store();
        // Units that stand still and reach 3000 (the enemy's range).
        ASSERT_NO_FATAL_FAILURE(write_unit_tags([](monster_definition &m) {
            m.base_movement_speed = 0;
            m.longest_range = 3000;
        }));
        ASSERT_NO_FATAL_FAILURE(initialize_script_modules());
    }
    void start(int32_t version = 1820)
    {
        start_world(64, 64, version);
        initialize_script_modules_for_new_map();
        game_->game_time = 32;
    }
    monster_data *by_id(int16_t identifier) { return unit(index_of(identifier)); }
    int32_t action(int16_t identifier) { return action_identifier_to_action_index(identifier); }
    uint32_t run(int16_t identifier)
    {
        build_spatial_groups();
        return trigger_map_action(action(identifier));
    }
    bool has_globals(int16_t identifier)
    {
        legion_action_proc_globals g;
        return get_map_action_structure(action(identifier), _common_internal_field_name_globals, sizeof(g), &g);
    }
    legion_action_proc_globals globals_of(int16_t identifier)
    {
        legion_action_proc_globals g;
        memset(&g, 0, sizeof(g));
        EXPECT_TRUE(get_map_action_structure(action(identifier), _common_internal_field_name_globals, sizeof(g), &g));
        return g;
    }
    void store_globals(int16_t identifier, const legion_action_proc_globals &g)
    {
        ASSERT_TRUE(set_unique_map_action_parameter(action(identifier), _common_internal_field_name_globals,
                                                    _parameter_character, sizeof(g), &g));
    }
    bool is_active(int16_t identifier) { return get_map_action(action(identifier))->flags & _map_action_is_active_flag; }
    bool ordered(int16_t unit_identifier)
    {
        return by_id(unit_identifier)->internal_command_identifier == INTERNAL_COMMAND_IDENTIFIER_NO_ACTION;
    }
    int32_t log_count(const std::string &text, size_t from)
    {
        const std::string log = log_text();
        int32_t n = 0;
        for (size_t at = log.find(text, from); at != std::string::npos; at = log.find(text, at + 1)) n++;
        return n;
    }
};

// A legion along y = 10000 from x = 10000 to x = 11000 (one group in
// container 20) with fallback action 30.
test_action line_legion(int16_t identifier, int32_t x1 = 11000)
{
    test_action legion{identifier, four("legi")};
    points(legion, "line", {{10000, 10000}, {x1, 10000}});
    legion.ints(four("coun"), {1}).ids(four("grun"), {20});
    return legion;
}
test_action container(int16_t identifier, std::vector<int16_t> units)
{
    test_action c{identifier, four("cont")};
    c.units(four("subj"), units);
    return c;
}

// ---- retreat and fallback -----------------------------------------------------------------------

TEST_F(legion_action_proc_test, legion_retreats_out_of_reach_along_the_line_and_falls_back_when_it_cannot)
{
    start();
    const int16_t soldier_id = soldier(0, {10000, 10000}, 71);
    const int16_t enemy = soldier(1, {13500, 10000}, 81);
    test_action legion = line_legion(10, 14000);
    legion.ids(four("fall"), {30});
    ASSERT_TRUE(import_test_actions({legion, container(20, {soldier_id}), {30, four("wait")}}));

    // The enemy's reach (3000) covers the line up to x = 10500: the legion
    // stands the half chord from the enemy's foot, facing it, in formation.
    EXPECT_EQ(run(10), executed);
    EXPECT_TRUE(ordered(soldier_id));
    EXPECT_EQ(by_id(soldier_id)->waypoints[0].x, 10500);
    EXPECT_EQ(by_id(soldier_id)->waypoints[0].y, 10000);
    legion_action_proc_globals g = globals_of(10);
    EXPECT_EQ(g.desired_facing, 0);
    EXPECT_EQ(g.flags & (_legion_initialized_flag | _legion_unable_to_retreat_flag), _legion_initialized_flag);
    EXPECT_EQ(g.state, _legion_state_moving);

    // Standing on the line, it covers all of it: back to line[0], the
    // fallback runs and the legion ends.
    place(index_of(enemy), {10500, 10000});
    EXPECT_EQ(run(10), executed | deactivated);
    EXPECT_TRUE(is_active(30));
    g = globals_of(10);
    EXPECT_EQ(g.desired_centerpoint.x, 10000);
    EXPECT_TRUE(g.flags & _legion_unable_to_retreat_flag);
}

TEST_F(legion_action_proc_test, legion_without_fallback_that_cannot_retreat_attacks)
{
    start();
    const int16_t soldier_id = soldier(0, {10000, 10000}, 71);
    soldier(1, {10500, 10000}, 81);
    ASSERT_TRUE(import_test_actions({line_legion(10), container(20, {soldier_id})}));
    EXPECT_EQ(run(10), executed);
    const legion_action_proc_globals g = globals_of(10);
    EXPECT_EQ(g.state, _legion_state_attacking);
    EXPECT_EQ(g.groups[0].state, _legion_state_attacking);
    EXPECT_FALSE(ordered(soldier_id));
}

// ---- set-up ------------------------------------------------------------------------------------

TEST_F(legion_action_proc_test, set_up_refuses_a_bad_line_or_count_and_one_group_needs_no_centre)
{
    start();
    const int16_t soldier_id = soldier(0, {10000, 10000}, 71);
    test_action no_count{10, four("legi")};
    points(no_count, "line", {{10000, 10000}, {11000, 10000}});
    test_action too_many = line_legion(11);
    too_many.parameters[1] = test_action{}.ints(four("coun"), {7}).parameters[0];
    test_action negative = line_legion(12);
    negative.parameters[1] = test_action{}.ints(four("coun"), {-1}).parameters[0];
    test_action short_line{13, four("legi")};
    points(short_line, "line", {{10000, 10000}});
    short_line.ints(four("coun"), {1});
    test_action none = line_legion(14);
    none.parameters[1] = test_action{}.ints(four("coun"), {0}).parameters[0];
    ASSERT_TRUE(import_test_actions(
        {no_count, too_many, negative, short_line, none, line_legion(15), container(20, {soldier_id})}));

    const size_t from = log_text().size();
    for (int16_t refused : {10, 11, 12, 13})
    {
        EXPECT_EQ(run(refused), executed) << refused;
        EXPECT_FALSE(has_globals(refused)) << refused;
    }
    EXPECT_EQ(log_count("missing group count", from), 1);
    EXPECT_EQ(log_count("invalid group count", from), 2);
    EXPECT_EQ(log_count("missing or incomplete line parameter", from), 1);
    EXPECT_EQ(log_count("couldn't create globals", from), 4);

    // No group, so no unit: the legion ends without storing anything.
    EXPECT_EQ(run(14), executed | deactivated);
    EXPECT_FALSE(has_globals(14));

    // One group without 'grce' stands on the legion centre: with no enemy
    // that is line[1], facing along the line.
    EXPECT_EQ(run(15), executed);
    EXPECT_TRUE(ordered(soldier_id));
    EXPECT_EQ(by_id(soldier_id)->waypoints[0].x, 11000);
    EXPECT_EQ(by_id(soldier_id)->final_desired_yaw, 0);
}

TEST_F(legion_action_proc_test, a_missing_group_centre_stops_the_set_up_but_the_trigger_runs_over_every_group)
{
    start();
    const int16_t a = soldier(0, {9000, 9000}, 71), b = soldier(0, {9100, 9000}, 72);
    const int16_t c = soldier(0, {10000, 10000}, 73);
    test_action legion{10, four("legi")};
    points(legion, "line", {{10000, 10000}, {11000, 10000}});
    points(legion, "grce", {{10000, 10000}});
    legion.ints(four("coun"), {3}).ints(four("grfo"), {2, 3, 4}).ids(four("grun"), {21, 22, 23});
    // Slot 0 holds the container every group without one falls back on.
    ASSERT_TRUE(import_test_actions({container(20, {a, b}), legion, container(21, {c})}));

    const size_t from = log_text().size();
    EXPECT_EQ(run(10), executed);
    EXPECT_EQ(log_count("group #1/#3 has missing or invalid centerpoint", from), 1);
    const legion_action_proc_globals g = globals_of(10);
    EXPECT_EQ(g.group_count, 3);
    EXPECT_EQ(g.groups[0].unit_container_action_index, action(21));
    EXPECT_EQ(g.groups[0].monster_count, 1);
    // Group 1 got its formation before its centre failed; group 2 nothing.
    EXPECT_EQ(g.groups[1].formation_index, 3);
    EXPECT_EQ(g.groups[1].guard_dependency_group_index, 0);
    EXPECT_EQ(g.groups[1].unit_container_action_index, 0);
    EXPECT_EQ(g.groups[1].monster_count, 2);
    EXPECT_EQ(g.groups[2].formation_index, 0);
    EXPECT_EQ(g.groups[2].unit_container_action_index, 0);
    EXPECT_EQ(g.groups[2].monster_count, 2);
    EXPECT_EQ(g.groups[2].monster_indexes, 3);
    // The half-built record stays until the legion is activated again.
    EXPECT_EQ(run(10), executed);
    EXPECT_EQ(log_count("has missing or invalid", from), 1);
}

TEST_F(legion_action_proc_test, a_container_naming_no_action_gives_its_group_no_units)
{
    start();
    const int16_t a = soldier(0, {9000, 9000}, 71);
    test_action legion{10, four("legi")};
    points(legion, "line", {{10000, 10000}, {11000, 10000}});
    legion.ints(four("coun"), {1}).ids(four("grun"), {99});
    ASSERT_TRUE(import_test_actions({container(20, {a}), legion}));
    const size_t from = log_text().size();
    EXPECT_EQ(run(10), executed | deactivated);
    EXPECT_EQ(log_count("group #0/#1 has missing or invalid unit container", from), 1);
    EXPECT_FALSE(ordered(a));
}

// ---- guard dependencies ---------------------------------------------------------------------------

TEST_F(legion_action_proc_test, a_guard_dependency_outside_the_legion_is_dropped_from_1716_and_harmless_below)
{
    for (const int32_t version : {1715, 1716})
    {
        SCOPED_TRACE(version);
        start(version);
        const int16_t a = soldier(0, {10000, 10000}, 71), b = soldier(0, {10000, 11000}, 72);
        const int16_t c = soldier(0, {10000, 12000}, 73);
        test_action legion{10, four("legi")};
        points(legion, "line", {{10000, 10000}, {11000, 10000}});
        points(legion, "grce", {{10000, 10000}, {10000, 11000}, {10000, 12000}});
        legion.ints(four("coun"), {3}).ints(four("grgd"), {NONE, 0, 4}).ids(four("grun"), {21, 22, 23});
        ASSERT_TRUE(import_test_actions({legion, container(21, {a}), container(22, {b}), container(23, {c})}));

        const size_t from = log_text().size();
        EXPECT_EQ(run(10), executed);
        EXPECT_EQ(log_count("group #3/#3 has missing or invalid guard dependency index", from), 1);
        legion_action_proc_globals g = globals_of(10);
        EXPECT_EQ(g.groups[0].guard_dependency_group_index, NONE);
        EXPECT_EQ(g.groups[1].guard_dependency_group_index, 0);
        EXPECT_EQ(g.groups[2].guard_dependency_group_index, version >= 1716 ? NONE : 4);

        // Called to attack with no enemy near: group 1 guards group 0 and so
        // stays moving; group 2 attacks as a group without dependency does.
        call_legion_as_ally(action(10));
        EXPECT_EQ(run(10), executed);
        g = globals_of(10);
        EXPECT_EQ(g.state, _legion_state_attacking);
        EXPECT_EQ(g.groups[0].state, _legion_state_attacking);
        EXPECT_EQ(g.groups[1].state, _legion_state_moving);
        EXPECT_EQ(g.groups[2].state, _legion_state_attacking);
        stop();
    }
}

// ---- thresholds -----------------------------------------------------------------------------------

TEST_F(legion_action_proc_test, a_group_moved_by_exactly_1024_and_turned_by_exactly_5461_gets_no_new_order)
{
    struct round
    {
        int32_t shift;
        int32_t turn;
        bool ordered;
    };
    for (const round r : {round{1024, 5461, false}, round{1025, 0, true}, round{0, 5462, true}})
    {
        SCOPED_TRACE(r.shift * 100000 + r.turn);
        start();
        const int16_t a = soldier(0, {10000, 10000}, 71);
        ASSERT_TRUE(import_test_actions({line_legion(10), container(20, {a})}));
        EXPECT_EQ(run(10), executed);
        ASSERT_TRUE(ordered(a));
        by_id(a)->internal_command_identifier = NONE;

        legion_action_proc_globals g = globals_of(10);
        g.groups[0].desired_centerpoint.x -= r.shift;
        g.groups[0].desired_facing = (angle)(g.groups[0].desired_facing - r.turn);
        store_globals(10, g);
        EXPECT_EQ(run(10), executed);
        EXPECT_EQ(ordered(a), r.ordered);
        stop();
    }
}

// A stored record of another action or in a state the legion has no step
// for counts as missing: the legion sets itself up anew instead of halting.
TEST_F(legion_action_proc_test, a_record_in_an_unknown_state_or_of_another_action_is_set_up_anew)
{
    struct damage
    {
        int16_t state, action_index;
    };
    for (const damage d : {damage{2, 0}, damage{-1, 0}, damage{_legion_state_moving, 7}})
    {
        SCOPED_TRACE(d.state * 100 + d.action_index);
        start();
        const int16_t a = soldier(0, {10000, 10000}, 71);
        ASSERT_TRUE(import_test_actions({line_legion(10), container(20, {a})}));
        EXPECT_EQ(run(10), executed);
        const legion_action_proc_globals fresh = globals_of(10);
        legion_action_proc_globals g = fresh;
        g.state = d.state;
        g.action_index = (int16_t)(g.action_index + d.action_index);
        g.group_count = 0;
        store_globals(10, g);
        EXPECT_EQ(run(10), executed);
        const legion_action_proc_globals repaired = globals_of(10);
        EXPECT_EQ(repaired.state, fresh.state);
        EXPECT_EQ(repaired.action_index, fresh.action_index);
        EXPECT_EQ(repaired.group_count, fresh.group_count);
        stop();
    }
}

// ---- allies and damage ----------------------------------------------------------------------------

TEST_F(legion_action_proc_test, a_legion_called_as_ally_attacks_and_calls_its_own_allies)
{
    start();
    const int16_t a = soldier(0, {10000, 10000}, 71), b = soldier(0, {10000, 12000}, 72);
    test_action first = line_legion(10);
    first.ids(four("alli"), {11, 20, 99}).ids(four("acat"), {30}).ids(four("deat"), {31});
    test_action second = line_legion(11);
    second.parameters[2] = test_action{}.ids(four("grun"), {21}).parameters[0];
    ASSERT_TRUE(import_test_actions({first, second, container(20, {a}), container(21, {b}), line_legion(12),
                                     {30, four("wait")}, {31, four("wait")}}));
    activate_map_action(action(31));

    // Neither the unknown identifier nor a legion never triggered is touched.
    call_legion_as_ally(NONE);
    call_legion_as_ally(action(12));
    EXPECT_FALSE(has_globals(12));

    EXPECT_EQ(run(10), executed);
    EXPECT_EQ(run(11), executed);
    EXPECT_EQ(globals_of(10).state, _legion_state_moving);
    call_legion_as_ally(action(10));
    EXPECT_TRUE(globals_of(10).flags & _legion_called_as_ally_flag);

    const size_t from = log_text().size();
    EXPECT_EQ(run(10), executed);
    EXPECT_EQ(log_count("invalid legion ally: not a legion", from), 1);
    legion_action_proc_globals g = globals_of(10);
    EXPECT_EQ(g.state, _legion_state_attacking);
    EXPECT_FALSE(g.flags & _legion_called_as_ally_flag);
    EXPECT_TRUE(is_active(30));
    EXPECT_FALSE(is_active(31));
    EXPECT_TRUE(globals_of(11).flags & _legion_called_as_ally_flag);

    EXPECT_EQ(run(11), executed);
    g = globals_of(11);
    EXPECT_EQ(g.state, _legion_state_attacking);
    EXPECT_FALSE(g.flags & _legion_called_as_ally_flag);
}

TEST_F(legion_action_proc_test, a_legion_that_loses_more_than_its_vitality_delta_attacks)
{
    start();
    const int16_t a = soldier(0, {10000, 10000}, 71);
    ASSERT_TRUE(import_test_actions({line_legion(10), container(20, {a})}));
    body(index_of(a))->vitality = 1000;
    EXPECT_EQ(run(10), executed);
    EXPECT_EQ(globals_of(10).combined_friendly_vitality, 1000);
    // Exactly the delta (1.0 = 256) lost is no damage.
    body(index_of(a))->vitality = 744;
    EXPECT_EQ(run(10), executed);
    EXPECT_EQ(globals_of(10).state, _legion_state_moving);
    EXPECT_EQ(globals_of(10).combined_friendly_vitality, 1000);
    body(index_of(a))->vitality = 743;
    EXPECT_EQ(run(10), executed);
    const legion_action_proc_globals g = globals_of(10);
    EXPECT_EQ(g.state, _legion_state_attacking);
    EXPECT_EQ(g.combined_friendly_vitality, 743);
    EXPECT_TRUE(g.flags & _legion_took_damage_flag);
}

} // namespace

namespace {

// ---- the odds -------------------------------------------------------------------------------------

// One unit (power 1) against one enemy inside the inner attack radius: the
// legion attacks only when 1.0 is strictly above 'pora', and turns back to
// moving once the enemy stands beyond the outer radius.
TEST_F(legion_action_proc_test, a_legion_attacks_on_better_odds_than_its_ratio_and_moves_again_out_of_range)
{
    for (const int32_t ratio : {65535, 65536})
    {
        SCOPED_TRACE(ratio);
        start();
        const int16_t a = soldier(0, {10000, 10000}, 71);
        const int16_t enemy = soldier(1, {10000, 16000}, 81);
        test_action legion = line_legion(10);
        legion.fixeds(four("pora"), {ratio}).ids(four("acmo"), {30}).ids(four("demo"), {31});
        ASSERT_TRUE(import_test_actions({legion, container(20, {a}), {30, four("wait")}, {31, four("wait")}}));
        activate_map_action(action(31));

        EXPECT_EQ(run(10), executed);
        legion_action_proc_globals g = globals_of(10);
        // The enemy's reach leaves line[0] free: the legion holds there, facing it.
        EXPECT_EQ(g.desired_centerpoint.x, 10000);
        EXPECT_EQ(g.desired_facing, QUARTER_CIRCLE);
        EXPECT_TRUE(g.flags & _legion_in_range_flag);
        EXPECT_EQ(g.state, ratio < 65536 ? _legion_state_attacking : _legion_state_moving);
        if (ratio == 65536)
        {
            stop();
            continue;
        }
        place(index_of(enemy), {10000, 25000});
        EXPECT_EQ(run(10), executed);
        g = globals_of(10);
        EXPECT_EQ(g.state, _legion_state_moving);
        EXPECT_TRUE(is_active(30));
        EXPECT_FALSE(is_active(31));
        EXPECT_TRUE(ordered(a));
        stop();
    }
}

} // namespace

namespace {

// A circular legion stands on the circle round line[0] through line[1],
// towards the closest enemy.
TEST_F(legion_action_proc_test, a_circular_legion_stands_on_its_circle_towards_the_enemy)
{
    start();
    const int16_t a = soldier(0, {10000, 10000}, 71);
    soldier(1, {10000, 18000}, 81);
    test_action legion = line_legion(10, 13000);
    legion.flag(four("circ"));
    ASSERT_TRUE(import_test_actions({legion, container(20, {a})}));
    EXPECT_EQ(run(10), executed);
    const legion_action_proc_globals g = globals_of(10);
    EXPECT_EQ(g.circle_radius, 3000);
    EXPECT_EQ(g.desired_facing, QUARTER_CIRCLE);
    EXPECT_EQ(by_id(a)->waypoints[0].x, 10000);
    EXPECT_EQ(by_id(a)->waypoints[0].y, 13000);
    EXPECT_EQ(by_id(a)->final_desired_yaw, QUARTER_CIRCLE);
}

} // namespace

} // namespace legion_action_proc_test_file

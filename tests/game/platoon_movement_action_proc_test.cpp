// The platoon movement: intermediate points per leg, a whole walk along
// looping and ending waypoints one arrival at a time, the scatter draws,
// gathering at the units' centre once, the guard attack calling the allies,
// and the scout's place at the edge of an enemy group's range.

#include "group_script_world.h"

#include "monster_definitions.h"

namespace platoon_movement_action_proc_test_file {

namespace {

class platoon_movement_test : public group_script_world
{
protected:
    // Platoon 1 (centre (4096, 4096), facing 0, state 2, squad 5 with unit
    // 51 standing at the centre); state 2 is `tag` with the waypoints given
    // and activates 9 on success.
    void build(action_tag tag, std::vector<world_point2d> waypoints, std::vector<field_tag> flags,
               std::vector<test_action> extra = {})
    {
        start();
        soldier(0, {4096, 4096}, 51);
        test_action platoon{1, four("plat")};
        points(platoon, "cent", {{4096, 4096}});
        angles(platoon, "faci", {0});
        platoon.ids(four("stat"), {2}).ids(four("init"), {5});
        test_action state{2, tag};
        if (!waypoints.empty()) points(state, "wayp", waypoints);
        for (field_tag flag : flags) state.flag(flag);
        state.ids(four("acos"), {9});
        test_action squad{5, four("squa")};
        squad.units(four("subj"), {51}).ints(four("form"), {0});
        points(squad, "cent", {{4096, 4096}});
        std::vector<test_action> actions = {platoon, state, squad, {9, four("recd")}};
        for (const test_action &a : extra) actions.push_back(a);
        ASSERT_TRUE(import_test_actions(actions));
    }
    // Where and how unit 51 was last sent.
    world_point2d sent_to(void) { return unit(index_of(51))->waypoints[0]; }
    angle sent_facing(void) { return unit(index_of(51))->final_desired_yaw; }
    // The state's success lists ran (the trigger clears the flag itself
    // once the procedure returns).
    bool walk_succeeded(void) { return get_map_action(action(9))->flags & _map_action_is_active_flag; }
    // The squad arrives; the platoon runs.
    uint32_t arrive_and_run(void)
    {
        set_map_action_success(action(5));
        return trigger_map_action(action(1));
    }
};

TEST_F(platoon_movement_test, legs_are_cut_into_points_by_their_length_and_spacing)
{
    build(four("plmo"), {{0, 0}, {2048, 0}, {2048, 0}, {2048, 1000}}, {});
    int32_t n = -1;
    const struct
    {
        int32_t waypoint, expected;
        bool exists;
    } rows[] = {{1, 4, true}, {2, 1, true}, {3, 1, true}, {4, 1, true}, {0, 0, false}, {5, 0, false}, {-3, 0, false}};
    for (const auto &r : rows)
    {
        SCOPED_TRACE(r.waypoint);
        EXPECT_EQ(compute_number_of_interpolated_waypoints(action(2), r.waypoint, &n), r.exists);
        EXPECT_EQ(n, r.expected);
    }
    world_point2d p = {7, 7};
    EXPECT_TRUE(interpolate_waypoint(action(2), 1, 3, 4, &p));
    EXPECT_EQ(p.x, 1536);
    EXPECT_EQ(p.y, 0);
    EXPECT_TRUE(interpolate_waypoint(action(2), 3, 1, 2, &p));
    EXPECT_EQ(p.x, 2048);
    EXPECT_EQ(p.y, 500);
    EXPECT_TRUE(interpolate_waypoint(action(2), 1, 1, 0, &p)); // no intermediates: the leg's start
    EXPECT_EQ(p.x, 0);
    EXPECT_FALSE(interpolate_waypoint(action(2), 5, 0, 1, &p));
    EXPECT_EQ(p.x, 0);

    // 'spac' sets the spacing; 0 gives no points; 'loop' closes the last leg.
    stop();
    build(four("plmo"), {{0, 0}, {2048, 0}, {2048, 1024}}, {four("loop")},
          {});
    set_unique_map_action_parameter(action(2), four("spac"), _parameter_world_distance, 1,
                                    std::vector<int32_t>({256}).data());
    compute_number_of_interpolated_waypoints(action(2), 1, &n);
    EXPECT_EQ(n, 8);
    compute_number_of_interpolated_waypoints(action(2), 3, &n); // back to the first: 2289 long
    EXPECT_EQ(n, 8);
    set_unique_map_action_parameter(action(2), four("spac"), _parameter_world_distance, 1,
                                    std::vector<int32_t>({0}).data());
    compute_number_of_interpolated_waypoints(action(2), 1, &n);
    EXPECT_EQ(n, 0);
}

// A walk over A (4096, 4096), B (6144, 4096), C (6144, 5120) with
// intermediate points: four on A-B, two on B-C, and with 'loop' four on
// C-A and around again; without 'loop' C is the last point and the walk
// ends in success with the platoon's state cleared.
TEST_F(platoon_movement_test, a_walk_through_intermediate_points_loops_or_ends_in_success)
{
    const std::vector<world_point2d> waypoints = {{4096, 4096}, {6144, 4096}, {6144, 5120}};
    const std::vector<world_point2d> looping = {{4096, 4096}, {4608, 4096}, {5120, 4096}, {5632, 4096},
                                                {6144, 4096}, {6144, 4608}, {6144, 5120}, {5632, 4864},
                                                {5120, 4608}, {4608, 4352}, {4096, 4096}, {4608, 4096}};
    const std::vector<world_point2d> ending = {{4096, 4096}, {4608, 4096}, {5120, 4096}, {5632, 4096},
                                               {6144, 4096}, {6144, 4608}, {6144, 5120}};
    for (bool loop : {true, false})
    {
        SCOPED_TRACE(loop);
        std::vector<field_tag> flags = {four("ntrp")};
        if (loop) flags.push_back(four("loop"));
        build(four("plmo"), waypoints, flags);
        const std::vector<world_point2d> &expected = loop ? looping : ending;
        EXPECT_EQ(trigger_map_action(action(1)), _map_action_proc_executed_flag);
        for (size_t step = 0; step < expected.size(); step++)
        {
            SCOPED_TRACE(step);
            if (step > 0)
            {
                // Not arrived: nothing new is ordered.
                unit(index_of(51))->waypoints[0] = {1, 1};
                trigger_map_action(action(1));
                EXPECT_EQ(sent_to().x, 1);
                EXPECT_EQ(arrive_and_run(), _map_action_proc_executed_flag);
            }
            EXPECT_EQ(sent_to().x, expected[step].x);
            EXPECT_EQ(sent_to().y, expected[step].y);
        }
        if (loop)
        {
            EXPECT_FALSE(walk_succeeded());
        }
        else
        {
            EXPECT_EQ(arrive_and_run(), _map_action_proc_executed_flag);
            EXPECT_TRUE(walk_succeeded());
            EXPECT_TRUE(own_identifiers(1, "#cst").empty());
            // The platoon has no state left: it asks to be deactivated.
            EXPECT_EQ(trigger_map_action(action(1)),
                      _map_action_proc_executed_flag | _map_action_proc_deactivate_flag);
        }
        stop();
    }
}

TEST_F(platoon_movement_test, facings_look_along_the_way)
{
    build(four("plmo"), {{4096, 4096}, {6144, 4096}, {6144, 5120}}, {four("ntrp")});
    trigger_map_action(action(1));
    EXPECT_EQ(sent_facing(), 0); // the first point looks ahead
    for (int32_t i = 0; i < 4; i++) arrive_and_run();
    EXPECT_EQ(sent_to().x, 6144);
    EXPECT_EQ(sent_facing(), 0); // from the last point of the leg before
    arrive_and_run();
    EXPECT_EQ(sent_to().y, 4608);
    EXPECT_EQ(sent_facing(), QUARTER_CIRCLE);

    // Without intermediate points: the nearest waypoint first, then on.
    stop();
    build(four("plmo"), {{9000, 4096}, {4100, 4096}, {4100, 9000}}, {});
    trigger_map_action(action(1));
    EXPECT_EQ(sent_to().x, 4100);
    EXPECT_EQ(sent_facing(), HALF_CIRCLE);
    arrive_and_run();
    EXPECT_EQ(sent_to().y, 9000);
    EXPECT_EQ(sent_facing(), QUARTER_CIRCLE);
    arrive_and_run();
    EXPECT_TRUE(walk_succeeded());
}

// A scatter radius draws the angle, then the distance.
TEST_F(platoon_movement_test, a_waypoint_radius_scatters_the_point_with_two_draws)
{
    build(four("plmo"), {{8000, 8000}, {4096, 4096}}, {});
    set_unique_map_action_parameter(action(2), four("wayr"), _parameter_world_distance, 2,
                                    std::vector<int32_t>({0, 300}).data());
    set_random_seed(4242);
    const uint32_t pick = vesk_random(); // the platoon's state
    const angle direction = vesk_random();
    const int32_t distance = vesk_random() % 300;
    set_random_seed(4242);
    const uint32_t mark = get_vesk_random_draw_count();
    trigger_map_action(action(1));
    EXPECT_EQ(draws_since(mark), 3u);
    (void)pick;
    EXPECT_EQ(sent_to().x, 4096 + ((cosine_rounded(direction) * distance) >> 14));
    EXPECT_EQ(sent_to().y, 4096 + ((sine_rounded(direction) * distance) >> 14));
}

TEST_F(platoon_movement_test, congregating_adds_the_units_centre_once)
{
    build(four("plmo"), {{9000, 9000}}, {four("cong")});
    place(index_of(51), {3000, 3500});
    trigger_map_action(action(1));
    EXPECT_EQ(sent_to().x, 3000);
    EXPECT_EQ(sent_to().y, 3500);
    EXPECT_FALSE(has_own(2, "cong", _parameter_flag));
    map_action_parameter waypoints;
    ASSERT_TRUE(get_map_action_parameter(&waypoints, action(2), 0, four("wayp"), _parameter_world_point2d));
    EXPECT_EQ(waypoints.count, 2);
    // Made current again, the platoon walks from the nearest point without gathering again.
    set_platoon_state(action(1), action(2));
    trigger_map_action(action(1));
    ASSERT_TRUE(get_map_action_parameter(&waypoints, action(2), 0, four("wayp"), _parameter_world_point2d));
    EXPECT_EQ(waypoints.count, 2);
}

// An enemy at the inner radius (p = 0): attack when the draw is below 16384;
// an attacking platoon calls its allies, which attack on their next run.
TEST_F(platoon_movement_test, an_enemy_at_the_inner_radius_is_attacked_and_the_allies_are_called)
{
    test_action ally{3, four("plat")};
    build(four("plmo"), {{4096, 4096}, {8000, 4096}}, {}, {ally});
    set_unique_map_action_parameter(action(2), four("radi"), _parameter_world_distance, 2,
                                    std::vector<int32_t>({1024, 4096}).data());
    map_action_parameter allies;
    ASSERT_TRUE(new_map_action_parameter(&allies, action(1), four("alli"), _parameter_action_identifier));
    ASSERT_TRUE(set_map_action_parameter(&allies, 1, std::vector<int16_t>({3}).data()));
    soldier(1, {4096 + 1024, 4096}, 61);
    build_spatial_groups();

    uint32_t seed = 1;
    for (;; seed++)
    {
        set_random_seed(seed);
        vesk_random(); // the platoon's pick
        if (vesk_random() < 16384) break;
    }
    set_random_seed(seed);
    const uint32_t mark = get_vesk_random_draw_count();
    trigger_map_action(action(1));
    EXPECT_EQ(draws_since(mark), 2u);
    EXPECT_EQ(own_integer(2, "#sub"), _platoon_substate_attacking);
    EXPECT_TRUE(has_own(3, "#att", _parameter_flag));
    // Attacking: the band keeps attacking without a draw.
    const uint32_t again = get_vesk_random_draw_count();
    trigger_map_action(action(1));
    EXPECT_EQ(draws_since(again), 0u);
    EXPECT_EQ(own_integer(2, "#sub"), _platoon_substate_attacking);
}

TEST_F(platoon_movement_test, the_scouting_correction_keeps_within_4096)
{
    const struct
    {
        int32_t v, expected;
    } rows[] = {{0, 0},          {100, -100},     {-100, 100},    {5000, -4096}, {-5000, 4096},
                {32768, -4096},  {-32768, 4096},  {33000, 232},   {40000, 4096}, {-33000, -232},
                {-40000, -4096}, {65535, 4096},   {-65535, -4096}};
    for (const auto &r : rows) EXPECT_EQ(scouting_correction(r.v), r.expected) << r.v;
}

// A scout near an enemy group that can be fought from range places itself
// at the edge of the group's range, facing it, and keeps its orders while
// the place moves less than 257.
TEST_F(platoon_movement_test, a_scout_takes_its_place_at_the_edge_of_the_enemy_range)
{
    build(four("plsc"), {{4096, 4096}, {2000, 4096}}, {});
    // Groups of this type can be fought from range: a scout may always watch them.
    definition()->flags |= FLAG(7);
    set_unique_map_action_parameter(action(2), four("radi"), _parameter_world_distance, 2,
                                    std::vector<int32_t>({0, 8000}).data());
    // Two enemies facing the scout: their power is not halved, so the ratio
    // (one unit against two) never calls for an attack.
    for (const int16_t identifier : {soldier(1, {8096, 4096}, 61), soldier(1, {8096, 4196}, 62)})
        body(index_of(identifier))->location.yaw = HALF_CIRCLE;
    build_spatial_groups();
    const spatial_group *enemy = nullptr;
    for (const spatial_group *g = first_spatial_group(); g; g = g->next_group)
        if (g->team_index == 1) enemy = g;
    ASSERT_NE(enemy, nullptr);
    trigger_map_action(action(1));
    EXPECT_EQ(own_integer(2, "#sub"), _substate_scouting);
    const world_point2d sent = sent_to();
    const int32_t reach = enemy->range + enemy->radius;
    const angle towards = arctangent(enemy->center.x - 4096, enemy->center.y - 4096);
    const angle facing = (angle)(towards + scouting_correction((int32_t)towards - 0));
    EXPECT_EQ(sent.x, enemy->center.x - ((reach * cosine_rounded(facing)) >> 14));
    EXPECT_EQ(sent.y, enemy->center.y - ((reach * sine_rounded(facing)) >> 14));
    EXPECT_TRUE(has_own(2, "#lde", _parameter_world_point2d));

    unit(index_of(51))->waypoints[0] = {1, 1};
    trigger_map_action(action(1));
    EXPECT_EQ(sent_to().x, 1); // the place did not move: no new order
}

} // namespace

} // namespace platoon_movement_action_proc_test_file

// Target scanning and switching: the scan's schedule, the directional square
// at the mesh's corners and on a mesh narrower than the square, scores and
// ties, the becoming-idle mode, the switch's refusals, keep rule and
// "clearly nearer" margin, a switch to the current target that changes
// nothing, and rousing one level deep.

#include "support/monster_test_world.h"

#include "support/expected_assertions.h"

#include <cstring>

#include "monster_actions.h"

namespace monster_targets_test_file {

namespace {

class monster_targets_test : public monster_test_world
{
protected:
    // Every unit a square of (activation >> 9) + 1 cells; every score 0 (no
    // critical distance), so the nearest candidate wins.
    void plain_definition(int32_t activation_cells)
    {
        definition()->activation_distance = (int16_t)(activation_cells * WORLD_ONE);
        definition()->critical_distance = 0;
        definition()->warning_distance = 0;
    }
};

TEST_F(monster_targets_test, unit_70_is_scanned_exactly_when_game_time_is_6_mod_64)
{
    start_world();
    for (int32_t i = 0; i <= 70; ++i) make_unit(0, cell_centre(2 + i % 50, 2 + 2 * (i / 50)));
    for (int32_t time = 0; time < 2 * SCAN_FOR_TARGETS_COUNT; ++time)
    {
        body(70)->flags |= _object_was_chosen_to_take_damage_flag;
        game_->game_time = time;
        scan_for_targets();
        const bool scanned = !(body(70)->flags & _object_was_chosen_to_take_damage_flag);
        EXPECT_EQ(scanned, time % 64 == 6) << time;
    }
}

TEST_F(monster_targets_test, the_square_reaches_its_edge_cells_and_no_further_at_every_corner)
{
    start_world();
    plain_definition(10); // 11 cells
    struct row
    {
        int32_t x, y;
        angle yaw;
        int32_t edge_x, edge_y; // the square's far corner cell
        int32_t beyond_x, beyond_y; // a nearer cell just outside it
    };
    const row rows[] = {
        {0, 0, 0, 10, 10, 11, 0}, // facing +x: cells 0..10 x 0..10
        {63, 0, 16384, 53, 10, 52, 0}, // facing +y: 53..63 x 0..10
        {63, 63, 32768, 53, 53, 63, 52}, // facing -x: 53..63 x 53..63
        {0, 63, 49152, 10, 53, 0, 52}, // facing -y: 0..10 x 53..63
        {32, 32, 0, 40, 37, 29, 32}, // a quarter from its rear edge: 30..40 x 27..37
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.x * 100 + r.y);
        const int32_t hunter = make_unit(0, cell_centre(r.x, r.y), r.yaw);
        const int32_t edge = make_unit(1, cell_centre(r.edge_x, r.edge_y));
        const int32_t beyond = make_unit(1, cell_centre(r.beyond_x, r.beyond_y));
        EXPECT_EQ(closest_most_appropriate_target(hunter, _closest_most_appropriate_target_periodic_scan), edge);
        place(edge, cell_centre(r.x < 32 ? r.edge_x + 1 : r.edge_x - 1, r.edge_y < 32 ? r.edge_y + 1 : r.edge_y - 1));
        if (r.x == 32) place(edge, cell_centre(41, 37));
        EXPECT_EQ(closest_most_appropriate_target(hunter, _closest_most_appropriate_target_periodic_scan), NONE);
        for (int32_t index : {hunter, edge, beyond}) delete_monster(index, false);
    }
}

TEST_F(monster_targets_test, squares_wider_than_the_mesh_stay_inside_it)
{
    start_world(8, 8);
    plain_definition(0);
    definition()->warning_distance = 20 * WORLD_ONE; // a rousing square of 41 cells
    const int32_t hunter = make_unit(0, cell_centre(0, 0));
    const int32_t old_target = make_unit(1, cell_centre(1, 1));
    const int32_t far_enemy = make_unit(1, cell_centre(7, 7));
    aim(hunter, old_target); // a 21-cell square
    EXPECT_EQ(closest_most_appropriate_target(hunter, _closest_most_appropriate_target_target_died_scan), far_enemy);
    // A neighbour in the far corner is roused over the whole mesh.
    const int32_t lone = make_unit(0, cell_centre(6, 6));
    const int32_t neighbour = make_unit(0, cell_centre(7, 0));
    EXPECT_TRUE(try_and_switch_target_indexes(lone, far_enemy, _switch_target_activate_adjacents_flag));
    EXPECT_EQ(unit(neighbour)->target_monster_index, far_enemy);
}

TEST_F(monster_targets_test, higher_scores_win_then_the_nearer_then_the_first_found)
{
    start_world();
    plain_definition(10);
    const world_point2d here = cell_centre(20, 20);
    const int32_t hunter = make_unit(0, here);
    // Two enemies: the nearer wins.
    const int32_t east = make_unit(1, {here.x + 1000, here.y});
    const int32_t north = make_unit(1, {here.x, here.y + 700});
    EXPECT_EQ(closest_most_appropriate_target(hunter, 0), north);
    // At equal distance the first found (lower row) wins, whichever was made first.
    place(north, {here.x, here.y + 1000});
    EXPECT_EQ(closest_most_appropriate_target(hunter, 0), east);
    place(north, {here.x, here.y - 1000});
    EXPECT_EQ(closest_most_appropriate_target(hunter, 0), north);
    // An enemy that attacks the unit scores higher and wins from farther away.
    const int32_t attacker = make_unit(1, {here.x + 3000, here.y});
    aim(attacker, hunter);
    EXPECT_EQ(closest_most_appropriate_target(hunter, 0), attacker);
    // Unless it cannot be autotargeted.
    unit(attacker)->extra_flags |= _monster_cannot_be_autotargeted_extra_flag;
    EXPECT_EQ(closest_most_appropriate_target(hunter, 0), north);
    // A confused unit finds nothing.
    unit(hunter)->extra_flags |= _monster_is_confused_extra_flag;
    EXPECT_EQ(closest_most_appropriate_target(hunter, 0), NONE);
}

// Distances are floor roots: a candidate is passed over when it cannot win
// at its plain distance, compared squared, before its root and its facing
// penalty are worked out, and the choice is still that of the whole search
// (the checker weighs every candidate in full).
TEST_F(monster_targets_test, candidates_at_the_edges_of_the_floor_root_and_the_penalty_are_chosen_as_in_full)
{
    struct
    {
        const char *what;
        bool target_died; // the hunter had a target, east, and it died: the facing penalty counts
        int16_t critical;
        world_point2d a, b; // offsets from the hunter; a is found first
        bool b_attacks_the_hunter;
        bool b_wins;
    } const rows[] = {
        {"equal after the floor root: the first found", false, 0, {3, -1000}, {0, 1000}, false, false},
        {"one nearer after the floor root", false, 0, {0, -1001}, {0, 1000}, false, true},
        {"just inside the critical distance it ties the attacker and is nearer", false, 1000, {0, -999}, {0, 1500},
         true, false},
        {"a root of exactly the critical distance is outside it", false, 1000, {1, -1000}, {0, 1500}, true, true},
        {"behind, the penalty outweighs being nearer", true, 0, {-1000, 0}, {1500, 0}, false, true},
        {"behind, but not by more than the penalty adds", true, 0, {-1000, 0}, {1700, 0}, false, false},
    };
    start_world();
    plain_definition(10);
    for (const auto &r : rows)
    {
        SCOPED_TRACE(r.what);
        definition()->critical_distance = r.critical;
        const world_point2d here = cell_centre(20, 20);
        const int32_t hunter = make_unit(0, here);
        const int32_t a = make_unit(1, {here.x + r.a.x, here.y + r.a.y});
        const int32_t b = make_unit(1, {here.x + r.b.x, here.y + r.b.y});
        if (r.b_attacks_the_hunter) aim(b, hunter);
        int32_t mode = _closest_most_appropriate_target_periodic_scan, old_target = NONE;
        if (r.target_died)
        {
            old_target = make_unit(1, {here.x + 3000, here.y});
            aim(hunter, old_target);
            unit(hunter)->desired_yaw = 0;
            mode = _closest_most_appropriate_target_target_died_scan;
        }
        set_target_search_checking(true);
        EXPECT_EQ(closest_most_appropriate_target(hunter, mode), r.b_wins ? b : a);
        EXPECT_EQ(get_target_search_check_counts().searches_checked, 1);
        EXPECT_EQ(get_target_search_check_counts().mismatches, 0);
        set_target_search_checking(false);
        for (int32_t index : {hunter, a, b, old_target})
            if (index != NONE) delete_monster(index, false);
    }
}

TEST_F(monster_targets_test, a_unit_becoming_idle_only_joins_the_fights_of_its_own_kind)
{
    start_world();
    plain_definition(10);
    const int32_t idle = make_unit(0, cell_centre(20, 20));
    const int32_t ally = make_unit(0, cell_centre(21, 20));
    const int32_t near_enemy = make_unit(1, cell_centre(20, 21));
    const int32_t fought = make_unit(1, cell_centre(30, 30));
    EXPECT_EQ(closest_most_appropriate_target(idle, _closest_most_appropriate_target_becoming_idle_scan), NONE);
    aim(ally, fought);
    EXPECT_EQ(closest_most_appropriate_target(idle, _closest_most_appropriate_target_becoming_idle_scan), fought);
    EXPECT_EQ(closest_most_appropriate_target(idle, _closest_most_appropriate_target_periodic_scan), near_enemy);
    // An ally under an explicit attack order does not count.
    unit(ally)->flags |= _monster_responding_to_target_command_flag;
    EXPECT_EQ(closest_most_appropriate_target(idle, _closest_most_appropriate_target_becoming_idle_scan), NONE);
}

TEST_F(monster_targets_test, switching_to_the_current_target_leaves_the_record_unchanged)
{
    start_world();
    plain_definition(10);
    const int32_t hunter = make_unit(0, cell_centre(20, 20));
    const int32_t prey = make_unit(1, cell_centre(22, 20));
    ASSERT_TRUE(try_and_switch_target_indexes(hunter, prey, 0));
    EXPECT_EQ(unit(hunter)->target_monster_index, prey);
    const uint32_t set = _monster_has_valid_target_flag | _monster_has_valid_target_index_flag |
                         _monster_needs_new_path_flag | _monster_attack_was_aborted_flag;
    EXPECT_EQ(unit(hunter)->flags & set, set);

    monster_data record_before;
    object_data object_before;
    memcpy(&record_before, unit(hunter), sizeof(record_before));
    memcpy(&object_before, body(hunter), sizeof(object_before));
    for (uint32_t flags : {0u, (uint32_t)_switch_target_activate_adjacents_flag, _switch_target_close_range_flag,
                           _switch_target_command_override_flag})
    {
        EXPECT_TRUE(try_and_switch_target_indexes(hunter, prey, flags));
        EXPECT_EQ(memcmp(&record_before, unit(hunter), sizeof(record_before)), 0) << flags;
        EXPECT_EQ(memcmp(&object_before, body(hunter), sizeof(object_before)), 0) << flags;
    }
}

TEST_F(monster_targets_test, a_new_target_must_attack_the_unit_and_be_clearly_nearer)
{
    start_world();
    plain_definition(10);
    const world_point2d here = cell_centre(20, 20);
    const int32_t hunter = make_unit(0, here);
    const int32_t current = make_unit(1, {here.x + 5000, here.y});
    const int32_t offered = make_unit(1, {here.x + 2952, here.y}); // 2048 nearer
    aim(hunter, current);
    // Not attacking the unit: kept.
    EXPECT_FALSE(try_and_switch_target_indexes(hunter, offered, 0));
    aim(offered, hunter);
    EXPECT_FALSE(try_and_switch_target_indexes(hunter, offered, 0)); // by exactly 2048
    place(offered, {here.x + 2951, here.y});
    EXPECT_TRUE(try_and_switch_target_indexes(hunter, offered, 0));
    EXPECT_EQ(unit(hunter)->target_monster_index, offered);
    // An ally is never taken; an ordered unit keeps its order unless overridden.
    const int32_t friend_unit = make_unit(0, {here.x + 100, here.y});
    EXPECT_FALSE(try_and_switch_target_indexes(hunter, friend_unit, 0));
    unit(hunter)->flags |= _monster_responding_to_command_flag;
    place(current, {here.x + 200, here.y});
    aim(current, hunter);
    unit(hunter)->target_monster_index = (int16_t)offered;
    aim(offered, NONE);
    EXPECT_FALSE(try_and_switch_target_indexes(hunter, current, 0));
    EXPECT_TRUE(try_and_switch_target_indexes(hunter, current, _switch_target_command_override_flag));
}

TEST_F(monster_targets_test, refusals_of_the_confused_and_of_a_deferred_target_by_version)
{
    struct row
    {
        int32_t version;
        bool deferred_switches;
    };
    start_world();
    plain_definition(10);
    for (const row r : {row{1300, true}, row{1301, false}})
    {
        SCOPED_TRACE(r.version);
        current_gameplay_version = r.version;
        const int32_t hunter = make_unit(0, cell_centre(20, 20));
        const int32_t prey = make_unit(1, cell_centre(22, 20));
        unit(hunter)->extra_flags |= _monster_is_confused_extra_flag;
        EXPECT_FALSE(try_and_switch_target_indexes(hunter, prey, 0));
        unit(hunter)->extra_flags &= ~(uint32_t)_monster_is_confused_extra_flag;
        unit(hunter)->deferred_target_index = (int16_t)prey;
        EXPECT_EQ(try_and_switch_target_indexes(hunter, prey, 0), r.deferred_switches);
        delete_monster(hunter, false);
        delete_monster(prey, false);
    }
}

TEST_F(monster_targets_test, rousing_reaches_the_neighbours_and_goes_one_level_deep)
{
    start_world();
    plain_definition(0);
    definition()->warning_distance = 2 * WORLD_ONE; // a square of 5 cells
    const int32_t caller = make_unit(0, cell_centre(20, 20)); // rouses cells 18..22
    const int32_t near_friend = make_unit(0, cell_centre(22, 20)); // would rouse 20..24
    const int32_t far_friend = make_unit(0, cell_centre(24, 20));
    const int32_t stopped_friend = make_unit(0, cell_centre(19, 19));
    unit(stopped_friend)->flags |= _monster_was_stopped_flag;
    const int32_t enemy = make_unit(1, cell_centre(40, 20));

    EXPECT_TRUE(try_and_switch_target_indexes(caller, enemy, 0));
    EXPECT_EQ(unit(near_friend)->target_monster_index, NONE); // no rousing asked

    delete_monster(caller, false);
    const int32_t rouser = make_unit(0, cell_centre(20, 20));
    EXPECT_TRUE(try_and_switch_target_indexes(rouser, enemy, _switch_target_activate_adjacents_flag));
    EXPECT_EQ(unit(near_friend)->target_monster_index, enemy);
    EXPECT_EQ(unit(far_friend)->target_monster_index, NONE); // the roused never rouse
    EXPECT_EQ(unit(stopped_friend)->target_monster_index, NONE);
}

TEST_F(monster_targets_test, missile_units_are_roused_only_within_reach_from_1301)
{
    struct row
    {
        int32_t version;
        bool roused;
    };
    start_world();
    plain_definition(0);
    definition()->monster_class = _monster_class_missile;
    definition()->warning_distance = 2 * WORLD_ONE;
    for (const row r : {row{1300, true}, row{1301, false}})
    {
        SCOPED_TRACE(r.version);
        current_gameplay_version = r.version;
        const int32_t rouser = make_unit(0, cell_centre(20, 20));
        const int32_t neighbour = make_unit(0, cell_centre(21, 20));
        const int32_t enemy = make_unit(1, cell_centre(40, 20));
        EXPECT_TRUE(try_and_switch_target_indexes(rouser, enemy, _switch_target_activate_adjacents_flag));
        EXPECT_EQ(unit(neighbour)->target_monster_index == enemy, r.roused);
        for (int32_t index : {rouser, neighbour, enemy}) delete_monster(index, false);
    }
}

} // namespace

} // namespace monster_targets_test_file

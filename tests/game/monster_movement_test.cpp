// Unit movement: the charge speed's extended step, landing on the
// destination, the version gates of re-aiming, the mesh border, the allied
// collision radius, footprints, sliding along barred terrain, and invariants
// of random steps on a mesh with barred triangles.

#include "tag_files/collection_procedures.h"
#include "support/path_test_world.h"

#include "support/expected_assertions.h"

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "fire.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "monster_movement.h"
#include "path.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "vesk_random.h"
#include "state_hash.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"

namespace monster_movement_test_file {

namespace {

class movement_test : public path_test_world
{
protected:
    void adjust_definition(monster_definition &m) override
    {
        m.flags = _monster_translates_continuously_flag;
        m.turning_speed = 65535;
        for (uint8_t &modifier : m.movement_modifiers) modifier = 255;
    }

    // A walking unit of speed `speed` (units per tick) at `at`, heading for `to`.
    int32_t walker(world_point2d at, world_point2d to, int16_t speed = 100, int16_t player = 0)
    {
        const int32_t index = make_unit(at, player);
        monster_data *m = get_monster_data(index);
        set_monster_action(index, _monster_action_moving, 0);
        m->base_movement_speed = speed;
        m->path_destination = to;
        m->path_segment_length = 30000;
        m->ticks_until_updating = 0;
        return index;
    }
    object_data *body(int32_t index) { return get_object(get_monster_data(index)->object_index); }
};

TEST(movement_arithmetic, the_charge_gain_is_truncated_in_extended_precision)
{
    EXPECT_EQ(monster_charge_speed_gain(900, 13), 116); // 117 in double precision
    EXPECT_EQ(monster_charge_speed_gain(900, 0), 180);
    EXPECT_EQ(monster_charge_speed_gain(900, -4), 180);
    EXPECT_EQ(monster_charge_speed_gain(1000, 50), 500);
    EXPECT_EQ(monster_charge_speed_gain(0, 13), 0);
}

// The kept heading answers a question asked again, never one that differs
// in either offset (it would turn units the wrong way).
TEST(movement_arithmetic, the_kept_heading_is_the_arctangent_of_each_question)
{
    const int32_t questions[][2] = {{0, 0}, {0, 0}, {100, 0}, {100, 0}, {100, 1}, {101, 1}, {-5, 3},
                                    {3, -5}, {0, 0}, {0, 7},  {INT32_MIN, INT32_MAX}, {INT32_MAX, INT32_MIN}};
    for (const auto &q : questions) EXPECT_EQ(heading_toward(q[0], q[1]), arctangent(q[0], q[1])) << q[0] << "," << q[1];
}

TEST_F(movement_test, a_unit_one_step_short_lands_exactly_and_then_asks_for_a_path)
{
    start_world(16, 16);
    const int32_t unit = walker({2000, 2000}, {2060, 2030});
    monster_action_fns[_monster_action_moving](unit);
    EXPECT_EQ(body(unit)->location.position.x, 2060);
    EXPECT_EQ(body(unit)->location.position.y, 2030);
    EXPECT_EQ(get_monster_data(unit)->path_segment_length, 0);
    EXPECT_TRUE(get_monster_data(unit)->extra_flags & _monster_actually_moved_extra_flag);
    get_monster_data(unit)->flags &= ~(uint32_t)_monster_needs_new_path_flag;
    monster_moving(unit);
    EXPECT_TRUE(get_monster_data(unit)->flags & _monster_needs_new_path_flag);
    EXPECT_FALSE(get_monster_data(unit)->extra_flags & _monster_actually_moved_extra_flag);
}

TEST_F(movement_test, a_destination_on_the_same_row_is_aimed_at_only_from_1710)
{
    for (int32_t version : {1709, 1710})
    {
        SCOPED_TRACE(version);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        current_gameplay_version = version;
        const int32_t unit = walker({2000, 2000}, {5000, 2000});
        get_monster_data(unit)->desired_yaw = 1000;
        body(unit)->location.yaw = 1000;
        monster_moving(unit);
        EXPECT_EQ(get_monster_data(unit)->desired_yaw, version >= 1710 ? 0 : 1000);
        EXPECT_EQ(get_monster_data(unit)->ticks_until_updating, 15);
    }
}

TEST_F(movement_test, a_unit_pushed_past_the_border_band_stops_992_inside_and_leaves_the_game)
{
    start_world(16, 16);
    std::vector<int32_t> told;
    static std::vector<int32_t> *died;
    died = &told;
    register_monster_died_procedure(
        [](int32_t index, uint32_t flags) { died->push_back(index * 10 + (int32_t)flags); });
    const int32_t unit = walker({1050, 3000}, {100, 3000});
    body(unit)->location.yaw = HALF_CIRCLE;
    get_monster_data(unit)->desired_yaw = HALF_CIRCLE;
    get_monster_data(unit)->target_monster_index = 5;
    get_monster_data(unit)->flags |= _monster_has_valid_target_flag;
    monster_moving(unit);
    EXPECT_EQ(body(unit)->location.position.x, 992);
    EXPECT_TRUE(body(unit)->flags & _object_is_invisible_flag);
    EXPECT_TRUE(get_monster_data(unit)->flags & _monster_has_left_the_mesh_flag);
    EXPECT_FALSE(get_monster_data(unit)->flags & _monster_has_valid_target_flag);
    EXPECT_EQ(get_monster_data(unit)->target_monster_index, NONE);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], unit * 10 + _monster_died_clear_presets_flag);
    reset_monster_died_procs();
}

TEST_F(movement_test, allies_collide_at_their_pathfinding_radii_and_with_vux_at_their_bodies)
{
    for (bool vux : {false, true})
    {
        SCOPED_TRACE(vux);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        if (vux) game_->option_flags |= _game_option_uses_vux_flag;
        // Radii 50 + 50 + 85 = 185 with the option, pathfinding radii 60 + 60 = 120 without.
        const int32_t unit = walker({2000, 2000}, {3000, 2000});
        const int32_t other = make_unit({2300, 2000}, 0);
        body(unit)->height1 = body(other)->height1 = 100;
        body(unit)->location.velocity = {250, 0, 0};
        const int32_t result = move_monster_object(get_monster_data(unit)->object_index);
        EXPECT_TRUE(result & _move_struck_object_flag);
        EXPECT_EQ(body(unit)->location.position.x, vux ? 2300 - 185 : 2300 - 120);
        game_->option_flags &= ~(uint32_t)_game_option_uses_vux_flag;
    }
}

TEST_F(movement_test, footprints_alternate_sides_and_darken_only_bright_texels)
{
    start_world(16, 16);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) get_mesh_cell(x, y)->flags = 0x77; // terrain 7 takes footprints
    static uint8_t shadow[256 * 256];
    memset(shadow, 200, sizeof(shadow));
    static const collection_procedures landscape = {.landscape_bitmap = [](int32_t) -> uint8_t * { return shadow; }};
    register_collection_procedures(&landscape);
    const int32_t unit = walker({2000, 2000}, {6000, 2000}, 10);
    body(unit)->radius = 128;
    std::vector<int32_t> touched;
    for (int32_t frame = 0; frame < 2; ++frame)
    {
        body(unit)->shape_frame_index = (int16_t)frame;
        monster_moving(unit);
        for (int32_t i = 0; i < 256 * 256; ++i)
            if (shadow[i] != 200 && std::find(touched.begin(), touched.end(), i) == touched.end()) touched.push_back(i);
    }
    ASSERT_EQ(touched.size(), 2u);
    // One mark on each side of the path (y = 2000 is texel row 31).
    const int32_t rows[2] = {touched[0] / 256, touched[1] / 256};
    EXPECT_NE(rows[0] < 31, rows[1] < 31);
    for (int32_t i : touched) EXPECT_GE(shadow[i], 200 - 9);
    for (int32_t i : touched) EXPECT_LE(shadow[i], 200 - 6);
    memset(shadow, 80, sizeof(shadow)); // dark texels stay as they are
    monster_moving(unit);
    for (uint8_t texel : shadow) ASSERT_EQ(texel, 80);
}

TEST_F(movement_test, a_step_into_barred_terrain_slides_along_x_before_1501_and_along_y_from_it)
{
    for (int32_t version : {1500, 1501})
    {
        SCOPED_TRACE(version);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        current_gameplay_version = version;
        get_mesh_cell(4, 4)->flags = 0x10;
        // From (3, 3) diagonally into the barred triangle of (4, 4): both
        // (4, 3) and (3, 4) are open; before 1501 the step goes on.
        const int32_t unit = walker({2000, 2000}, {3000, 3000});
        body(unit)->location.velocity = {100, 100, 0};
        const int32_t result = move_monster_object(get_monster_data(unit)->object_index);
        EXPECT_TRUE(result & _move_struck_cell_flag);
        EXPECT_EQ(body(unit)->location.position.x, version >= 1501 ? 2000 : 2100);
        EXPECT_EQ(body(unit)->location.position.y, 2100);
    }
}

TEST_F(movement_test, a_step_into_a_barred_triangle_of_its_own_cell_is_nudged_back_over_the_diagonal)
{
    // Triangle 0 of a cell is where x & 511 < u, u = y & 511, or 511 - (y & 511)
    // in an odd cell (bit 9 of x ^ y set).  The point lands on the diagonal at
    // u and moves one unit into the open triangle, the way that keeps it in
    // its cell as u says.
    struct row
    {
        const char *name;
        int32_t version;
        int32_t cell_x, cell_y;
        uint16_t flags; // 0x01: triangle 0 barred, 0x10: triangle 1
        int32_t start_fx, start_fy;
        int16_t vx, vy;
        int32_t end_fx, end_fy;
    };
    const row rows[] = {
        // Even cell, triangle 0 barred: (100, 400) becomes (400, 400); u >= 256: y - 1.
        {"even, triangle 0", 1820, 4, 4, 0x01, 400, 100, -300, 300, 400, 399},
        // Even cell, triangle 1 barred: (400, 100) becomes (100, 100); u <= 256: y + 1.
        {"even, triangle 1", 1820, 4, 4, 0x10, 100, 400, 300, -300, 100, 101},
        // Odd cell, triangle 0 barred: (100, 200), u = 311: (311, 200); u >= 256: y + 1.
        {"odd, triangle 0", 1820, 5, 4, 0x01, 400, 400, -300, -200, 311, 201},
        // Odd cell, triangle 1 barred: (450, 200), u = 311: (311, 200); u > 256: x - 1.
        {"odd, triangle 1", 1820, 5, 4, 0x10, 50, 50, 400, 150, 310, 200},
        // Before 1301 both fractions take y & 511 and nothing is nudged.
        {"even, triangle 0, 1300", 1300, 4, 4, 0x01, 400, 100, -300, 300, 400, 400},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        current_gameplay_version = r.version;
        get_mesh_cell(r.cell_x, r.cell_y)->flags = r.flags;
        const world_point2d start = {r.cell_x * 512 + r.start_fx, r.cell_y * 512 + r.start_fy};
        const int32_t unit = walker(start, start);
        monster_data *m = get_monster_data(unit);
        m->terrain_impassability_flags = WALL_MASK;
        m->cell_impassability_flags = build_cell_impassability_flags(WALL_MASK, &start);
        ASSERT_EQ(m->cell_impassability_flags & 3, r.flags == 0x01 ? 1 : 2);
        body(unit)->location.velocity = {r.vx, r.vy, 0};
        const int32_t result = move_monster_object(m->object_index);
        EXPECT_TRUE(result & _move_struck_cell_flag);
        EXPECT_EQ(body(unit)->location.position.x, r.cell_x * 512 + r.end_fx);
        EXPECT_EQ(body(unit)->location.position.y, r.cell_y * 512 + r.end_fy);
        if (r.version >= 1301)
        {
            const world_point2d end = {body(unit)->location.position.x, body(unit)->location.position.y};
            EXPECT_FALSE((WALL_MASK >> get_mesh_terrain_type(&end)) & 1);
        }
    }
}

TEST_F(movement_test, a_struck_object_pushes_the_step_out_unless_a_unit_that_walks_around_stays)
{
    struct row
    {
        const char *name;
        int32_t version;
        bool walks_around;
        int32_t object_x;
        uint16_t pushed_cell_flags;
        int32_t end_x;
    };
    // The unit (radius 50) steps 200 east from x = 2000 toward a post of radius 50: reach 185.
    const row rows[] = {
        {"pushed out to the reach", 1820, true, 2300, 0, 2300 - 185},
        // Onto the post's centre: nowhere to push to.  From 1301 a unit that
        // walks around blockages stays where it was instead.
        {"onto the centre, 1300", 1300, true, 2200, 0, 2200},
        {"onto the centre, 1301", 1301, true, 2200, 0, 2000},
        {"onto the centre, not walking around", 1301, false, 2200, 0, 2200},
        // It also stays when the pushed point's cell has a barred second triangle.
        {"pushed into barred terrain", 1301, true, 2300, 0x10, 2000},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.name);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        current_gameplay_version = r.version;
        get_mesh_cell(4, 3)->flags = r.pushed_cell_flags;
        const int32_t unit = walker({2000, 2000}, {2200, 2000});
        monster_definition *definition = get_monster_definition(definition_index());
        definition->more_hack_flags = r.walks_around ? _monster_more_hack_walks_around_blockage_flag : 0;
        const int32_t post = make_solid_object({r.object_x, 2000}, 50);
        get_object(post)->height1 = body(unit)->height1 = 100;
        body(unit)->location.velocity = {200, 0, 0};
        const int32_t result = move_monster_object(get_monster_data(unit)->object_index);
        EXPECT_TRUE(result & _move_struck_object_flag);
        EXPECT_EQ(move_flags_struck_object_index(result), post);
        EXPECT_EQ(body(unit)->location.position.x, r.end_x);
        EXPECT_EQ(body(unit)->location.position.y, 2000);
        EXPECT_EQ((get_monster_data(unit)->extra_flags & _monster_actually_moved_extra_flag) != 0, r.end_x != 2000);
        definition->more_hack_flags = 0;
    }
}

TEST_F(movement_test, in_1690_exactly_a_unit_targeting_itself_stays_after_the_second_attack_test)
{
    // A unit sidestepping to attack fails its try at once and keeps its timer,
    // so the test of the attack on the move still passes afterwards.
    for (int32_t version : {1689, 1690, 1691})
    {
        SCOPED_TRACE(version);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        current_gameplay_version = version;
        const int32_t unit = walker({2000, 2000}, {4000, 2000});
        monster_data *m = get_monster_data(unit);
        m->flags |= _monster_has_valid_target_flag | _monster_is_evading_obstacle_to_attack_flag;
        m->target_monster_index = (int16_t)unit;
        m->attack_timer = 0;
        monster_moving(unit);
        EXPECT_TRUE(m->extra_flags & _monster_failed_to_attack_extra_flag);
        EXPECT_EQ(body(unit)->location.position.x, version == 1690 ? 2000 : 2100);
    }
}

// Every sequence: 1 tick per frame with the key frame at `key_frame`.
int16_t key_frame = 0;
bool key_frame_information(int16_t, int16_t, shape_sequence_information *information)
{
    *information = {40, 1, 1, key_frame};
    return true;
}

TEST_F(movement_test, a_melee_strike_makes_a_target_holding_toward_the_striker_block_25_ticks_ahead_at_most)
{
    static const collection_procedures shapes = {.shape_sequence_information = key_frame_information};
    ASSERT_TRUE(register_collection_procedures(&shapes));
    for (int16_t frame : {25, 26})
    {
        SCOPED_TRACE(frame);
        if (world_started) dispose_units_world();
        start_world(16, 16);
        ASSERT_TRUE(initialize_projectiles());
        initialize_projectiles_for_new_map();
        key_frame = frame;
        projectile_definition blade;
        default_projectile_definition(&blade);
        blade.flags = _projectile_is_melee_attack_flag;
        const int32_t blade_type = new_definition(get_projectile_definition_group(), FOUR_CHARACTER_CODE('b', 'l', 'a', 'd'), &blade);
        ASSERT_NE(blade_type, NONE);
        const int32_t striker = walker({2000, 2000}, {2000, 2000});
        monster_definition *definition = get_monster_definition(definition_index());
        definition->number_of_attacks = 1;
        definition->attacks[0].projectile_type = (int16_t)blade_type;
        definition->attacks[0].flags = 0;

        const int32_t target = make_unit({2300, 2000}, 1);
        set_monster_action(striker, _monster_action_aiming_attack, 0);
        set_monster_action(target, _monster_action_holding_for_attack, 0);
        monster_data *s = get_monster_data(striker), *t = get_monster_data(target);
        s->flags |= _monster_has_valid_target_flag | _monster_has_valid_target_index_flag;
        s->target_monster_index = (int16_t)target;
        t->target_monster_index = (int16_t)striker;
        t->attack_timer = 9;
        s->desired_yaw = body(striker)->location.yaw; // the turn is done: it strikes now
        monster_moving(striker);
        EXPECT_EQ(s->action, _monster_action_attacking);
        if (frame == 25)
        {
            EXPECT_EQ(t->action, _monster_action_blocking);
            EXPECT_EQ(t->action_permutation, 25 + 4);
            EXPECT_EQ(t->attack_timer, 9 + 30);
        }
        else
        {
            EXPECT_EQ(t->action, _monster_action_holding_for_attack);
            EXPECT_EQ(t->attack_timer, 9);
        }
        dispose_projectiles_from_old_map();
    }
}

TEST_F(movement_test, random_steps_never_end_in_barred_triangles_or_inside_solid_objects)
{
    start_world(16, 16);
    std::mt19937 generator(11);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x)
        {
            const uint32_t roll = generator() % 10;
            get_mesh_cell(x, y)->flags = roll == 0 ? 0x11 : roll == 1 ? 0x01 : roll == 2 ? 0x10 : 0;
        }
    const int32_t unit = walker({4100, 4100}, {4100, 4100});
    get_mesh_cell(4100 >> 9, 4100 >> 9)->flags = 0;
    get_monster_data(unit)->cell_impassability_flags =
        build_cell_impassability_flags(WALL_MASK, &get_monster_data(unit)->path_destination);
    const int32_t pillar = make_solid_object({5200, 4100}, 60);
    const int32_t object_index = get_monster_data(unit)->object_index;
    get_object(pillar)->height1 = get_object(object_index)->height1 = 100;
    for (int32_t step = 0; step < 3000; ++step)
    {
        object_data *o = get_object(object_index);
        const world_point3d before = o->location.position;
        const world_point2d before2d = {before.x, before.y};
        const bool started_barred = (WALL_MASK >> get_mesh_terrain_type(&before2d)) & 1;
        const world_point2d pillar_at = {5200, 4100};
        const bool started_inside = distance2d(&before2d, &pillar_at) < 50 + 60 + 85;
        o->location.velocity = {(int16_t)((int32_t)(generator() % 401) - 200),
                                (int16_t)((int32_t)(generator() % 401) - 200), 0};
        const int32_t result = move_monster_object(object_index);
        o = get_object(object_index);
        const world_point2d after = {o->location.position.x, o->location.position.y};
        const bool moved = after.x != before.x || after.y != before.y || o->location.position.z != before.z;
        ASSERT_EQ(moved, (get_monster_data(unit)->extra_flags & _monster_actually_moved_extra_flag) != 0) << step;
        (void)result;
        if (!started_barred) { ASSERT_FALSE((WALL_MASK >> get_mesh_terrain_type(&after)) & 1) << step; }
        if (!started_inside) { ASSERT_GE(distance2d(&after, &pillar_at), 50 + 60 + 85 - 2) << step; }
        ASSERT_GE(after.x, 992);
        ASSERT_LE(after.x, 16 * 512 - 993);
    }
    EXPECT_TRUE(object_chains_are_consistent());
}

TEST_F(movement_test, the_moving_actions_run_monster_moving_and_projectiles_update_heights_through_it)
{
    start_world(16, 16);
    for (int32_t action = _monster_action_moving; action <= _monster_action_aiming_attack; ++action)
        EXPECT_EQ(monster_action_fns[action], monster_moving);
    const int32_t unit = walker({2000, 2000}, {2000, 2000});
    body(unit)->location.position.z = 900;
    update_monster_location_height(unit);
    EXPECT_EQ(body(unit)->location.position.z, 0);
    bool over = true;
    const world_point2d point = {2000, 2000};
    EXPECT_EQ(get_height_for_new_position(&point, false, true, 40, &over), 40);
    EXPECT_FALSE(over);
}

} // namespace

} // namespace monster_movement_test_file

// 'obmo' with the real camera on a 64 x 64 unit world: the number of steps a
// flight takes (distance, turn, the time limit, the eighth scale of long
// flights, a count too large for 16 bits), where it ends (a point and facing,
// or overlooking one unit), who has the camera afterwards, the refusals
// (alike in a film), a film that only shakes, and the row of the procedure table reaching it.

#include "support/monster_test_world.h"

#include "support/expected_assertions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "camera_control.h"
#include "game_preferences.h"
#include "map_action_block_writer.h"
#include "map_actions/action_procs.h"
#include "map_actions/observer_movement_action_proc.h"
#include "observer.h"
#include "render/render_surfaces.h"
#include "state_hash.h"
#include "support/scratch.h"
#include "vesk_random.h"

namespace observer_movement_action_proc_test_file {

namespace {

constexpr world_distance CAMERA_X = 10 * 512, CAMERA_Y = 10 * 512;

class observer_movement_test : public monster_test_world
{
protected:
    void SetUp() override
    {
        monster_test_world::SetUp();
        ASSERT_TRUE(initialize_map_actions());
        ASSERT_NO_FATAL_FAILURE(start_world(64, 64));
        initialize_map_actions_for_new_map();
        ASSERT_TRUE(initialize_observer());
        EXPECT_FALSE(initialize_observer_for_new_map(NONE)); // no 'obpc' here: the defaults stand
        take_pending_error();
        get_game_preferences()->flags &= ~(uint32_t)_game_pref_motion_interpolation_flag;
        game_->type = _game_type_local;
        set_camera_control_flags(0);
        camera_sample(_camera_sample_all, false, CAMERA_X / 512.0f, CAMERA_Y / 512.0f, OBSERVER_DEFAULT_HEIGHT, 0,
                      OBSERVER_DEFAULT_PITCH, 0);
    }
    void TearDown() override
    {
        set_camera_control_flags(0);
        dispose_observer_from_old_map();
        dispose_map_actions_from_old_map();
        monster_test_world::TearDown();
    }

    static test_action obmo(int32_t mode)
    {
        test_action a{1, four("obmo")};
        a.ints(four("mode"), {mode});
        return a;
    }
    static test_action &destination(test_action &a, world_point2d point, angle facing)
    {
        a.raw(_parameter_world_point2d, four("dest"), 1, &point, sizeof(point));
        const int16_t stored = (int16_t)facing;
        return a.raw(_parameter_angle, four("faci"), 1, &stored, sizeof(stored));
    }
    static uint32_t run(const test_action &a)
    {
        EXPECT_TRUE(import_test_actions({a}));
        return observer_movement_action_proc(action_identifier_to_action_index(1));
    }
    // Ticks of the scripted camera until the script gives the camera back.
    static int32_t ticks_of_flight(void)
    {
        int32_t ticks = 0;
        while (get_camera_control_flags() & _camera_controlled_by_map_actions_flag && ticks < 40000)
        {
            handle_map_action_camera_control();
            ticks++;
        }
        return ticks;
    }
    static world_location3d camera(void)
    {
        world_location3d location;
        get_observer_location(&location);
        return location;
    }
};

TEST_F(observer_movement_test, a_flight_takes_its_steps_and_ends_where_it_was_sent)
{
    struct
    {
        const char *name;
        world_point2d to;
        angle facing;
        int32_t line, time; // 0: not given
        int32_t steps;
    } const cases[] = {
        {"320 units at the default step", {CAMERA_X + 320, CAMERA_Y}, 0, 0, 0, 10},
        {"a quarter turn in place", {CAMERA_X, CAMERA_Y}, 16384, 0, 0, 32},
        {"40 steps with 'time' 1.0 jump", {CAMERA_X + 1280, CAMERA_Y}, 0, 0, 65536, 1},
        {"'time' 2.0 allows 40 steps", {CAMERA_X + 1280, CAMERA_Y}, 0, 0, 2 * 65536, 40},
        // 16000 units: at one eighth, 2000 units at 36 >> 3 = 4 a step, not 16000 / 36.
        {"above 15360 at one eighth scale", {CAMERA_X + 16000, CAMERA_Y}, 0, 36, 0, 500},
        {"just below the eighth scale", {CAMERA_X + 15000, CAMERA_Y}, 0, 36, 0, 416},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        camera_sample(_camera_sample_all, false, CAMERA_X / 512.0f, CAMERA_Y / 512.0f, OBSERVER_DEFAULT_HEIGHT, 0,
                      OBSERVER_DEFAULT_PITCH, 0);
        test_action a = obmo(1);
        destination(a, c.to, c.facing);
        if (c.line) a.ints(four("line"), {c.line}, _parameter_world_distance);
        if (c.time) a.fixeds(four("time"), {c.time});
        EXPECT_EQ(run(a), _map_action_proc_succeeded_flag);
        EXPECT_EQ(get_camera_control_flags(), _camera_controlled_by_map_actions_flag);
        EXPECT_EQ(get_observer_movement_interpolant_count(), c.steps);
        EXPECT_EQ(ticks_of_flight(), c.steps + 1);
        EXPECT_EQ(get_camera_control_flags(), 0) << "the player has the camera back";
        EXPECT_NEAR(camera().position.x, c.to.x, 1);
        EXPECT_NEAR(camera().position.y, c.to.y, 1);
        EXPECT_NEAR(camera().yaw, c.facing, 2);
    }
}

TEST_F(observer_movement_test, a_step_count_past_16_bits_is_held_to_the_largest)
{
    // 2^24 units at 8 a step is 2^21 steps at one eighth: more than a 16-bit count holds.
    test_action a = obmo(1);
    destination(a, {CAMERA_X + (1 << 24), CAMERA_Y}, 0);
    a.ints(four("line"), {8}, _parameter_world_distance);
    EXPECT_EQ(run(a), _map_action_proc_succeeded_flag);
    EXPECT_EQ(get_observer_movement_interpolant_count(), INT16_MAX);
    handle_map_action_camera_control();
    handle_map_action_camera_control();
    EXPECT_GT(camera().position.x, CAMERA_X) << "the flight moves";
}

TEST_F(observer_movement_test, a_flight_can_keep_the_camera_and_zoom_out)
{
    test_action a = obmo(1);
    destination(a, {CAMERA_X + 320, CAMERA_Y}, 0);
    a.flag(four("drco")).flag(four("maxz"));
    EXPECT_EQ(run(a), _map_action_proc_succeeded_flag);
    for (int32_t i = 0; i < 11; i++) handle_map_action_camera_control();
    EXPECT_EQ(get_camera_control_flags(), _camera_controlled_by_map_actions_flag);
    EXPECT_EQ(get_observer_zoom_factor(), -65535);
    const world_location3d there = camera();
    handle_map_action_camera_control();
    EXPECT_EQ(camera().position.x, there.position.x) << "after its end the flight stays put";

    EXPECT_EQ(run(obmo(-1)), _map_action_proc_succeeded_flag);
    EXPECT_EQ(get_camera_control_flags(), 0);
    EXPECT_EQ(run(obmo(2)), _map_action_proc_succeeded_flag);
    EXPECT_EQ(get_camera_control_flags(), _camera_controlled_by_object_tracking_flag) << "mode 2: no flight";
}

TEST_F(observer_movement_test, a_subject_is_overlooked_from_ten_cells_toward_the_camera)
{
    const int32_t index = make_unit(0, {30 * 512, CAMERA_Y});
    unit(index)->identifier = 77;
    test_action a = obmo(1);
    a.units(four("subj"), {77});
    EXPECT_EQ(run(a), _map_action_proc_succeeded_flag);
    ticks_of_flight();
    EXPECT_NEAR(camera().position.x, 30 * 512 - 5120, 1);
    EXPECT_NEAR(camera().position.y, CAMERA_Y, 1);
    EXPECT_NEAR(camera().yaw, 0, 2) << "looking east at the unit";
}

// A film computes the result the game did (the scripts' success is
// simulated), and only leaves the camera to its viewer.
TEST_F(observer_movement_test, what_is_missing_fails_alike_live_and_in_a_film_which_leaves_the_camera_alone)
{
    const int32_t first = make_unit(0, {30 * 512, CAMERA_Y});
    const int32_t second = make_unit(0, {31 * 512, CAMERA_Y});
    unit(first)->identifier = 77;
    unit(second)->identifier = 78;
    test_action no_mode{1, four("obmo")};
    test_action no_destination = obmo(1);
    test_action no_facing = obmo(1);
    const world_point2d point = {CAMERA_X, CAMERA_Y};
    no_facing.raw(_parameter_world_point2d, four("dest"), 1, &point, sizeof(point));
    test_action two_subjects = obmo(1);
    two_subjects.units(four("subj"), {77, 78});
    test_action dead_subject = obmo(1);
    dead_subject.units(four("subj"), {79}); // a unit that died: its identifier names none
    for (const int16_t type : {(int16_t)_game_type_local, (int16_t)_game_type_replay})
        for (const test_action *a : {&no_mode, &no_destination, &no_facing, &two_subjects, &dead_subject})
        {
            SCOPED_TRACE(type == _game_type_replay ? "film" : "live");
            game_->type = type;
            set_camera_control_flags(_camera_controlled_by_object_tracking_flag);
            EXPECT_EQ(run(*a), 0u);
            EXPECT_EQ(get_camera_control_flags(),
                      type == _game_type_replay ? _camera_controlled_by_object_tracking_flag : 0);
        }
}

TEST_F(observer_movement_test, a_film_only_shakes)
{
    const int32_t subject = make_unit(0, {30 * 512, CAMERA_Y});
    unit(subject)->identifier = 77;
    game_->type = _game_type_replay;
    test_action a = obmo(1);
    destination(a, {CAMERA_X + 320, CAMERA_Y}, 0);
    test_action overlook = obmo(1);
    overlook.units(four("subj"), {77});
    for (const test_action *flight : {&a, &overlook})
    {
        EXPECT_EQ(run(*flight), _map_action_proc_succeeded_flag);
        EXPECT_EQ(get_camera_control_flags(), 0);
        EXPECT_EQ(camera().position.x, CAMERA_X);
        EXPECT_FALSE(get_observer_flags() & _observer_shaking_flag);
    }

    a.flag(four("shak")).fixeds(four("dura"), {65536}).ints(four("inte"), {100}, _parameter_world_distance);
    EXPECT_EQ(run(a), _map_action_proc_succeeded_flag);
    EXPECT_TRUE(get_observer_flags() & _observer_shaking_flag);
    EXPECT_EQ(get_camera_control_flags(), 0);
}

TEST_F(observer_movement_test, the_table_row_reaches_the_procedure_once_registered)
{
    test_action a = obmo(2);
    ASSERT_TRUE(import_test_actions({a}));
    const registered_map_action_proc *row = action_tag_to_action_proc(four("obmo"));
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->flags & _map_action_proc_local_flag);
    EXPECT_EQ(row->action_proc(action_identifier_to_action_index(1)), 0u) << "no camera until registered";
    EXPECT_EQ(get_camera_control_flags(), 0);
    register_observer_movement_action_hooks();
    EXPECT_EQ(row->action_proc(action_identifier_to_action_index(1)), _map_action_proc_succeeded_flag);
    EXPECT_EQ(get_camera_control_flags(), _camera_controlled_by_object_tracking_flag);
}

TEST_F(observer_movement_test, flights_leave_the_state_hash_and_the_synchronized_generator_alone)
{
    make_unit(0, {30 * 512, CAMERA_Y});
    test_action a = obmo(1);
    destination(a, {CAMERA_X + 3000, CAMERA_Y + 2000}, 30000);
    a.flag(four("shak"));
    ASSERT_TRUE(import_test_actions({a})); // the script is simulated state: imported before the hash
    const uint32_t hash = compute_state_hash();
    const uint32_t seed = get_random_seed();
    reset_random_draw_counts();
    EXPECT_EQ(observer_movement_action_proc(action_identifier_to_action_index(1)), _map_action_proc_succeeded_flag);
    ticks_of_flight();
    view_data view;
    build_observer_view(&view, 1, 640, 480); // a shaken view
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    EXPECT_EQ(get_random_seed(), seed);
    EXPECT_EQ(compute_state_hash(), hash);
}

} // namespace

} // namespace observer_movement_action_proc_test_file

// The observer camera on flat 16 x 16 and 8 x 8 meshes with a fake clock:
// the zoom ladder, wheel and Shift zooming, velocity caps and decay, a long
// gap between frames, the borders, extended zoom, edge scrolling, looking at
// a point, the view's tilt and eye height, a paused game's still view, the
// terrain filter on a small mesh, the missing 'obpc' refusal, and that
// nothing of the simulation moves.

#include <gtest/gtest.h>

#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"
#include "support/scratch.h"
#include "support/test_mesh.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "camera_control.h"
#include "cseries/errors.h"
#include "cseries/registration.h"
#include "game_preferences.h"
#include "game_time.h"
#include "hardware_rasterizer.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "mesh.h"
#include "observer.h"
#include "observer_constants.h"
#include "render/render_surfaces.h"
#include "vesk_random.h"

namespace observer_test_file {

namespace {

uint32_t fake_now;
uint32_t fake_clock(void) { return fake_now; }

bool load_mesh(int16_t size, uint32_t flags = 0, int16_t zone = 0, bool hill = false)
{
    std::vector<mesh_cell> cells((size_t)size * size);
    for (int32_t i = 0; i < size * size; i++)
    {
        const int16_t height = hill && i == (size / 2) * size + size / 2 ? (int16_t)2048 : (int16_t)0;
        cells[(size_t)i] = {0, height, 0, NONE, NONE, 0};
    }
    mesh_header header = test_mesh_header(size, size);
    header.flags = flags;
    header.observer_physics_constants_tag = NONE;
    header.media_tag = NONE;
    for (int16_t &edge : header.edge_of_mesh_buffer_zones) edge = zone;
    initialize_mesh();
    return load_test_mesh(header, cells);
}

class observer_camera : public ::testing::TestWithParam<int16_t>
{
protected:
    int16_t size;

    void SetUp() override
    {
        reset_game_core();
        size = GetParam();
        ASSERT_TRUE(load_mesh(size));
        input_definition definition;
        mouse_control_data mouse;
        revert_input_definition_to_default(&definition, &mouse, 0);
        mouse.selectors = _horizontal_movement_pan;
        slam_current_settings(&definition, &mouse, 0);
        ASSERT_TRUE(initialize_observer());
        set_observer_clock(fake_clock);
        fake_now = 1000;
        game_->type = _game_type_local;
        game_->game_time = 100;
        set_camera_control_flags(0);
        start_map();
        place(size / 2.0f, size / 2.0f, 0);
    }

    void TearDown() override
    {
        set_observer_clock(nullptr);
        dispose_observer_from_old_map();
        dispose_mesh_from_old_map();
        clear_all_registrations();
    }

    // A map whose header names no 'obpc': refused, and the camera keeps the defaults.
    void start_map(void)
    {
        clear_pending_error();
        EXPECT_FALSE(initialize_observer_for_new_map(NONE));
        EXPECT_EQ(take_pending_error(), _error_data_missing);
    }

    void place(real x, real y, real yaw_radians)
    {
        camera_sample(_camera_sample_all, false, x, y, OBSERVER_DEFAULT_HEIGHT, yaw_radians, OBSERVER_DEFAULT_PITCH, 0);
    }

    static action_data action_with(std::initializer_list<int32_t> bits)
    {
        action_data action;
        memset(&action, 0, sizeof(action));
        action.ascii_code = action.key_code = -1;
        for (int32_t bit : bits) set_action_flag(&action, bit);
        return action;
    }

    void act(std::initializer_list<int32_t> bits, int32_t times = 1)
    {
        for (int32_t i = 0; i < times; i++)
        {
            action_data action = action_with(bits);
            update_observer_physics_variables_for_action(&action);
        }
    }

    // One frame after `milliseconds` of machine time.
    void frame(uint32_t milliseconds)
    {
        fake_now += milliseconds;
        update_observer_physics_variables();
    }

    const observer_physics_variables &physics(void) { return *get_observer_physics_variables(); }
    real velocity(int32_t which) { return physics().velocities[which]; }
};

TEST(observer_zoom_rungs, ladder_out_in_and_both)
{
    struct
    {
        real before;
        bool in, out;
        real after;
    } const cases[] = {
        {0.5f, false, true, 0.0f},       {0.0f, false, true, -1.0f},      {-1.5f, false, true, -2.02165f},
        {-2.02165f, false, true, -3.29534f}, {-4.0f, false, true, -5.0f}, {-5.0f, false, true, -5.0f},
        {-1.0f, true, false, 0.0f},      {-6.0f, true, false, -5.0f},     {-5.0f, true, false, -3.29534f},
        {-3.0f, true, false, -2.02165f}, {-2.02165f, true, false, -1.0f}, {0.5f, true, false, 0.5f},
        {-1.5f, true, true, -2.02165f},  {-2.02165f, true, true, -1.0f},  {-4.0f, true, true, -3.29534f},
        {0.3f, true, true, 0.0f},        {-6.0f, true, true, -5.0f},      {-0.5f, true, true, -1.0f},
        {-1.0f, true, true, -2.02165f},  {0.3f, false, false, 0.3f},
    };
    for (const auto &c : cases)
        EXPECT_FLOAT_EQ(zoom_rungs(c.before, c.in, c.out), c.after) << c.before << " " << c.in << c.out;
}

TEST_P(observer_camera, shift_jumps_rungs_and_stops_zooming)
{
    act({_zoom_in_bit}, 5);
    EXPECT_GT(velocity(_observer_velocity_zoom), 0);
    act({_shift_down_bit});
    EXPECT_EQ(velocity(_observer_velocity_zoom), 0); // Shift without a zoom key stops it at once

    act({_shift_down_bit, _latched_zoom_out_bit});
    EXPECT_FLOAT_EQ(physics().zoom_factor, OBSERVER_MINIMUM_ZOOM_FACTOR); // -1.0 clamped to the minimum
    act({_shift_down_bit, _latched_zoom_in_bit});
    EXPECT_FLOAT_EQ(physics().zoom_factor, 0.0f);
    EXPECT_EQ(get_game_preferences()->zoom_factor, 0);
}

TEST_P(observer_camera, by_default_a_wheel_notch_zooms_over_ten_records_or_one_with_shift)
{
    // The factory mouse options: the wheel zooms.
    input_definition definition;
    mouse_control_data mouse;
    revert_input_definition_to_default(&definition, &mouse, DEFAULT_SET_INDEX);
    slam_current_settings(&definition, &mouse, DEFAULT_SET_INDEX);
    for (bool shift : {false, true})
    {
        int32_t zoom_out_records = 0;
        for (int32_t i = 0; i < 15; i++)
        {
            action_data action = action_with({});
            if (shift) set_action_flag(&action, _shift_down_bit);
            action.wheel_delta = i == 0 ? 40 : 0;
            update_observer_physics_variables_for_action(&action);
            zoom_out_records += test_action_flag(&action, _zoom_out_bit);
            EXPECT_FALSE(test_action_flag(&action, _zoom_in_bit));
        }
        EXPECT_EQ(zoom_out_records, shift ? 1 : 10);
    }
}

TEST_P(observer_camera, velocities_accelerate_to_their_cap_and_decay)
{
    const real k = 1.0f / 512.0f;
    act({_move_forward_bit});
    EXPECT_FLOAT_EQ(velocity(_observer_velocity_parallel), 4 * k);
    act({_move_forward_bit}, 20);
    EXPECT_FLOAT_EQ(velocity(_observer_velocity_parallel), 42 * k);
    act({}, 2);
    EXPECT_FLOAT_EQ(velocity(_observer_velocity_parallel), 34 * k);
    act({_move_forward_bit, _move_backward_bit}, 20); // both: decays to 0, never below
    EXPECT_EQ(velocity(_observer_velocity_parallel), 0);
    act({_yaw_right_bit}, 30);
    EXPECT_FLOAT_EQ(velocity(_observer_velocity_yaw), -68 * 6.28318530718f / 65536.0f);

    // Scripts own the camera: the keys are removed and everything decays.
    set_camera_control_flags(_camera_controlled_by_map_actions_flag);
    act({_move_forward_bit}, 20);
    EXPECT_EQ(velocity(_observer_velocity_yaw), 0);
    EXPECT_EQ(velocity(_observer_velocity_parallel), 0);
    update_observer_physics_variables_for_action(nullptr);
}

TEST_P(observer_camera, a_long_gap_moves_at_most_thirty_ticks)
{
    act({_move_forward_bit}, 20);
    const real speed = velocity(_observer_velocity_parallel);
    set_observer_flags(get_observer_flags() & ~(uint32_t)_observer_bounded_flag);
    const real x = physics().x;
    frame(5000);
    EXPECT_NEAR(physics().x - x, speed * 30, 1e-4);
    frame(100); // 3 ticks
    EXPECT_NEAR(physics().x - x, speed * 33, 1e-4);
}

TEST_P(observer_camera, borders_hold_the_camera_but_let_it_come_back)
{
    real_rectangle2d bounds;
    compute_observer_bounds_for_yaw(0, &bounds);
    EXPECT_FLOAT_EQ(bounds.right, size - 1.0f);
    place(bounds.right - 0.25f, size / 2.0f, 0);
    act({_move_forward_bit}, 20);
    for (int32_t i = 0; i < 20; i++) frame(1000);
    EXPECT_LE(physics().x, bounds.right);

    // Outside the box and moving back toward it: not held.
    place(bounds.right + 3, size / 2.0f, 0);
    act({_move_backward_bit}, 20);
    const real before = physics().x;
    frame(100);
    EXPECT_LT(physics().x, before);
    EXPECT_GT(physics().x, bounds.right);
}

bool rasterizer_can_zoom(void) { return true; }

TEST_P(observer_camera, extended_zoom_only_in_replays_or_for_network_observers)
{
    EXPECT_FALSE(extended_zoom_enabled()); // no rasterizer said it can
    static const hardware_rasterizer_procedures zooming = {.supports_extended_zoom = rasterizer_can_zoom};
    ASSERT_TRUE(register_hardware_rasterizer_procedures(&zooming));
    EXPECT_FALSE(extended_zoom_enabled()); // single player
    game_->type = _game_type_replay;
    EXPECT_TRUE(extended_zoom_enabled());
    game_->type = _game_type_networked;
    local_player_team_index = 0;
    EXPECT_FALSE(extended_zoom_enabled());
    local_player_team_index = NONE;
    EXPECT_TRUE(extended_zoom_enabled());

    start_map();
    EXPECT_FLOAT_EQ(physics().minimum_zoom_factor, OBSERVER_EXTENDED_MINIMUM_ZOOM_FACTOR);
    act({_shift_down_bit, _latched_zoom_out_bit}, 6);
    EXPECT_FLOAT_EQ(physics().zoom_factor, -5.0f);
    EXPECT_TRUE(perma_disable_extended_zoom());
    EXPECT_FALSE(extended_zoom_enabled());
    EXPECT_FALSE(perma_disable_extended_zoom());
    dispose_observer_from_old_map(); // until the map ends
    EXPECT_TRUE(extended_zoom_enabled());
    game_->type = _game_type_local;
}

TEST_P(observer_camera, edge_scrolling_with_the_default_options)
{
    struct
    {
        int16_t x, y;
        real parallel, orthogonal;
    } const cases[] = {
        {320, 0, 1, 0},      // top edge: forward at full strength
        {320, 5, 0, 0},      // 5 pixels below it: nothing
        {320, 2, 0.6f, 0},
        {0, 240, 0, -1},     // left edge halfway down: sideways left
        {639, 240, 0, 0.8f}, // right edge
        {320, 479, -0.8f, 0},
        {320, 240, 0, 0},
    };
    for (const auto &c : cases)
    {
        action_data action = action_with({_action_pointer_valid_bit});
        action.pointer = {c.x, c.y};
        real parallel = 0, orthogonal = 0, yaw = 0, orbit = 0;
        adjust_axis_values_for_mouse_movement(&action, &parallel, &orthogonal, &yaw, &orbit);
        EXPECT_NEAR(parallel, c.parallel, 1e-5) << c.x << "," << c.y;
        EXPECT_NEAR(orthogonal, c.orthogonal, 1e-5) << c.x << "," << c.y;
        EXPECT_EQ(yaw, 0);
        EXPECT_EQ(orbit, 0);
    }
    // A held button or a pointer outside the window: no push.
    action_data pressed = action_with({_action_pointer_valid_bit, _left_mouse_down_bit});
    real parallel = 0, orthogonal = 0, yaw = 0, orbit = 0;
    adjust_axis_values_for_mouse_movement(&pressed, &parallel, &orthogonal, &yaw, &orbit);
    EXPECT_EQ(parallel, 0);

    // Reversed left-right: the left edge moves the camera right.
    mouse_control_data mouse = *get_mouse_controls();
    mouse.flags |= _mouse_control_reversed_left_right_flag;
    slam_current_settings(get_input_definition(), &mouse, 0);
    action_data left = action_with({_action_pointer_valid_bit});
    left.pointer = {0, 240};
    adjust_axis_values_for_mouse_movement(&left, &parallel, &orthogonal, &yaw, &orbit);
    EXPECT_FLOAT_EQ(orthogonal, 1);

    // A forward key against the bottom edge: the axis is 1 - m.
    slam_current_settings(get_input_definition(), &mouse, 0);
    action_data forward = action_with({_action_pointer_valid_bit, _move_forward_bit});
    forward.pointer = {320, 477};
    update_observer_physics_variables_for_action(&forward);
    real axes[5];
    get_observer_axis_values(&axes[0], &axes[1], &axes[2], &axes[3], &axes[4]);
    EXPECT_NEAR(axes[1], 0.6f, 1e-5);
}

TEST_P(observer_camera, looking_at_a_point_searches_for_a_yaw_that_fits)
{
    // Room behind the point along the requested yaw: that yaw.
    world_location3d location;
    memset(&location, 0, sizeof(location));
    location.position = {size * 512 / 2, size * 512 / 2, 0};
    location.yaw = 0;
    set_observer_location(&location);
    if (size >= 26)
    {
        EXPECT_NEAR(physics().x, size / 2.0f - 12.25f, 1e-3);
    }
    else
    {
        // 12.25 cells behind never fits: the camera sits on the point and faces it.
        EXPECT_NEAR(physics().x, size / 2.0f, 1e-3);
        EXPECT_NEAR(physics().y, size / 2.0f, 1e-3);
    }
    EXPECT_EQ(physics().z, OBSERVER_DEFAULT_HEIGHT);
    EXPECT_EQ(physics().pitch, OBSERVER_DEFAULT_PITCH);
}

TEST_P(observer_camera, the_view_tilts_with_zoom_and_keeps_the_eye_above_ground)
{
    view_data view;
    const uint16_t seed_before = local_random(); // the shake draws only from local_random
    (void)seed_before;
    build_observer_view(&view, 0, 640, 480);
    const angle flat_pitch = view.location.pitch;
    EXPECT_EQ(view.resolution_width, 640);
    EXPECT_EQ(view.half_resolution_height, 240);
    EXPECT_TRUE(view.flags & _view_filtering_flag);
    EXPECT_NEAR(view.tangent_of_half_field_of_view, std::tan(25.0 * M_PI / 180.0), 1e-6);
    EXPECT_FLOAT_EQ(view.vertical_offset, -0.14285715f);

    camera_sample(_camera_sample_zoom, false, 0, 0, 0, 0, 0, -3.0f);
    build_observer_view(&view, 0, 640, 0); // a height of 0 divides nothing
    const int32_t tilt = (int32_t)flat_pitch - (int32_t)view.location.pitch;
    EXPECT_NEAR(tilt, 0.15704128 / (2 * M_PI) * 65536, 2); // at most the full tilt
    EXPECT_GE(view.location.position.z, 1024); // two cells above the ground
    EXPECT_GE(view.location.position.x, 0);
    EXPECT_LE(view.location.position.x, (size - 1) * 512);

    // A camera placed at once keeps its zoom velocity.
    act({_zoom_in_bit}, 3);
    const real zoom_velocity = velocity(_observer_velocity_zoom);
    place(3, 3, 1);
    EXPECT_EQ(velocity(_observer_velocity_zoom), zoom_velocity);
    EXPECT_NE(sound_listener_proc(), nullptr);
    EXPECT_NEAR(sound_listener_proc()->position.x, 3 * 512 + 3072 * std::cos(1.0), 1);
}

TEST_P(observer_camera, camera_activity_leaves_the_simulation_alone)
{
    const uint32_t seed = get_random_seed();
    const uint32_t draws = get_vesk_random_draw_count();
    set_observer_shaking(0, NONE, NONE);
    view_data view;
    for (int32_t i = 0; i < 20; i++)
    {
        act({_move_forward_bit, _orbit_left_bit, _zoom_out_bit});
        frame(33);
        build_observer_view(&view, 0, 640, 480);
    }
    EXPECT_EQ(get_random_seed(), seed);
    EXPECT_EQ(get_vesk_random_draw_count(), draws);
}

// Local time runs on while paused (input and dialogs live on it); the view's
// animation clock must not, or the water and animated materials move in a
// paused game.  Each stretch is `frames` idle frames of one local tick.
TEST_P(observer_camera, a_paused_game_stops_the_views_clock_until_it_resumes)
{
    struct stretch { int16_t type; bool paused; int32_t frames, clock_advance; };
    const stretch stretches[] = {
        {_game_type_replay, false, 4, 4},   {_game_type_replay, true, 300, 0},
        {_game_type_local, true, 50, 0},    {_game_type_replay, false, 3, 3}, // resumes where it stopped
        {_game_type_networked, true, 6, 6}, // one machine cannot stop a network game
    };
    view_data view;
    game_->local_time.store(1000);
    build_observer_view(&view, 0, 640, 480);
    for (const stretch &s : stretches)
    {
        const int32_t clock = view.tick_count;
        game_->type = s.type;
        pause_game(s.paused);
        for (int32_t i = 0; i < s.frames; i++)
        {
            game_->local_time.fetch_add(1);
            frame(33);
            build_observer_view(&view, 0, 640, 480);
        }
        EXPECT_EQ(view.tick_count - clock, s.clock_advance) << "type " << s.type << (s.paused ? " paused" : "");
    }
    pause_game(false);
}

INSTANTIATE_TEST_SUITE_P(meshes, observer_camera, ::testing::Values<int16_t>(16, 8, 32));

TEST(observer_height_filter, works_on_meshes_smaller_than_its_neighbourhood)
{
    reset_game_core();
    for (int16_t size : {8, 16})
    {
        ASSERT_TRUE(load_mesh(size, _mesh_has_terrain_following_camera_flag, 0, true));
        ASSERT_TRUE(initialize_observer());
        clear_pending_error();
        EXPECT_FALSE(initialize_observer_for_new_map(NONE));
        clear_pending_error();
        const real centre = observer_filtered_height(size / 2.0f, size / 2.0f);
        EXPECT_NEAR(centre, 2048, 1);
        const real corner = observer_filtered_height(size / 2.0f - 3.5f, size / 2.0f - 3.5f);
        EXPECT_LT(corner, centre);
        EXPECT_GT(corner, 0);
        view_data view;
        build_observer_view(&view, 0, 640, 480);
        dispose_observer_from_old_map();
        dispose_mesh_from_old_map();
    }
    clear_all_registrations();
}

} // namespace

} // namespace observer_test_file

// Camera tracking on a 16 x 16 unit world with the real observer: what may
// be followed, how offers fill the list of five, renewal, the eased and the
// jumped switch, a landed projectile's grace, the choice by priority, the
// orbit speed ramp, and that none of it touches the simulation (state hash
// and synchronized draws unchanged).

#include "support/monster_test_world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "camera_control.h"
#include "game_preferences.h"
#include "monster_visibility.h"
#include "object_tracking.h"
#include "observer.h"
#include "render/render_surfaces.h"
#include "state_hash.h"
#include "support/scratch.h"
#include "vesk_random.h"

namespace object_tracking_test_file {

namespace {

class object_tracking_test : public monster_test_world
{
protected:
    void SetUp() override
    {
        monster_test_world::SetUp();
        ASSERT_NO_FATAL_FAILURE(start_world(16, 16));
        ASSERT_TRUE(initialize_monster_visibility());
        ASSERT_TRUE(initialize_monster_visibility_for_new_map());
        // Cells within 8 of (4, 4) are seen this tick; (15, 15) is not.
        rasterize_visibility_bitmap(_visibility_type_normal, 4, 4, false);
        swap_visibility_buffers();
        ASSERT_TRUE(initialize_observer());
        // No 'obpc' in this store: the map is refused, the camera keeps the defaults.
        EXPECT_FALSE(initialize_observer_for_new_map(NONE));
        take_pending_error();
        get_game_preferences()->flags &= ~(uint32_t)_game_pref_motion_interpolation_flag;
        game_->option_flags |= _game_option_camera_tracking_initially_on_flag;
        game_->game_time = 1000;
        initialize_camera_control_for_new_map();
        // set_observer_focus measures with the pitch of the last view built.
        view_data view;
        build_observer_view(&view, 0, 640, 480);
    }
    void TearDown() override
    {
        set_camera_control_flags(0);
        dispose_observer_from_old_map();
        dispose_monster_visibility_from_old_map();
        monster_test_world::TearDown();
    }

    // A bare object of `owner` at `at` with a tracking priority and a velocity.
    static int32_t thing(world_point2d at, int8_t owner, uint8_t priority, world_vector3d velocity = {0, 0, 0})
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = NONE;
        request.scale = 256;
        request.owner = owner;
        request.location.position = {at.x, at.y, 0};
        request.collection_index = NONE;
        const int32_t index = new_object(&request);
        EXPECT_NE(index, NONE);
        get_object(index)->tracking_priority = priority;
        get_object(index)->location.velocity = velocity;
        return index;
    }
    static int32_t moving(world_point2d at, uint8_t priority) { return thing(at, _object_is_scenery, priority, {8, 0, 0}); }
    int32_t tracked_unit(world_point2d at, uint8_t priority)
    {
        const int32_t object = unit(make_unit(0, at))->object_index;
        get_object(object)->tracking_priority = priority;
        return object;
    }

    void ticks(int32_t n)
    {
        for (int32_t i = 0; i < n; i++)
        {
            update_camera_tracking();
            game_->game_time++;
        }
    }
    // One frame after one tick.
    void frame(void) { handle_camera_control(1); }

    static int32_t entries_in_use(void)
    {
        int32_t n = 0;
        for (int32_t i = 0; i < MAXIMUM_NUMBER_OF_TRACKED_ITEMS; i++) n += get_tracking_list()[i].object_index != NONE;
        return n;
    }
    static int32_t followed_object(void)
    {
        const tracking_data *t = get_tracking_data();
        return t->list_index == NONE ? (int32_t)NONE : (int32_t)t->object_index;
    }
};

TEST_F(object_tracking_test, what_can_be_followed)
{
    const int32_t walker = tracked_unit(cell_centre(4, 4), 25);
    EXPECT_TRUE(object_can_be_tracked(walker)) << "a unit at rest";
    definition()->monster_class = _monster_class_ambient_life;
    EXPECT_FALSE(object_can_be_tracked(walker)) << "ambient life";
    definition()->monster_class = 0;

    struct
    {
        world_vector3d velocity;
        bool trackable;
    } const movement[] = {
        {{0, 0, 0}, false}, {{4, 4, 4}, false}, {{5, 0, 0}, true}, {{0, 0, 5}, true}, {{-10, -10, -10}, false},
    };
    for (const auto &c : movement)
    {
        const int32_t o = thing(cell_centre(4, 5), _object_is_scenery, 10, c.velocity);
        EXPECT_EQ(object_can_be_tracked(o), c.trackable) << c.velocity.i << " " << c.velocity.j << " " << c.velocity.k;
    }
    const int32_t hidden = moving(cell_centre(4, 6), 10);
    get_object(hidden)->flags |= _object_is_invisible_flag;
    EXPECT_FALSE(object_can_be_tracked(hidden)) << "invisible";
    EXPECT_FALSE(object_can_be_tracked(moving(cell_centre(15, 15), 10))) << "on a cell not seen now";
}

TEST_F(object_tracking_test, offers_fill_the_last_free_entry_and_replace_only_a_lower_priority)
{
    set_camera_control_flags(0);
    add_tracking_object(moving(cell_centre(4, 4), 10), 0);
    EXPECT_EQ(entries_in_use(), 0) << "tracking is off";
    set_camera_control_flags(_camera_controlled_by_object_tracking_flag);

    int32_t objects[MAXIMUM_NUMBER_OF_TRACKED_ITEMS];
    for (int32_t i = 0; i < MAXIMUM_NUMBER_OF_TRACKED_ITEMS; i++)
    {
        objects[i] = moving(cell_centre(3 + i, 4), 10);
        add_tracking_object(objects[i], 0);
        add_tracking_object(objects[i], 0); // a second offer of the same object is ignored
        EXPECT_EQ(get_tracking_list()[MAXIMUM_NUMBER_OF_TRACKED_ITEMS - 1 - i].object_index, objects[i]);
        EXPECT_EQ(entries_in_use(), i + 1);
    }
    EXPECT_GE(get_tracking_list()[4].duration, TRACKING_TIME_LOWER_BOUND);
    EXPECT_LT(get_tracking_list()[4].duration, TRACKING_TIME_LOWER_BOUND + TRACKING_TIME_DELTA);

    const int32_t equal = moving(cell_centre(4, 6), 10);
    add_tracking_object(equal, 0);
    for (int32_t i = 0; i < MAXIMUM_NUMBER_OF_TRACKED_ITEMS; i++)
        EXPECT_NE(get_tracking_list()[i].object_index, equal) << "a sixth of equal priority is refused";

    const int32_t higher = thing(cell_centre(4, 7), _object_is_projectile, 11, {0, 9, 0});
    add_tracking_object(higher, 0);
    EXPECT_EQ(get_tracking_list()[0].object_index, higher) << "the first of the lowest is replaced";
    EXPECT_EQ(get_tracking_list()[0].type, _tracking_projectile);
    EXPECT_EQ(get_tracking_list()[0].duration, PROJECTILE_TRACKING_TIME);
}

TEST_F(object_tracking_test, an_offer_that_replaces_the_followed_entry_is_followed_next)
{
    int32_t objects[MAXIMUM_NUMBER_OF_TRACKED_ITEMS];
    for (int32_t i = 0; i < MAXIMUM_NUMBER_OF_TRACKED_ITEMS; i++)
    {
        objects[i] = moving(cell_centre(3 + i, 4), i == 0 ? 5 : 10);
        add_tracking_object(objects[i], 0);
    }
    // Offers fill the list from its end: the last object offered sits first.
    const int32_t chosen = objects[MAXIMUM_NUMBER_OF_TRACKED_ITEMS - 1];
    ticks(1);
    ASSERT_EQ(followed_object(), chosen) << "the first entry of the highest priority";
    // The followed object drops to the lowest priority; a better offer takes its entry.
    get_object(chosen)->tracking_priority = 1;
    ticks(1);
    ASSERT_EQ(followed_object(), chosen) << "the followed entry stays while none is strictly higher";
    const int32_t better = moving(cell_centre(4, 7), 20);
    add_tracking_object(better, 0);
    ticks(1);
    EXPECT_EQ(followed_object(), better);
    frame();
    EXPECT_EQ(get_tracking_data()->object_index, better) << "the camera is on the object its entry holds";
}

TEST_F(object_tracking_test, one_entry_is_renewed_and_of_two_the_followed_one_runs_out)
{
    const int32_t walker = tracked_unit(cell_centre(4, 4), 25);
    add_tracking_object(walker, 0);
    ticks(1);
    EXPECT_EQ(followed_object(), walker);
    EXPECT_TRUE(get_tracking_data()->tracked_first_object);
    ticks(1000);
    EXPECT_EQ(followed_object(), walker) << "renewed while it is the only entry";

    const int32_t other = tracked_unit(cell_centre(6, 4), 25);
    add_tracking_object(other, 0);
    int32_t switched_after = 0;
    while (followed_object() == walker && switched_after < 400)
    {
        ticks(1);
        switched_after++;
    }
    EXPECT_EQ(followed_object(), other);
    EXPECT_LE(switched_after, TRACKING_TIME_LOWER_BOUND + TRACKING_TIME_DELTA);
    EXPECT_EQ(entries_in_use(), 1) << "the expired entry is freed";
}

TEST_F(object_tracking_test, a_target_5119_away_is_eased_over_31_frames_and_5120_away_is_jumped)
{
    const world_point2d start = {300, 2000};
    const int32_t first = moving(start, 5);
    add_tracking_object(first, 0);
    ticks(1);
    EXPECT_EQ(get_tracking_data()->step_index, NONE) << "the first object is jumped to";
    frame();

    const int32_t near = moving({start.x + 5119, start.y}, 6);
    add_tracking_object(near, 0);
    ticks(1);
    ASSERT_EQ(followed_object(), near);
    EXPECT_EQ(get_tracking_data()->step_index, 0);
    const world_point3d from = get_tracking_data()->old_location;
    EXPECT_EQ(from.x, start.x);
    int32_t frames = 0;
    while (get_tracking_data()->step_index != NONE && frames < 100)
    {
        frame();
        frames++;
        if (get_tracking_data()->step_index != NONE)
        {
            EXPECT_EQ(get_tracking_data()->step_index, frames);
        }
    }
    EXPECT_EQ(frames, NUMBER_OF_INTERPOLANT_STEPS + 1);

    const int32_t far = moving({start.x + 5119 - 5120, start.y}, 7);
    add_tracking_object(far, 0);
    ticks(1);
    ASSERT_EQ(followed_object(), far);
    EXPECT_EQ(get_tracking_data()->step_index, NONE);
}

TEST_F(object_tracking_test, an_eased_move_between_equal_angles_keeps_the_angle)
{
    const int32_t first = moving({600, 2000}, 5);
    add_tracking_object(first, 0);
    ticks(1);
    const int32_t second = moving({1600, 2000}, 6);
    add_tracking_object(second, 0);
    ticks(1);
    ASSERT_EQ(get_tracking_data()->step_index, 0);
    // The switch drew a new angle; make the two ends equal.
    tracking_data *t = const_cast<tracking_data *>(get_tracking_data());
    t->viewing_angle = t->old_viewing_angle = 12345;
    t->orbit_state = _tracking_not_orbiting;
    for (int32_t i = 0; i <= NUMBER_OF_INTERPOLANT_STEPS; i++)
    {
        frame();
        const real expected = std::fmod(12345 * 6.28318530717958647692f / 65536 + 3.14159265358979323846f,
                                        6.28318530717958647692f);
        EXPECT_NEAR(get_observer_physics_variables()->yaw, expected, 1e-3) << i;
    }
}

TEST_F(object_tracking_test, a_landed_projectile_keeps_the_camera_30_ticks_only_while_followed)
{
    const int32_t flying = thing(cell_centre(4, 4), _object_is_projectile, 50, {20, 0, 0});
    const int32_t other = thing(cell_centre(5, 5), _object_is_projectile, 10, {20, 0, 0});
    add_tracking_object(flying, 0);
    add_tracking_object(other, 0);
    ticks(1);
    ASSERT_EQ(followed_object(), flying);
    get_object(flying)->location.velocity = {0, 0, 0};
    get_object(other)->location.velocity = {0, 0, 0};
    ticks(1);
    EXPECT_EQ(entries_in_use(), 1) << "a landed projectile not followed is dropped at once";
    ticks(PROJECTILE_TRACKING_TIME - 2);
    EXPECT_EQ(followed_object(), flying);
    ticks(1);
    EXPECT_EQ(get_tracking_data()->list_index, NONE);
    EXPECT_EQ(entries_in_use(), 0);
}

TEST_F(object_tracking_test, the_choice_goes_to_the_strictly_higher_priority)
{
    const int32_t a = moving(cell_centre(4, 4), 5);
    add_tracking_object(a, 0);
    ticks(1);
    ASSERT_EQ(followed_object(), a);
    const int32_t tie = moving(cell_centre(5, 4), 5);
    add_tracking_object(tie, 0);
    ticks(1);
    EXPECT_EQ(followed_object(), a) << "a tie keeps the followed entry";

    const int32_t low = moving(cell_centre(6, 4), 0);
    const int32_t high = moving(cell_centre(7, 4), 3);
    add_tracking_object(low, 0);
    add_tracking_object(high, 0);
    get_object(tie)->location.velocity = {0, 0, 0};
    get_object(a)->location.velocity = {0, 0, 0}; // the followed entry is freed
    ticks(1);
    EXPECT_EQ(followed_object(), high);

    get_object(low)->tracking_priority = 9; // priorities are read afresh each tick
    ticks(1);
    EXPECT_EQ(followed_object(), low);
}

TEST_F(object_tracking_test, the_orbit_speeds_up_by_16_to_256_and_slows_down_again)
{
    const int32_t walker = tracked_unit(cell_centre(4, 4), 25);
    add_tracking_object(walker, 0);
    int32_t waited = 0;
    while (get_tracking_data()->orbit_state == _tracking_not_orbiting && waited < 700)
    {
        ticks(1);
        waited++;
    }
    ASSERT_NE(get_tracking_data()->orbit_state, _tracking_not_orbiting);
    EXPECT_GT(waited, TIME_BEFORE_ORBITING_AGAIN_LOWER_BOUND);
    const int32_t direction = get_tracking_data()->orbit_state == _tracking_orbiting_up ? 1 : -1;
    for (int32_t i = 1; i <= 20; i++)
    {
        const angle before = get_tracking_data()->viewing_angle;
        frame();
        const int32_t speed = std::min<int32_t>(16 * i, MAXIMUM_ORBIT_VELOCITY);
        EXPECT_EQ(get_tracking_data()->orbit_velocity, speed);
        EXPECT_EQ((angle)(get_tracking_data()->viewing_angle - before), (angle)(direction * speed));
    }
    while (get_tracking_data()->orbit_state != _tracking_not_orbiting) ticks(1);
    for (int32_t i = 1; i <= 17; i++)
    {
        const angle before = get_tracking_data()->viewing_angle;
        frame();
        EXPECT_EQ(get_tracking_data()->orbit_velocity, std::max<int32_t>(0, MAXIMUM_ORBIT_VELOCITY - 16 * i));
        EXPECT_EQ(get_tracking_data()->viewing_angle, before);
    }
}

TEST_F(object_tracking_test, tracking_draws_only_the_local_generator_and_leaves_the_state_hash)
{
    const int32_t walker = tracked_unit(cell_centre(4, 4), 25);
    const int32_t arrow = thing(cell_centre(6, 6), _object_is_projectile, 40, {0, 30, 0});
    const uint32_t hash = compute_state_hash();
    const uint32_t seed = get_random_seed();
    const int32_t time = game_->game_time;
    reset_random_draw_counts();
    add_tracking_object(walker, 0);
    add_tracking_object(arrow, 0);
    for (int32_t i = 0; i < 900; i++)
    {
        ticks(1);
        frame();
    }
    EXPECT_NE(followed_object(), NONE);
    game_->game_time = time; // the test's own clock, not the camera's doing
    EXPECT_GT(get_local_random_draw_count(), 0u);
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    EXPECT_EQ(get_random_seed(), seed);
    EXPECT_EQ(compute_state_hash(), hash);
}

} // namespace

} // namespace object_tracking_test_file

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "screen_procedures.h"
#include "action_queue_procedures.h"
#include "game_hooks.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"

namespace action_queue_test_file {

namespace {

std::vector<action_data> delivered;

bool capture_action(action_data *action)
{
    delivered.push_back(*action);
    return false;
}

action_data blank_action(void)
{
    action_data action = {};
    action.ascii_code = NONE;
    action.key_code = NONE;
    return action;
}

// A record as the preprocessing sees it: already stamped.
action_data tick_record(int32_t time_delta, std::initializer_list<int32_t> bits = {})
{
    action_data action = blank_action();
    action.time_delta = time_delta;
    for (int32_t bit : bits) set_action_flag(&action, bit);
    return action;
}

action_data key_record(int16_t key_code, std::initializer_list<int32_t> bits = {})
{
    action_data action = tick_record(0, bits);
    action.key_code = key_code;
    return action;
}

class actions : public ::testing::Test
{
protected:
    void SetUp(void) override
    {
        reset_game_core();
        delivered.clear();
        ASSERT_TRUE(register_action_procedure(_action_cursor_visibility, capture_action));
        ASSERT_TRUE(initialize_actions());
    }
};

// ---- the queue ----------------------------------------------------------------------

TEST_F(actions, queue_holds_31_records_drops_the_next_and_delivers_them_in_order)
{
    for (int16_t i = 0; i < 31; ++i)
    {
        action_data action = blank_action();
        action.ascii_code = i;
        ASSERT_TRUE(queue_action(&action)) << "record " << i;
    }
    action_data extra = blank_action();
    extra.ascii_code = 99;
    EXPECT_FALSE(queue_action(&extra)) << "the 32nd record is dropped";

    EXPECT_EQ(update_actions(), 0);
    ASSERT_EQ(delivered.size(), 31u);
    for (int16_t i = 0; i < 31; ++i) EXPECT_EQ(delivered[i].ascii_code, i);

    delivered.clear();
    EXPECT_EQ(update_actions(), 0) << "an empty queue covers no ticks";
    EXPECT_TRUE(delivered.empty());
}

TEST_F(actions, records_are_stamped_with_local_time_and_the_frame_covers_the_oldest)
{
    game_->local_time.store(10);
    action_data action = blank_action();
    action.time = 12345; // the caller's stamp is replaced
    ASSERT_TRUE(queue_action(&action));
    EXPECT_EQ(action.time, 12345) << "the caller's record is left alone";
    ASSERT_TRUE(queue_action(&action)); // same tick
    game_->local_time.store(14);
    ASSERT_TRUE(queue_action(&action)); // four ticks later
    game_->local_time.store(15);
    ASSERT_TRUE(queue_action(&action));
    game_->local_time.store(17);

    EXPECT_EQ(update_actions(), 17 - 10);
    ASSERT_EQ(delivered.size(), 4u);
    const int32_t times[] = {10, 10, 14, 15};
    const int32_t deltas[] = {1, 0, 1, 1}; // clamped to 0..1
    for (size_t i = 0; i < delivered.size(); ++i)
    {
        EXPECT_EQ(delivered[i].time, times[i]) << i;
        EXPECT_EQ(delivered[i].time_delta, deltas[i]) << i;
    }
}

TEST_F(actions, flush_and_a_dropped_record_leave_the_next_stamp_right)
{
    action_data action = blank_action();
    for (int32_t i = 0; i < 31; ++i) ASSERT_TRUE(queue_action(&action));
    game_->local_time.store(5);
    EXPECT_FALSE(queue_action(&action)) << "full";
    flush_actions();
    EXPECT_EQ(update_actions(), 0) << "flushed";
    EXPECT_TRUE(delivered.empty());

    // The dropped record did not count as queued: the next one is a tick
    // after the last record that was.
    ASSERT_TRUE(queue_action(&action));
    EXPECT_EQ(update_actions(), 0);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].time, 5);
    EXPECT_EQ(delivered[0].time_delta, 1);
}

TEST_F(actions, the_core_drains_the_queue_through_its_procedures)
{
    register_action_queue_hooks();
    ASSERT_NE(get_action_queue_procedures()->update_actions, nullptr);
    ASSERT_NE(get_action_queue_procedures()->flush_actions, nullptr);
    action_data action = blank_action();
    set_action_flag(&action, _selection_stop_bit);
    ASSERT_TRUE(queue_action(&action));
    get_action_queue_procedures()->update_actions();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(test_action_flag(&delivered[0], _selection_stop_bit)) << "the first press of a request is kept";
}

// ---- latched flags -------------------------------------------------------------------

struct latch_case
{
    int32_t bit;
    int32_t latched_bit; // the same bit for a request that is delivered once
};

TEST_F(actions, a_held_request_is_delivered_once_per_press)
{
    const latch_case cases[] = {
        {_selection_stop_bit, _selection_stop_bit},
        {_selection_cancel_bit, _selection_cancel_bit},
        {_pause_game_bit, _pause_game_bit},
        {_selection_inventory_bit, _selection_inventory_bit},
        {_selection_attack_bit, _latched_attack_bit},
        {_selection_preset_selection_bit, _latched_preset_selection_bit},
        {_zoom_in_bit, _latched_zoom_in_bit},
        {_zoom_out_bit, _latched_zoom_out_bit},
        {_preset_selection_or_formation_valid_bit, _new_preset_selection_or_formation_bit},
        {_left_mouse_down_bit, _left_mouse_click_bit},
    };
    for (const latch_case &c : cases)
    {
        SCOPED_TRACE(c.bit);
        initialize_action_preprocessing();
        const bool separate = c.bit != c.latched_bit;
        for (int32_t tick = 0; tick < 4; ++tick)
        {
            action_data action = tick_record(1, {c.bit});
            preprocess_action(&action);
            EXPECT_EQ(test_action_flag(&action, c.latched_bit), tick == 0) << "tick " << tick;
            if (separate)
            {
                EXPECT_TRUE(test_action_flag(&action, c.bit)) << "the held bit stays, tick " << tick;
            }
            // Several records of one tick: still held, not a new press.
            action_data same_tick = tick_record(0, {c.bit});
            preprocess_action(&same_tick);
            EXPECT_FALSE(test_action_flag(&same_tick, c.latched_bit)) << "same tick " << tick;
        }
        // Released, then pressed again: a new press.
        action_data up = tick_record(1);
        preprocess_action(&up);
        action_data again = tick_record(1, {c.bit});
        preprocess_action(&again);
        EXPECT_TRUE(test_action_flag(&again, c.latched_bit)) << "pressed again";
        // A key-repeat press is never a new press.
        initialize_action_preprocessing();
        action_data repeat = tick_record(1, {c.bit, _key_repeat_bit});
        preprocess_action(&repeat);
        EXPECT_FALSE(test_action_flag(&repeat, c.latched_bit)) << "key repeat";
    }
}

TEST_F(actions, a_button_pressed_again_within_nine_ticks_is_a_double_press)
{
    struct
    {
        int32_t down_bit, double_bit, ticks_up, same_tick_records;
        bool is_double;
    } const cases[] = {
        {_left_mouse_down_bit, _double_left_mouse_down_bit, 1, 0, true},
        {_left_mouse_down_bit, _double_left_mouse_down_bit, 9, 0, true},
        {_left_mouse_down_bit, _double_left_mouse_down_bit, 10, 0, false},
        {_left_mouse_down_bit, _double_left_mouse_down_bit, 9, 5, true}, // delta-0 records do not age it
        {_right_mouse_down_bit, _double_right_mouse_down_bit, 9, 0, true},
        {_right_mouse_down_bit, _double_right_mouse_down_bit, 10, 0, false},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "bit " << c.down_bit << ", up " << c.ticks_up << " ticks");
        initialize_action_preprocessing();
        action_data first = tick_record(1, {c.down_bit});
        preprocess_action(&first);
        EXPECT_FALSE(test_action_flag(&first, c.double_bit));
        for (int32_t tick = 0; tick < c.ticks_up; ++tick)
        {
            action_data up = tick_record(1);
            preprocess_action(&up);
            for (int32_t i = 0; i < c.same_tick_records; ++i)
            {
                action_data extra = tick_record(0);
                preprocess_action(&extra);
            }
        }
        action_data second = tick_record(1, {c.down_bit});
        preprocess_action(&second);
        EXPECT_EQ(test_action_flag(&second, c.double_bit), c.is_double);
    }
}

TEST_F(actions, the_same_key_pressed_again_within_twenty_ticks_is_a_double_key_press)
{
    struct
    {
        int32_t ticks_between;
        int16_t second_key;
        bool second_with_shift;
        bool is_double;
    } const cases[] = {
        {0, 45, false, true},   // two presses in one tick
        {19, 45, false, true},
        {20, 45, false, false},
        {5, 46, false, false},  // another key
        {5, 45, true, false},   // the same key with other modifiers
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.ticks_between << " ticks, key " << c.second_key);
        initialize_action_preprocessing();
        action_data first = key_record(45);
        preprocess_action(&first);
        EXPECT_FALSE(test_action_flag(&first, _key_double_bit));
        for (int32_t tick = 0; tick < c.ticks_between; ++tick)
        {
            action_data tick_action = tick_record(1);
            preprocess_action(&tick_action);
        }
        // The tick's own record (delta 0) lies between two presses of one tick.
        if (c.ticks_between == 0)
        {
            action_data tick_action = tick_record(0);
            preprocess_action(&tick_action);
        }
        action_data second = c.second_with_shift ? key_record(c.second_key, {_shift_down_bit}) : key_record(c.second_key);
        preprocess_action(&second);
        EXPECT_EQ(test_action_flag(&second, _key_double_bit), c.is_double);
    }

    // A third press starts a new pair, which a fourth completes.
    initialize_action_preprocessing();
    bool doubles[4];
    for (bool &is_double : doubles)
    {
        action_data press = key_record(45);
        preprocess_action(&press);
        is_double = test_action_flag(&press, _key_double_bit);
        action_data tick_action = tick_record(1);
        preprocess_action(&tick_action);
    }
    EXPECT_FALSE(doubles[0]);
    EXPECT_TRUE(doubles[1]);
    EXPECT_FALSE(doubles[2]);
    EXPECT_TRUE(doubles[3]);
}


TEST_F(actions, modifiers_rewrite_panning_into_zoom_and_orbit_and_preset_recall_into_formations)
{
    action_data plain = tick_record(1, {_move_forward_bit, _yaw_left_bit, _selection_rotate_preset_bit});
    preprocess_action(&plain);
    EXPECT_TRUE(test_action_flag(&plain, _move_forward_bit));
    EXPECT_FALSE(test_action_flag(&plain, _zoom_in_bit));
    EXPECT_TRUE(test_action_flag(&plain, _selection_rotate_preset_bit));

    initialize_action_preprocessing();
    action_data modified =
        tick_record(1, {_orbit_zoom_modifier_bit, _move_forward_bit, _move_backward_bit, _yaw_left_bit, _yaw_right_bit,
                        _move_left_bit});
    preprocess_action(&modified);
    for (int32_t bit : {_move_forward_bit, _move_backward_bit, _yaw_left_bit, _yaw_right_bit})
        EXPECT_FALSE(test_action_flag(&modified, bit)) << bit;
    for (int32_t bit : {_zoom_in_bit, _zoom_out_bit, _orbit_left_bit, _orbit_right_bit, _move_left_bit})
        EXPECT_TRUE(test_action_flag(&modified, bit)) << bit;

    // Key bindings that ask for the alternate recall.
    input_definition definition = {};
    const mouse_control_data mouse = {};
    definition.flags = _input_definition_alternate_preset_recall_flag;
    slam_current_settings(&definition, &mouse, 0);
    initialize_action_preprocessing();
    action_data recall = tick_record(1, {_selection_rotate_preset_bit});
    preprocess_action(&recall);
    EXPECT_FALSE(test_action_flag(&recall, _selection_rotate_preset_bit));
    EXPECT_TRUE(test_action_flag(&recall, _selection_choose_formation_bit));
    definition.flags = 0;
    slam_current_settings(&definition, &mouse, 0);
}

// ---- flags and flag ranges ---------------------------------------------------------------

TEST_F(actions, flag_numbers_outside_the_flags_touch_nothing)
{
    action_data action = blank_action();
    set_action_flag(&action, 0);
    set_action_flag(&action, 31);
    set_action_flag(&action, 32);
    set_action_flag(&action, 59);
    EXPECT_EQ(action.flags[0], 0x80000001u);
    EXPECT_EQ(action.flags[1], 0x08000001u);
    const action_data before = action;
    {
        expected_assertions expect(9, "bit>=0 && bit<NUMBER_OF_ACTION_FLAGS");
        for (int32_t bit : {-1, 60, 64 + 3})
        {
            set_action_flag(&action, bit);
            clear_action_flag(&action, bit);
            EXPECT_FALSE(test_action_flag(&action, bit));
        }
    }
    EXPECT_EQ(memcmp(&action, &before, sizeof(action)), 0);
    EXPECT_FALSE(test_action_flag(nullptr, 3));
    EXPECT_EQ(get_action_flag_range(nullptr, _preset_selection_or_formation_valid_bit, 4), NONE);
}

TEST_F(actions, a_flag_range_keeps_its_first_value_within_its_four_bits)
{
    action_data action = blank_action();
    const int32_t valid = _preset_selection_or_formation_valid_bit;
    EXPECT_EQ(get_action_flag_range(&action, valid, 4), NONE) << "valid bit clear";
    set_action_flag_range(&action, valid, 0);
    EXPECT_EQ(get_action_flag_range(&action, valid, 4), 0);

    action = blank_action();
    set_action_flag_range(&action, valid, 11);
    set_action_flag_range(&action, valid, 4);
    EXPECT_EQ(get_action_flag_range(&action, valid, 4), 11) << "the first value wins";

    // A value too large for the range must not reach the overhead-map and
    // pause flags above it.
    action = blank_action();
    {
        expected_assertions expect(1, "does not fit");
        set_action_flag_range(&action, valid, 0x3F);
    }
    EXPECT_EQ(get_action_flag_range(&action, valid, 4), 15);
    EXPECT_FALSE(test_action_flag(&action, _toggle_overhead_map_bit));
    EXPECT_FALSE(test_action_flag(&action, _pause_game_bit));

    {
        expected_assertions expect(2, "flag range outside");
        set_action_flag_range(&action, 57, 1); // its bits would run past flag 59
        EXPECT_EQ(get_action_flag_range(&action, 50, 12), NONE);
    }
    EXPECT_FALSE(test_action_flag(&action, 57));
}

// ---- the pointer ------------------------------------------------------------------------

pointer_screen_data test_screen;

void read_test_screen(pointer_screen_data *screen)
{
    *screen = test_screen;
}

TEST_F(actions, the_pointer_is_clamped_to_the_screen_and_scaled_to_96_dpi)
{
    int16_t x = -1, y = -1;
    set_mouse_position(0, 0);
    EXPECT_TRUE(get_mouse_position_vesk(&x, &y)) << "a pointer at the corner of an active screen";
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);

    struct
    {
        int16_t pointer_x, pointer_y;
        bool registered_screen;
        pointer_screen_data screen;
        int16_t x, y;
        bool inside;
    } const cases[] = {
        {100, 50, false, {}, 100, 50, true},          // the default 640 x 480 at 96 dpi
        {700, -5, false, {}, 639, 0, false},          // clamped
        {639, 479, false, {}, 639, 479, true},
        {640, 10, false, {}, 639, 10, false},
        {1000, 600, true, {1920, 1200, 192, true}, 500, 300, true},
        {1000, 600, true, {1920, 1200, 0, true}, 1000, 600, true}, // no density reported: 96
        {1000, 600, true, {1920, 1200, 96, false}, 1000, 600, false}, // window inactive
    };
    bool screen_registered = false;
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.pointer_x << ", " << c.pointer_y << " at " << c.screen.dpi << " dpi");
        if (c.registered_screen && !screen_registered)
        {
            static const screen_procedures screen = {.read_pointer_screen = read_test_screen};
            screen_registered = register_screen_procedures(&screen);
        }
        test_screen = c.screen;
        set_mouse_position(c.pointer_x, c.pointer_y);
        EXPECT_EQ(get_mouse_position_vesk(&x, &y), c.inside);
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
    }
    test_screen = {640, 480, 96, true};
    set_mouse_position(10, 10);
    EXPECT_TRUE(get_mouse_position_vesk(nullptr, nullptr)) << "out-pointers are optional";
}

} // namespace

} // namespace action_queue_test_file

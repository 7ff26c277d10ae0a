// Device input and the keyboard task, driven by hand-built window-system
// events and single calls of the task procedure on the test thread: the
// records that keys, buttons, the pointer and the wheel give through the
// default bindings, the button ring at and past its capacity, the grab key,
// and the multi-touch gestures.

#include "tag_files/store_fixture.h"

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "global_keys.h"
#include "input/action_queue.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "input/touch_controller.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"

namespace keyboard_test_file {

namespace {

std::vector<action_data> delivered;
bool cursor_shown = true;

bool capture_action(action_data *action)
{
    delivered.push_back(*action);
    return false;
}

bool cursor_visibility(void)
{
    return cursor_shown;
}

SDL_Event key_event(bool down, SDLKey symbol, int32_t modifiers = KMOD_NONE)
{
    SDL_Event event;
    memset(&event, 0, sizeof(event));
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.type = event.type;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = symbol;
    event.key.keysym.mod = (SDLMod)modifiers;
    return event;
}

SDL_Event button_event(bool down, uint8_t button, uint16_t x = 0, uint16_t y = 0)
{
    SDL_Event event;
    memset(&event, 0, sizeof(event));
    event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    event.button.type = event.type;
    event.button.button = button;
    event.button.x = x;
    event.button.y = y;
    return event;
}

SDL_Event motion_event(uint16_t x, uint16_t y)
{
    SDL_Event event;
    memset(&event, 0, sizeof(event));
    event.type = SDL_MOUSEMOTION;
    event.motion.type = SDL_MOUSEMOTION;
    event.motion.x = x;
    event.motion.y = y;
    return event;
}

class device_input : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        start_store();
        reset_game_core();
        delivered.clear();
        cursor_shown = true;
        ASSERT_TRUE(register_action_procedure(_action_cursor_visibility, capture_action));
        register_keyboard_hooks();
        ASSERT_TRUE(register_mouse_cursor_visible_procedure(cursor_visibility));
        ASSERT_TRUE(initialize_input_definition());
        ASSERT_TRUE(initialize_actions());
        // The tests are the timer: no task may run beside them.
        remove_keyboard_queue_task();
        initialize_input_device();
        initialize_touch_controller();
        // Each frame publishes the game's state for the task.
        game_->state = _game_state_running;
        publish_game_state_to_keyboard_task(_game_state_running);
        set_keyboard_queue_task_state(true);
    }

    void TearDown() override
    {
        set_keyboard_queue_task_state(false);
        store_test::TearDown();
    }

    static void send(const SDL_Event &event)
    {
        queue_input_event_if_necessary(&event);
    }

    static void tick(void)
    {
        keyboard_queue_task_proc(nullptr);
    }

    // The records queued since the last call, as the game receives them.
    static std::vector<action_data> drain(void)
    {
        delivered.clear();
        update_actions();
        return delivered;
    }

    // The one key-press record that `event` queues.
    static action_data press_record(const SDL_Event &event)
    {
        drain();
        send(event);
        const std::vector<action_data> records = drain();
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? action_data{} : records.back();
    }

    static void use_mouse_flags(uint32_t flags)
    {
        mouse_control_data mouse = *get_mouse_controls();
        mouse.flags = flags;
        slam_current_settings(get_input_definition(), &mouse, get_current_input_definition_set_index());
    }
};

// ---- keys -----------------------------------------------------------------------------

TEST_F(device_input, key_events_give_the_internal_code_and_character_of_the_key)
{
    struct
    {
        SDLKey symbol;
        int32_t modifiers;
        int16_t key_code;
        int16_t ascii_code;
    } const cases[] = {
        {SDLK_EQUALS, KMOD_NONE, _keypad_equals, 61},
        {SDLK_EQUALS, KMOD_LSHIFT, _key_plus, 43},
        {SDLK_EQUALS, KMOD_RSHIFT, _key_plus, 43},
        {SDLK_SLASH, KMOD_NONE, _keypad_slash, 47},
        {SDLK_SLASH, KMOD_LSHIFT, _key_question_mark, 63},
        {SDLK_a, KMOD_NONE, _key_a, 97},
        {SDLK_a, KMOD_LSHIFT, _key_a, 65},
        {SDLK_F5, KMOD_NONE, _key_f5, -1},
        {SDLK_KP7, KMOD_NONE, _keypad_7, 55},
        {SDLK_RCTRL, KMOD_RCTRL, _key_control, -1},
        {SDLK_RALT, KMOD_RALT, _key_command, -1},
        {SDLK_RSHIFT, KMOD_RSHIFT, _key_shift, -1},
        {SDLK_RSUPER, KMOD_NONE, _key_option, -1},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "symbol " << c.symbol << " modifiers " << c.modifiers);
        const action_data record = press_record(key_event(true, c.symbol, c.modifiers));
        EXPECT_EQ(record.key_code, c.key_code);
        EXPECT_EQ(record.ascii_code, c.ascii_code);
        EXPECT_TRUE(key_down(c.key_code));
        send(key_event(false, c.symbol, c.modifiers));
        EXPECT_FALSE(key_down(c.key_code));
    }
}

TEST_F(device_input, modifiers_set_their_bits_and_the_option_column)
{
    // Super is the option key: held, it picks the third column.
    send(key_event(true, SDLK_LSUPER));
    action_data record = press_record(key_event(true, SDLK_e, KMOD_LSHIFT | KMOD_LALT | KMOD_LCTRL));
    EXPECT_EQ(record.ascii_code, 171);
    EXPECT_TRUE(test_action_flag(&record, _shift_down_bit));
    EXPECT_TRUE(test_action_flag(&record, _option_down_bit));
    EXPECT_TRUE(test_action_flag(&record, _command_down_bit));
    EXPECT_TRUE(test_action_flag(&record, _control_down_bit));

    send(key_event(false, SDLK_LSUPER));
    record = press_record(key_event(true, SDLK_r));
    EXPECT_EQ(record.ascii_code, 114);
    EXPECT_FALSE(test_action_flag(&record, _option_down_bit));
}

TEST_F(device_input, releasing_the_plain_key_also_releases_its_shifted_code)
{
    send(key_event(true, SDLK_EQUALS, KMOD_LSHIFT));
    send(key_event(true, SDLK_SLASH, KMOD_LSHIFT));
    EXPECT_TRUE(key_down(_key_plus));
    EXPECT_TRUE(key_down(_key_question_mark));
    // Shift went up first: the keys come up as their plain selves.
    send(key_event(false, SDLK_EQUALS));
    send(key_event(false, SDLK_SLASH));
    EXPECT_FALSE(key_down(_key_plus));
    EXPECT_FALSE(key_down(_key_question_mark));
    EXPECT_FALSE(key_down(_keypad_equals));
}

TEST_F(device_input, repeats_carry_the_repeat_bit_except_for_keys_whose_repeats_are_ignored)
{
    drain();
    send(key_event(true, SDLK_k));
    send(key_event(true, SDLK_k));
    send(key_event(true, SDLK_k));
    std::vector<action_data> records = drain();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_FALSE(test_action_flag(&records[0], _key_repeat_bit));
    EXPECT_TRUE(test_action_flag(&records[1], _key_repeat_bit));
    EXPECT_TRUE(test_action_flag(&records[2], _key_repeat_bit));
    for (const action_data &record : records) EXPECT_EQ(record.key_code, _key_k);

    for (SDLKey symbol : {SDLK_RETURN, SDLK_ESCAPE, SDLK_LSHIFT, SDLK_CAPSLOCK})
    {
        send(key_event(true, symbol));
        send(key_event(true, symbol));
        send(key_event(true, symbol));
        EXPECT_EQ(drain().size(), 1u) << "symbol " << symbol;
    }
}

TEST_F(device_input, closing_the_window_is_an_escape_press)
{
    SDL_Event quit;
    memset(&quit, 0, sizeof(quit));
    quit.type = SDL_QUIT;
    const action_data record = press_record(quit);
    EXPECT_EQ(record.key_code, _key_escape);
    EXPECT_EQ(record.ascii_code, -1);
    EXPECT_TRUE(test_action_flag(&record, _pause_game_bit)) << "the default bindings pause on Escape";
}

TEST_F(device_input, unknown_keys_and_other_events_are_ignored)
{
    drain();
    send(key_event(true, SDLK_WORLD_0)); // a symbol without an internal code
    send(key_event(true, (SDLKey)400));  // beyond the table
    SDL_Event other;
    memset(&other, 0, sizeof(other));
    other.type = SDL_VIDEOEXPOSE;
    send(other);
    queue_input_event_if_necessary(nullptr);
    EXPECT_TRUE(drain().empty());
}

TEST_F(device_input, key_presses_make_no_record_while_the_task_is_off)
{
    drain();
    set_keyboard_queue_task_state(false);
    send(key_event(true, SDLK_a));
    tick();
    EXPECT_TRUE(drain().empty());
    EXPECT_TRUE(key_down(_key_a)) << "the key state is still kept";
}

// ---- bindings ----------------------------------------------------------------------------

TEST_F(device_input, held_keys_set_their_bound_flags_in_every_tick)
{
    send(key_event(true, SDLK_w));
    drain();
    tick();
    tick();
    std::vector<action_data> records = drain();
    ASSERT_EQ(records.size(), 2u);
    for (const action_data &record : records)
    {
        EXPECT_TRUE(test_action_flag(&record, _move_forward_bit));
        EXPECT_EQ(record.key_code, NONE);
    }
    send(key_event(false, SDLK_w));
    tick();
    records = drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(test_action_flag(&records[0], _move_forward_bit));
}

TEST_F(device_input, digit_keys_store_their_value_and_the_first_held_digit_wins)
{
    for (int16_t digit = 0; digit < 10; ++digit)
    {
        const SDLKey symbol = digit == 9 ? SDLK_0 : (SDLKey)(SDLK_1 + digit);
        const action_data record = press_record(key_event(true, symbol));
        EXPECT_EQ(get_action_flag_range(&record, _preset_selection_or_formation_valid_bit,
                                        NUMBER_OF_PRESET_SELECTION_OR_FORMATION_BITS),
                  digit);
        tick();
        const std::vector<action_data> ticks = drain();
        ASSERT_EQ(ticks.size(), 1u);
        EXPECT_EQ(get_action_flag_range(&ticks[0], _preset_selection_or_formation_valid_bit,
                                        NUMBER_OF_PRESET_SELECTION_OR_FORMATION_BITS),
                  digit)
            << "held, a digit drives the range in the tick records too";
        send(key_event(false, symbol));
    }
    // With 2 held, pressing 5 still gives 2's value: the earlier control wins.
    send(key_event(true, SDLK_2));
    const action_data record = press_record(key_event(true, SDLK_5));
    EXPECT_EQ(record.key_code, _key_5);
    EXPECT_EQ(get_action_flag_range(&record, _preset_selection_or_formation_valid_bit,
                                    NUMBER_OF_PRESET_SELECTION_OR_FORMATION_BITS),
              1);
}

TEST_F(device_input, event_only_controls_act_in_their_key_press_alone)
{
    // Space stops the selection once per press, never while merely held.
    action_data record = press_record(key_event(true, SDLK_SPACE));
    EXPECT_TRUE(test_action_flag(&record, _selection_stop_bit));
    tick();
    std::vector<action_data> ticks = drain();
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_FALSE(test_action_flag(&ticks[0], _selection_stop_bit));
    // Another key's press does not carry it either, though Space is down.
    record = press_record(key_event(true, SDLK_h));
    EXPECT_FALSE(test_action_flag(&record, _selection_stop_bit));
    EXPECT_TRUE(test_action_flag(&record, _selection_center_selection_bit));
}

TEST_F(device_input, controls_outside_their_device_ranges_are_never_down)
{
    send(key_event(true, SDLK_ESCAPE));
    send(button_event(true, SDL_BUTTON_LEFT));
    refresh_device_states();
    const control_definition cases[] = {
        {_input_device_keyboard, -1, 0, 0},
        {_input_device_keyboard, -32768, 0, 0},
        {_input_device_keyboard, NUMBER_OF_KEYBOARD_DEVICE_CODES, 0, 0},
        {_input_device_mouse, -1, 0, 0},
        {_input_device_mouse, NUMBER_OF_MOUSE_DEVICE_CODES, 0, 0},
        {_input_device_mouse, _mouse_axis_wheel, 0, 0},
        {_input_device_joystick, _mouse_button_left, 0, 0},
        {_input_device_none, _key_escape, 0, 0},
    };
    for (const control_definition &control : cases)
        EXPECT_FALSE(test_control_definition(&control)) << "device " << control.device << " code " << control.code;
    EXPECT_TRUE(key_down(_key_escape));
    EXPECT_TRUE(mouse_down(_mouse_button_left));
    EXPECT_FALSE(key_down(-1));
    EXPECT_FALSE(mouse_down(NUMBER_OF_MOUSE_DEVICE_CODES));
}

// ---- mouse buttons -------------------------------------------------------------------------

TEST_F(device_input, a_click_inside_one_tick_gives_one_record_down_and_one_up)
{
    send(button_event(true, SDL_BUTTON_LEFT, 100, 50));
    send(button_event(false, SDL_BUTTON_LEFT, 100, 50));
    send(button_event(true, SDL_BUTTON_RIGHT, 100, 50));
    send(button_event(false, SDL_BUTTON_RIGHT, 100, 50));
    drain();
    for (int i = 0; i < 5; ++i) tick();
    const std::vector<action_data> records = drain();
    ASSERT_EQ(records.size(), 5u);
    const bool left[] = {true, false, false, false, false};
    const bool right[] = {false, false, true, false, false};
    for (size_t i = 0; i < records.size(); ++i)
    {
        EXPECT_EQ(test_action_flag(&records[i], _left_mouse_down_bit), left[i]) << "tick " << i;
        EXPECT_EQ(test_action_flag(&records[i], _right_mouse_down_bit), right[i]) << "tick " << i;
    }
    EXPECT_TRUE(test_action_flag(&records[0], _left_mouse_click_bit));
}

TEST_F(device_input, a_full_button_ring_drops_new_events_and_keeps_those_waiting)
{
    // 50 clicks: 100 events, more than the ring holds.
    for (int i = 0; i < 50; ++i)
    {
        send(button_event(true, SDL_BUTTON_LEFT));
        send(button_event(false, SDL_BUTTON_LEFT));
    }
    const control_definition left = {_input_device_mouse, _mouse_button_left, 0, 0};
    // The 79 that fit come out in order: down, up, down, ...
    for (int i = 0; i < MOUSE_BUTTON_RING_SIZE - 1; ++i)
    {
        refresh_device_states();
        EXPECT_EQ(test_control_definition(&left), i % 2 == 0) << "entry " << i;
    }
    // Then nothing more: the last state stays (the 79th was a press).
    refresh_device_states();
    EXPECT_TRUE(test_control_definition(&left));

    // The ring works on after the overflow.
    send(button_event(false, SDL_BUTTON_LEFT));
    refresh_device_states();
    EXPECT_FALSE(test_control_definition(&left));
}

TEST_F(device_input, the_pointer_is_valid_only_inside_the_window_with_the_cursor_shown)
{
    send(motion_event(200, 120));
    tick();
    std::vector<action_data> records = drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].pointer.x, 200);
    EXPECT_EQ(records[0].pointer.y, 120);
    EXPECT_TRUE(test_action_flag(&records[0], _action_pointer_valid_bit));

    cursor_shown = false;
    tick();
    records = drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(test_action_flag(&records[0], _action_pointer_valid_bit));

    cursor_shown = true;
    send(button_event(true, SDL_BUTTON_MIDDLE, 700, 10)); // beyond the 640-pixel screen
    tick();
    records = drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].pointer.x, 639);
    EXPECT_FALSE(test_action_flag(&records[0], _action_pointer_valid_bit));
    EXPECT_TRUE(test_action_flag(&records[0], _mouse_movement_modifier_bit)) << "the middle button's binding";
}

// ---- the wheel ----------------------------------------------------------------------------------

TEST_F(device_input, a_wheel_notch_gives_a_record_with_the_movement_then_a_copy_without)
{
    send(key_event(true, SDLK_w));
    // A notch is a press and a release; it counts once.
    send(button_event(true, SDL_BUTTON_WHEELUP));
    send(button_event(false, SDL_BUTTON_WHEELUP));
    drain();
    const int32_t before = game_->local_time.load();
    tick();
    EXPECT_EQ(game_->local_time.load(), before + 1) << "one tick, two records";
    std::vector<action_data> records = drain();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].wheel_delta, -MOUSE_WHEEL_NOTCH);
    EXPECT_EQ(records[1].wheel_delta, 0);
    for (const action_data &record : records)
    {
        EXPECT_EQ(record.xwheel_delta, 0);
        EXPECT_TRUE(test_action_flag(&record, _move_forward_bit));
        EXPECT_FALSE(test_action_flag(&record, _zoom_in_bit)) << "the wheel's own binding is skipped";
    }

    // Two notches down in one tick come as one record of +80.
    for (int i = 0; i < 2; ++i)
    {
        send(button_event(true, SDL_BUTTON_WHEELDOWN));
        send(button_event(false, SDL_BUTTON_WHEELDOWN));
    }
    tick();
    records = drain();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].wheel_delta, 2 * MOUSE_WHEEL_NOTCH);
    EXPECT_EQ(records[1].wheel_delta, 0);

    tick();
    EXPECT_EQ(drain().size(), 1u) << "no movement, one record";
}

TEST_F(device_input, a_wheel_that_does_nothing_in_a_running_game_keeps_its_notches)
{
    use_mouse_flags(_mouse_control_enabled_flag | _mouse_control_wheel_does_nothing_flag);
    send(button_event(false, SDL_BUTTON_WHEELUP));
    drain();
    tick();
    std::vector<action_data> records = drain();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].wheel_delta, 0);

    // Out of the running game the notch waiting is delivered.
    publish_game_state_to_keyboard_task(_game_state_displaying_main_menu);
    tick();
    records = drain();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].wheel_delta, -MOUSE_WHEEL_NOTCH);

    // The frame publishes the game's state for the task.
    game_->state = _game_state_running;
    update_actions();
    send(button_event(false, SDL_BUTTON_WHEELUP));
    tick();
    EXPECT_EQ(drain().size(), 1u);
    use_mouse_flags(_mouse_control_enabled_flag | _mouse_control_wheel_zooms_flag);
    tick();
    records = drain();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].wheel_delta, -MOUSE_WHEEL_NOTCH);
}

// ---- the grab --------------------------------------------------------------------------------------

TEST_F(device_input, control_g_toggles_the_grab_once_per_press)
{
    register_global_key_hooks(); // the consumer of the global keys, Ctrl+G among them
    const bool initial = get_sdl_grab_mode();
    game_->state = _game_state_displaying_main_menu;
    send(key_event(true, SDLK_g, KMOD_LCTRL));
    update_actions();
    EXPECT_NE(get_sdl_grab_mode(), initial);
    send(key_event(true, SDLK_g, KMOD_LCTRL)); // a repeat
    send(key_event(false, SDLK_g, KMOD_LCTRL));
    send(key_event(true, SDLK_g)); // without Ctrl
    update_actions();
    EXPECT_NE(get_sdl_grab_mode(), initial);
    send(key_event(false, SDLK_g));
    send(key_event(true, SDLK_g, KMOD_RCTRL));
    update_actions();
    EXPECT_EQ(get_sdl_grab_mode(), initial);
    send(key_event(false, SDLK_g, KMOD_RCTRL));
}

// ---- multi-touch ---------------------------------------------------------------------------------------

TEST(touch_controller, gestures_fill_the_multitouch_fields)
{
    initialize_touch_controller();
    action_data record = {};

    // One finger is no gesture: the mouse flags stay.
    input_touch_point_down(1, 100, 100);
    set_action_flag(&record, _left_mouse_down_bit);
    apply_multitouch_to_action(&record);
    EXPECT_TRUE(test_action_flag(&record, _left_mouse_down_bit));

    // Two fingers: turned and pinched.
    input_touch_point_down(2, 0, 100.5f);
    apply_multitouch_to_action(&record);
    EXPECT_FALSE(test_action_flag(&record, _left_mouse_down_bit)) << "a gesture hides the buttons";
    EXPECT_EQ(record.multitouch_rotation_delta, 0) << "nothing moved yet";
    input_touch_point_move(2, 0, 99.5f);
    apply_multitouch_to_action(&record);
    EXPECT_NEAR(record.multitouch_rotation_delta, 0, 0.02f) << "under 5 pixels is no movement";
    input_touch_point_move(2, 50, 100);
    apply_multitouch_to_action(&record);
    EXPECT_NEAR(record.multitouch_zoom_delta, -50, 0.01f);
    // The vector's angle went from just below minus a half turn to a half
    // turn: a turn of -0.005, not of almost a whole turn.
    EXPECT_NEAR(record.multitouch_rotation_delta, -0.005f, 0.001f);
    input_touch_point_move(2, 50, 101);
    apply_multitouch_to_action(&record);
    EXPECT_NEAR(record.multitouch_rotation_delta, -0.02f, 0.001f);

    // A third finger pans by the centroid.
    input_touch_point_down(3, 10, 10);
    apply_multitouch_to_action(&record);
    input_touch_point_move(3, 40, 40);
    apply_multitouch_to_action(&record);
    EXPECT_NEAR(record.multitouch_pan_delta_x, 10, 0.01f);
    EXPECT_NEAR(record.multitouch_pan_delta_y, 10, 0.01f);
    EXPECT_EQ(record.multitouch_zoom_delta, 0);

    input_touch_point_up(1, 0, 0);
    input_touch_point_up(2, 0, 0);
    input_touch_point_up(3, 0, 0);
    input_touch_point_move(3, 0, 0); // gone: ignored
    action_data after = {};
    set_action_flag(&after, _left_mouse_down_bit);
    apply_multitouch_to_action(&after);
    EXPECT_TRUE(test_action_flag(&after, _left_mouse_down_bit)) << "the gesture ended";
}

TEST(touch_controller, a_second_finger_tapping_is_one_right_click_and_a_fourth_is_ignored)
{
    initialize_touch_controller();
    input_touch_point_down(1, 100, 100);
    input_touch_point_down(2, 200, 100);
    input_touch_point_up(2, 200, 100);
    action_data record = {};
    apply_multitouch_to_action(&record);
    EXPECT_TRUE(test_action_flag(&record, _right_mouse_click_bit));
    record = {};
    apply_multitouch_to_action(&record);
    EXPECT_FALSE(test_action_flag(&record, _right_mouse_click_bit)) << "once";
    input_touch_point_up(1, 100, 100);

    for (uint32_t handle = 1; handle <= 4; ++handle) input_touch_point_down(handle, 10.0f * handle, 0);
    input_touch_point_move(4, 500, 500); // never went down
    record = {};
    apply_multitouch_to_action(&record);
    EXPECT_EQ(record.multitouch_pan_delta_x, 0);
    initialize_touch_controller();
}

} // namespace

} // namespace keyboard_test_file

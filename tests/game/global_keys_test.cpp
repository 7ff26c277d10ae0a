// The global keys against the demo's status bar, with no quit dialog built:
// the pause key and the pause button are one switch that stops the game
// clock; the other keys change the speed, the read-out, the bars, camera
// tracking and the chat backlog, each once per press, only in a game.

#include <gtest/gtest.h>

#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "camera_control.h"
#include "game_hooks.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "global_keys.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "mesh.h"
#include "screen.h"
#include "session_state.h"
#include "status_bar.h"
#include "support/dialog_input_harness.h"
#include "support/test_mesh.h"

namespace global_keys_test_file {

namespace
{

class global_keys_test : public bar_dialogs_test
{
protected:
    void SetUp() override
    {
        bar_dialogs_test::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        get_game_preferences()->flags |= _game_pref_status_bar_visible_flag;
        game_->type = _game_type_replay;
        game_->state = _game_state_running;
        game_->game_speed = NORMAL_GAME_SPEED_INDEX;
        pause_game(false);
        mesh_header header = test_mesh_header(4, 4);
        header.team_count = 2;
        const std::vector<uint8_t> map = test_mesh_bytes(header);
        ASSERT_TRUE(load_mesh_from_memory(map.data(), (int32_t)map.size()));
        initialize_status_bar_for_new_map();
        pump();
        ASSERT_NE(get_status_bar_dialog(), nullptr);
    }
    void TearDown() override
    {
        pause_game(false);
        game_->state = _game_state_starting_up;
        game_->game_speed = NORMAL_GAME_SPEED_INDEX;
        set_camera_control_flags(0);
        display_chat = false;
        frame_rate_samples.display_flags = 0;
        if (set_up)
        {
            dispose_status_bar_from_old_map();
            dispose_mesh_from_old_map();
        }
        bar_dialogs_test::TearDown();
    }
    // Lets the bar's pending presses fire.
    void pump(void)
    {
        for (int32_t i = 0; i < 3; ++i)
        {
            advance_test_clock_ticks(4);
            action_data idle = make_test_action(4);
            dialogs_handled_action(&idle);
        }
    }
    // A key-press record as the keyboard task makes it, through the one consumer.
    void press(int16_t key, int16_t action_bit = NONE, bool repeat = false, int16_t modifier_bit = NONE)
    {
        action_data action = make_test_action(0);
        action.key_code = key;
        if (action_bit != NONE) set_action_flag(&action, action_bit);
        if (modifier_bit != NONE) set_action_flag(&action, modifier_bit);
        if (repeat) set_action_flag(&action, _key_repeat_bit);
        EXPECT_FALSE(get_action_procedure(_action_global_keys)(&action)) << "a global key never uses the action";
        pump();
    }
    static int16_t pause_button_state(void)
    {
        return get_button_control_state(get_status_bar_dialog(), _status_bar_quit_button);
    }
};

TEST_F(global_keys_test, the_pause_key_and_button_are_one_switch_that_stops_the_game_clock)
{
    register_global_key_hooks();
    game_->game_time = game_->target_time = 100;
    press(_key_escape, _pause_game_bit);
    EXPECT_TRUE(game_is_paused());
    EXPECT_EQ(pause_button_state(), 1) << "the button shows what the key did";
    EXPECT_EQ(update_vesk(30), 0);
    EXPECT_EQ(game_->game_time, 100) << "no tick runs while paused";
    press(_key_escape, _pause_game_bit, true);
    EXPECT_TRUE(game_is_paused()) << "a repeat does not switch back";

    ASSERT_TRUE(push_pause_button());
    pump();
    EXPECT_FALSE(game_is_paused()) << "the button resumes what the key paused";
    ASSERT_TRUE(push_pause_button());
    pump();
    EXPECT_TRUE(game_is_paused());
    press(_key_escape, _pause_game_bit);
    EXPECT_FALSE(game_is_paused());

    // Without a bar the key is the switch alone.
    dispose_status_bar_from_old_map();
    press(_key_escape, _pause_game_bit);
    EXPECT_TRUE(game_is_paused());
    press(_key_escape, _pause_game_bit);
    EXPECT_FALSE(game_is_paused());
}

TEST_F(global_keys_test, each_key_acts_once_per_press_and_only_in_a_game)
{
    register_global_key_hooks();
    struct step
    {
        const char *what;
        int16_t game_type, game_state, key, action_bit, modifier_bit;
        bool repeat;
        int16_t speed;     // the speed index after the press
        bool fps, status_bar, tracking, chat;
    } steps[] = {
        {"slower", _game_type_replay, _game_state_running, _key_minus, NONE, NONE, false, 4, false, true, false, false},
        {"a repeat", _game_type_replay, _game_state_running, _key_minus, NONE, NONE, true, 4, false, true, false, false},
        {"faster", _game_type_local, _game_state_running, _keypad_equals, NONE, NONE, false, 5, false, true, false, false},
        {"faster", _game_type_local, _game_state_running, _keypad_equals, NONE, NONE, false, 6, false, true, false, false},
        {"with Ctrl", _game_type_local, _game_state_running, _keypad_equals, NONE, _control_down_bit, false, 6, false,
         true, false, false},
        {"a network game", _game_type_networked, _game_state_running, _key_minus, NONE, NONE, false, 6, false, true,
         false, false},
        {"the main menu", _game_type_replay, _game_state_displaying_main_menu, _key_minus, NONE, NONE, false, 6, false,
         true, false, false},
        {"read-out", _game_type_replay, _game_state_running, _key_f2, NONE, NONE, false, 6, true, true, false, false},
        {"bars", _game_type_replay, _game_state_running, _key_f5, NONE, NONE, false, 6, true, false, false, false},
        {"tracking", _game_type_replay, _game_state_running, _key_f6, NONE, NONE, false, 6, true, false, true, false},
        {"chat", _game_type_replay, _game_state_running, _key_up_arrow, _display_chat_bit, NONE, false, 6, true, false,
         true, true},
        {"bars back", _game_type_replay, _game_state_running, _key_f5, NONE, NONE, false, 6, true, true, true, true},
        {"read-out off", _game_type_replay, _game_state_running, _key_f2, NONE, NONE, false, 6, false, true, true, true},
    };
    for (const step &s : steps)
    {
        SCOPED_TRACE(s.what);
        game_->type = s.game_type;
        game_->state = s.game_state;
        press(s.key, s.action_bit, s.repeat, s.modifier_bit);
        EXPECT_EQ(game_->game_speed, s.speed);
        EXPECT_EQ(frame_rate_samples.display_flags != 0, s.fps);
        EXPECT_EQ(status_bar_visible(nullptr) != 0, s.status_bar);
        EXPECT_EQ(get_camera_control_flags(), s.tracking ? _camera_controlled_by_object_tracking_flag : 0);
        EXPECT_EQ(display_chat, s.chat);
    }

    // A script flying the camera keeps it: tracking stays as the script left it.
    set_camera_control_flags(_camera_controlled_by_map_actions_flag);
    press(_key_f6);
    EXPECT_EQ(get_camera_control_flags(), _camera_controlled_by_map_actions_flag);
    const char *const names[NUMBER_OF_GAME_SPEEDS] = {"1/8x", "1/4x", "3/8x", "1/2x", "3/4x", "1x", "1.5x", "2x", "3x", "4x", "8x"};
    for (int16_t speed = 0; speed < NUMBER_OF_GAME_SPEEDS; ++speed) EXPECT_STREQ(game_speed_name(speed), names[speed]);
    EXPECT_STREQ(game_speed_name(NUMBER_OF_GAME_SPEEDS), "");
}

} // namespace

} // namespace global_keys_test_file

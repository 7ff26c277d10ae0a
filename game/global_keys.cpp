// The global keys.  See global_keys.h.

#include "global_keys.h"

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "camera_control.h"
#include "console/console.h"
#include "console/console_popup.h"
#include "control_bar.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_states.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "overhead_map.h"
#include "screen.h"
#include "session_state.h"
#include "status_bar.h"

enum
{
    GAME_SPEED_POPUP_TICKS = 45, // a second and a half before the popup fades
};

const char *game_speed_name(int16_t speed_index)
{
    // Written from the speed table itself, so that the two cannot drift apart.
    static char name[16];
    const int32_t eighths = game_speed_eighths(speed_index);
    int32_t denominator = 8, numerator = eighths;
    while (numerator && numerator % 2 == 0 && denominator > 1) numerator /= 2, denominator /= 2;
    if (eighths == 0) name[0] = 0;
    else if (denominator == 1) slprintf(name, sizeof(name), "%dx", (int)numerator);
    else if (eighths > 8 && denominator == 2) slprintf(name, sizeof(name), "%d.5x", (int)(numerator / 2));
    else slprintf(name, sizeof(name), "%d/%dx", (int)numerator, (int)denominator);
    return name;
}

// The game, not the main menu between games: the keys that act on a game.
static bool game_is_running(void) { return game_->state == _game_state_running; }

static void toggle_pause(void)
{
    // The bar's button is the switch when there is one, so that it shows the
    // state the key left; it refuses while the hints dialog is open.
    if (get_status_bar_dialog())
        push_pause_button();
    else
        pause_game(!game_is_paused());
}

static void change_game_speed(int16_t step)
{
    // The setter lets any game go back to normal speed; a key on one machine
    // must not change a network game's pace at all.
    if (game_->type == _game_type_networked) return;
    const int16_t wanted = (int16_t)(game_->game_speed + step);
    if (!set_game_speed(wanted)) return;
    set_console_popup("Game speed", game_speed_name(wanted), GAME_SPEED_POPUP_TICKS);
}

static void toggle_bars(void)
{
    const bool shown = status_bar_visible(nullptr) || control_bar_visible(nullptr) != _control_bar_hidden;
    set_status_bar_visibility(!shown);
    // The control bar refuses itself where it has nothing to offer (films,
    // observers): it keeps its own rule.
    set_control_bar_visibility(shown ? _control_bar_hidden : _control_bar_commands);
    // The view takes the bars' place or gives it back; where the scene draws
    // nothing (beyond the map's edge) the old picture must not stay.
    clear_backbuffer();
}

static void toggle_camera_tracking(void)
{
    const int16_t flags = get_camera_control_flags();
    if (flags & ~_camera_controlled_by_object_tracking_flag) return; // a script or the map has the camera
    set_camera_control_flags((int16_t)(flags ^ _camera_controlled_by_object_tracking_flag));
}

// Films and observers of network games have no side: their map can show
// team colours instead of friend and foe.
static bool sees_no_side(void)
{
    return game_->type == _game_type_replay || (game_->type == _game_type_networked && local_player_team_index == NONE);
}

bool handle_global_keys(action_data *action)
{
    if (!action || action->key_code == NONE || test_action_flag(action, _key_repeat_bit)) return false;
    const bool control = test_action_flag(action, _control_down_bit);
    const bool command = test_action_flag(action, _command_down_bit);

    if (action->key_code == _key_g && control)
    {
        toggle_sdl_grab_mode();
        return false;
    }
    if (!game_is_running()) return false;
    // A '-' typed into a dialog's field or the chat line is a character, not a game speed.
    if (text_field_has_keyboard_focus() || get_console_input_state() == _console_input_typing) return false;

    if (test_action_flag(action, _pause_game_bit)) toggle_pause();
    if (test_action_flag(action, _display_chat_bit)) toggle_display_chat();
    if (test_action_flag(action, _toggle_overhead_map_bit) && command && sees_no_side())
        toggle_overhead_map_drawing_state();
    if (control || command) return false; // the keys below are plain presses
    switch (action->key_code)
    {
    case _key_minus: change_game_speed(-1); break;
    case _keypad_equals: change_game_speed(+1); break;
    case _key_f2: toggle_fps_display(); break;
    case _key_f5: toggle_bars(); break;
    case _key_f6: toggle_camera_tracking(); break;
    default: break;
    }
    return false;
}

void register_global_key_hooks(void)
{
    register_action_procedure(_action_global_keys, handle_global_keys);
}

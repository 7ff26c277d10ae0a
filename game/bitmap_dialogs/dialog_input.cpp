// Dialog input: actions, keyboard equivalents, focus, presses, the sleep timer, the wheel.
//
// A handler may dispose of its own dialog (a quit dialog closes itself).
// Every walk that can reach a handler is bracketed by the dispatch calls, so a
// disposed dialog's record stays readable until the outermost walk ends; and
// after each handler call the dialog is checked with dialog_is_open before
// anything else touches it.  Items are marked dirty before the handler runs,
// for the same reason.

#include <climits>
#include <cstdio>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/keybinding_control.h"
#include "bitmap_dialogs/password_edittext.h"
#include "bitmap_drawing.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "game_time.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "modal_loops.h"
#include "screen.h"

enum
{
    PERIOD_ASCII_CODE = '.',
};

// The dispatch bracket as a scope (every entry point below may be called alone).
struct dialog_dispatch_scope
{
    dialog_dispatch_scope(void)
    {
        begin_dialog_dispatch();
    }
    ~dialog_dispatch_scope(void)
    {
        end_dialog_dispatch();
    }
    dialog_dispatch_scope(const dialog_dispatch_scope &) = delete;
    dialog_dispatch_scope &operator=(const dialog_dispatch_scope &) = delete;
};

// The program's own upper-casing: ASCII letters of the byte only, whatever
// the locale.  Values from -128 to 255 are taken as bytes (a signed char
// and its unsigned form match); others are compared unchanged.
static int32_t keyboard_equivalent_upper_case(int32_t value)
{
    if (value < -128 || value > 255) return value;
    const uint8_t byte = (uint8_t)value;
    return (byte >= 'a' && byte <= 'z') ? byte - ('a' - 'A') : byte;
}

static int16_t clamp_to_int16(int32_t value)
{
    if (value < INT16_MIN) return INT16_MIN;
    if (value > INT16_MAX) return INT16_MAX;
    return (int16_t)value;
}

// The action's pointer in the dialog's coordinates (the screen's and the
// dialog's top-left taken off); true when it lies inside the dialog.  A
// pointer far off the screen is clamped, never wrapped into the dialog.
static bool get_local_pointer(const dialog_data *dialog, const action_data *action, point2d *local)
{
    rectangle2d screen;
    get_screen_bounds(&screen);
    local->x = clamp_to_int16((int32_t)action->pointer.x - screen.left - dialog->bounds.left);
    local->y = clamp_to_int16((int32_t)action->pointer.y - screen.top - dialog->bounds.top);
    const rectangle2d own = {0, 0, clamp_to_int16((int32_t)dialog->bounds.bottom - dialog->bounds.top),
                             clamp_to_int16((int32_t)dialog->bounds.right - dialog->bounds.left)};
    return point2d_in_rectangle2d(&own, local);
}

static bool control_responds(const control_data *control)
{
    return !(control->flags & _control_does_not_respond_flag);
}

// The dialog's handler for `item_id`; a dialog without one logs its bounds.
static void call_dialog_handler(dialog_data *dialog, int16_t item_id, action_data *action)
{
    char text[96];
    snprintf(text, sizeof(text), "dialog has no handler: bounds: (#%d,#%d,#%d,#%d)", dialog->bounds.left,
             dialog->bounds.top, dialog->bounds.right, dialog->bounds.bottom);
    if (!VASSERT(dialog->dialog_handler, text)) return;
    dialog->dialog_handler(dialog, item_id, action);
}

// ---- the open dialogs ------------------------------------------------------------

bool dialogs_handled_action(action_data *action)
{
    if (!action || get_modal_dialog()) return false;

    const dialog_dispatch_scope dispatch;
    dialog_data *dialog = get_last_dialog();
    while (dialog)
    {
        dialog_data *behind = dialog->prev;
        point2d local;
        const bool inside = get_local_pointer(dialog, action, &local);
        if (handle_dialog_item_down(dialog, action))
        {
            // The press used the action up; a dialog it does not lie over
            // passes it on behind.
            if (inside) return true;
        }
        else if ((dialog->private_flags & _dialog_is_visible_flag) && dialog_handled_action(dialog, action))
        {
            return true;
        }

        // A handler may have closed this dialog or the one behind it.
        if (dialog_is_open(dialog)) behind = dialog->prev;
        if (behind && !dialog_is_open(behind)) break;
        dialog = behind;
    }
    return false;
}

// ---- one dialog --------------------------------------------------------------------

// Step 1: Return and Enter press the default item, Escape and command-'.'
// the cancel item, a character its item.  True when an item matched.
static bool handle_keyboard_equivalents(dialog_data *dialog, action_data *action)
{
    for (control_data *control = dialog->first_control; control; control = control->next)
    {
        if (!control_responds(control)) continue;
        const int16_t item_id = control->item_id;
        bool matches = false;
        if (item_id == dialog->default_item &&
            (action->key_code == _key_return || action->key_code == _keypad_enter))
        {
            matches = true;
        }
        else if (item_id == dialog->cancel_item &&
                 ((action->ascii_code == PERIOD_ASCII_CODE && test_action_flag(action, _command_down_bit)) ||
                  action->key_code == _key_escape))
        {
            matches = true;
        }
        else if (control->keyboard_equivalent != NONE && action->ascii_code != NONE &&
                 keyboard_equivalent_upper_case(control->keyboard_equivalent) ==
                     keyboard_equivalent_upper_case(action->ascii_code) &&
                 (control->keyboard_flag_mask == NONE || test_action_flag(action, control->keyboard_flag_mask)))
        {
            matches = true;
        }
        if (matches)
        {
            press_item(dialog, nullptr, item_id);
            return true;
        }
    }
    return false;
}

// Step 2: a dialog not run modally counts its sleep time down by the
// action's ticks; the handler hears NONE each time it runs out.
static void run_sleep_timer(dialog_data *dialog, action_data *action)
{
    if (dialog == get_modal_dialog() || dialog->sleep_time == NONE) return;
    const int64_t left = (int64_t)dialog->slept_ticks - action->time_delta;
    if (left >= 1)
    {
        dialog->slept_ticks = (int16_t)left;
        return;
    }
    // Reloaded before the handler runs: it may dispose of the dialog.
    dialog->slept_ticks = dialog->sleep_time;
    call_dialog_handler(dialog, NONE, action);
}

// Step 3: Tab moves the focus; any other key goes to the focused item.  True
// when used.  A Tab that finds nowhere to go never reaches the focused item.
static bool handle_key(dialog_data *dialog, action_data *action)
{
    if (action->key_code == NONE) return false;
    if (action->key_code == _key_tab && !(dialog->flags & _dialog_ignores_tab_key_flag))
    {
        return handle_tab(dialog, !test_action_flag(action, _shift_down_bit));
    }

    const int16_t focus = dialog->text_target_item;
    if (focus == NONE) return false;
    control_data *control = find_control(dialog, focus);
    if (!control) return false;
    param_control_key_verb parameter = {action};
    if (!control->handler(_control_key_verb, dialog, focus, &parameter)) return false;
    if (!dialog_is_open(dialog)) return true;

    if (dialog == get_modal_dialog()) set_modal_item_hit(focus);
    set_dialog_item_dirty(dialog, focus);
    if (dialog->dialog_handler) dialog->dialog_handler(dialog, focus, action);
    return true;
}

// Step 4: a left click picks the item under the pointer; that item is pressed
// on every action until the one on which the button is up.
static bool handle_mouse(dialog_data *dialog, action_data *action, const point2d *local, bool inside)
{
    bool used = false;
    if (test_action_flag(action, _left_mouse_click_bit) && inside)
    {
        dialog->item_inside = find_control_by_point_helper(dialog->first_control, *local);
        used = true;
    }
    if (dialog->item_inside != NONE)
    {
        action_data local_action = *action;
        local_action.pointer = *local;
        press_item(dialog, &local_action, dialog->item_inside);
        used = true;
        if (dialog_is_open(dialog) && !test_action_flag(action, _left_mouse_down_bit)) dialog->item_inside = NONE;
    }
    return used;
}

// Step 6: the wheel goes to the item under the pointer, else to the focused item.
static bool handle_wheel(dialog_data *dialog, action_data *action, const point2d *local, bool inside)
{
    if (action->wheel_delta == 0) return false;
    action_data local_action = *action;
    local_action.pointer = *local;
    param_control_wheel_verb parameter = {&local_action};
    if (inside)
    {
        const int16_t item_id = find_control_by_point_helper(dialog->first_control, *local);
        control_data *control = item_id == NONE ? nullptr : lookup_control(dialog, item_id);
        if (control && control->handler(_control_wheel_verb, dialog, item_id, &parameter)) return true;
        if (!dialog_is_open(dialog)) return false;
    }
    const int16_t focus = dialog->text_target_item;
    if (focus == NONE) return false;
    control_data *control = find_control(dialog, focus);
    return control && control->handler(_control_wheel_verb, dialog, focus, &parameter);
}

bool dialog_handled_action(dialog_data *dialog, action_data *action)
{
    if (!check_dialog(dialog) || !VASSERT(action, "action")) return false;
    const dialog_dispatch_scope dispatch;

    if (handle_keyboard_equivalents(dialog, action)) return true;

    run_sleep_timer(dialog, action);
    if (!dialog_is_open(dialog)) return false;

    if (handle_key(dialog, action)) return true;
    if (!dialog_is_open(dialog)) return false;

    point2d local;
    const bool inside = get_local_pointer(dialog, action, &local);
    bool used = handle_mouse(dialog, action, &local, inside);
    if (!dialog_is_open(dialog)) return used;

    if (test_action_flag(action, _right_mouse_click_bit) && inside &&
        !(get_input_definition()->flags & FLAG(_input_definition_right_click_through_ui)))
    {
        used = true;
    }

    if (handle_wheel(dialog, action, &local, inside)) return true;
    return used;
}

// ---- presses ---------------------------------------------------------------------------

bool press_item(dialog_data *dialog, action_data *action, int16_t item_id)
{
    if (!check_dialog(dialog)) return false;
    const dialog_dispatch_scope dispatch;

    if (dialog->dialog_inhibitor && !dialog->dialog_inhibitor(dialog, item_id)) return false;
    if (!dialog_is_open(dialog)) return false;
    control_data *control = find_control(dialog, item_id);
    if (!control) return false;

    action_data synthetic;
    if (!action)
    {
        synthetic = action_data();
        synthetic.time = game_->local_time.load();
        synthetic.time_delta = 0;
        synthetic.pointer.x = (int16_t)(control->bounds.left + (control->bounds.right - control->bounds.left) / 2);
        synthetic.pointer.y = (int16_t)(control->bounds.top + (control->bounds.bottom - control->bounds.top) / 2);
        synthetic.ascii_code = NONE;
        synthetic.key_code = NONE;
        action = &synthetic;
    }

    param_control_click_verb parameter = {action};
    if (!control->handler(_control_click_verb, dialog, item_id, &parameter)) return false;
    // The click verb may have changed the dialog: look everything up again.
    if (!dialog_is_open(dialog)) return true;
    control = lookup_control(dialog, item_id);
    if (!control) return true;

    if (dialog->item_clicked != NONE)
    {
        control_data *pending = lookup_control(dialog, dialog->item_clicked);
        if (pending)
        {
            pending->state = _control_unpressed;
            set_dialog_item_dirty(dialog, dialog->item_clicked);
        }
    }
    if (control->flags & _control_does_not_respond_flag) return true;

    if (control->flags & _control_requires_visible_click_time_flag)
    {
        control->state = _control_pressed;
        dialog->delay = DIALOG_VISIBLE_CLICK_TICKS;
    }
    else
    {
        control->state = _control_unpressed;
        dialog->delay = 0;
    }
    dialog->delay_was_set = true;
    dialog->item_clicked = item_id;
    dialog->click_action = *action;
    set_dialog_item_dirty(dialog, item_id);
    return true;
}

bool handle_dialog_item_down(dialog_data *dialog, action_data *action)
{
    if (!check_dialog(dialog) || dialog->item_clicked == NONE) return false;
    if (!VASSERT(action, "action")) return false;
    const dialog_dispatch_scope dispatch;

    const int16_t item_id = dialog->item_clicked;
    control_data *control = find_control(dialog, item_id);
    if (!control)
    {
        dialog->item_clicked = NONE;
        dialog->delay = 0;
        return false;
    }

    const bool no_delay = (control->flags & _control_has_no_delay_flag) != 0;
    bool fire = dialog->delay_was_set && no_delay;
    dialog->delay_was_set = false;

    if (no_delay && !(control->flags & _control_animates_despite_no_delay_flag))
    {
        control->state = _control_unpressed;
        set_dialog_item_dirty(dialog, item_id);
        dialog->item_clicked = NONE;
        dialog->delay = 0;
    }
    else
    {
        const int64_t delay = (int64_t)dialog->delay - action->time_delta;
        dialog->delay = delay < INT32_MIN ? INT32_MIN : (delay > INT32_MAX ? INT32_MAX : (int32_t)delay);
        if (dialog->delay >= 2)
        {
            control->state = _control_pressed;
            set_dialog_item_dirty(dialog, item_id);
        }
        else if (dialog->delay == 1)
        {
            control->state = _control_unpressed;
            set_dialog_item_dirty(dialog, item_id);
        }
        else
        {
            // A time_delta that jumps past 1 must not leave the pressed look on.
            if (control->state != _control_unpressed)
            {
                control->state = _control_unpressed;
                set_dialog_item_dirty(dialog, item_id);
            }
            dialog->item_clicked = NONE;
            dialog->delay = 0;
            if (!no_delay) fire = true;
        }
    }

    if (fire)
    {
        if (dialog == get_modal_dialog()) set_modal_item_hit(item_id);
        // The handler gets the action of the press, from a copy: it may
        // dispose of the dialog that holds it.
        action_data click_action = dialog->click_action;
        if (dialog->dialog_handler) dialog->dialog_handler(dialog, item_id, &click_action);
    }
    return true;
}

// ---- focus -------------------------------------------------------------------------------

static control_data *get_control_at_position(const dialog_data *dialog, int32_t position)
{
    control_data *control = dialog->first_control;
    for (int32_t i = 0; control && i < position; ++i) control = control->next;
    return control;
}

bool handle_tab(dialog_data *dialog, bool forward)
{
    if (!check_dialog(dialog)) return false;
    int32_t count = 0;
    int32_t position = NONE;
    for (const control_data *control = dialog->first_control; control; control = control->next, ++count)
    {
        if (dialog->text_target_item != NONE && control->item_id == dialog->text_target_item) position = count;
    }
    if (count == 0) return false;

    // The list is in reverse tag order: forward in the tag is backward here.
    int32_t step = forward ? -1 : 1;
    if (position == NONE) step = 1;
    for (int32_t tries = 0; tries < count; ++tries)
    {
        position = (position + step + count) % count;
        control_data *control = get_control_at_position(dialog, position);
        if (!control) return false; // a focus verb changed the list under the search
        const int16_t item_id = control->item_id;
        param_control_focus_verb question = {true};
        if (control->handler(_control_focus_verb, dialog, item_id, &question) && item_id != NONE)
        {
            set_dialog_focus(dialog, item_id);
            return true;
        }
    }
    return false;
}

void set_dialog_focus(dialog_data *dialog, int16_t item_id)
{
    if (!check_dialog(dialog) || dialog->text_target_item == item_id) return;
    const int16_t old_item_id = dialog->text_target_item;
    control_data *old_control = old_item_id == NONE ? nullptr : lookup_control(dialog, old_item_id);
    if (old_control)
    {
        param_control_focus_verb losing = {false};
        old_control->handler(_control_focus_verb, dialog, old_item_id, &losing);
    }
    dialog->text_target_item = item_id;
    control_data *new_control = item_id == NONE ? nullptr : lookup_control(dialog, item_id);
    if (new_control)
    {
        param_control_focus_verb gaining = {true};
        new_control->handler(_control_focus_verb, dialog, item_id, &gaining);
    }
    set_dialog_dirty(dialog);
    // At once, not at the next action: a key pressed before it would carry its flags.
    set_keyboard_given_to_text_field(text_field_has_keyboard_focus());
}

int16_t find_control_by_point_helper(const control_data *first, point2d point)
{
    int16_t found = NONE;
    for (const control_data *control = first; control; control = control->next)
    {
        if (control_responds(control) && point2d_in_rectangle2d(&control->bounds, &point)) found = control->item_id;
    }
    return found;
}

// ---- typing ---------------------------------------------------------------------------------

static bool dialog_has_text_field_focus(const dialog_data *dialog)
{
    if (!(dialog->private_flags & _dialog_is_visible_flag) || dialog->text_target_item == NONE) return false;
    const control_data *control = lookup_control(dialog, dialog->text_target_item);
    return control && (control->tag == EDITTEXT_CONTROL_TAG || control->tag == DIALOG_PASSWORD_EDITTEXT_TAG ||
                       control->tag == KEYBINDING_CONTROL_TAG);
}

bool text_field_has_keyboard_focus(void)
{
    if (const dialog_data *modal = get_modal_dialog()) return dialog_is_open(modal) && dialog_has_text_field_focus(modal);
    for (const dialog_data *dialog = get_last_dialog(); dialog; dialog = dialog->prev)
        if (dialog_has_text_field_focus(dialog)) return true;
    return false;
}

// A name typed into a field ("dddrb") must not turn the camera: while a field
// has the focus, a key press the dialogs did not use goes no further, and the
// keyboard task stops setting the flags bound to keys in the records it makes
// from then on (held keys reach the camera through those).  Looked at again
// for every action, so a field that loses the focus or closes gives the
// keyboard back on the next one.
static bool keeps_key_from_game(const action_data *action, bool typing)
{
    return typing && action && action->key_code != NONE;
}

static bool modal_loop_consumer(action_data *action)
{
    const bool typing = text_field_has_keyboard_focus();
    set_keyboard_given_to_text_field(typing);
    if (modal_loop_handled_action(action)) return true;
    return get_modal_dialog() && keeps_key_from_game(action, typing);
}

static bool dialogs_consumer(action_data *action)
{
    if (dialogs_handled_action(action)) return true;
    return keeps_key_from_game(action, text_field_has_keyboard_focus());
}

// ---- registration --------------------------------------------------------------------------

void register_dialog_input_hooks(void)
{
    register_action_procedure(_action_modal_loop, modal_loop_consumer);
    register_action_procedure(_action_dialogs, dialogs_consumer);
}

// Dialog input: actions, keyboard equivalents, focus, presses, the sleep timer, the wheel.
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialogs_private.h"

bool dialogs_handled_action(action_data *action)
{
    (void)action;
    return false;
}

bool dialog_handled_action(dialog_data *dialog, action_data *action)
{
    (void)dialog;
    (void)action;
    return false;
}

bool press_item(dialog_data *dialog, action_data *action, int16_t item_id)
{
    (void)dialog;
    (void)action;
    (void)item_id;
    return false;
}

bool handle_dialog_item_down(dialog_data *dialog, action_data *action)
{
    (void)dialog;
    (void)action;
    return false;
}

bool handle_tab(dialog_data *dialog, bool forward)
{
    (void)dialog;
    (void)forward;
    return false;
}

void set_dialog_focus(dialog_data *dialog, int16_t item_id)
{
    (void)dialog;
    (void)item_id;
}

int16_t find_control_by_point_helper(const control_data *first, point2d point)
{
    (void)first;
    (void)point;
    return NONE;
}

void register_dialog_input_hooks(void)
{
}

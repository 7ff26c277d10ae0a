// Running a dialog modally.
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialogs_private.h"

int16_t modal_dialog(dialog_data *dialog)
{
    (void)dialog;
    return NONE;
}

int16_t custom_modal_dialog(dialog_data *dialog, void *data, modal_loop_callback procedure)
{
    (void)dialog;
    (void)data;
    (void)procedure;
    return NONE;
}

bool modal_dialog_loop_update(void *data, action_data *action)
{
    (void)data;
    (void)action;
    return true;
}

bool custom_modal_dialog_loop_update(void *data, action_data *action)
{
    (void)data;
    (void)action;
    return true;
}

int16_t wait_for_global_with_delayed_dialog(bool (*cancel)(void), bool (*condition)(void), const char *message,
                                            int32_t timeout_milliseconds)
{
    (void)cancel;
    (void)condition;
    (void)message;
    (void)timeout_milliseconds;
    return _gwait_cancel;
}

dialog_data *get_modal_dialog(void)
{
    return nullptr;
}

void set_modal_item_hit(int16_t item_id)
{
    (void)item_id;
}

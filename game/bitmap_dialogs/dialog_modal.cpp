// Running a dialog modally, and the wait with its delayed wait dialog.
//
// A modal dialog counts its sleep time in passes of its loop (frames), not in
// ticks: its own sleep timer of the input code does not run for it.
//
// modal_dialog keeps and puts back the modal dialog, its sleep time, the
// caller's extra procedure and also the item hit: a dialog run modally from a
// handler of another modal dialog must not hand its own result to the outer
// loop, whose item has fired already or has yet to fire.

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "cseries/timers.h"
#include "game_states.h"
#include "modal_loops.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk.h"

static struct modal_dialog_globals
{
    dialog_data *the_modal_dialog;      // NULL when no dialog runs modally
    int16_t modal_item_hit;             // NONE until an item fires
    int16_t modal_dialog_sleep_time;    // passes left; NONE: no limit
    modal_loop_callback user_loop_update; // custom_modal_dialog's procedure, NULL otherwise
} modal_dialog_globals = {nullptr, NONE, NONE, nullptr};

// Puts back what a modal dialog interrupted, however its loop is left (the
// test harness unwinds a loop whose script ran dry).
struct modal_dialog_restorer
{
    struct modal_dialog_globals interrupted;
    ~modal_dialog_restorer(void)
    {
        modal_dialog_globals = interrupted;
    }
};

static int16_t run_modal_dialog(dialog_data *dialog, void *data, modal_loop_callback procedure)
{
    if (!check_dialog(dialog)) return NONE;

    const modal_dialog_restorer restorer = {modal_dialog_globals};
    modal_dialog_globals.the_modal_dialog = dialog;
    modal_dialog_globals.modal_item_hit = NONE;
    modal_dialog_globals.modal_dialog_sleep_time = dialog->sleep_time;
    modal_dialog_globals.user_loop_update = procedure;
    modal_loop(data, procedure ? custom_modal_dialog_loop_update : modal_dialog_loop_update,
               _game_state_modal_dialog);
    const int16_t item_hit = modal_dialog_globals.modal_item_hit;
    return item_hit;
}

int16_t modal_dialog(dialog_data *dialog)
{
    return run_modal_dialog(dialog, nullptr, nullptr);
}

int16_t custom_modal_dialog(dialog_data *dialog, void *data, modal_loop_callback procedure)
{
    return run_modal_dialog(dialog, data, procedure);
}

bool modal_dialog_loop_update(void *data, action_data *action)
{
    (void)data;
    dialog_data *dialog = modal_dialog_globals.the_modal_dialog;
    if (action)
    {
        // A handler may have disposed of the dialog under its own loop.
        if (!dialog_is_open(dialog)) return false;
        if (handle_dialog_item_down(dialog, action)) return false;
        if (!dialog_is_open(dialog) || !(dialog->private_flags & _dialog_is_visible_flag)) return false;
        return dialog_handled_action(dialog, action);
    }

    if (modal_dialog_globals.modal_item_hit != NONE) return true;
    if (!dialog_is_open(dialog)) return true; // nothing is left to fire
    // The window was closed: the dialog ends as if cancelled, so the main
    // loop can quit (its caller sees no item hit).
    int16_t pending = NONE;
    if (game_state_change_pending(&pending) && pending == _game_state_quit) return true;
    if (modal_dialog_globals.modal_dialog_sleep_time == NONE) return false;
    modal_dialog_globals.modal_dialog_sleep_time -= 1;
    return modal_dialog_globals.modal_dialog_sleep_time < 0;
}

bool custom_modal_dialog_loop_update(void *data, action_data *action)
{
    const modal_loop_callback user_loop_update = modal_dialog_globals.user_loop_update;
    if (user_loop_update && user_loop_update(data, action)) return true;
    return modal_dialog_loop_update(data, action);
}

// The wait dialog: 'prdn' on the background of 'innb', sequence 0, its
// message in static text item 1 (left as the tag has it when that item is
// missing or not static text).
// A data set without the wait dialog waits without it: a missing dialog tag
// would otherwise end the program.
static dialog_data *new_wait_dialog(const char *message)
{
    if (tag_file_open(DIALOG_GROUP_TAG, WAIT_DIALOG_TAG) == NONE)
    {
        log_message(__FILE__, __LINE__, "no wait dialog '%s': waiting without it", tag_to_string(WAIT_DIALOG_TAG));
        return nullptr;
    }
    dialog_data *dialog = new_dialog(WAIT_DIALOG_TAG, nullptr, nullptr, 0,
                                     _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return nullptr;
    const int32_t background = get_collection_index(WAIT_DIALOG_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    const control_data *message_item = lookup_control(dialog, WAIT_DIALOG_MESSAGE_ITEM);
    if (message && message_item && message_item->handler == static_text_control_def_proc)
        set_bitmap_dialog_static_item_text(dialog, WAIT_DIALOG_MESSAGE_ITEM, message);
    return dialog;
}

int16_t wait_for_global_with_delayed_dialog(bool (*cancel)(void), bool (*condition)(void), const char *message,
                                            int32_t timeout_milliseconds)
{
    const uint32_t start = machine_tick_count();
    // Without a condition the wait could never succeed: refused as cancelled.
    const bool cond = condition != nullptr;
    if (!ASSERT(cond)) return _gwait_cancel;

    dialog_data *wait_dialog = nullptr;
    bool wait_dialog_tried = false;
    int16_t result;
    for (;;)
    {
        if (cancel && cancel())
        {
            result = _gwait_cancel;
            break;
        }
        if (condition())
        {
            result = _gwait_success;
            break;
        }
        // Unsigned difference: right across the clock's wrap.
        const uint32_t elapsed = machine_tick_count() - start;
        if (timeout_milliseconds > 0 && elapsed > (uint32_t)timeout_milliseconds)
        {
            result = _gwait_timeout;
            break;
        }
        if (elapsed > WAIT_DIALOG_DELAY_MILLISECONDS && !wait_dialog_tried)
        {
            wait_dialog_tried = true;
            wait_dialog = new_wait_dialog(message);
        }

        // Someone else may have closed it (close_all_dialogs).
        if (wait_dialog && !dialog_is_open(wait_dialog)) wait_dialog = nullptr;
        if (wait_dialog)
        {
            if (modal_dialog(wait_dialog) == WAIT_DIALOG_CANCEL_ITEM)
            {
                dispose_dialog(wait_dialog);
                wait_dialog = nullptr;
                result = _gwait_user_cancel;
                break;
            }
        }
        else
        {
            update_everything();
        }
    }

    if (wait_dialog && dialog_is_open(wait_dialog)) dispose_dialog(wait_dialog);
    return result;
}

dialog_data *get_modal_dialog(void)
{
    return modal_dialog_globals.the_modal_dialog;
}

void set_modal_item_hit(int16_t item_id)
{
    modal_dialog_globals.modal_item_hit = item_id;
}

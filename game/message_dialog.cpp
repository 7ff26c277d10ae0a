// The message dialog.

#include "message_dialog.h"

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "console/console.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "screen.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "vesk/string_lists.h"

static struct message_dialog_globals
{
    bool unattended;
} message_dialog_globals;

void set_front_end_unattended(bool unattended) { message_dialog_globals.unattended = unattended; }

bool show_message_dialog(const char *title, const char *text)
{
    if (vesk_is_headless() || !active_screen.screen_initialized)
    {
        log_message(__FILE__, __LINE__, "no screen for the message \"%s\"", text ? text : "");
        return false;
    }
    // new_dialog treats a missing tag as fatal: checked first.
    if (tag_file_open(DIALOG_GROUP_TAG, MESSAGE_DIALOG_TAG) == NONE)
    {
        log_message(__FILE__, __LINE__, "no message dialog '%s' for \"%s\"", tag_to_string(MESSAGE_DIALOG_TAG),
                    text ? text : "");
        return false;
    }
    dialog_data *dialog = new_dialog(MESSAGE_DIALOG_TAG, nullptr, nullptr, NONE,
                                     _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return false;
    static const dialog_item_requirement items[] = {{_message_dialog_title_item, STATIC_TEXT_CONTROL_TAG},
                                                    {_message_dialog_text_item, STATIC_TEXT_CONTROL_TAG},
                                                    {_message_dialog_ok_item, BUTTON_CONTROL_TAG}};
    if (!dialog_has_items(dialog, items, 3))
    {
        log_message(__FILE__, __LINE__, "the message dialog '%s' lacks its title, text or OK: not shown",
                    tag_to_string(MESSAGE_DIALOG_TAG));
        dispose_dialog(dialog);
        return false;
    }
    const int32_t background = get_collection_index(MESSAGE_DIALOG_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    set_bitmap_dialog_static_item_text(dialog, _message_dialog_title_item, title ? title : "");
    set_bitmap_dialog_static_item_text(dialog, _message_dialog_text_item, text ? text : "");
    set_default_dialog_item(dialog, _message_dialog_ok_item);
    set_dialog_cancel_item(dialog, _message_dialog_ok_item);
    modal_dialog(dialog);
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return true;
}

void report_pending_error_in_front_end(int32_t, const char *text)
{
    if (!text || !*text || vesk_is_headless()) return;
    if (print_error_on_console_in_game(text)) return;
    // A program on its way out, or a run nobody watches, has nobody to press
    // OK: the box says it.
    int16_t next = NONE;
    if (message_dialog_globals.unattended || game_->state == _game_state_quit ||
        (game_state_change_pending(&next) && next == _game_state_quit))
    {
        show_message_box(text);
        return;
    }
    if (!show_message_dialog(translate_string("Error"), text)) show_message_box(text);
}

// The blood lock's dialogs.

#include "no_blood_dialog.h"

#include <cstring>

#include "bitmap_dialogs/edittext_control.h"
#include "game_preferences.h"
#include "cseries/log.h"
#include "ingame_dialog_support.h"


static dialog_data *open_lock_dialog(file_tag subgroup, file_tag collection, bool confirmation)
{
    dialog_data *dialog = new_dialog_if_present(subgroup, "blood lock", nullptr,
                                                _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return nullptr;
    if (!dialog_has_item(dialog, _no_blood_password_item) ||
        (confirmation && !dialog_has_item(dialog, _no_blood_confirmation_item)))
    {
        log_message(__FILE__, __LINE__, "the blood lock dialog lacks its password fields: not shown");
        dispose_dialog(dialog);
        return nullptr;
    }
    set_dialog_background_from(dialog, collection, 0);
    set_bitmap_dialog_edit_item_maximum_length(dialog, _no_blood_password_item, NO_BLOOD_PASSWORD_SIZE - 1);
    set_bitmap_dialog_edit_item_text(dialog, _no_blood_password_item, "");
    if (confirmation)
    {
        set_bitmap_dialog_edit_item_maximum_length(dialog, _no_blood_confirmation_item, NO_BLOOD_PASSWORD_SIZE - 1);
        set_bitmap_dialog_edit_item_text(dialog, _no_blood_confirmation_item, "");
    }
    set_default_dialog_item(dialog, _no_blood_ok_item);
    set_dialog_cancel_item(dialog, _no_blood_cancel_item);
    set_dialog_focus(dialog, _no_blood_password_item);
    return dialog;
}

static int16_t next_item(dialog_data *dialog)
{
    return run_dialog_until_ok_or_cancel(dialog, _no_blood_ok_item, _no_blood_cancel_item);
}

static bool finish(dialog_data *dialog, bool result)
{
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return result;
}

bool lock_no_blood_dialog(void)
{
    dialog_data *dialog = open_lock_dialog(NO_BLOOD_LOCK_DIALOG_TAG, NO_BLOOD_LOCK_COLLECTION_TAG, true);
    if (!dialog) return false;
    for (;;)
    {
        const int16_t item = next_item(dialog);
        if (item == _no_blood_cancel_item) return finish(dialog, false);
        char first[NO_BLOOD_PASSWORD_SIZE] = "", second[NO_BLOOD_PASSWORD_SIZE] = "";
        get_bitmap_dialog_edit_item_text(dialog, _no_blood_password_item, first, sizeof(first));
        get_bitmap_dialog_edit_item_text(dialog, _no_blood_confirmation_item, second, sizeof(second));
        if (strcmp(first, second) == 0)
        {
            game_preferences *preferences = get_game_preferences();
            memset(preferences->no_blood_password, 0, sizeof(preferences->no_blood_password));
            strncpy(preferences->no_blood_password, first, sizeof(preferences->no_blood_password) - 1);
            return finish(dialog, true);
        }
        set_bitmap_dialog_edit_item_text(dialog, _no_blood_password_item, "");
        set_bitmap_dialog_edit_item_text(dialog, _no_blood_confirmation_item, "");
        set_dialog_focus(dialog, _no_blood_confirmation_item);
    }
}

bool unlock_no_blood_dialog(void)
{
    dialog_data *dialog = open_lock_dialog(NO_BLOOD_UNLOCK_DIALOG_TAG, NO_BLOOD_UNLOCK_COLLECTION_TAG, false);
    if (!dialog) return false;
    for (;;)
    {
        const int16_t item = next_item(dialog);
        if (item == _no_blood_cancel_item) return finish(dialog, false);
        char entry[NO_BLOOD_PASSWORD_SIZE] = "";
        get_bitmap_dialog_edit_item_text(dialog, _no_blood_password_item, entry, sizeof(entry));
        const game_preferences *preferences = get_game_preferences();
        if (strncmp(entry, preferences->no_blood_password, sizeof(preferences->no_blood_password)) == 0)
            return finish(dialog, true);
        set_bitmap_dialog_edit_item_text(dialog, _no_blood_password_item, "");
        set_dialog_focus(dialog, _no_blood_password_item);
    }
}

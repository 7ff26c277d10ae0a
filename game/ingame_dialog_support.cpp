// Helpers shared by the in-game and preferences dialogs.

#include "ingame_dialog_support.h"

#include "bitmap_dialogs/static_text_control.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "shapes.h"
#include "tag_files/tag_files.h"

dialog_data *new_dialog_if_present(file_tag subgroup, const char *what, dialog_handler_proc handler, uint16_t flags,
                                   int16_t sleep_time)
{
    if (tag_file_open(DIALOG_GROUP_TAG, subgroup) == NONE)
    {
        log_message(__FILE__, __LINE__, "no %s dialog '%s': not shown", what, tag_to_string(subgroup));
        return nullptr;
    }
    dialog_data *dialog = new_dialog(subgroup, handler, nullptr, sleep_time, flags);
    if (!dialog) log_message(__FILE__, __LINE__, "the %s dialog '%s' was refused", what, tag_to_string(subgroup));
    return dialog;
}

void set_dialog_background_from(dialog_data *dialog, file_tag collection, int16_t sequence)
{
    // A data set without the dialog's own art keeps the dialog elements'
    // background: asked for blindly, the missing tag is a player-facing error.
    if (tag_file_open(COLLECTION_GROUP_TAG, collection) == NONE)
    {
        log_message(__FILE__, __LINE__, "no background collection '%s': the dialog keeps the shared one",
                    tag_to_string(collection));
        return;
    }
    const int32_t index = get_collection_index(collection);
    if (index != NONE) set_dialog_background(dialog, (int16_t)index, sequence);
}

int16_t run_dialog_until_ok_or_cancel(dialog_data *dialog, int16_t ok, int16_t cancel)
{
    for (;;)
    {
        const int16_t item = modal_dialog(dialog);
        if (item == NONE || !dialog_is_open(dialog)) return cancel;
        if (item == ok || item == cancel) return item;
    }
}

void show_dialog_item(dialog_data *dialog, int16_t item_id, bool visible)
{
    if (dialog_has_item(dialog, item_id)) bitmap_set_item_visible(dialog, item_id, visible);
}

void enable_dialog_item(dialog_data *dialog, int16_t item_id, bool enabled)
{
    if (dialog_has_item(dialog, item_id)) bitmap_set_item_enabled(dialog, item_id, enabled);
}

void set_dialog_item_text(dialog_data *dialog, int16_t item_id, const char *text)
{
    if (dialog_has_item(dialog, item_id) && get_bitmap_item_tag(dialog, item_id) == STATIC_TEXT_CONTROL_TAG)
        set_bitmap_dialog_static_item_text(dialog, item_id, text);
}

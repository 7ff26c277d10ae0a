// The plug-in choice dialog.
#include "plugins_dialog.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/bitmap_item_control.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/plugin_list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "shapes.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

enum
{
    NOTE_TEXT_SIZE = 256,
};

static bool plugin_requires_another(const plugin_datum *plugin)
{
    return plugin->version != PLUGIN_VERSION_NO_FLAGS &&
           ((uint16_t)plugin->version & (1u << _plugin_requires_other_plugin_bit)) != 0;
}

// Shows the banner and the requirement note of the plug-in selected in `list`.
static void show_selected_plugin(dialog_data *dialog, int16_t list)
{
    int16_t plugin_index = NONE;
    const plugin_datum *plugin = get_plugin_list_selected_plugin_index(dialog, list, &plugin_index)
                                     ? get_plugin_data(plugin_index)
                                     : nullptr;
    const int32_t banner = plugin ? tag_file_collection_open_temporary(plugin_index, PLUGIN_BANNER_COLLECTION_TAG)
                                  : NONE;
    if (banner != NONE) set_dialog_bitmap_art(dialog, _choose_plugins_banner_item, (int16_t)banner, 0, 0);
    else set_bitmap_item_color(dialog, _choose_plugins_banner_item, nullptr);
    if (plugin && plugin_requires_another(plugin))
    {
        // The required plug-in's name travels in the url field.
        char required[TAG_URL_SIZE + 1] = {};
        strlcpy_field(required, sizeof(required), plugin->url, sizeof(plugin->url));
        char note[NOTE_TEXT_SIZE];
        slprintf(note, sizeof(note), "|b%s|p \"%s\"", translate_string("REQUIRES PLUGIN"), required);
        set_bitmap_dialog_static_item_text(dialog, _choose_plugins_note_item, note);
    }
}

// Moves the selected row of `from` to `to`; false when there is none to
// move or the move fails.
static bool move_selected_plugin(dialog_data *dialog, int16_t from, int16_t to)
{
    int16_t plugin_index = NONE;
    if (!get_plugin_list_selected_plugin_index(dialog, from, &plugin_index)) return true; // nothing selected
    if (!remove_plugin_from_list(dialog, from, plugin_index)) return false;
    return add_plugin_to_list(dialog, to, plugin_index, true, false);
}

static void update_add_button(dialog_data *dialog)
{
    bitmap_set_item_enabled(dialog, _choose_plugins_add_item,
                            bitmap_get_listbox_row_count(dialog, _choose_plugins_active_list_item) <
                                MAXIMUM_PLUGINS_PER_GAME);
}

// The filter's label and field, placed from the OK button.
static bool add_filter_items(dialog_data *dialog)
{
    rectangle2d ok;
    get_dialog_item_bounds(dialog, _choose_plugins_ok_item, &ok);
    rectangle2d label;
    label.left = (int16_t)(ok.left - CHOOSE_PLUGINS_FILTER_LABEL_OFFSET);
    label.top = (int16_t)(ok.top + CHOOSE_PLUGINS_FILTER_LABEL_DROP);
    label.right = (int16_t)(label.left + CHOOSE_PLUGINS_FILTER_LABEL_WIDTH);
    label.bottom = (int16_t)(label.top + CHOOSE_PLUGINS_FILTER_HEIGHT);
    rectangle2d field = label;
    field.left = (int16_t)(label.left + CHOOSE_PLUGINS_FILTER_FIELD_OFFSET);
    field.right = (int16_t)(field.left + CHOOSE_PLUGINS_FILTER_FIELD_WIDTH);
    return new_unpressed_control(dialog, STATIC_TEXT_CONTROL_TAG, _choose_plugins_filter_label_item, &label,
                                 translate_string("Filter:")) &&
           new_unpressed_control(dialog, EDITTEXT_CONTROL_TAG, _choose_plugins_filter_item, &field, "");
}

bool lay_out_choose_plugins_dialog(dialog_data *dialog)
{
    if (!dialog || !dialog_has_item(dialog, _choose_plugins_ok_item) || !add_filter_items(dialog)) return false;
    const int32_t elements = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    if (elements != NONE)
    {
        set_button_control_shape(dialog, _choose_plugins_add_item, (int16_t)elements,
                                 CHOOSE_PLUGINS_ADD_BUTTON_SEQUENCE);
        set_button_control_shape(dialog, _choose_plugins_remove_item, (int16_t)elements,
                                 CHOOSE_PLUGINS_REMOVE_BUTTON_SEQUENCE);
    }
    return true;
}

bool do_choose_plugins_dialog(void *plugin_data, int16_t mode)
{
    (void)mode;
    if (!plugin_data) return false;
    rectangle2d bounds;
    if (!get_dialog_bounds_from_file(CHOOSE_PLUGINS_DIALOG_TAG, &bounds))
    {
        log_message(nullptr, -1, "the plug-in choice dialog 'chpl' cannot be read");
        return false;
    }
    dialog_data *dialog = new_dialog(CHOOSE_PLUGINS_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
    static const dialog_item_requirement items[] = {
        {_choose_plugins_ok_item, BUTTON_CONTROL_TAG},
        {_choose_plugins_cancel_item, BUTTON_CONTROL_TAG},
        {_choose_plugins_inactive_list_item, PLUGIN_LIST_CONTROL_TAG},
        {_choose_plugins_active_list_item, PLUGIN_LIST_CONTROL_TAG},
        {_choose_plugins_banner_item, BITMAP_ITEM_CONTROL_TAG},
        {_choose_plugins_add_item, BUTTON_CONTROL_TAG},
        {_choose_plugins_remove_item, BUTTON_CONTROL_TAG},
        {_choose_plugins_note_item, STATIC_TEXT_CONTROL_TAG},
    };
    if (dialog && (!dialog_has_items(dialog, items, (int32_t)(sizeof(items) / sizeof(items[0]))) ||
                   !lay_out_choose_plugins_dialog(dialog)))
    {
        dispose_dialog(dialog);
        dialog = nullptr;
    }
    if (!dialog) return false;
    const int32_t background = get_collection_index(CHOOSE_PLUGINS_BACKGROUND_COLLECTION_TAG);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);

    initialize_plugin_list_control(dialog, _choose_plugins_inactive_list_item, plugin_data, 0, true, 0,
                                   _inactive_plugin_list_control);
    initialize_plugin_list_control(dialog, _choose_plugins_active_list_item, plugin_data, 0, true, 0,
                                   _active_plugin_list_control);
    bitmap_set_listbox_doubleclick_itemhit(dialog, _choose_plugins_inactive_list_item, _choose_plugins_add_item);
    bitmap_set_listbox_doubleclick_itemhit(dialog, _choose_plugins_active_list_item, _choose_plugins_remove_item);
    set_plugin_list_filter_control(dialog, _choose_plugins_inactive_list_item, _choose_plugins_filter_item);
    update_add_button(dialog);
    set_default_dialog_item(dialog, _choose_plugins_ok_item);
    set_dialog_cancel_item(dialog, _choose_plugins_cancel_item);
    set_dialog_focus(dialog, _choose_plugins_filter_item);

    bool accepted = false;
    for (bool done = false; !done;)
    {
        set_bitmap_dialog_static_item_text(dialog, _choose_plugins_note_item, "");
        const int16_t item = modal_dialog(dialog);
        switch (item)
        {
        case _choose_plugins_ok_item: {
            // Encoded aside: a list that does not fit leaves the caller's as it was.
            uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
            if (get_encoded_plugin_data_from_list(dialog, _choose_plugins_active_list_item, encoded) < 0)
            {
                log_message(nullptr, -1, "the chosen plug-ins do not fit in a game's list: the choice is not kept");
            }
            else
            {
                memcpy(plugin_data, encoded, sizeof(encoded));
                accepted = true;
            }
            done = true;
            break;
        }
        case _choose_plugins_cancel_item:
        case NONE:
            done = true;
            break;
        case _choose_plugins_inactive_list_item:
        case _choose_plugins_active_list_item:
            show_selected_plugin(dialog, item);
            break;
        case _choose_plugins_add_item:
        case _choose_plugins_remove_item: {
            const bool add = item == _choose_plugins_add_item;
            if (add && bitmap_get_listbox_row_count(dialog, _choose_plugins_active_list_item) >= MAXIMUM_PLUGINS_PER_GAME)
                break;
            if (!move_selected_plugin(dialog, add ? _choose_plugins_inactive_list_item : _choose_plugins_active_list_item,
                                      add ? _choose_plugins_active_list_item : _choose_plugins_inactive_list_item))
            {
                log_message(nullptr, -1, "a plug-in could not be moved between the lists: the choice is not kept");
                done = true;
                break;
            }
            set_bitmap_item_color(dialog, _choose_plugins_banner_item, nullptr);
            update_add_button(dialog);
            set_dialog_focus(dialog, _choose_plugins_filter_item);
            break;
        }
        default:
            break;
        }
    }
    tag_file_collection_close_temporary(-1);
    dispose_dialog(dialog);
    return accepted;
}

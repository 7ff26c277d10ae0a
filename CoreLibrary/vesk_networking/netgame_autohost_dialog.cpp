// The automatic host's playlist dialog.  See netgame_autohost_dialog.h.

#include "netgame_autohost_dialog.h"

#include <cstring>
#include <initializer_list>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/double_arrow_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/string_list_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "lobby_procedures.h"
#include "shapes.h"
#include "tag_files/plugins.h"
#include "tag_files/preferences.h"
#include "vesk_networking/autohost_preferences.h"
#include "vesk_networking/netgame_parameters_dialog.h"

enum
{
    PLAYLIST_BUTTON_TOP = 253,
    PLAYLIST_BUTTON_HEIGHT = 22,
    PLAYLIST_BUTTON_WIDTH = 60,
    PLAYLIST_MOVE_WIDTH = 20,
};

static const char playlist_title[] = "Autohost Playlist";

static int32_t first_filled_entry(const autohost_preferences *preferences)
{
    for (int32_t i = 0; i < MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES; ++i)
        if (autohost_entry_is_filled(&preferences->playlist[i])) return i;
    return NONE;
}

// The filled entry nearest `from` in the direction `step` (+1 or -1), not
// `from` itself; NONE when none.
static int32_t neighbour_filled_entry(const autohost_preferences *preferences, int32_t from, int32_t step)
{
    for (int32_t i = from + step; i >= 0 && i < MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES; i += step)
        if (autohost_entry_is_filled(&preferences->playlist[i])) return i;
    return NONE;
}

// One row per filled entry, its identifier the entry's index and its text
// the map's name; the row of `selected` is selected (the first row when that
// entry is empty).
static void fill_playlist_rows(dialog_data *dialog, const autohost_preferences *preferences, int32_t selected)
{
    bitmap_empty_list(dialog, _autohost_list_item);
    for (int32_t i = 0; i < MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES; ++i)
    {
        const net_game_description *entry = &preferences->playlist[i];
        if (!autohost_entry_is_filled(entry)) continue;
        char name[NET_GAME_MAP_NAME_SIZE] = {};
        if (!get_mesh_display_name_in_plugin_list(entry->parameters.scenario_tag, name, sizeof(name),
                                                  entry->parameters.plugin_data, ENCODED_PLUGIN_DATA_SIZE) ||
            !name[0])
            strlcpy(name, tag_to_string(entry->parameters.scenario_tag), sizeof(name));
        add_string_to_list(dialog, _autohost_list_item, name, i, true);
    }
    if (selected < 0 || selected >= MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES ||
        !select_string_list_by_identifier(dialog, _autohost_list_item, selected))
        bitmap_select_list_item(dialog, _autohost_list_item, 0);
}

static void enable_playlist_buttons(dialog_data *dialog, const autohost_preferences *preferences)
{
    int32_t filled = 0;
    bool cooperative = false;
    for (const net_game_description &entry : preferences->playlist)
    {
        if (autohost_entry_is_filled(&entry)) ++filled;
        // Empty entries count too: they keep what they held.
        if (entry.parameters.option_flags & _game_option_cooperative_flag) cooperative = true;
    }
    bitmap_set_item_enabled(dialog, _autohost_delete_item, filled != 1);
    bitmap_set_item_enabled(dialog, _autohost_add_item, filled < MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES);
    bitmap_set_item_enabled(dialog, _autohost_start_item, !(cooperative && lobby_room_is_ranked()));
}

static dialog_data *open_playlist_dialog(int16_t called_from)
{
    static const dialog_item_requirement items[] = {
        {_autohost_start_item, BUTTON_CONTROL_TAG},
        {_autohost_cancel_item, BUTTON_CONTROL_TAG},
        {_autohost_list_item, STRING_LIST_CONTROL_TAG},
        {_autohost_title_item, STATIC_TEXT_CONTROL_TAG},
    };
    dialog_data *dialog = open_dialog_with_items(AUTOHOST_DIALOG_TAG, _dialog_is_centered_flag, items,
                                                 (int32_t)(sizeof(items) / sizeof(items[0])),
                                                 AUTOHOST_BACKGROUND_COLLECTION_TAG);
    if (!dialog) return nullptr;

    struct made_control
    {
        file_tag type;
        int16_t item, left, width;
        const char *text;
    };
    static const made_control made[] = {
        {BUTTON_CONTROL_TAG, _autohost_add_item, 26, PLAYLIST_BUTTON_WIDTH, "Add"},
        {BUTTON_CONTROL_TAG, _autohost_edit_item, 92, PLAYLIST_BUTTON_WIDTH, "Edit"},
        {BUTTON_CONTROL_TAG, _autohost_delete_item, 158, PLAYLIST_BUTTON_WIDTH, "Delete"},
        {DOUBLE_ARROW_CONTROL_TAG, _autohost_move_item, 220, PLAYLIST_MOVE_WIDTH, ""},
    };
    for (const made_control &m : made)
    {
        const rectangle2d at = {PLAYLIST_BUTTON_TOP, m.left, PLAYLIST_BUTTON_TOP + PLAYLIST_BUTTON_HEIGHT,
                                (int16_t)(m.left + m.width)};
        if (!new_unpressed_control(dialog, m.type, m.item, &at, m.text))
        {
            log_message(nullptr, -1, "the playlist dialog cannot make its item %d", m.item);
            dispose_dialog(dialog);
            return nullptr;
        }
    }
    set_double_arrow_control_draw_text(dialog, _autohost_move_item, false);
    // The row is the playlist's buttons': the lobby's address box of the
    // shared dialog is not shown here.
    for (int16_t item : {_autohost_lobby_address_item, _autohost_lobby_address_label_item})
        if (dialog_has_item(dialog, item)) bitmap_set_item_visible(dialog, item, false);

    set_string_list_sorted(dialog, _autohost_list_item, false);
    bitmap_set_list_sort_proc(dialog, _autohost_list_item, nullptr);
    bitmap_set_list_flag(dialog, _autohost_list_item, _list_cant_lose_selection_flag, true);
    bitmap_set_list_flag(dialog, _autohost_list_item, _list_has_shaded_background_flag, false);
    set_bitmap_dialog_static_item_text(dialog, _autohost_title_item, playlist_title);
    set_button_control_name(dialog, _autohost_start_item, called_from == 1 ? "OK" : "Start");
    set_default_dialog_item(dialog, _autohost_start_item);
    set_dialog_cancel_item(dialog, _autohost_cancel_item);
    return dialog;
}

bool open_autohost_dialog(net_game_description *description, int16_t called_from)
{
    if (!description) return false;
    dialog_data *dialog = open_playlist_dialog(called_from);
    if (!dialog) return false;
    preferences_globals *store = get_autohost_preferences_store();
    autohost_preferences *preferences = (autohost_preferences *)read_preferences_convert(store, nullptr);
    if (!preferences)
    {
        log_message(nullptr, -1, "autohost: the playlist cannot be read");
        dispose_dialog(dialog);
        return false;
    }
    net_game_description *playlist = preferences->playlist;
    fill_playlist_rows(dialog, preferences, get_autohost_playlist_index());
    bitmap_focus_on_list(dialog, _autohost_list_item);

    bool changed = false, started = false;
    for (;;)
    {
        enable_playlist_buttons(dialog, preferences);
        const int16_t item = modal_dialog(dialog);
        int32_t selected = get_string_list_selected_identifier(dialog, _autohost_list_item);
        if (selected < 0 || selected >= MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES || !autohost_entry_is_filled(&playlist[selected]))
            selected = first_filled_entry(preferences);
        if (item == NONE || item == _autohost_cancel_item) break;
        if (selected == NONE) continue; // nothing to act on (a playlist nobody filled)
        switch (item)
        {
        case _autohost_start_item:
            *description = playlist[selected];
            set_autohosted_game((int16_t)selected, &playlist[selected]);
            started = true;
            break;
        case _autohost_edit_item:
            if (autohost_entry_parameters_dialog(&playlist[selected], called_from))
                playlist[selected].parameters.option_flags |= _game_option_server_is_observer_flag;
            fill_playlist_rows(dialog, preferences, selected);
            changed = true;
            break;
        case _autohost_add_item:
        {
            int32_t added = NONE;
            for (int32_t i = 0; i < MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES && added == NONE; ++i)
                if (!autohost_entry_is_filled(&playlist[i])) added = i;
            if (added == NONE) break;
            memcpy(playlist[added].name, playlist[selected].name, sizeof(playlist[added].name));
            int32_t now_selected = selected;
            if (autohost_entry_parameters_dialog(&playlist[added], called_from))
            {
                playlist[added].parameters.option_flags |= _game_option_server_is_observer_flag;
                now_selected = added;
            }
            fill_playlist_rows(dialog, preferences, now_selected);
            changed = true;
            break;
        }
        case _autohost_delete_item:
        {
            memmove(&playlist[selected], &playlist[selected + 1],
                    sizeof(playlist[0]) * (size_t)(MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES - 1 - selected));
            playlist[MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES - 1].parameters.scenario_tag = (tag)NONE;
            // A stored playlist may hold a gap; shifted to the front it would
            // make a record that reads back as the defaults, losing every game.
            const int32_t first = first_filled_entry(preferences);
            if (first > 0)
            {
                const net_game_description moved = playlist[0];
                playlist[0] = playlist[first];
                playlist[first] = moved;
            }
            const int32_t before = neighbour_filled_entry(preferences, selected, -1);
            fill_playlist_rows(dialog, preferences, before != NONE ? before : first_filled_entry(preferences));
            changed = true;
            break;
        }
        case _autohost_move_item:
        {
            const int32_t step = get_double_arrow_control_last_click(dialog, _autohost_move_item) == _clicked_arrow_up ? 1 : -1;
            const int32_t other = neighbour_filled_entry(preferences, selected, step);
            if (other == NONE) break;
            const net_game_description moved = playlist[selected];
            playlist[selected] = playlist[other];
            playlist[other] = moved;
            fill_playlist_rows(dialog, preferences, other);
            changed = true;
            break;
        }
        default:
            break;
        }
        if (started) break;
    }

    if (changed && !write_preferences(store)) log_message(nullptr, -1, "autohost: the playlist could not be stored");
    free_preferences(store);
    dispose_dialog(dialog);
    return started;
}

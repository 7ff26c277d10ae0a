// The load and save dialogs and the film manager.
#include "film_dialogs.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/game_graphic_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/network_services.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/snapshot_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_dialogs/tag_list_control.h"
#include "cseries/errors.h"
#include "cseries/tags.h"
#include "front_end_procedures.h"
#include "game_records.h"
#include "recording.h"
#include "recording_format.h"
#include "saved_games.h"
#include "shapes.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_files.h"

namespace
{

const char *const FIND_PLUGINS_BUTTON_NAME = "Find Plugins";

struct film_dialog_globals_
{
    int16_t last_selected_replay_row; // NONE until a film was selected
    char begin_replay_button_name[BEGIN_REPLAY_BUTTON_NAME_SIZE];
};
film_dialog_globals_ film_dialog_globals = {NONE, ""};

// Bounded copy that always terminates (names in tags may fill their field).
void copy_string(char *destination, size_t size, const char *source)
{
    if (size == 0) return;
    snprintf(destination, size, "%s", source ? source : "");
}

// A missing dialog tag would be fatal inside new_dialog: look first, so a
// damaged interface file costs the player a dialog, not the game.
dialog_data *open_film_dialog(file_tag dialog_tag, file_tag background_tag)
{
    rectangle2d bounds;
    if (!get_dialog_bounds_from_file(dialog_tag, &bounds))
    {
        log_message(__FILE__, __LINE__, "dialog '%s' is missing or damaged: not opened", tag_to_string(dialog_tag));
        return nullptr;
    }
    dialog_data *dialog =
        new_dialog(dialog_tag, nullptr, nullptr, NONE, _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return nullptr;
    const int32_t background = get_collection_index(background_tag);
    if (background != NONE) set_dialog_background(dialog, (int16_t)background, 0);
    return dialog;
}

bool read_header_of(int32_t tag_index, recording_file_header *header)
{
    return tag_index != NONE && read_recording_header(tag_index, header);
}

// Missing plug-ins of a film; NONE when its list does not decode.
int32_t missing_plugin_count(const recording_file_header *header)
{
    missing_plugin_info missing[MAXIMUM_MISSING_PLUGINS];
    return tag_file_plugins_decode_missing(header->game.parameters.plugin_data, ENCODED_PLUGIN_DATA_SIZE, missing,
                                           MAXIMUM_MISSING_PLUGINS);
}

bool film_map_available(const recording_file_header *header, char *map_name, int32_t size)
{
    return get_mesh_display_name_in_plugin_list(header->game.parameters.scenario_tag, map_name, size,
                                                header->game.parameters.plugin_data, ENCODED_PLUGIN_DATA_SIZE);
}

// The row of the list holding `tag_index`, NONE when none does.
int16_t row_of_tag(const dialog_data *dialog, int16_t item_id, int32_t tag_index)
{
    if (tag_index == NONE) return NONE;
    const int16_t rows = bitmap_get_listbox_row_count(dialog, item_id);
    for (int16_t row = 0; row < rows; ++row)
    {
        tag_list_data data = {};
        int16_t size = (int16_t)sizeof(data);
        bitmap_get_listbox_row_data(dialog, item_id, row, &data, &size);
        if (data.tag_index == tag_index) return row;
    }
    return NONE;
}

void select_row(dialog_data *dialog, int16_t item_id, int16_t row)
{
    bitmap_clear_selections(dialog, item_id);
    if (row != NONE && row < bitmap_get_listbox_row_count(dialog, item_id))
        bitmap_select_list_item(dialog, item_id, row);
}

// Lists the tags of `group` whose header reads, newest first; no row selected.
struct listing_context
{
    tag group;
    int32_t count;
    int32_t maximum;
};

bool listable_film_or_save(int32_t tag_index, void *context)
{
    listing_context *listing = (listing_context *)context;
    if (listing->count >= listing->maximum) return false;
    if (!valid_replay_or_save_version(tag_index, nullptr)) return false;
    ++listing->count;
    return true;
}

void fill_tag_list(dialog_data *dialog, int16_t item_id, tag group, int32_t maximum)
{
    bitmap_empty_list(dialog, item_id);
    set_tag_list_sort_order(dialog, item_id, TAG_LIST_SORT_BY_DATE);
    listing_context listing = {group, 0, maximum};
    append_tags_to_tag_list(dialog, item_id, group, listable_film_or_save, &listing, true);
    bitmap_clear_selections(dialog, item_id);
}

// Deletes the tag after the front end's confirmation; without one nothing is
// deleted, since a deletion the player never confirmed cannot be undone.
bool confirm_and_delete(int32_t tag_index)
{
    if (tag_index == NONE) return false;
    const auto confirm = get_front_end_procedures()->sure_you_want_to_delete;
    if (!confirm)
    {
        log_message(__FILE__, __LINE__, "'%s' not deleted: no confirmation dialog", tag_file_name_get(tag_index));
        return false;
    }
    if (!confirm(tag_index)) return false;
    if (!tag_file_delete(tag_index))
    {
        log_message(__FILE__, __LINE__, "'%s' could not be deleted", tag_file_name_get(tag_index));
        return false;
    }
    return true;
}

// ---- the load dialog ------------------------------------------------------------------

// The saved game's map as the player knows it: its printed name, or its tag
// and that it is missing when no installed map has it; "" for a header that
// does not read.
void saved_game_map_text(int32_t tag_index, char *text, size_t size)
{
    text[0] = 0;
    recording_file_header header;
    if (tag_index == NONE || !read_header_of(tag_index, &header)) return;
    char map_name[64] = "";
    if (film_map_available(&header, map_name, (int32_t)sizeof(map_name)) && map_name[0])
        copy_string(text, size, map_name);
    else
        snprintf(text, size, "map '%s' (not installed)", tag_to_string(header.game.parameters.scenario_tag));
}

void update_load_dialog(dialog_data *dialog)
{
    const int32_t tag_index = get_tag_list_selected_header(dialog, _load_game_list_item);
    set_snapshot_item_tag_header(dialog, _load_game_snapshot_item, tag_index);
    char date[64] = "";
    if (tag_index != NONE)
    {
        const time_t when = (time_t)get_tag_modification_date(tag_index, nullptr);
        struct tm local = {};
        if (when > 0 && localtime_r(&when, &local)) strftime(date, sizeof(date), "%Y-%m-%d %H:%M", &local);
    }
    set_bitmap_dialog_static_item_text(dialog, _load_game_date_item, date);
    char map[96];
    saved_game_map_text(tag_index, map, sizeof(map));
    set_bitmap_dialog_static_item_text(dialog, _load_game_map_item, map);
    bitmap_set_item_enabled(dialog, _load_game_ok_item, tag_index != NONE);
    bitmap_set_item_enabled(dialog, _load_game_delete_item, tag_index != NONE);
}

// Whether the saved game can be loaded: its header reads and no plug-in it
// names is missing.
bool saved_game_loadable(int32_t tag_index)
{
    recording_file_header header;
    if (!read_header_of(tag_index, &header)) return false;
    const int32_t missing = missing_plugin_count(&header);
    if (missing != 0)
    {
        // The missing-plug-ins dialog is networking's; the film code opens it
        // when the game is started, so here the player just stays in the list.
        log_message(__FILE__, __LINE__, "saved game '%s' needs %d plug-ins that are not installed",
                    tag_file_name_get(tag_index), (int)missing);
        return false;
    }
    return true;
}

// ---- the save dialog ---------------------------------------------------------------------

bool has_visible_character(const char *text)
{
    for (; *text; ++text)
        if (isgraph((unsigned char)*text)) return true;
    return false;
}

struct save_dialog_state
{
    dialog_data *dialog;
};

// Once per pass: OK follows the name field.
bool save_dialog_pass(void *data, action_data *action)
{
    if (action) return false;
    save_dialog_state *state = (save_dialog_state *)data;
    char name[SAVE_GAME_NAME_LENGTH + 1];
    get_bitmap_dialog_edit_item_text(state->dialog, _save_game_name_item, name, sizeof(name));
    bitmap_set_item_enabled(state->dialog, _save_game_ok_item, has_visible_character(name));
    return false;
}

// Whether the name may be used: a saved game of that name is replaced only
// when the player agrees.  It is not deleted here: the new tag takes its
// place in one step when it is made, so a save that fails loses nothing.
bool name_free_or_replaced(const char *name)
{
    const int32_t existing = tag_file_find_by_name(SAVED_GAME_GROUP_TAG, name);
    if (existing == NONE) return true;
    const auto replace = get_front_end_procedures()->unique_name_or_desires_replacement;
    if (!replace)
    {
        log_message(__FILE__, __LINE__, "saved game '%s' exists and there is no dialog to confirm its replacement", name);
        return false;
    }
    return replace(SAVED_GAME_GROUP_TAG, name);
}

// ---- the film manager -------------------------------------------------------------------

int32_t selected_film(const dialog_data *dialog)
{
    return get_tag_list_selected_header(dialog, _replay_list_item);
}

int32_t last_recording_tag_index(void)
{
    const tag subgroup = get_last_recording_subgroup();
    if (subgroup == (tag)NONE) return NONE;
    return tag_file_open(RECORDING_GROUP_TAG, subgroup);
}

bool play_film(new_game_data *data, int32_t tag_index)
{
    tag_file_info info;
    if (tag_index == NONE || !tag_file_info_get(tag_index, &info)) return false;
    return begin_replay(data, info.subgroup_tag);
}

void refill_replay_list(dialog_data *dialog, int32_t select_tag_index, int16_t fallback_row)
{
    fill_tag_list(dialog, _replay_list_item, RECORDING_GROUP_TAG, MAXIMUM_REPLAYS);
    int16_t row = row_of_tag(dialog, _replay_list_item, select_tag_index);
    if (row == NONE) row = fallback_row;
    const int16_t rows = bitmap_get_listbox_row_count(dialog, _replay_list_item);
    if (row != NONE && row >= rows) row = (int16_t)(rows - 1);
    select_row(dialog, _replay_list_item, row);
    setup_replay_dialog_to_match_header(dialog);
}

} // namespace

// ---- the load dialog ------------------------------------------------------------------------

int32_t select_game_to_load_dialog(void)
{
    dialog_data *dialog = open_film_dialog(LOAD_GAME_DIALOG_TAG, LOAD_GAME_BACKGROUND_COLLECTION_TAG);
    if (!dialog) return NONE;

    rectangle2d snapshot;
    get_dialog_item_bounds(dialog, _load_game_snapshot_item, &snapshot);
    rectangle2d date_bounds;
    date_bounds.top = (int16_t)(snapshot.bottom + LOAD_GAME_DATE_GAP);
    date_bounds.left = snapshot.left;
    date_bounds.bottom = (int16_t)(date_bounds.top + LOAD_GAME_DATE_HEIGHT);
    date_bounds.right = (int16_t)(date_bounds.left + LOAD_GAME_DATE_WIDTH);
    new_unpressed_control(dialog, STATIC_TEXT_CONTROL_TAG, _load_game_date_item, &date_bounds, "");
    // The map under it, as wide as the snapshot or the date, whichever is wider.
    rectangle2d map_bounds = date_bounds;
    map_bounds.top = (int16_t)(date_bounds.bottom + LOAD_GAME_MAP_GAP);
    map_bounds.bottom = (int16_t)(map_bounds.top + LOAD_GAME_DATE_HEIGHT);
    if (snapshot.right > map_bounds.right) map_bounds.right = snapshot.right;
    new_unpressed_control(dialog, STATIC_TEXT_CONTROL_TAG, _load_game_map_item, &map_bounds, "");

    fill_tag_list(dialog, _load_game_list_item, SAVED_GAME_GROUP_TAG, MAXIMUM_REPLAYS);
    select_row(dialog, _load_game_list_item, 0);
    bitmap_set_listbox_doubleclick_itemhit(dialog, _load_game_list_item, _load_game_ok_item);
    set_default_dialog_item(dialog, _load_game_ok_item);
    set_dialog_cancel_item(dialog, _load_game_cancel_item);
    update_load_dialog(dialog);

    int32_t result = NONE;
    for (bool done = false; !done;)
    {
        const int16_t item = modal_dialog(dialog);
        switch (item)
        {
        case _load_game_ok_item:
        {
            const int32_t tag_index = get_tag_list_selected_header(dialog, _load_game_list_item);
            if (saved_game_loadable(tag_index))
            {
                result = tag_index;
                done = true;
            }
            break;
        }
        case _load_game_delete_item:
        {
            const int16_t row = bitmap_get_listbox_value(dialog, _load_game_list_item);
            if (confirm_and_delete(get_tag_list_selected_header(dialog, _load_game_list_item)))
            {
                fill_tag_list(dialog, _load_game_list_item, SAVED_GAME_GROUP_TAG, MAXIMUM_REPLAYS);
                const int16_t rows = bitmap_get_listbox_row_count(dialog, _load_game_list_item);
                select_row(dialog, _load_game_list_item, rows == 0 ? (int16_t)NONE : (int16_t)(row < rows ? row : rows - 1));
            }
            update_load_dialog(dialog);
            break;
        }
        case _load_game_list_item: update_load_dialog(dialog); break;
        case _load_game_cancel_item:
        case NONE: done = true; break;
        default: update_load_dialog(dialog); break;
        }
    }
    dispose_dialog(dialog);
    return result;
}

// ---- the save dialog -----------------------------------------------------------------------------

saved_game_name_result save_game_dialog(const char *default_name, const void *snapshot, int16_t width,
                                        int16_t height, int16_t encoding, char *name_out, size_t name_size)
{
    if (name_out && name_size > 0) name_out[0] = 0;
    if (!name_out || name_size == 0) return _saved_game_name_dialog_failed;
    dialog_data *dialog = open_film_dialog(SAVE_GAME_DIALOG_TAG, SAVE_GAME_BACKGROUND_COLLECTION_TAG);
    if (!dialog) return _saved_game_name_dialog_failed;

    set_bitmap_dialog_edit_item_maximum_length(dialog, _save_game_name_item, SAVE_GAME_NAME_LENGTH);
    char name[SAVE_GAME_NAME_LENGTH + 1];
    copy_string(name, sizeof(name), default_name);
    set_bitmap_dialog_edit_item_text(dialog, _save_game_name_item, name);
    fill_tag_list(dialog, _save_game_list_item, SAVED_GAME_GROUP_TAG, MAXIMUM_REPLAYS);
    bitmap_set_listbox_doubleclick_itemhit(dialog, _save_game_list_item, _save_game_ok_item);
    if (snapshot) set_snapshot_item_data(dialog, _save_game_snapshot_item, snapshot, width, height, encoding);
    set_default_dialog_item(dialog, _save_game_ok_item);
    set_dialog_cancel_item(dialog, _save_game_cancel_item);
    set_dialog_focus(dialog, _save_game_name_item);

    save_dialog_state state = {dialog};
    save_dialog_pass(&state, nullptr);
    bool chosen = false;
    for (bool done = false; !done;)
    {
        const int16_t item = custom_modal_dialog(dialog, &state, save_dialog_pass);
        switch (item)
        {
        case _save_game_ok_item:
            get_bitmap_dialog_edit_item_text(dialog, _save_game_name_item, name, sizeof(name));
            if (!has_visible_character(name) || !name_free_or_replaced(name)) break;
            copy_string(name_out, name_size, name);
            chosen = true;
            done = true;
            break;
        case _save_game_list_item:
        {
            const int32_t picked = get_tag_list_selected_header(dialog, _save_game_list_item);
            if (picked != NONE)
            {
                copy_string(name, sizeof(name), tag_file_name_get(picked));
                set_bitmap_dialog_edit_item_text(dialog, _save_game_name_item, name);
                save_dialog_pass(&state, nullptr);
            }
            break;
        }
        case _save_game_cancel_item:
        case NONE: done = true; break;
        default: break;
        }
    }
    dispose_dialog(dialog);
    return chosen ? _saved_game_name_chosen : _saved_game_name_cancelled;
}

// ---- the film manager ----------------------------------------------------------------------------

const char *get_begin_replay_button_name(void) { return film_dialog_globals.begin_replay_button_name; }

void setup_replay_dialog_to_match_header(dialog_data *dialog)
{
    int32_t selected = selected_film(dialog);
    recording_file_header header;
    const bool has_header = read_header_of(selected, &header);
    tag_file_info info;
    if (has_header && tag_file_info_get(selected, &info))
    {
        net_game_description description = {};
        copy_string(description.name, sizeof(description.name), tag_file_name_get(selected));
        film_map_available(&header, description.map_name, (int32_t)sizeof(description.map_name));
        description.map_name[sizeof(description.map_name) - 1] = 0;
        description.parameters = header.game.parameters;
        set_game_control_description(dialog, _replay_description_item, &description);
        set_game_graphic_is_replay(dialog, _replay_description_item, true);
        // The description opened the film's plug-ins to find its map, and
        // that leaves every tag index in the list stale: list the films again
        // and find the selected one by its subgroup, which does not change.
        fill_tag_list(dialog, _replay_list_item, RECORDING_GROUP_TAG, MAXIMUM_REPLAYS);
        selected = tag_file_open(RECORDING_GROUP_TAG, info.subgroup_tag);
        select_row(dialog, _replay_list_item, row_of_tag(dialog, _replay_list_item, selected));
        selected = selected_film(dialog);
    }

    recording_file_header last_header;
    const int32_t last = last_recording_tag_index();
    const bool last_playable = read_header_of(last, &last_header) && film_map_available(&last_header, nullptr, 0);
    bitmap_set_item_enabled(dialog, _replay_play_last_item, last_playable);
    bitmap_set_item_enabled(dialog, _replay_save_last_item, last_playable);

    const bool has_film = selected != NONE;
    bitmap_set_item_visible(dialog, _replay_description_item, has_film);
    bitmap_set_item_visible(dialog, _replay_players_item, has_film);
    bitmap_set_item_enabled(dialog, _replay_delete_item, has_film);
    bitmap_set_item_enabled(dialog, _replay_rename_item, has_film && selected != last);
    clear_player_list(dialog, _replay_players_item);
    if (!has_film || !has_header)
    {
        bitmap_set_item_enabled(dialog, _replay_play_item, false);
        set_button_control_name(dialog, _replay_play_item, film_dialog_globals.begin_replay_button_name);
        return;
    }

    const bool plugins_missing = missing_plugin_count(&header) != 0;
    if (film_map_available(&header, nullptr, 0))
    {
        bitmap_set_item_enabled(dialog, _replay_play_item, true);
        set_button_control_name(dialog, _replay_play_item,
                                plugins_missing ? FIND_PLUGINS_BUTTON_NAME
                                                : (const char *)film_dialog_globals.begin_replay_button_name);
    }
    else
    {
        set_button_control_name(dialog, _replay_play_item, FIND_PLUGINS_BUTTON_NAME);
        bitmap_set_item_enabled(dialog, _replay_play_item, plugins_missing);
    }

    if (header.game.parameters.type == _game_type_networked)
    {
        int32_t count = header.game.player_count;
        if (count < 0) count = 0;
        if (count > MAXIMUM_PLAYERS_PER_MAP) count = MAXIMUM_PLAYERS_PER_MAP;
        for (int32_t i = 0; i < count; ++i)
        {
            const new_player_data *player = &header.game.players[i];
            if (player->type != 0) continue;
            add_player_to_list(dialog, _replay_players_item, player, NONE, (uint32_t)player->unique_identifier, NONE,
                               true);
        }
    }
}

bool replay_manager(new_game_data *data)
{
    dialog_data *dialog = open_film_dialog(REPLAY_DIALOG_TAG, REPLAY_BACKGROUND_COLLECTION_TAG);
    if (!dialog) return false;

    get_button_control_name(dialog, _replay_play_item, film_dialog_globals.begin_replay_button_name,
                            (int32_t)sizeof(film_dialog_globals.begin_replay_button_name));
    bitmap_set_listbox_doubleclick_itemhit(dialog, _replay_list_item, _replay_play_item);
    set_default_dialog_item(dialog, _replay_play_item);
    set_dialog_cancel_item(dialog, _replay_done_item);
    refill_replay_list(dialog, NONE, film_dialog_globals.last_selected_replay_row);

    bool result = false;
    for (bool done = false; !done;)
    {
        const int16_t item = modal_dialog(dialog);
        const int32_t selected = selected_film(dialog);
        const int16_t row = bitmap_get_listbox_value(dialog, _replay_list_item);
        switch (item)
        {
        case _replay_play_item:
            if (selected == NONE) break;
            result = play_film(data, selected);
            done = true;
            break;
        case _replay_play_last_item:
        {
            const int32_t last = last_recording_tag_index();
            // Gone since the dialog enabled the button: the player is told, as for a damaged one.
            if (last == NONE) ERROR_MESSAGE(_error_file_read, "The last game's film is missing: there is nothing to play");
            result = play_film(data, last);
            done = true;
            break;
        }
        case _replay_save_last_item:
        {
            int32_t new_film = NONE;
            save_last_replay(nullptr, &new_film);
            refill_replay_list(dialog, new_film != NONE ? new_film : selected, row);
            break;
        }
        case _replay_delete_item:
            if (confirm_and_delete(selected))
                refill_replay_list(dialog, NONE, row > 0 ? (int16_t)(row - 1) : (int16_t)0);
            break;
        case _replay_rename_item:
        {
            const auto rename = get_front_end_procedures()->rename_tag;
            int32_t renamed = selected;
            if (!rename)
                log_message(__FILE__, __LINE__, "film not renamed: no rename dialog");
            else if (selected != NONE && rename(&renamed))
                refill_replay_list(dialog, renamed, row);
            break;
        }
        case _replay_done_item:
        case NONE: done = true; break;
        default: setup_replay_dialog_to_match_header(dialog); break;
        }
    }
    film_dialog_globals.last_selected_replay_row = bitmap_get_listbox_value(dialog, _replay_list_item);
    if (film_dialog_globals.last_selected_replay_row < 0) film_dialog_globals.last_selected_replay_row = NONE;
    dispose_dialog(dialog);
    return result;
}

// ---- registration ----------------------------------------------------------------------------------

void register_film_dialog_hooks(void)
{
    static const film_dialog_procedures procedures = {
        .saved_game_name_dialog = save_game_dialog,
        .select_game_to_load = select_game_to_load_dialog,
        .read_save_game_snapshot = read_save_game_snapshot_picture, // the load dialog's pictures
    };
    register_film_dialog_procedures(&procedures);
}

void reset_film_dialogs(void)
{
    film_dialog_globals.last_selected_replay_row = NONE;
    film_dialog_globals.begin_replay_button_name[0] = 0;
}

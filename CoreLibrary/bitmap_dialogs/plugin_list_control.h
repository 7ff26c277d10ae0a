#pragma once
// Lists of installed plug-ins ('lstp').
//
// A list item (list_control.h) for the new-game dialog (the plug-ins with
// solo or multiplayer maps, and the base game as a row of its own) and for
// the plug-in choice dialog (the plug-ins without maps, active or not).
// Rows sort by name, the base game always first, or by number of maps, most
// first; a search field hides the rows whose names do not contain its text.
//
// Calls on a missing item or one of another type are logged and answer
// false, -1 or nothing.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define PLUGIN_LIST_CONTROL_TAG FOUR_CHARACTER_CODE('l', 's', 't', 'p')

enum
{
    PLUGIN_LIST_NAME_SIZE = 32,
    MAXIMUM_PLUGIN_LIST_ROWS = 1024,
    // The entry-point count of the base game's row, which no plug-in reaches.
    BASE_GAME_ENTRY_POINTS = 32767,
    PLUGIN_FILTER_TEXT_SIZE = 256,
};

enum plugin_list_type
{
    _active_plugin_list_control = 0,
    _inactive_plugin_list_control = 1,
    _solo_plugin_list_control = 2,
    _multi_plugin_list_control = 3,
};

// One row's bytes (memory only).
struct plugin_list_data
{
    int16_t plugin_index; // in the tag-file store; BASE_GAME_PLUGIN_INDEX for the base game
    int16_t entry_points; // solo or multiplayer maps; BASE_GAME_ENTRY_POINTS for the base game
    char name[PLUGIN_LIST_NAME_SIZE];
};
static_assert(sizeof(plugin_list_data) == 36);

intptr_t plugin_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// The list procedures.
int32_t plugin_list_sort_by_name(const void *a, int16_t length_a, const void *b, int16_t length_b);
int32_t plugin_list_sort_by_entrypoint_count(const void *a, int16_t length_a, const void *b, int16_t length_b);
bool plugin_list_match_proc(const void *data, int16_t length, const char *typed_text);
void plugin_list_draw_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                           const void *data, int16_t length, int16_t font_id, uint16_t flags);

// Empties the list and fills it for `type`.  `plugins` is an array of
// `plugin_count` plug-in indexes, or with `decode` an encoded plug-in list
// (512 bytes; one that does not decode is logged and gives no given
// plug-ins).  Active: the given plug-ins without maps.  Inactive: the
// installed plug-ins without maps that are not given.  Solo and multi: the
// installed plug-ins with such maps, then the base game; the one whose
// checksum is `chosen_mapset_checksum` is selected, else the base game.
void initialize_plugin_list_control(dialog_data *dialog, int16_t item_id, const void *plugins, int32_t plugin_count,
                                    bool decode, uint32_t chosen_mapset_checksum, int16_t type);
// BASE_GAME_PLUGIN_INDEX adds the base game's row; otherwise the plug-in must
// be installed and be a plug-in (false otherwise).  `solo` counts its solo
// maps, else its multiplayer maps.
bool add_plugin_to_list(dialog_data *dialog, int16_t item_id, int16_t plugin_index, bool selected, bool solo);
// Deletes the first row of the plug-in; false when there is none.
bool remove_plugin_from_list(dialog_data *dialog, int16_t item_id, int16_t plugin_index);
// The selected row's plug-in index; false with no selection.
bool get_plugin_list_selected_plugin_index(const dialog_data *dialog, int16_t item_id, int16_t *plugin_index);
// Encodes the plug-ins of every row (hidden ones too, the base game's row
// left out, in row order) into the 512-byte `plugin_data` with
// tag_file_plugins_encode, which never cuts a list: the number of plug-ins
// encoded, or -1 with 512 zero bytes when they do not fit (more than 16, or
// names and addresses too long).
int32_t get_encoded_plugin_data_from_list(const dialog_data *dialog, int16_t item_id, void *plugin_data);
// By name (the base game first) or by number of maps; re-sorts and brings
// the selection into view.
void set_plugin_list_sort_method(dialog_data *dialog, int16_t item_id, bool alphabetical);
// Makes the edit field `filter_item` the list's search field: it shows
// "(search)" and every key typed into it refilters the list.
void set_plugin_list_filter_control(dialog_data *dialog, int16_t item_id, int16_t filter_item);
// Shows exactly the rows whose names contain `text`, without regard to case.
void set_plugin_list_filter_text(dialog_data *dialog, int16_t item_id, const char *text);
// Reads the search field and filters by its text, unless it is the "(search)" placeholder.
void refilter_plugin_list_now(dialog_data *dialog, int16_t item_id, int16_t filter_item);
// The search field's key listener; `context` is the list's item id.
void filter_key_listener(dialog_data *dialog, int16_t item_id, action_data *action, void *context);

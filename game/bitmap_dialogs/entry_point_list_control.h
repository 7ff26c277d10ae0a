#pragma once
// Map lists ('lstm'): list items whose rows are the cached entry points
// (maps) of one plug-in, for the new-game dialogs, ordered by level, with the
// single-player progress rules: maps not reached yet are greyed or left out,
// unfinished and training maps are shown only while shift is held, and the
// two secret maps stay hidden until reached.  The item is a list
// (list_control.h): every verb but the create completion goes on to the list
// control after this type's own setup.
//
// Rows point into the store's cached entry points: they go stale when the
// entry points are rebuilt, so a dialog refills its list then
// (populate_map_list_plugin_restricted).
//
// The getters take a row, or -1 for the first selected row; with none they
// give their failure value.  Every call checks that the item is a map list:
// a missing item, or one of another type, is logged and gets the failure
// value.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

struct full_entry_point;

#define ENTRY_POINT_LIST_CONTROL_TAG FOUR_CHARACTER_CODE('l', 's', 't', 'm')
// Maps that are never offered in single-player play until reached.
#define SECRET_MAP_MESH_TAG1 FOUR_CHARACTER_CODE('2', '1', 'm', 'd')
#define SECRET_MAP_MESH_TAG2 FOUR_CHARACTER_CODE('0', '3', 'h', 'p')

enum
{
    KEY_TO_SHOW_ALL_UNFINISHED_MAPS = 57, // shift
    ENTRY_POINT_ENABLED_PREFIX = 195,     // drawn before a map that may be started (single player)
    ENTRY_POINT_DISABLED_PREFIX = 165,    // ... and before one that may not
    NUMBER_OF_ENTRY_POINT_COLORS = 6,     // levels 100..699, one colour a hundred
    MAXIMUM_ENTRY_POINT_NAME_SIZE = 256,  // the most a name getter writes
};

// A row's bytes (host pointers: rows never leave the process).
struct ep_list_data
{
    const full_entry_point *ep;          // the cached entry point
    const char *translated_printed_name; // its display name in the player's language
    int32_t prefix_symbol;               // a character drawn before the name, -1 for none
};

intptr_t entry_point_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// The list procedures: ascending level; a map answers to the typed text when
// its name starts with it, compared loosely; the row drawer (colours by
// completeness and level, two thirds as bright when disabled).
int32_t entry_point_sort_proc(const void *a, int16_t length_a, const void *b, int16_t length_b);
bool entry_point_match_proc(const void *data, int16_t length, const char *typed_text);
void entry_point_draw_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                           const void *data, int16_t length, int16_t font_id, uint16_t flags);

// The colour of an unselected row of `entry` (enabled or not).
rgb_color *get_entry_point_row_color(rgb_color *color, const full_entry_point *entry, bool enabled);

// Empties the list and fills it with the cached entry points of plug-in
// `plugin_index` that share a bit with `mesh_flag_mask`, by the rules of
// single-player play when the mask has _mesh_is_single_player_entry_point_flag
// (maps reached, or `current_map_tag`, may be started; the rest are greyed or
// left out); the row of `current_map_tag` (else of the lowest level) is
// selected and centred.  Holding shift shows unfinished maps (and training
// maps outside a network game).
void populate_map_list_plugin_restricted(dialog_data *dialog, int16_t item_id, uint32_t mesh_flag_mask,
                                         tag current_map_tag, int16_t plugin_index, bool network_game);

// The entry's plug-in index, -1 when none.
int32_t get_entry_point_list_item_plugin_index(const dialog_data *dialog, int16_t item_id, int16_t row);
// The cached entry into *entry (NULL when none); whether there was one.
bool get_entry_point_list_item_data(const dialog_data *dialog, int16_t item_id, int16_t row,
                                    const full_entry_point **entry);
// The display name, cut to `size` bytes ("" when none); whether there was one.
bool get_entry_point_list_item_name(const dialog_data *dialog, int16_t item_id, int16_t row, char *name,
                                    int32_t size);
// The map's mesh tag, -1 when none.
int32_t get_entry_point_list_item_value(const dialog_data *dialog, int16_t item_id, int16_t row);
// The entry's mesh flags, -1 when none.
int32_t get_entry_point_list_item_mesh_flags(const dialog_data *dialog, int16_t item_id, int16_t row);

#pragma once
// The icon popup ('ipop'): one icon of a sprite sequence, the current value;
// while the left button is held it opens into a grid of the enabled icons,
// highlights the one under the pointer and takes it on release.  The lobby's
// room graphic uses it as a list of rooms (then the row count follows the
// lobby's room count).
//
// The grid shows the visible icons with the current value moved to place 0:
// with o the value's position in the visible list, place 0 shows entry o,
// place o shows entry 0, every other place p shows entry p.
//
// Nothing is drawn or tracked before set_icon_popup_control_information
// found the icons.  The caller must set a row count (the record starts with
// none) and size the grid to hold every visible icon.
//
// The current value's position is kept inside the visible list: disabling
// the current icon leaves the position, which then names the icon that moved
// into it (the last one when it was the last); an empty list has no value
// (NONE).  Every accessor checks the item's cookie (logged; neutral answer).
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define ICON_POPUP_CONTROL_TAG FOUR_CHARACTER_CODE('i', 'p', 'o', 'p')
// The lobby's room graphic: an icon popup whose accessors work on it too.
#define ROOM_GRAPHIC_CONTROL_TAG FOUR_CHARACTER_CODE('r', 'o', 'o', 'm')

enum
{
    ICON_POPUP_COOKIE = 591418641,
    MAXIMUM_COLUMN_COUNT = 8,
    BORDER_WIDTH = 2,
    MAXIMUM_ICON_POPUP_REPLACEMENT_COLORS = 8,
    ICON_POPUP_DISABLED_TRANSPARENCY = 32768, // apart from the buttons' own, so both headers can be included
};

// Draws one icon: (destination, collection, sequence, bitmap index, bounds,
// clip, replacement colours, transparency, popped up, highlighted).
typedef void (*icon_draw_proc_ptr)(bitmap_data *destination, int16_t collection_index, int16_t sequence_index,
                                   int16_t bitmap_index, rectangle2d *bounds, const rectangle2d *clip,
                                   const rgb_color *replacement_colors, fixed_fraction transparency, bool popped_up,
                                   bool highlighted);
// Whether the icon may be chosen.
typedef bool (*icon_enabled_proc_ptr)(int16_t icon_index);

// The item's extra data.
struct icon_popup_control_data
{
    bool initialized;
    int32_t cookie; // ICON_POPUP_COOKIE
    bool tracking;  // the grid is open
    bool is_metaserver_room_list;
    int16_t collection_index, icons_sequence_index, highlight_sequence_index, popup_arrow_sequence_index;
    int16_t column_count, row_count;
    int16_t icon_width, icon_height;
    int16_t icon_separation;
    int16_t highlighted_icon_place; // NONE for none
    int16_t original_icon_visible_index; // the current value's position in visible_icon_indexes
    int16_t dialog_item_index;
    dialog_data *dialog;
    rectangle2d idle_bounds, tracking_bounds;
    icon_draw_proc_ptr draw_proc;
    icon_enabled_proc_ptr enabled_proc; // NULL: every icon may be chosen
    rgb_color replacement_colors[MAXIMUM_ICON_POPUP_REPLACEMENT_COLORS];
    int16_t icon_count;
    int16_t visible_icon_count;
    int16_t *visible_icon_indexes; // ascending; owned
};

intptr_t icon_popup_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Draws the bitmap of the sequence into the bounds, respecting its registration point.
void default_icon_draw_proc(bitmap_data *destination, int16_t collection_index, int16_t sequence_index,
                            int16_t bitmap_index, rectangle2d *bounds, const rectangle2d *clip,
                            const rgb_color *replacement_colors, fixed_fraction transparency, bool popped_up,
                            bool highlighted);

// Takes the icons from the collection's sequences (the highlight frame and the
// arrow may be NONE).  A missing icon sequence, or neither a highlight nor an
// icon bitmap to size the icons by, leaves the control closed and
// uninitialized.  Every icon becomes visible; the value is the icon at
// `original_icon_index` (clamped into the list); columns = the integer square
// root of the icon count in 1..8.  The idle bounds grow to the icon and its
// border when they are smaller.
void set_icon_popup_control_information(dialog_data *dialog, int16_t item_id, int16_t collection_index,
                                        int16_t icons_sequence_index, int16_t highlight_sequence_index,
                                        int16_t popup_arrow_sequence_index, int16_t original_icon_index,
                                        int16_t icon_separation);
// Store and recompute the open grid's bounds.
void set_icon_popup_column_count(dialog_data *dialog, int16_t item_id, int16_t count);
void set_icon_popup_row_count(dialog_data *dialog, int16_t item_id, int16_t count);
void set_icon_popup_is_metaserver_room_list(dialog_data *dialog, int16_t item_id, bool is_room_list);
// At most 8 colours; only once initialized.
void set_icon_popup_replacement_colors(dialog_data *dialog, int16_t item_id, const rgb_color *colors, int16_t count);
void set_icon_popup_icon_enabled_proc(dialog_data *dialog, int16_t item_id, icon_enabled_proc_ptr procedure);
// NULL restores default_icon_draw_proc.
void set_icon_popup_draw_proc(dialog_data *dialog, int16_t item_id, icon_draw_proc_ptr procedure);
// An icon not in the visible list leaves the value.
void set_icon_popup_value(dialog_data *dialog, int16_t item_id, int16_t value);
// The current icon; NONE for an empty list or a bad item.
int16_t get_icon_popup_value(const dialog_data *dialog, int16_t item_id);
int16_t get_icon_popup_maximum_count(const dialog_data *dialog, int16_t item_id);
// Removes the icon from (or puts it back into) the visible list; an index
// outside [0, icon count) is refused (logged), nothing changes then.
void set_icon_popup_bitmaps_disabled_state(dialog_data *dialog, int16_t item_id, int16_t bitmap_index, bool enabled);

#pragma once
// The list of plug-ins a network game needs and this machine lacks ('mpll').
//
// A list item (list_control.h): each row shows the plug-in's icon, its name,
// its web address and a look-up button at the row's right.  Pressing and
// releasing the mouse on a row's button asks networking to look the plug-in
// up (lookup_plugin); a download address found is opened as a web link
// (go_to_url), a plug-in not found is marked "Not Found".  Releasing anywhere
// else looks nothing up.
//
// Calls on a missing item or one of another type are logged and do nothing.
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "tag_files/plugins.h"

#define MISSING_PLUGINS_LIST_CONTROL_TAG FOUR_CHARACTER_CODE('m', 'p', 'l', 'l')
#define SHARED_BITMAPS_COLLECTION_TAG FOUR_CHARACTER_CODE('!', 's', 'b', 'a')

enum
{
    MISSING_PLUGIN_ICON_BITMAP = 12, // of '!sba'
    MISSING_PLUGIN_BUTTON_BITMAP = 56, // of 'baie'
    MISSING_PLUGIN_BUTTON_PRESSED_BITMAP = 58,
    MISSING_PLUGIN_DEFAULT_LINE_HEIGHT = 64, // without the icon
    PLUGIN_DOWNLOAD_URL_SIZE = 256,
};

// One row's bytes (memory only).
struct missing_plugins_list_row_data
{
    missing_plugin_info plugin;
    int32_t is_pressed; // boolean: the row's button is held
    int32_t not_found; // boolean: the look-up failed
};
static_assert(sizeof(missing_plugins_list_row_data) == 108);

intptr_t missing_plugins_list_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);
void draw_missing_plugins_list_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                                    const void *data, int16_t length, int16_t font_id, uint16_t flags);

// Adds a row for the plug-in (not pressed, not marked), enabled.
void add_missing_plugin_to_list(dialog_data *dialog, int16_t item_id, const missing_plugin_info *plugin);
// Deletes every row, the last first.
void clear_missing_plugins_list(dialog_data *dialog, int16_t item_id);

// ---- networking's look-up ---------------------------------------------------------------

// Looks a plug-in up on the web through networking's table (`lookup_plugin`,
// networking_procedures.h): true with its download address (terminated, at
// most `download_url_size` bytes) when found.  Until networking fills it,
// nothing is ever found.
bool lookup_plugin(const char *name, const char *url, uint32_t checksum, char *download_url,
                   int32_t download_url_size);

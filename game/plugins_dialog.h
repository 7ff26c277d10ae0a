#pragma once
// The plug-in choice dialog ('chpl'): the plug-ins a game uses, chosen from
// two lists (inactive and active) with a filter field.
//
// Main thread only.

#include <cstdint>

#include "tag_files/tag_file_formats.h"

struct dialog_data;

#define CHOOSE_PLUGINS_DIALOG_TAG FOUR_CHARACTER_CODE('c', 'h', 'p', 'l')
#define CHOOSE_PLUGINS_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 'p')
// A plug-in's banner and icon collections (in the plug-in's own file).
#define PLUGIN_BANNER_COLLECTION_TAG FOUR_CHARACTER_CODE('#', '#', 'p', '#')
#define PLUGIN_ICON_COLLECTION_TAG FOUR_CHARACTER_CODE('#', '#', 's', '#')

enum choose_plugins_item
{
    _choose_plugins_ok_item = 1,
    _choose_plugins_cancel_item = 2,
    _choose_plugins_inactive_list_item = 4,
    _choose_plugins_active_list_item = 5,
    _choose_plugins_banner_item = 7,
    _choose_plugins_add_item = 8,
    _choose_plugins_remove_item = 9,
    _choose_plugins_note_item = 10,
    // Added when the dialog opens: the filter's label and field.
    _choose_plugins_filter_label_item = 11,
    _choose_plugins_filter_item = 12,
};

enum
{
    // The filter's label lies this far left of the OK button, a little lower.
    CHOOSE_PLUGINS_FILTER_LABEL_OFFSET = 354,
    CHOOSE_PLUGINS_FILTER_LABEL_DROP = 5,
    CHOOSE_PLUGINS_FILTER_LABEL_WIDTH = 40,
    CHOOSE_PLUGINS_FILTER_HEIGHT = 16,
    CHOOSE_PLUGINS_FILTER_FIELD_OFFSET = 50,
    CHOOSE_PLUGINS_FILTER_FIELD_WIDTH = 200,
    // The sequences of 'baie' the add and remove buttons are drawn with.
    CHOOSE_PLUGINS_ADD_BUTTON_SEQUENCE = 17,
    CHOOSE_PLUGINS_REMOVE_BUTTON_SEQUENCE = 18,
};

// What the dialog's code adds to the tag's layout before it is shown: the
// filter's label and field beside OK, the arrows' pictures.  False (nothing
// added) when the dialog lacks an item it needs.  The dialog calls it; the
// layout test too, to see the items where the player does.
bool lay_out_choose_plugins_dialog(dialog_data *dialog);

// Edits the encoded plug-in list `plugin_data` (512 bytes) in place: OK
// writes the active list back (true); Cancel, a dialog that cannot be made,
// or an active list that cannot be encoded leaves the data as it was
// (false; the last is logged).  `mode` is accepted for the callers and not
// used.
bool do_choose_plugins_dialog(void *plugin_data, int16_t mode);

#pragma once
// Capturing a key for a binding ('keyb').
//
// An edit-text field (edittext_control.h) that shows the name of a key: while
// it has the focus, the next key that reaches it becomes its text (the name
// from the key-name string list 'inkn') and the focus moves on as with Tab,
// so a column of fields is filled by pressing keys one after another.  Keys
// the dialog takes first (Tab, Return and the other keyboard equivalents)
// never reach it.  A press only focuses the field: no caret is placed, no
// text selected by dragging, and the item never fires on a press.  The
// item's reference constant holds the index of the key-name list.
//
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define KEYBINDING_CONTROL_TAG FOUR_CHARACTER_CODE('k', 'e', 'y', 'b')
#define INTERNAL_KEY_NAMES_TAG FOUR_CHARACTER_CODE('i', 'n', 'k', 'n')

intptr_t keybinding_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Shows the name of `key_code`; a code without a name shows an empty text.
// Logged and ignored for an item that is not a key-binding field.
void set_keybinding_control_key(dialog_data *dialog, int16_t item_id, int16_t key_code);

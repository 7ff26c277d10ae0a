#pragma once
// Small helpers the in-game and preferences dialogs share: a dialog tag made
// only when it exists (new_dialog treats a missing tag as fatal), items
// touched only when the tag has them, and a collection's background.
//
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "cseries/cseries.h"

// The dialog of tag `subgroup` with `handler` (and a sleep timer of
// `sleep_time` ticks, NONE for none), or null (logged, naming `what`) when
// the tag is missing or refused.
dialog_data *new_dialog_if_present(file_tag subgroup, const char *what, dialog_handler_proc handler, uint16_t flags,
                                   int16_t sleep_time = NONE);

// The background of sequence `sequence` of collection `collection`, when it is loaded.
void set_dialog_background_from(dialog_data *dialog, file_tag collection, int16_t sequence);

// Runs the dialog modally until `ok` or `cancel` fires: which one.  A loop
// that ends without an item, or a dialog closed under it, counts as `cancel`,
// so a caller never spins.  The caller disposes of the dialog.
int16_t run_dialog_until_ok_or_cancel(dialog_data *dialog, int16_t ok, int16_t cancel);

// Visibility, enabling and static text of an item, each skipped when the
// dialog lacks it.
void show_dialog_item(dialog_data *dialog, int16_t item_id, bool visible);
void enable_dialog_item(dialog_data *dialog, int16_t item_id, bool enabled);
void set_dialog_item_text(dialog_data *dialog, int16_t item_id, const char *text);

#pragma once
// Radio buttons ('radi'): buttons (button_control.h) drawn side by side with
// the radio art that lock once on.  A click turns one on and fires; the
// dialog's handler turns the others of its family off with
// set_radio_button_family.  Accessors on other items log "item #%d isn't a
// button" and do nothing (get: false).  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define RADIO_BUTTON_CONTROL_TAG FOUR_CHARACTER_CODE('r', 'a', 'd', 'i')

intptr_t radio_button_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// State 1 when `on`, else 0.
void set_radio_button_state(dialog_data *dialog, int16_t item_id, bool on);
bool get_radio_button_state(const dialog_data *dialog, int16_t item_id);
// Every item from `first_item` to `last_item` gets state 1 when it is
// `chosen_item`, else 0.
void set_radio_button_family(dialog_data *dialog, int16_t first_item, int16_t chosen_item, int16_t last_item);

#pragma once
// The carnage report's statistics list ('cstt'): a list control showing the
// player statistics of the game just played (type 0) or the lasting
// rankings of the session (type 1).  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define CARNAGE_STATS_LIST_CONTROL_TAG FOUR_CHARACTER_CODE('c', 's', 't', 't')

// Type 0 always; 1 only in a game type below 2.
bool stats_type_is_valid(int16_t type);

// NONE for a missing item or a type not set yet.
int16_t get_carnage_stats_type(const dialog_data *dialog, int16_t item_id);
// An invalid type, or the current one, changes nothing; otherwise the row
// procedure is switched and the list rebuilt.
void set_carnage_stats_type(dialog_data *dialog, int16_t item_id, int16_t type);

intptr_t carnage_stats_list_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// The width of `text` in the lists' font (interface font 0), 0 for none or
// empty text; and `*width` widened to it.  The two contents size their
// columns with them.
int16_t carnage_stats_text_width(const char *text);
void widen_carnage_stats_column(int16_t *width, const char *text);

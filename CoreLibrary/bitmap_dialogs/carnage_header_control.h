#pragma once
// The carnage report's header ('ched'): over a graph, the graph's title (row
// `type` of the string list 'ingn'); over a statistics list, its column
// headers.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define CARNAGE_HEADER_CONTROL_TAG FOUR_CHARACTER_CODE('c', 'h', 'e', 'd')
#define CARNAGE_GRAPH_TITLES_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'g', 'n')

// The same type and kind again changes nothing; else the item is redrawn.
void set_carnage_header_type(dialog_data *dialog, int16_t item_id, int16_t type, bool is_graph);

intptr_t carnage_header_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

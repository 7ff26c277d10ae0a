#pragma once
// The snapshot picture ('snap'): a saved game's thumbnail, drawn unscaled and
// centred in the item, clipped to it.
//
// A picture whose width or height is not positive or exceeds
// MAXIMUM_SNAPSHOT_DIMENSION is refused (logged): the item then shows
// nothing.  Saved games are read through a registration point that the
// saved-game reader fills; until then no saved game has a picture.
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define SNAPSHOT_CONTROL_TAG FOUR_CHARACTER_CODE('s', 'n', 'a', 'p')

enum
{
    _snapshot_valid_flag = 1,
    SNAPSHOT_32BIT_ENCODING = 3, // any other encoding is 16-bit
    MAXIMUM_SNAPSHOT_DIMENSION = 1024,
};

// The item's extra data.
struct snapshot_data
{
    uint32_t flags; // _snapshot_valid_flag
    uint8_t *snapshot_data; // owned; width x height pixels
    int16_t width, height;
    int16_t encoding; // 3: 32-bit pixels, otherwise 16-bit
};

intptr_t snapshot_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Copies the pixels (width x height x 4 for encoding 3, else x 2 bytes).
// Refused (logged, the item left empty) for a bad size; empty also when the
// copy cannot be allocated.
void set_snapshot_item_data(dialog_data *dialog, int16_t item_id, const void *data, int16_t width, int16_t height,
                            int16_t encoding);
// The picture of the saved game `tag_index` (NONE: none).
void set_snapshot_item_tag_header(dialog_data *dialog, int16_t item_id, int32_t tag_index);
// The picture is read through the film dialogs' table
// (film_dialog_procedures.h, `read_save_game_snapshot`); none without it.

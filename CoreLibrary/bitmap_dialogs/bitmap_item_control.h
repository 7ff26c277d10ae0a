#pragma once
// The bitmap item ('bitm'): a picture from a collection, or a colour fill,
// with an optional caption.  With drawing flag 128 a change of frame
// cross-fades from the previous frame over 30 ticks of the game's local time.
//
// Every accessor checks the item's cookie: a missing item or an item of
// another type is logged and left alone.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define BITMAP_ITEM_CONTROL_TAG FOUR_CHARACTER_CODE('b', 'i', 't', 'm')

enum
{
    BITMAP_ITEM_COOKIE = (int32_t)0xDEADFEED,
    BITMAP_ITEM_CROSSFADE_TICKS = 30,
    BITMAP_ITEM_DEFAULT_DRAWING_FLAGS = 16, // respect the registration point
};

// The item's extra data.
struct bitmap_extra_data
{
    int32_t cookie; // BITMAP_ITEM_COOKIE
    fixed_fraction transparency;
    int16_t collection_index, sequence_index, frame_index; // collection NONE: no picture
    uint32_t drawing_flags; // draw_bitmap_flags; 128 asks for a cross-fade when the frame changes
    bool color_valid;
    rgb_color color; // the fill without a picture
    bool replacement_colors_valid;
    rgb_color replacement_colors[2];
    bool accepts_focus;
    int16_t caption_font_index;
    rgb_color caption_text_color;
    uint32_t caption_text_flags;
    const char *caption_text;  // owned by the caller; NULL for none
    uint32_t crossfade_time;   // local time when a cross-fade began; 0 when none runs
};

intptr_t bitmap_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Shows bitmap `frame` of the sequence (view -1); clears the colour fill,
// the replacement colours and any cross-fade; redraws.
void set_dialog_bitmap_art(dialog_data *dialog, int16_t item_id, int16_t collection_index, int16_t sequence_index,
                           int16_t frame_index);
// Drops the picture; fills with `color`, or with nothing when NULL; redraws.
void set_bitmap_item_color(dialog_data *dialog, int16_t item_id, const rgb_color *color);
// `colors` (two, may be NULL: unchanged) recolour the picture; redraws.
void set_bitmap_item_replacement_colors(dialog_data *dialog, int16_t item_id, const rgb_color *colors);
// Stores the flags; with 128 set and a frame other than 0 a cross-fade from
// the previous frame starts now and the item asks for idle time until it
// ends; redraws.
void set_dialog_bitmap_drawing_flags(dialog_data *dialog, int16_t item_id, uint32_t flags);
void set_bitmap_item_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency);
// Store only.  `text` stays the caller's and must outlive the item (NULL: no caption).
void set_dialog_bitmap_caption(dialog_data *dialog, int16_t item_id, int16_t font_index, const rgb_color *color,
                               const char *text, uint32_t flags);
// Store only: an item that accepts the focus uses every key while focused.
void bitmap_item_accepts_focus(dialog_data *dialog, int16_t item_id, bool accepts);

// The item's record; NULL for a missing item or one of another type.
bitmap_extra_data *get_bitmap_item_data(const dialog_data *dialog, int16_t item_id);

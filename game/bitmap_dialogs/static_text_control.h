#pragma once
// Static text ('stat'): wrapped text with colour codes, which fires like a
// button when clicked; a click on a link opens it with go_to_url.
//
// go_to_url belongs to networking: until networking registers its
// procedure, opening a link logs the address and launches nothing.  A link
// is only ever handed to that procedure, never to a shell.
//
// Every accessor checks that the item is static text: a missing item or one
// of another type is logged and left alone.  Main thread only.

#include <cstddef>
#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define STATIC_TEXT_CONTROL_TAG FOUR_CHARACTER_CODE('s', 't', 'a', 't')
#define STATIC_TEXT_COOKIE FOUR_CHARACTER_CODE('s', 't', 'x', 't')

enum
{
    // Draw-string flags at creation: wrap, shadow, colour codes.
    DEFAULT_STATIC_TEXT_FLAGS = 112,
    // A link's address, terminator included; a longer one is cut.
    MAXIMUM_LINK_URL_LENGTH = 256,
};

// The item's extra data.
struct text_extra_data
{
    int32_t cookie; // STATIC_TEXT_COOKIE
    char *string;   // a private copy; the empty text is a shared string never freed
    rgb_color color; // dialog colour 0 at creation
    int16_t font_index; // interface font 0 at creation
    int16_t style;      // -1 at creation
    fixed_fraction transparency; // stored only: drawing uses 32768 when disabled, else 0
    uint32_t flags; // draw_string flags, DEFAULT_STATIC_TEXT_FLAGS at creation
};

intptr_t static_text_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Replaces the text (NULL shows nothing) and redraws, only when it differs
// from the current one.  Memory running out keeps the old text (logged).
void set_bitmap_dialog_static_item_text(dialog_data *dialog, int16_t item_id, const char *text);
// Copies the text into `buffer` of `size` bytes, cut to fit; an empty text
// for a bad item.  Returns `buffer`.
char *get_bitmap_dialog_static_item_text(const dialog_data *dialog, int16_t item_id, char *buffer, size_t size);
// A font index of -1, a NULL colour and flags of -1 (0xFFFFFFFF) leave those
// unchanged; the style is always stored.  Redraws.
void set_dialog_static_item_text_appearance(dialog_data *dialog, int16_t item_id, int16_t font_index,
                                            int16_t style, const rgb_color *color, uint32_t flags);
// Store only.
void set_static_text_item_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency);

// ---- web links ---------------------------------------------------------------------

// Opens `url` in the desktop's browser through networking's table
// (`go_to_url`, networking_procedures.h); logs and launches nothing until
// networking fills it.
void go_to_url(const char *url);

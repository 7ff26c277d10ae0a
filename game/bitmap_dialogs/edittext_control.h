#pragma once
// The edit-text control ('edit'): one edit-text record (bitmap_edittext.h)
// per item, with the focus, pointer selection, the blinking caret, the focus
// box, an optional key listener and the calls dialogs read and set the text
// with.  The password control ('pass', password_edittext.h) is the same
// control over a masked record.
//
// The first press on an unfocused field only focuses it (selecting all of
// its text); later presses place the caret, a drag selects from it and shift
// extends the selection.  The caret blinks from the last press or key
// (machine_tick_count, kept in the record's user_refcon): visible while
// (now - then) modulo 1000 < EDITTEXT_CURSOR_VISIBLE_TIME, and only while the
// selection is empty.  Presses never fire the item; every accepted key does
// (the dialog's handler hears it).  A hidden or disabled item takes no keys
// and no focus.
//
// Every call checks the item: a missing item, or one that is not an edit or
// password field, is logged and the call does nothing (getters leave the
// buffer alone).  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/bitmap_edittext.h"

#define EDITTEXT_CONTROL_TAG FOUR_CHARACTER_CODE('e', 'd', 'i', 't')

enum
{
    EDITTEXT_CURSOR_VISIBLE_TIME = 500, // milliseconds of every blink second the caret shows
    EDITTEXT_CURSOR_BLINK_PERIOD = 1000,
};

intptr_t edittext_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Replaces the text (caret at 0); marks the item dirty.
void set_bitmap_dialog_edit_item_text(dialog_data *dialog, int16_t item_id, const char *text);
// Copies the text, truncated to size - 1 bytes; nothing for size 0 or less.
void get_bitmap_dialog_edit_item_text(const dialog_data *dialog, int16_t item_id, char *buffer, int32_t size);
// select_edit_text_range; marks the item dirty.
void select_bitmap_dialog_edit_item_text(dialog_data *dialog, int16_t item_id, int32_t start, int32_t end);
// set_edittext_maximum_length (cuts the text); marks the item dirty.
void set_bitmap_dialog_edit_item_maximum_length(dialog_data *dialog, int16_t item_id, int32_t length);
// Sets or clears edit flags; marks the item dirty.
void set_edit_text_flag(dialog_data *dialog, int16_t item_id, int32_t flag, bool on);
// Sets or clears draw-string flags of the record's text_flags.
void set_edit_text_text_format(dialog_data *dialog, int16_t item_id, int32_t text_flags, bool on);
// Stores the pointer: the caller keeps the text alive while the item lives.
void set_edit_text_placeholder_string(dialog_data *dialog, int16_t item_id, const char *text);
// Called after every key the item handled (NULL removes it).
void set_edit_text_key_listener(dialog_data *dialog, int16_t item_id, edittext_key_listener_proc procedure,
                                void *context);

// The item's record, NULL (logged) for a missing item or one of another type.
edittext_data *get_edittext_item_record(const dialog_data *dialog, int16_t item_id);

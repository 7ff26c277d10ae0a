#pragma once
// String lists ('slst'): list items whose rows are texts with identifiers,
// for example the strings of a string list, some of them disabled by a mask.
// The item is a list (list_control.h): every verb goes on to the list
// control after this type's own setup, so the bitmap_* list calls work on
// it too.  The rows are sorted case-blind when sorting is on; type-ahead
// matches the start of a text loosely.
//
// Every call checks that the item is a string list: a missing item, or one
// of another type, is logged and gets -1, false or nothing.  Texts handed out
// are cut to the caller's buffer size and always terminated.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

struct list_sort_key;

#define STRING_LIST_CONTROL_TAG FOUR_CHARACTER_CODE('s', 'l', 's', 't')

enum
{
    STRING_LIST_TEXT_SIZE = 256, // a row's text, its terminator included
    // Texts are wrapped this much narrower than the list to measure a row of
    // variable height (the scroll bar and the gutters).
    STRING_LIST_WRAP_INSET = 20,
    // Mask bits exist for the first 32 strings of a string list only.
    STRING_LIST_MASK_BITS = 32,
};

// A row's bytes.
struct string_list_data
{
    int32_t identifier;
    char string[STRING_LIST_TEXT_SIZE];
};
static_assert(sizeof(string_list_data) == 260);

intptr_t string_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// The list procedures: case-blind order of the texts; a text answers to the
// typed text when it starts with it, compared loosely; the row drawer.
int32_t string_list_sort_proc(const void *a, int16_t length_a, const void *b, int16_t length_b);
// The sort procedure's companion (private_lists.h): the first sixteen bytes
// of the lowered text; no key for a row of another length.
bool string_list_sort_key_proc(const void *data, int16_t length, list_sort_key *key);
bool string_list_match_proc(const void *data, int16_t length, const char *typed_text);
void string_list_draw_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                           const void *data, int16_t length, int16_t font_id, uint16_t flags);

// Adds a row (the text cut to 255 bytes, never inside a two-byte character);
// its height, where the list allows rows of variable height, is the text's
// wrapped to the list's width less STRING_LIST_WRAP_INSET.  The row's index,
// -1 when refused.
int16_t add_string_to_list(dialog_data *dialog, int16_t item_id, const char *text, int32_t identifier, bool enabled);
// Adds string i of the string list with tag `string_list` as identifier i:
// enabled when bit i of `mask` is set (never for i >= 32), otherwise disabled
// when `all`, else left out.  Nothing for a missing or empty string list.
void append_strings_to_list_with_mask(dialog_data *dialog, int16_t item_id, tag string_list, uint32_t mask,
                                      bool all);
// The first row with the identifier, if any.
void delete_string_by_id(dialog_data *dialog, int16_t item_id, int32_t identifier);
// Replaces the text of the first row with the identifier; false when none.
bool change_string_list_item_name(dialog_data *dialog, int16_t item_id, int32_t identifier, const char *text);
// Selects the first enabled row with the identifier and centres it; false
// when there is none (the selection stays).
bool select_string_list_by_identifier(dialog_data *dialog, int16_t item_id, int32_t identifier);
// Selects the first enabled row and centres it; nothing when there is none.
void select_string_list_first_enabled_item(dialog_data *dialog, int16_t item_id);
// The identifier of the first selected row, -1 when none.
int32_t get_string_list_selected_identifier(const dialog_data *dialog, int16_t item_id);
// Finds the first selected row at or after *row (0 when negative), copies its
// text into `text` (`text_size` bytes) and leaves *row one past it, so that a
// loop walks every selected row.  False when there is none ("" then).
bool get_list_selected_string(const dialog_data *dialog, int16_t item_id, char *text, int32_t text_size,
                              int16_t *row);
// True sorts now and keeps the rows sorted; false keeps their order from now on.
void set_string_list_sorted(dialog_data *dialog, int16_t item_id, bool sorted);

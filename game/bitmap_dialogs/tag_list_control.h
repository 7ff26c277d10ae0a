#pragma once
// Tag lists ('lstg'): list items whose rows are the tags of one tag group,
// shown by their full file names and sorted by name (case-blind) or by date
// (newest first).  The standard tag open, save and rename dialogs, the
// saved-game list and the film manager use them.  The item is a list
// (list_control.h): every verb goes on to the list control after this
// type's own setup.
//
// Rows hold tag indexes: they go stale when the store is reopened, so a
// dialog refills its list then.  Every call checks that the item is a tag
// list: a missing item, or one of another type, is logged and gets -1 or
// nothing.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define DIALOG_TAG_LIST_TAG FOUR_CHARACTER_CODE('l', 's', 't', 'g')

enum
{
    TAG_LIST_SORT_BY_NAME = 0,
    TAG_LIST_SORT_BY_DATE = 1,
};

// A row's bytes.
struct tag_list_data
{
    int32_t tag_index;
    int32_t last_modification_time; // seconds since 1970; 0 when the tag has no date
};
static_assert(sizeof(tag_list_data) == 8);

// Whether the tag at `tag_index` belongs in the list.
typedef bool (*tag_list_filter_proc)(int32_t tag_index, void *context);

intptr_t tag_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// The list procedures: by full file name, case-blind; by date, newest first;
// a tag answers to the typed text when its full file name starts with it,
// compared loosely; the row drawer.
int32_t tag_sort_by_name_proc(const void *a, int16_t length_a, const void *b, int16_t length_b);
int32_t tag_sort_by_date_proc(const void *a, int16_t length_a, const void *b, int16_t length_b);
bool tag_match_proc(const void *data, int16_t length, const char *typed_text);
void tag_list_draw_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                        const void *data, int16_t length, int16_t font_id, uint16_t flags);

// Adds a row for every tag of `group` that `filter` accepts (every tag
// without one), enabled or not as asked, then selects row 0 when the list
// has rows.  Nothing when the index buffer cannot be allocated.
void append_tags_to_tag_list(dialog_data *dialog, int16_t item_id, tag group, tag_list_filter_proc filter,
                             void *filter_context, bool enabled);
// TAG_LIST_SORT_BY_DATE sorts by date, anything else by name, from the next
// insertion or sort on: the rows are not reordered now.
void set_tag_list_sort_order(dialog_data *dialog, int16_t item_id, int32_t order);
// The tag index of the first selected row, -1 when none.
int32_t get_tag_list_selected_header(const dialog_data *dialog, int16_t item_id);

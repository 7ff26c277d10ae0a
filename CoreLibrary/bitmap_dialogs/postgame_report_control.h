#pragma once
// The post-game report ('repo'): the six titled tables of the encoded report
// the game built when it ended, drawn from the item's top down.  Table 0, 4
// and 5 are a title only; 1 has four columns, 2 three, 3 two.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "rgb_color.h"
#include "statistics.h"

#define POSTGAME_REPORT_CONTROL_TAG FOUR_CHARACTER_CODE('r', 'e', 'p', 'o')
#define POSTGAME_REPORT_CONTROL_COOKIE FOUR_CHARACTER_CODE('r', 'e', 'p', 'o')

enum
{
    POSTGAME_REPORT_TITLE_WIDTH = 592,
    POSTGAME_REPORT_ROW_HEIGHT = 14,
    POSTGAME_REPORT_TITLE_HEIGHT = 25, // above the rows
    POSTGAME_REPORT_TABLE_GAP = 10,    // under the rows
};

// The item's extra data (28 bytes): the cookie, then the title, first-row
// and other-rows colours, all white at first.
struct postgame_report_control_data
{
    int32_t cookie;
    rgb_color title_color;
    rgb_color first_row_color;
    rgb_color other_rows_color;
};
static_assert(sizeof(postgame_report_control_data) == 28);

// Each colour given replaces its slot; a null one leaves it.
void set_postgame_report_control_colors(dialog_data *dialog, int16_t item_id, const rgb_color *title,
                                        const rgb_color *first_row, const rgb_color *other_rows);

intptr_t postgame_report_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

enum postgame_report_text_kind
{
    _postgame_report_title,
    _postgame_report_first_row,
    _postgame_report_other_row,
};

// One text of the report where it is drawn, with its draw_string flags.
typedef void (*postgame_report_text_procedure)(void *context, const rectangle2d *bounds, const char *text,
                                               int16_t kind, uint32_t flags);

// Hands every text of `report` to `text` in reading order, laid out from
// `bounds`' top left.  Texts are read strictly in order within the report's
// bytes: once they run out (counts that promise more than the bytes hold)
// the rest are drawn as "".  A row count outside 0..1024 counts as 0.
void lay_out_postgame_report(const encoded_postgame_report *report, const rectangle2d *bounds,
                             postgame_report_text_procedure text, void *context);

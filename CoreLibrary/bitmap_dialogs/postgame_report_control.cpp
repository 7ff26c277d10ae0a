// The post-game report.

#include "bitmap_dialogs/postgame_report_control.h"

#include <cstdlib>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/log.h"
#include "interface_definitions.h"

enum
{
    _report_title_font = 3,
    _report_cell_font = 0,
    MAXIMUM_REPORT_ROWS = 1024,
};

// Each table's columns, by the right margin of each from the table's left edge.
static const struct
{
    int16_t column_count;
    int16_t right_margins[4];
} tables[NUMBER_OF_POSTGAME_REPORT_TABLES] = {
    {0, {0}},
    {4, {150, 200, 250, 330}}, // friendly
    {3, {230, 280, 330}},      // heroes
    {2, {150, 200}},           // enemy
    {0, {0}},
    {0, {0}},
};

void lay_out_postgame_report(const encoded_postgame_report *report, const rectangle2d *bounds,
                             postgame_report_text_procedure text, void *context)
{
    int32_t position = 0;
    // Past the bytes the report holds, every text is empty.
    auto next = [&]() -> const char * {
        const char *string = get_next_encoded_postgame_report_string(report, &position);
        return string ? string : "";
    };
    int32_t offset = 0;
    for (int32_t t = 0; t < NUMBER_OF_POSTGAME_REPORT_TABLES; ++t)
    {
        if (!(report->valid_table_flags & (1u << t))) continue;
        int32_t rows = report->table_row_counts[t];
        if (rows < 0 || rows > MAXIMUM_REPORT_ROWS) rows = 0;
        const int32_t title_top = bounds->top + offset;
        const rectangle2d title = {(int16_t)title_top, bounds->left,
                                   (int16_t)(title_top + rows * POSTGAME_REPORT_ROW_HEIGHT + POSTGAME_REPORT_TITLE_HEIGHT),
                                   (int16_t)(bounds->left + POSTGAME_REPORT_TITLE_WIDTH)};
        text(context, &title, next(), _postgame_report_title, _draw_string_shadow_flag);
        for (int32_t i = 0; i < rows; ++i)
            for (int32_t c = 0; c < tables[t].column_count; ++c)
            {
                const int32_t top = title_top + POSTGAME_REPORT_TITLE_HEIGHT + i * POSTGAME_REPORT_ROW_HEIGHT;
                const rectangle2d cell = {(int16_t)top, bounds->left, (int16_t)(top + POSTGAME_REPORT_ROW_HEIGHT),
                                          (int16_t)(bounds->left + tables[t].right_margins[c])};
                text(context, &cell, next(), i == 0 ? _postgame_report_first_row : _postgame_report_other_row,
                     c == 0 ? _draw_string_shadow_flag : _draw_string_shadow_flag | _draw_string_right_justified_flag);
            }
        offset += rows * POSTGAME_REPORT_ROW_HEIGHT + POSTGAME_REPORT_TITLE_HEIGHT + POSTGAME_REPORT_TABLE_GAP;
    }
}

static postgame_report_control_data *postgame_report_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<postgame_report_control_data>(dialog, item_id, postgame_report_control_def_proc,
                                                            POSTGAME_REPORT_CONTROL_COOKIE,
                                                            "data->cookie==POSTGAME_REPORT_CONTROL_COOKIE");
}

void set_postgame_report_control_colors(dialog_data *dialog, int16_t item_id, const rgb_color *title,
                                        const rgb_color *first_row, const rgb_color *other_rows)
{
    postgame_report_control_data *data = postgame_report_record(dialog, item_id);
    if (!data) return;
    if (title) data->title_color = *title;
    if (first_row) data->first_row_color = *first_row;
    if (other_rows) data->other_rows_color = *other_rows;
    set_dialog_item_dirty(dialog, item_id);
}

struct report_drawing
{
    bitmap_data *bitmap;
    const rectangle2d *clip;
    const postgame_report_control_data *data;
};

static void draw_report_text(void *context, const rectangle2d *bounds, const char *text, int16_t kind, uint32_t flags)
{
    const report_drawing *drawing = (const report_drawing *)context;
    const rgb_color *color = kind == _postgame_report_title       ? &drawing->data->title_color
                             : kind == _postgame_report_first_row ? &drawing->data->first_row_color
                                                                  : &drawing->data->other_rows_color;
    const int32_t font = get_interface_font_index(kind == _postgame_report_title ? _report_title_font
                                                                                  : _report_cell_font);
    if (font == NONE) return;
    draw_string(drawing->bitmap, nullptr, bounds, drawing->clip, font, 0, color, text, flags, 0);
}

intptr_t postgame_report_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        postgame_report_control_data *data =
            new_control_record<postgame_report_control_data>(POSTGAME_REPORT_CONTROL_COOKIE);
        if (!data) return 0;
        data->title_color = data->first_row_color = data->other_rows_color = rgb_white;
        return (intptr_t)data;
    }
    case _control_draw_verb:
    {
        const control_data *item = find_control(dialog, item_id);
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const postgame_report_control_data *data = postgame_report_record(dialog, item_id);
        const encoded_postgame_report *report = get_encoded_postgame_report();
        if (!item || !p || !p->dialog_bitmap || !data || !report) return 0;
        report_drawing drawing = {p->dialog_bitmap, &item->bounds, data};
        lay_out_postgame_report(report, &item->bounds, draw_report_text, &drawing);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

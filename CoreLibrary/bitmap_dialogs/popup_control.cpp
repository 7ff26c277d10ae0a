// Popup menus.

#include "bitmap_dialogs/popup_control.h"

#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "interface_definitions.h"
#include "vesk/string_lists.h"

static const rgb_color popup_white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
static const rgb_color popup_black = {0, 0, 0, 0};
static const rgb_color popup_grey = {32767, 32767, 32767, 0};

// The record of a popup item, NULL (logged) for a missing item or one of
// another type.
static popup_control_data *popup_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<popup_control_data>(dialog, item_id, popup_control_def_proc, POPUP_COOKIE,
                                                  "popup_data->cookie==POPUP_COOKIE");
}

static bool row_exists(const popup_control_data *popup, int32_t row)
{
    return row >= 0 && row < popup->actual_count;
}

static void show_only_selection(popup_control_data *popup)
{
    popup->top_visible_item = popup->selected_index;
    popup->bottom_visible_item = popup->selected_index;
}

static int32_t minimum(int32_t a, int32_t b) { return a < b ? a : b; }
static int32_t maximum(int32_t a, int32_t b) { return a > b ? a : b; }

void toggle_popup(dialog_data *dialog, int16_t item_id, bool expand, bool in_bounds)
{
    popup_control_data *popup = popup_record(dialog, item_id);
    if (!popup) return;
    if (expand)
    {
        if (popup->expanded) return;
        popup->expanded = true;
        popup->previous_selection = popup->selected_index;
        const rectangle2d r = popup->original_bounds;
        rectangle2d d;
        get_dialog_bounds(dialog, &d);
        // With nothing selected the rows are laid out from row 0.  Neither
        // count goes below 0, even for an item reaching past its dialog.
        const int32_t anchor = row_exists(popup, popup->selected_index) ? popup->selected_index : 0;
        const int32_t above = maximum(0, minimum(anchor, maximum(0, (int32_t)r.top) / popup->line_height));
        const int32_t below = maximum(
            0, minimum(popup->actual_count - 1 - anchor, (d.bottom - d.top - r.bottom) / popup->line_height));
        rectangle2d bounds = r;
        bounds.top = (int16_t)(r.top - above * popup->line_height);
        bounds.bottom = (int16_t)(r.bottom + below * popup->line_height);
        popup->top_visible_item = anchor - above;
        popup->bottom_visible_item = anchor + below;
        set_dialog_item_bounds(dialog, item_id, &bounds);
    }
    else
    {
        if (!popup->expanded) return;
        popup->expanded = false;
        // A release inside after the pointer last rested outside has nothing
        // highlighted: it keeps the old value, as a release outside does.
        if (!in_bounds || !row_exists(popup, popup->selected_index))
            popup->selected_index = row_exists(popup, popup->previous_selection) ? popup->previous_selection : NONE;
        set_dialog_item_bounds(dialog, item_id, &popup->original_bounds);
        show_only_selection(popup);
    }
    set_dialog_item_dirty(dialog, item_id);
}

static intptr_t click_popup(dialog_data *dialog, int16_t item_id, const param_control_click_verb *parameter)
{
    popup_control_data *popup = popup_record(dialog, item_id);
    const control_data *item = find_control(dialog, item_id);
    if (!popup || !item || !parameter || !parameter->action || popup->actual_count <= 0) return 0;
    const action_data *action = parameter->action;
    const bool held = TEST_FLAG(action->flags[_left_mouse_down_bit / 32], _left_mouse_down_bit % 32);
    const bool inside = point2d_in_rectangle2d(&item->bounds, &action->pointer);
    intptr_t result = 0;
    if (held && inside)
    {
        if (!popup->expanded) toggle_popup(dialog, item_id, true, true);
        const int32_t row = (action->pointer.y - item->bounds.top) / popup->line_height + popup->top_visible_item;
        // The bounds take in the drop shadow below the last row shown: a
        // pointer there picks that row, never one past it.
        popup->selected_index =
            maximum(popup->top_visible_item, minimum(popup->bottom_visible_item, row));
        if (popup->selected_index == popup->top_visible_item && popup->selected_index != 0)
        {
            --popup->top_visible_item;
            --popup->bottom_visible_item;
        }
        else if (popup->selected_index == popup->bottom_visible_item &&
                 popup->selected_index != popup->actual_count - 1)
        {
            ++popup->top_visible_item;
            ++popup->bottom_visible_item;
        }
    }
    else if (held)
    {
        // Nothing is highlighted while the pointer is away; a collapsed popup
        // (a press that never came inside) keeps its value.
        if (popup->expanded) popup->selected_index = NONE;
    }
    else
    {
        toggle_popup(dialog, item_id, false, inside);
        result = 1;
    }
    set_dialog_item_dirty(dialog, item_id);
    return result;
}

// One black horizontal line of an arrow.
static void draw_arrow_line(bitmap_data *destination, int32_t left, int32_t right, int32_t y)
{
    const point2d p0 = {(int16_t)left, (int16_t)y};
    const point2d p1 = {(int16_t)right, (int16_t)y};
    draw_line(destination, &popup_black, 0, nullptr, nullptr, &p0, &p1);
}

// Six lines 12, 10 ... 2 pixels long, right-aligned POPUP_ARROW_RIGHT_INSET in from
// the row's right; an up arrow widest at the bottom, a down arrow at the top.
static void draw_popup_arrow(bitmap_data *destination, const rectangle2d &row, int32_t line_height, bool up)
{
    const int32_t widest = row.top + (line_height - POPUP_ARROW_HEIGHT) / 2 + (up ? POPUP_ARROW_HEIGHT : 0);
    for (int32_t k = 0; k < POPUP_ARROW_HEIGHT; ++k)
        draw_arrow_line(destination, row.right - 18 + k, row.right - POPUP_ARROW_RIGHT_INSET - k, up ? widest - k : widest + k);
}

static void draw_popup(const control_data *item, const popup_control_data *popup, bitmap_data *destination)
{
    const rectangle2d b = item->bounds;
    const rectangle2d box = {b.top, b.left, (int16_t)(b.bottom - DROPSHADOW_HEIGHT),
                             (int16_t)(b.right - DROPSHADOW_WIDTH)};
    fill_rectangle_clipped(destination, &popup_white, &box, nullptr, 0, nullptr);
    const rectangle2d frame = {(int16_t)(box.top - 1), (int16_t)(box.left - 1), (int16_t)(box.bottom + 1),
                               (int16_t)(box.right + 1)};
    frame_rectangle_clipped(destination, &popup_black, &frame, nullptr, 0, nullptr);
    const rectangle2d bottom_shadow = {(int16_t)(b.bottom - DROPSHADOW_HEIGHT), (int16_t)(b.left + DROPSHADOW_WIDTH),
                                       b.bottom, (int16_t)(b.right - DROPSHADOW_WIDTH)};
    const rectangle2d right_shadow = {(int16_t)(b.top + DROPSHADOW_HEIGHT), (int16_t)(b.right - DROPSHADOW_WIDTH),
                                      b.bottom, b.right};
    fill_rectangle_clipped(destination, &popup_black, &bottom_shadow, nullptr, 0, nullptr);
    fill_rectangle_clipped(destination, &popup_black, &right_shadow, nullptr, 0, nullptr);

    const int32_t top = popup->top_visible_item, bottom = popup->bottom_visible_item;
    rectangle2d row = {box.top, box.left, (int16_t)(box.top + popup->line_height), box.right};
    if (top != bottom)
    {
        if (top != 0) draw_popup_arrow(destination, row, popup->line_height, true);
        if (bottom != popup->actual_count - 1)
        {
            rectangle2d last = row;
            last.top = (int16_t)(row.top + (bottom - top) * popup->line_height);
            draw_popup_arrow(destination, last, popup->line_height, false);
        }
    }
    if (top == NONE && bottom == NONE) return;
    for (int32_t index = top; index <= bottom; ++index)
    {
        // Only rows that exist are drawn (the range may be stale after the
        // rows were cleared), in the place the range gives them.
        if (row_exists(popup, index) && popup->draw_proc)
        {
            const popup_row_data &r = popup->rows[index];
            uint16_t flags = r.flags;
            if (popup->expanded && index == popup->selected_index) flags |= _popup_row_selected_flag;
            popup->draw_proc(destination, &row, r.data, r.length, popup->font_id, flags);
        }
        row.top = (int16_t)(row.top + popup->line_height);
        row.bottom = (int16_t)(row.bottom + popup->line_height);
    }
}

void standard_draw_popup_proc(bitmap_data *destination, const rectangle2d *bounds, const void *data, int32_t length,
                              int32_t font_id, uint16_t flags)
{
    if (!destination || !bounds) return;
    // Only the row's own bytes are read, into a terminated copy.
    char text[MAXIMUM_POPUP_STRING_LENGTH + 1];
    const int32_t available = data && length > 0 ? length : 0;
    const int32_t copied = minimum(available, MAXIMUM_POPUP_STRING_LENGTH);
    if (copied > 0) memcpy(text, data, (size_t)copied);
    text[copied] = 0;
    const int32_t text_length = (int32_t)strlen(text);
    if (available <= MAXIMUM_POPUP_STRING_LENGTH && text_length + 1 != available)
    {
        char message[96];
        csprintf(message, "Data at %p is not the right length %d", data, (int)length);
        VASSERT(false, message);
    }
    if (flags & _popup_row_selected_flag)
        fill_rectangle_clipped(destination, &popup_black, bounds, nullptr, 0, nullptr);
    const rgb_color *color = (flags & _popup_row_disabled_flag) ? &popup_grey
                             : (flags & _popup_row_selected_flag) ? &popup_white
                                                                   : &popup_black;
    draw_string(destination, nullptr, bounds, bounds, font_id, -1, color, text, 0, 0);
}

static void free_rows(popup_control_data *popup)
{
    for (int32_t i = 0; i < popup->actual_count; ++i)
    {
        free(popup->rows[i].data);
        popup->rows[i].data = nullptr;
    }
    popup->actual_count = 0;
}

static intptr_t create_popup(const param_control_new_verb *parameter)
{
    popup_control_data *popup = new_control_record<popup_control_data>(POPUP_COOKIE);
    if (!popup) return 0;
    popup->rows = (popup_row_data *)calloc(INITIAL_ALLOCATION_COUNT, sizeof(popup_row_data));
    popup->text = cstrdup(parameter && parameter->text ? parameter->text : "");
    if (!popup->rows || !popup->text)
    {
        free(popup->rows);
        free(popup->text);
        free(popup);
        return 0;
    }
    popup->draw_proc = standard_draw_popup_proc;
    popup->selected_index = NONE;
    popup->previous_selection = NONE;
    popup->allocated_count = INITIAL_ALLOCATION_COUNT;
    popup->font_id = get_interface_font_index(0);
    // Every division by the line height needs it positive, with or without a font.
    popup->line_height = maximum(1, get_font_line_height(popup->font_id));
    if (parameter && parameter->definition)
    {
        popup->original_bounds = parameter->definition->bounds;
        popup->original_bounds.bottom = (int16_t)(popup->original_bounds.top + popup->line_height + 2);
    }
    return (intptr_t)popup;
}

intptr_t popup_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb: return create_popup((const param_control_new_verb *)parameter);
    case _control_new_completion_verb:
    {
        control_data *item = find_control(dialog, item_id);
        const popup_control_data *popup = item ? (const popup_control_data *)item->extra_data : nullptr;
        if (popup) item->bounds = popup->original_bounds;
        return 0;
    }
    case _control_dispose_verb:
    {
        const param_control_dispose_verb *p = (const param_control_dispose_verb *)parameter;
        popup_control_data *popup = p ? (popup_control_data *)p->data : nullptr;
        if (popup)
        {
            free_rows(popup);
            free(popup->rows);
            free(popup->text);
            free(popup);
        }
        return 0;
    }
    case _control_click_verb: return click_popup(dialog, item_id, (const param_control_click_verb *)parameter);
    case _control_draw_verb:
    {
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const control_data *item = find_control(dialog, item_id);
        if (!item || !p || !p->dialog_bitmap) return 0;
        const popup_control_data *popup = (const popup_control_data *)item->extra_data;
        if (popup) draw_popup(item, popup, p->dialog_bitmap);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

int32_t append_data_to_popup(dialog_data *dialog, int16_t item_id, const void *data, int32_t size)
{
    popup_control_data *popup = popup_record(dialog, item_id);
    if (!popup) return NONE;
    if (!VASSERT(size >= 0 && size <= MAXIMUM_POPUP_ROW_LENGTH && (data || size == 0), "bad popup row"))
        return NONE;
    if (popup->actual_count >= MAXIMUM_POPUP_ROWS) return NONE;
    if (popup->actual_count >= popup->allocated_count)
    {
        const int32_t count = popup->allocated_count + ALLOCATION_BLOCK_SIZE;
        popup_row_data *rows = (popup_row_data *)realloc(popup->rows, (size_t)count * sizeof(popup_row_data));
        if (!rows) return NONE;
        memset(rows + popup->allocated_count, 0, ALLOCATION_BLOCK_SIZE * sizeof(popup_row_data));
        popup->rows = rows;
        popup->allocated_count = count;
    }
    void *copy = malloc(size > 0 ? (size_t)size : 1);
    // A row that could not be copied is not added, and the caller is told.
    if (!copy) return NONE;
    if (size > 0) memcpy(copy, data, (size_t)size);
    const int32_t row = popup->actual_count++;
    popup->rows[row] = {copy, 0, (uint16_t)size};
    return row;
}

int32_t append_string_to_popup(dialog_data *dialog, int16_t item_id, const char *string)
{
    if (!string) string = "";
    const size_t length = strlen(string) + 1;
    if (length > MAXIMUM_POPUP_ROW_LENGTH) return NONE;
    return append_data_to_popup(dialog, item_id, string, (int32_t)length);
}

void append_strings_to_popup_with_mask(dialog_data *dialog, int16_t item_id, tag string_list,
                                       uint32_t inclusion_flags)
{
    popup_control_data *popup = popup_record(dialog, item_id);
    if (!popup) return;
    const int32_t list_index = string_list_tag_to_string_index(string_list);
    if (list_index == NONE) return;
    const int32_t count = count_strings_in_list(list_index);
    for (int32_t i = 0; i < count; ++i)
    {
        const int32_t row = append_string_to_popup(dialog, item_id, get_string_from_list(list_index, i));
        // The mask has 32 bits: later rows are disabled, never shifted by 32 or more.
        const bool enabled = i < 32 && (inclusion_flags >> i) & 1u;
        if (row != NONE && !enabled) popup->rows[row].flags |= _popup_row_disabled_flag;
    }
    popup->selected_index = popup->actual_count > 0 ? 0 : NONE;
    show_only_selection(popup);
    set_dialog_item_dirty(dialog, item_id);
}

void append_strings_to_popup(dialog_data *dialog, int16_t item_id, tag string_list)
{
    append_strings_to_popup_with_mask(dialog, item_id, string_list, 0xFFFFFFFFu);
}

void set_popup_enabled_state(dialog_data *dialog, int16_t item_id, int32_t row, bool enabled)
{
    popup_control_data *popup = popup_record(dialog, item_id);
    if (!popup) return;
    if (!row_exists(popup, row))
    {
        char message[128];
        csprintf(message, "Row: %d valid: %d actual count: %d allocated count: %d", (int)row, 1,
                 (int)popup->actual_count, (int)popup->allocated_count);
        VASSERT(false, message);
        return;
    }
    if (enabled) popup->rows[row].flags &= (uint16_t)~_popup_row_disabled_flag;
    else popup->rows[row].flags |= _popup_row_disabled_flag;
    set_dialog_item_dirty(dialog, item_id);
}

void clear_bitmap_popup_items(dialog_data *dialog, int16_t item_id)
{
    popup_control_data *popup = popup_record(dialog, item_id);
    if (!popup) return;
    free_rows(popup);
    popup->selected_index = NONE;
    popup->previous_selection = NONE;
    show_only_selection(popup);
    set_dialog_item_dirty(dialog, item_id);
}

int32_t get_popup_value(const dialog_data *dialog, int16_t item_id)
{
    const popup_control_data *popup = popup_record(dialog, item_id);
    return popup ? popup->selected_index : NONE;
}

void set_popup_value(dialog_data *dialog, int16_t item_id, int32_t value)
{
    popup_control_data *popup = popup_record(dialog, item_id);
    if (!popup) return;
    if (popup->actual_count == 0) popup->selected_index = NONE;
    else if (row_exists(popup, value)) popup->selected_index = value;
    else return;
    show_only_selection(popup);
    set_dialog_item_dirty(dialog, item_id);
}

int32_t get_popup_number_of_items(const dialog_data *dialog, int16_t item_id)
{
    const popup_control_data *popup = popup_record(dialog, item_id);
    return popup ? popup->actual_count : 0;
}

void set_popup_draw_proc(dialog_data *dialog, int16_t item_id, draw_popup_proc draw_proc)
{
    popup_control_data *popup = popup_record(dialog, item_id);
    if (!popup) return;
    popup->draw_proc = draw_proc ? draw_proc : standard_draw_popup_proc;
    set_dialog_item_dirty(dialog, item_id);
}

bool get_popup_row_data(const dialog_data *dialog, int16_t item_id, int32_t row, void *data, int32_t *length)
{
    const popup_control_data *popup = popup_record(dialog, item_id);
    if (!popup || !length || !VASSERT(row_exists(popup, row), "no such popup row")) return false;
    const popup_row_data &r = popup->rows[row];
    int32_t copied = r.length;
    if (!VASSERT(*length >= r.length, "*length>=row_data->length")) copied = maximum(0, *length);
    if (data && copied > 0) memcpy(data, r.data, (size_t)copied);
    *length = r.length;
    return true;
}

// The list control over the list engine, with type-ahead.

#include "bitmap_dialogs/list_control.h"

#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "collection_services.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "cseries/timers.h"
#include "input/input_definitions.h"
#include "shapes.h"

static struct
{
    dialog_list_data type_ahead;
} list_control_globals;

dialog_list_data *get_dialog_list_data(void)
{
    return &list_control_globals.type_ahead;
}

// The item's extra data, NULL (logged) when the item is missing or is not a list.
static list_extra_data *list_record(const dialog_data *dialog, int16_t item_id)
{
    if (!dialog) return nullptr;
    const control_data *item = find_control(dialog, item_id);
    if (!item) return nullptr;
    list_extra_data *data = (list_extra_data *)item->extra_data;
    if (!VASSERT(data && data->cookie == LIST_EXTRA_DATA_COOKIE && data->list, "not a list")) return nullptr;
    return data;
}

static private_list_data *get_list(const dialog_data *dialog, int16_t item_id)
{
    list_extra_data *data = list_record(dialog, item_id);
    return data ? data->list : nullptr;
}

private_list_data *get_list_control_private_list(const dialog_data *dialog, int16_t item_id)
{
    return get_list(dialog, item_id);
}

static int16_t first_selected_row(const private_list_data *list)
{
    int16_t row = 0;
    return get_select_private_list(true, &row, list) ? row : (int16_t)NONE;
}

static bool row_is_enabled_and_visible(const private_list_data *list, int32_t row)
{
    const row_data *r = get_private_list_row(list, (int16_t)row);
    return r && (r->flags & (_row_enabled_flag | _row_visible_flag)) == (_row_enabled_flag | _row_visible_flag);
}

// ---- verbs -----------------------------------------------------------------------

static intptr_t create_list(void *parameter)
{
    const param_control_new_verb *p = (const param_control_new_verb *)parameter;
    if (!VASSERT(p && p->definition, "no definition")) return 0;
    list_extra_data *data = (list_extra_data *)calloc(1, sizeof(list_extra_data));
    if (!data) return 0;
    data->list = new_private_list(&p->definition->bounds, p->definition->flags);
    if (!data->list)
    {
        free(data);
        return 0;
    }
    data->cookie = LIST_EXTRA_DATA_COOKIE;
    // A new list restarts type-ahead.
    list_control_globals.type_ahead.ticks_at_last_key = 0;
    list_control_globals.type_ahead.typed_selection[0] = 0;
    return (intptr_t)data;
}

static void dispose(void *parameter)
{
    const param_control_dispose_verb *p = (const param_control_dispose_verb *)parameter;
    if (!p || !p->data) return;
    list_extra_data *data = (list_extra_data *)p->data;
    if (!VASSERT(data->cookie == LIST_EXTRA_DATA_COOKIE, "not a list")) return;
    dispose_private_list(data->list);
    data->cookie = 0;
    free(data);
}

static intptr_t click_list(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const param_control_click_verb *p = (const param_control_click_verb *)parameter;
    private_list_data *list = get_list(dialog, item_id);
    if (!list || !p || !p->action) return 0;
    const action_data *action = p->action;
    if (!action_flag_set(action, _left_mouse_down_bit))
    {
        mouse_up_in_list(list);
        set_dialog_item_dirty(dialog, item_id);
        return 0;
    }
    uint16_t modifiers = 0;
    if (action_flag_set(action, _command_down_bit)) modifiers |= _list_modifier_command_flag;
    if (action_flag_set(action, _option_down_bit)) modifiers |= _list_modifier_option_flag;
    if (action_flag_set(action, _control_down_bit)) modifiers |= _list_modifier_control_flag;
    if (action_flag_set(action, _shift_down_bit)) modifiers |= _list_modifier_shift_flag;
    const bool double_clicked = action_flag_set(action, _double_left_mouse_down_bit);

    const int16_t old_selection = first_selected_row(list);
    if (get_list_focusable(list)) set_dialog_focus(dialog, item_id);
    if (click_private_list(list, action->pointer, modifiers, double_clicked))
    {
        const int16_t double_click_item = get_list_double_click_item(list);
        if (double_click_item != NONE)
        {
            press_item(dialog, nullptr, double_click_item);
            // The press may have changed the dialog: look the list up again.
            list = get_list(dialog, item_id);
            if (!list) return 0;
        }
    }
    set_dialog_item_dirty(dialog, item_id);
    const bool changed = first_selected_row(list) != old_selection;
    if (get_list_focusable(list)) set_dialog_focus(dialog, item_id);
    return changed || (modifiers & _list_modifier_shift_flag) ? 1 : 0;
}

// The target of a movement key, NONE for none.
static int32_t movement_target(const private_list_data *list, int16_t key_code)
{
    const int32_t count = list->actual_row_count;
    const int32_t selected = first_selected_row(list);
    switch (key_code)
    {
    case _key_up_arrow:
        if (selected != NONE)
        {
            for (int32_t r = selected - 1; r >= 0; --r)
                if (row_is_enabled_and_visible(list, r)) return r;
            return selected;
        }
        // Nothing selected: the first enabled row after row 0.
        for (int32_t r = 1; r < count; ++r)
            if (row_is_enabled_and_visible(list, r)) return r;
        return 0;
    case _key_down_arrow:
        if (selected != NONE)
        {
            for (int32_t r = selected + 1; r < count; ++r)
                if (row_is_enabled_and_visible(list, r)) return r;
            return selected;
        }
        // Nothing selected: the last enabled row before the last row.
        for (int32_t r = count - 2; r >= 0; --r)
            if (row_is_enabled_and_visible(list, r)) return r;
        return count - 1;
    case _key_home:
        for (int32_t r = 0; r < count; ++r)
            if (row_is_enabled_and_visible(list, r)) return r;
        return NONE;
    case _key_end:
        for (int32_t r = count - 1; r >= 0; --r)
            if (row_is_enabled_and_visible(list, r)) return r;
        return NONE;
    default: return NONE;
    }
}

static intptr_t key(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const param_control_key_verb *p = (const param_control_key_verb *)parameter;
    private_list_data *list = get_list(dialog, item_id);
    if (!list || !p || !p->action || list->actual_row_count <= 0) return 0;
    const action_data *action = p->action;
    int32_t target = NONE;
    switch (action->key_code)
    {
    case _key_up_arrow:
    case _key_down_arrow:
    case _key_home:
    case _key_end: target = movement_target(list, action->key_code); break;
    case _key_page_up: move_private_list(list, _in_page_up); break;
    case _key_page_down: move_private_list(list, _in_page_down); break;
    default:
    {
        if (action->ascii_code <= 0) return 0;
        dialog_list_data *typed = &list_control_globals.type_ahead;
        const uint32_t now = machine_tick_count();
        // An unsigned difference: right across the clock's wrap.
        const bool continuing = (uint32_t)(now - typed->ticks_at_last_key) < TYPE_AHEAD_PAUSE_MILLISECONDS;
        size_t length = continuing ? strnlen(typed->typed_selection, sizeof(typed->typed_selection)) : 0;
        if (length >= sizeof(typed->typed_selection) - 1) return 0;
        typed->typed_selection[length] = (char)action->ascii_code;
        typed->typed_selection[length + 1] = 0;
        typed->ticks_at_last_key = now;
        int16_t row = NONE;
        if (!find_data_in_private_list(typed->typed_selection, &row, list)) return 0;
        target = row;
        break;
    }
    }
    if (target != NONE)
    {
        bitmap_select_list_item(dialog, item_id, (int16_t)target);
        make_row_visible_private_list((int16_t)target, list, false);
    }
    return 1;
}

static void draw_list(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
    const control_data *item = find_control(dialog, item_id);
    private_list_data *list = get_list(dialog, item_id);
    if (!item || !list || !p || !p->dialog_bitmap) return;
    list_extra_data *record = (list_extra_data *)item->extra_data;
    if (!list->draw_proc && !record->missing_drawer_reported)
    {
        record->missing_drawer_reported = true;
        char code[5];
        tag_to_string_buffer(dialog->tag, code);
        log_message(__FILE__, __LINE__, "dialog '%s' item %d is a list without a row drawer: its rows cannot be seen",
                    code, (int)item_id);
    }
    draw_private_list(p->dialog_bitmap, list, !(item->flags & _control_is_disabled_flag));
    if ((p->draw_flags & _control_draw_has_focus_flag) && (list->flags & _list_draw_focus_box_flag))
    {
        rgb_color color;
        get_dialog_color(&color, _dialog_focus_box_color);
        rectangle2d box = list->bounds;
        inset_rectangle2d(&box, -LIST_FOCUS_BOX_OUTSET, -LIST_FOCUS_BOX_OUTSET);
        frame_rectangle_clipped(p->dialog_bitmap, &color, &box, nullptr, 32768,
                                get_transparency_table(_transparency_normal));
        inset_rectangle2d(&box, 1, 1);
        frame_rectangle_clipped(p->dialog_bitmap, &color, &box, nullptr, 0, nullptr);
    }
}

static intptr_t wheel(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const param_control_wheel_verb *p = (const param_control_wheel_verb *)parameter;
    private_list_data *list = get_list(dialog, item_id);
    if (!list || !p || !p->action || p->action->wheel_delta == 0) return 0;
    move_private_list_by_delta(list, p->action->wheel_delta);
    set_dialog_item_dirty(dialog, item_id);
    return 1;
}

intptr_t new_list_keeping_its_selection(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const param_control_new_verb *p = (const param_control_new_verb *)parameter;
    if (!p || !p->definition) return list_control_def_proc(_control_new_verb, dialog, item_id, parameter);
    file_control_data definition = *p->definition;
    definition.flags |= _list_cant_lose_selection_flag;
    param_control_new_verb changed = {&definition, p->text};
    return list_control_def_proc(_control_new_verb, dialog, item_id, &changed);
}

bool draw_list_row_background(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                              uint16_t flags, rgb_color *text_color)
{
    if (flags & _row_selected_flag)
    {
        get_dialog_color(text_color, _dialog_list_highlight_color);
        fill_rectangle_clipped(destination, text_color, row_bounds, clip, 16384, nullptr);
        get_dialog_color(text_color, _dialog_list_highlighted_text_color);
        return true;
    }
    get_dialog_color(text_color, (flags & _row_enabled_flag) ? _dialog_list_enabled_text_color
                                                             : _dialog_list_disabled_text_color);
    return false;
}

intptr_t list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb: return create_list(parameter);
    case _control_dispose_verb: dispose(parameter); return 0;
    case _control_click_verb: return click_list(dialog, item_id, parameter);
    case _control_key_verb: return key(dialog, item_id, parameter);
    case _control_focus_verb: return get_list_focusable(get_list(dialog, item_id)) ? 1 : 0;
    case _control_draw_verb: draw_list(dialog, item_id, parameter); return 0;
    case _control_wheel_verb: return wheel(dialog, item_id, parameter);
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

// ---- rows -----------------------------------------------------------------------

int16_t bitmap_add_data_to_list(dialog_data *dialog, int16_t item_id, const void *data, int16_t length,
                                int16_t row_height, bool enabled)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return NONE;
    set_dialog_item_dirty(dialog, item_id);
    const int16_t height =
        (list->flags & _list_allows_variable_height_rows_flag) ? row_height : get_list_line_height(list);
    return add_data_to_private_list(data, length, list, height, enabled);
}

int16_t bitmap_add_text_to_list(dialog_data *dialog, int16_t item_id, const char *text, bool enabled)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list || !VASSERT(text, "no text")) return NONE;
    const size_t length = strlen(text) + 1;
    if (!VASSERT(length <= INT16_MAX, "text too long for a row")) return NONE;
    // A variable-height list gets -1, which the engine stores as 0.
    const int16_t height = (list->flags & _list_allows_variable_height_rows_flag) ? (int16_t)NONE
                                                                                 : get_list_line_height(list);
    set_dialog_item_dirty(dialog, item_id);
    return add_data_to_private_list(text, (int16_t)length, list, height, enabled);
}

void bitmap_delete_listbox_row(dialog_data *dialog, int16_t item_id, int16_t row)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    delete_row_from_list(row, list);
    set_dialog_item_dirty(dialog, item_id);
}

void bitmap_empty_list(dialog_data *dialog, int16_t item_id)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list || list->actual_row_count <= 0) return;
    delete_row_private_list(list->actual_row_count, 0, list);
    set_dialog_item_dirty(dialog, item_id);
}

int16_t bitmap_get_listbox_row_count(const dialog_data *dialog, int16_t item_id)
{
    private_list_data *list = get_list(dialog, item_id);
    return list ? get_row_count_private_list(list) : 0;
}

void bitmap_set_listbox_row_data(dialog_data *dialog, int16_t item_id, int16_t row, const void *data,
                                 int16_t length)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    set_data_in_private_list_row(list, row, data, length);
    if (!(list->flags & _list_does_not_redraw_when_data_changes_flag)) set_dialog_item_dirty(dialog, item_id);
}

void bitmap_get_listbox_row_data(const dialog_data *dialog, int16_t item_id, int16_t row, void *buffer,
                                 int16_t *size)
{
    private_list_data *list = get_list(dialog, item_id);
    if (list)
    {
        get_data_from_private_list_row(list, row, buffer, size);
        return;
    }
    if (buffer && size && *size > 0) memset(buffer, 0, (size_t)*size);
    if (size) *size = 0;
}

void bitmap_sort_list(dialog_data *dialog, int16_t item_id)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    sort_list(list);
    set_dialog_item_dirty(dialog, item_id);
}

// ---- selection --------------------------------------------------------------------

int16_t bitmap_get_listbox_value(const dialog_data *dialog, int16_t item_id)
{
    private_list_data *list = get_list(dialog, item_id);
    return list ? first_selected_row(list) : (int16_t)NONE;
}

bool bitmap_get_listbox_selected_rows(const dialog_data *dialog, int16_t item_id, int16_t *row)
{
    private_list_data *list = get_list(dialog, item_id);
    return list && row && get_select_private_list(true, row, list);
}

void bitmap_select_list_item(dialog_data *dialog, int16_t item_id, int16_t row)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    for (int16_t r = 0; r < list->actual_row_count; ++r)
        if (r != row && (get_private_list_row(list, r)->flags & _row_selected_flag))
            set_select_private_list(false, r, list);
    set_select_private_list(true, row, list);
    set_dialog_item_dirty(dialog, item_id);
}

void bitmap_clear_selections(dialog_data *dialog, int16_t item_id)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    unselect_all_private_list(list);
    set_dialog_item_dirty(dialog, item_id);
}

void bitmap_focus_on_list_item(dialog_data *dialog, int16_t item_id, int16_t row)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    if (row == NONE) row = first_selected_row(list);
    make_row_visible_private_list(row, list, true);
}

void bitmap_focus_on_list(dialog_data *dialog, int16_t item_id)
{
    private_list_data *list = get_list(dialog, item_id);
    if (list && get_list_focusable(list)) set_dialog_focus(dialog, item_id);
}

// ---- flags ---------------------------------------------------------------------------

void bitmap_set_list_flag(dialog_data *dialog, int16_t item_id, uint16_t flag, bool on)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    set_private_list_flag(list, flag, on);
    if ((flag & _list_can_be_focused_flag) && !on && get_dialog_focus(dialog) == item_id)
        set_dialog_focus(dialog, NONE);
    set_dialog_item_dirty(dialog, item_id);
}

uint16_t bitmap_get_list_flag(const dialog_data *dialog, int16_t item_id, uint16_t flag)
{
    private_list_data *list = get_list(dialog, item_id);
    return list ? get_private_list_flag(list, flag) : 0;
}

void bitmap_set_row_enabled(dialog_data *dialog, int16_t item_id, int16_t row, bool enabled)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    set_dialog_item_dirty(dialog, item_id);
    set_list_row_enabled(list, row, enabled);
}

void bitmap_set_row_visible(dialog_data *dialog, int16_t item_id, int16_t row, bool visible)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    set_dialog_item_dirty(dialog, item_id);
    set_list_row_visible(list, row, visible);
}

bool bitmap_list_item_enabled(const dialog_data *dialog, int16_t item_id, int16_t row)
{
    private_list_data *list = get_list(dialog, item_id);
    return list && get_row_enabled_private_list(list, row);
}

bool bitmap_list_item_visible(const dialog_data *dialog, int16_t item_id, int16_t row)
{
    private_list_data *list = get_list(dialog, item_id);
    return list && get_row_visible_private_list(list, row);
}

// ---- procedures and layout ----------------------------------------------------------

void bitmap_set_list_draw_proc(dialog_data *dialog, int16_t item_id, draw_list_proc procedure)
{
    private_list_data *list = get_list(dialog, item_id);
    if (list && set_list_draw_proc(list, procedure)) set_dialog_item_dirty(dialog, item_id);
}

void bitmap_set_list_sort_proc(dialog_data *dialog, int16_t item_id, sort_list_proc procedure)
{
    private_list_data *list = get_list(dialog, item_id);
    if (list && set_list_sort_proc(list, procedure)) set_dialog_item_dirty(dialog, item_id);
}

void bitmap_set_list_match_proc(dialog_data *dialog, int16_t item_id, match_list_proc procedure)
{
    private_list_data *list = get_list(dialog, item_id);
    if (list) set_list_match_proc(list, procedure);
}

void bitmap_set_list_line_height(dialog_data *dialog, int16_t item_id, int16_t height)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    set_list_line_height(list, height);
    set_dialog_item_dirty(dialog, item_id);
}

int16_t bitmap_get_list_line_height(const dialog_data *dialog, int16_t item_id)
{
    private_list_data *list = get_list(dialog, item_id);
    return list ? get_list_line_height(list) : 0;
}

int16_t bitmap_get_list_line_width(const dialog_data *dialog, int16_t item_id)
{
    private_list_data *list = get_list(dialog, item_id);
    return list ? get_list_line_width(list) : 0;
}

void bitmap_set_list_gutters(dialog_data *dialog, int16_t item_id, uint16_t horizontal, uint16_t vertical)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    set_list_gutters(list, horizontal, vertical);
    set_dialog_item_dirty(dialog, item_id);
}

void bitmap_set_list_arrow_scroll_rate(dialog_data *dialog, int16_t item_id, int16_t pixels)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    set_list_arrow_scroll_rate(list, pixels);
    set_dialog_item_dirty(dialog, item_id);
}

void bitmap_set_list_maximum_row_count(dialog_data *dialog, int16_t item_id, int16_t count)
{
    private_list_data *list = get_list(dialog, item_id);
    if (list) set_list_maximum_row_count(list, count);
}

void bitmap_list_set_autoscroll_mode(dialog_data *dialog, int16_t item_id, int16_t mode)
{
    private_list_data *list = get_list(dialog, item_id);
    if (list) set_autoscroll_mode_private_list(list, mode);
}

void bitmap_set_listbox_doubleclick_itemhit(dialog_data *dialog, int16_t item_id, int16_t double_click_item)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list) return;
    set_list_double_click_item(list, double_click_item);
    set_dialog_item_dirty(dialog, item_id);
}

int32_t bitmap_get_listbox_refcon(const dialog_data *dialog, int16_t item_id)
{
    const list_extra_data *data = list_record(dialog, item_id);
    return data ? data->refcon : 0;
}

void bitmap_set_listbox_refcon(dialog_data *dialog, int16_t item_id, int32_t refcon)
{
    list_extra_data *data = list_record(dialog, item_id);
    if (!data) return;
    data->refcon = refcon;
    set_dialog_item_dirty(dialog, item_id);
}

int16_t bitmap_get_list_font_id(const dialog_data *dialog, int16_t item_id)
{
    private_list_data *list = get_list(dialog, item_id);
    return list ? get_private_list_font_id(list) : (int16_t)NONE;
}

int16_t bitmap_list_get_row_at_point(const dialog_data *dialog, int16_t item_id, point2d point,
                                     rectangle2d *distances)
{
    private_list_data *list = get_list(dialog, item_id);
    return list ? get_row_at_point_private_list(list, point, distances) : (int16_t)NONE;
}

void bitmap_list_set_bounds(dialog_data *dialog, int16_t item_id, const rectangle2d *bounds)
{
    private_list_data *list = get_list(dialog, item_id);
    if (!list || !bounds) return;
    set_dialog_item_bounds(dialog, item_id, bounds);
    set_private_list_bounds(list, bounds);
}

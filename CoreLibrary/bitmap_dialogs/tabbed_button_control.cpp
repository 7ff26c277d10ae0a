// The tabbed button.

#include "bitmap_dialogs/tabbed_button_control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/button_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "interface_definitions.h"
#include "shapes.h"

// The record of the item, NULL when the dialog is bad or the item missing
// (logged by find_control), of another type or without a record (logged
// here).  The procedure is compared before the record is read.
static tabbed_button_control_data *get_tab_data(const dialog_data *dialog, int16_t item_id,
                                                control_data **item_out = nullptr)
{
    control_data *item = find_control_of_type(dialog, item_id, tabbed_button_control_def_proc);
    if (!item) return nullptr;
    tabbed_button_control_data *data = nullptr;
    if (item->handler == tabbed_button_control_def_proc) data = (tabbed_button_control_data *)item->extra_data;
    if (!data || data->cookie != TABBED_BUTTON_CONTROL_COOKIE)
    {
        char text[64];
        snprintf(text, sizeof(text), "item #%d isn't a tabbed button", (int)item_id);
        assertion_failed(__FILE__, __LINE__, _assertion_vassert,
                         "extra_data ? extra_data->cookie==TABBED_BUTTON_CONTROL_COOKIE : 0", text);
        return nullptr;
    }
    if (item_out) *item_out = item;
    return data;
}

// The tab's entry; NULL (logged) for an index outside the table, which is
// also what a control without tabs answers for every index.
static tab_info *get_tab(tabbed_button_control_data *data, int16_t tab)
{
    if (!VASSERT(tab >= 0 && tab < data->number_of_tabs && data->tab_info, "tab index out of range")) return nullptr;
    return &data->tab_info[tab];
}

// Tab i's horizontal extent, from the left of the original bounds.
static void get_tab_extent(const tabbed_button_control_data *data, int32_t tab, int32_t *left, int32_t *right)
{
    const int32_t width = data->bitmap_bounds.right - data->bitmap_bounds.left;
    *left = data->original_bounds.left + tab * (width - data->tab_overlap);
    *right = *left + width;
}

void set_number_of_tabs(dialog_data *dialog, int16_t item_id, int16_t count)
{
    tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    if (!data || !VASSERT(count >= 0, "count >= 0")) return;
    if (count == data->number_of_tabs) return;
    free(data->tab_info);
    data->tab_info = nullptr;
    data->number_of_tabs = 0;
    if (count > 0)
    {
        data->tab_info = (tab_info *)calloc((size_t)count, sizeof(tab_info));
        if (VASSERT(data->tab_info, "couldn't allocate the tab table")) data->number_of_tabs = count;
    }
    set_dialog_item_dirty(dialog, item_id);
}

void set_tab_name(dialog_data *dialog, int16_t item_id, int16_t tab, const char *name)
{
    tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    if (!data) return;
    tab_info *info = get_tab(data, tab);
    if (!info) return;
    char copy[MAXIMUM_TAB_NAME_LENGTH + 1];
    strlcpy(copy, name ? name : "", sizeof(copy));
    if (strcmp(copy, info->tab_name) == 0) return;
    memcpy(info->tab_name, copy, sizeof(copy));
    info->enabled = 1;
    set_dialog_item_dirty(dialog, item_id);
}

void set_tab_enabled(dialog_data *dialog, int16_t item_id, int16_t tab, bool enabled)
{
    tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    if (!data) return;
    if (tab_info *info = get_tab(data, tab)) info->enabled = enabled ? 1 : 0;
}

void set_selected_tab(dialog_data *dialog, int16_t item_id, int16_t tab)
{
    tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    if (!data || !get_tab(data, tab)) return;
    data->selected_tab = tab;
    set_dialog_item_dirty(dialog, item_id);
}

int16_t get_selected_tab(const dialog_data *dialog, int16_t item_id)
{
    const tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    return data ? data->selected_tab : (int16_t)NONE;
}

void set_tab_overlap(dialog_data *dialog, int16_t item_id, int16_t overlap)
{
    tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    if (!data || !VASSERT(overlap >= 0, "overlap >= 0")) return;
    data->tab_overlap = overlap;
    set_dialog_item_dirty(dialog, item_id);
}

void set_tab_control_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency)
{
    tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    if (!data) return;
    data->transparency = transparency;
    set_dialog_item_dirty(dialog, item_id);
}

void set_tabbed_button_control_shape(dialog_data *dialog, int16_t item_id, int16_t collection_index,
                                     int16_t sequence_index)
{
    tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    if (!data) return;
    data->color_table_index = data->color_table_permutation = NONE;
    if (sequence_index == NONE || collection_index == NONE)
    {
        data->collection_index = sequence_index == NONE ? (int16_t)NONE : collection_index;
        data->sequence_index = sequence_index;
        data->number_of_states = 0;
    }
    else
    {
        data->collection_index = collection_index;
        data->sequence_index = sequence_index;
        const int32_t views = count_sequence_bitmaps(collection_index, sequence_index, _count_views);
        const int32_t frames = count_sequence_bitmaps(collection_index, sequence_index, _count_frames_per_view);
        data->number_of_states = (int16_t)(views < 0 ? 0 : views > INT16_MAX ? INT16_MAX : views);
        data->text_bounds = data->original_bounds;
        // The tabs are laid out by one picture's width: the last bitmap's
        // when they differ.
        for (int32_t view = 0; view < views; ++view)
            for (int32_t frame = 0; frame < frames; ++frame)
                if (const bitmap_data *bitmap =
                        get_sequence_bitmap(collection_index, sequence_index, view, frame, nullptr, nullptr))
                    data->bitmap_bounds = {0, 0, (int16_t)bitmap->height, (int16_t)bitmap->width};
    }
    set_dialog_item_dirty(dialog, item_id);
}

void destroy_tab_control(dialog_data *dialog, int16_t item_id)
{
    tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    if (!data) return;
    free(data->tab_info);
    data->tab_info = nullptr;
    data->number_of_tabs = 0;
}

// ---- the procedure ---------------------------------------------------------------------

// A completed press selects the enabled tab under the pointer.  The strips
// where two tabs overlap belong to the one drawn on top: the selected tab
// keeps its whole extent, a tab right of it loses its left `tab_overlap`
// pixels, a tab left of it its right ones.  Computed per tab, without a
// table: a click on a control without tabs selects nothing.
static intptr_t click_tabs(dialog_data *dialog, int16_t item_id, void *parameter)
{
    const intptr_t result = default_control_handler(_control_click_verb, dialog, item_id, parameter);
    if (!result) return result;
    tabbed_button_control_data *data = get_tab_data(dialog, item_id);
    const param_control_click_verb *p = (const param_control_click_verb *)parameter;
    if (!data || !data->tab_info || !p || !p->action) return result;
    const int32_t x = p->action->pointer.x;
    for (int32_t tab = 0; tab < data->number_of_tabs; ++tab)
    {
        int32_t left, right;
        get_tab_extent(data, tab, &left, &right);
        if (tab > data->selected_tab) left += data->tab_overlap;
        else if (tab < data->selected_tab) right -= data->tab_overlap;
        if (x < left || x >= right) continue;
        if (data->tab_info[tab].enabled && tab != data->selected_tab)
        {
            data->selected_tab = (int16_t)tab;
            set_dialog_item_dirty(dialog, item_id);
        }
        break;
    }
    return result;
}

static void draw_tab(const param_control_draw_verb *parameter, const tabbed_button_control_data *data, int32_t tab,
                     int16_t view, int32_t item_transparency, bool item_disabled)
{
    const bool enabled = data->tab_info ? data->tab_info[tab].enabled != 0 : true;
    int32_t t = item_transparency;
    if (item_disabled || !enabled) t = disabled_control_transparency(t);
    if (t < 0) t = 0;
    if (t >= 65535) return;
    int32_t left, right;
    get_tab_extent(data, tab, &left, &right);
    rectangle2d frame = {data->original_bounds.top, (int16_t)left, data->original_bounds.bottom, (int16_t)right};
    const rectangle2d bounds = frame;
    draw_bitmap_from_sequence(parameter->dialog_bitmap, data->collection_index, data->sequence_index, view,
                              tab == data->selected_tab ? 0 : 1, &frame, nullptr, nullptr, (fixed_fraction)t, 0,
                              _draw_bitmap_left_justified_flag | _draw_bitmap_bottom_justified_flag, 0);
    if (data->tab_info)
        draw_string(parameter->dialog_bitmap, nullptr, &bounds, nullptr, get_interface_font_index(0), -1, &data->color,
                    data->tab_info[tab].tab_name,
                    _draw_string_center_horizontal_flag | _draw_string_center_vertical_flag | _draw_string_shadow_flag,
                    (fixed_fraction)t);
}

// Each tab lies over its neighbour farther from the selection, and the
// selected tab over both of its neighbours.
static void draw_tabs(dialog_data *dialog, int16_t item_id, const param_control_draw_verb *parameter)
{
    control_data *item = nullptr;
    const tabbed_button_control_data *data = get_tab_data(dialog, item_id, &item);
    if (!data || !parameter || !parameter->dialog_bitmap || data->number_of_states == 0) return;
    const bool disabled = (item->flags & _control_is_disabled_flag) != 0;
    const int16_t view = disabled ? 0 : data->state;
    const int32_t count = data->number_of_tabs, selected = data->selected_tab;
    for (int32_t tab = count - 1; tab > selected && tab >= 0; --tab)
        draw_tab(parameter, data, tab, view, data->transparency, disabled);
    for (int32_t tab = 0; tab < selected && tab < count; ++tab)
        draw_tab(parameter, data, tab, view, data->transparency, disabled);
    if (selected >= 0 && selected < count) draw_tab(parameter, data, selected, view, data->transparency, disabled);
}

intptr_t tabbed_button_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        const param_control_new_verb *p = (const param_control_new_verb *)parameter;
        tabbed_button_control_data *data = new_control_record<tabbed_button_control_data>(TABBED_BUTTON_CONTROL_COOKIE);
        if (!data) return 0;
        data->frame_collection_index = data->frame_sequence_index = NONE;
        data->collection_index = data->sequence_index = NONE;
        data->color_table_index = data->color_table_permutation = NONE;
        strlcpy(data->name, p && p->text ? p->text : "", sizeof(data->name));
        get_dialog_color(&data->color, _dialog_button_text_color);
        if (p && p->definition) data->original_bounds = p->definition->bounds;
        data->text_bounds = data->original_bounds;
        return (intptr_t)data;
    }
    case _control_new_completion_verb:
    {
        tabbed_button_control_data *data = get_tab_data(dialog, item_id);
        if (!data) return 0;
        data->tab_overlap = DEFAULT_TAB_OVERLAP;
        set_tabbed_button_control_shape(dialog, item_id,
                                        (int16_t)get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG),
                                        _dialog_elements_tab_button_sequence);
        return 0;
    }
    case _control_dispose_verb:
        if (parameter)
        {
            tabbed_button_control_data *data = (tabbed_button_control_data *)((param_control_dispose_verb *)parameter)->data;
            if (data) free(data->tab_info);
            free(data);
        }
        return 0;
    case _control_click_verb:
        return click_tabs(dialog, item_id, parameter);
    case _control_draw_verb:
        draw_tabs(dialog, item_id, (const param_control_draw_verb *)parameter);
        return 0;
    default:
        return default_control_handler(verb, dialog, item_id, parameter);
    }
}

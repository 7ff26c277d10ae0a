// The carnage report's header.

#include "bitmap_dialogs/carnage_header_control.h"

#include <cstdlib>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/carnage_graph_control.h"
#include "bitmap_dialogs/postgame_permanent_stats.h"
#include "bitmap_dialogs/postgame_player_stats.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/log.h"
#include "interface_definitions.h"
#include "shapes.h"
#include "vesk/string_lists.h"

#define CARNAGE_HEADER_COOKIE FOUR_CHARACTER_CODE('c', 'h', 'e', 'd')

struct carnage_header_extra_data
{
    int32_t cookie;
    int16_t type;
    bool is_graph;
};

static const fixed_fraction HEADER_SHADE_TRANSPARENCY = 10922;

static carnage_header_extra_data *carnage_header_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<carnage_header_extra_data>(dialog, item_id, carnage_header_control_handler,
                                                         CARNAGE_HEADER_COOKIE, nullptr);
}

void set_carnage_header_type(dialog_data *dialog, int16_t item_id, int16_t type, bool is_graph)
{
    carnage_header_extra_data *data = carnage_header_record(dialog, item_id);
    if (!data || (data->type == type && data->is_graph == is_graph)) return;
    data->type = type;
    data->is_graph = is_graph;
    set_dialog_item_dirty(dialog, item_id);
}

static void draw_header(bitmap_data *bitmap, const rectangle2d *bounds, const carnage_header_extra_data *data)
{
    fill_rectangle_clipped(bitmap, &rgb_black, bounds, nullptr, HEADER_SHADE_TRANSPARENCY,
                           get_transparency_table(_transparency_normal));
    if (data->is_graph)
    {
        if (data->type < 0 || data->type >= NUMBER_OF_CARNAGE_GRAPH_TYPES)
        {
            log_message(__FILE__, __LINE__, "halt: What kind of graph is %d", (int)data->type);
            return;
        }
        const int32_t font = get_interface_font_index(0);
        if (font == NONE) return;
        const char *title =
            get_string_from_list(string_list_tag_to_string_index(CARNAGE_GRAPH_TITLES_STRING_LIST_TAG), data->type);
        draw_string(bitmap, nullptr, bounds, bounds, font, 0, &rgb_white, title,
                    _draw_string_center_horizontal_flag | _draw_string_center_vertical_flag, 0);
        return;
    }
    if (data->type == 0)
        draw_player_stats_header(bitmap, bounds);
    else if (data->type == 1)
        draw_permanent_stats_header(bitmap, bounds);
    else
        log_message(__FILE__, __LINE__, "What kind of stats type is %d", (int)data->type);
}

intptr_t carnage_header_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb: return (intptr_t)new_control_record<carnage_header_extra_data>(CARNAGE_HEADER_COOKIE);
    case _control_click_verb: return 0;
    case _control_draw_verb:
    {
        const control_data *item = find_control(dialog, item_id);
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const carnage_header_extra_data *data = carnage_header_record(dialog, item_id);
        if (item && p && p->dialog_bitmap && data) draw_header(p->dialog_bitmap, &item->bounds, data);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

#undef CARNAGE_HEADER_COOKIE

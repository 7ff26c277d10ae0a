// The carnage report's statistics list.

#include "bitmap_dialogs/carnage_stats_list_control.h"

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/postgame_permanent_stats.h"
#include "bitmap_dialogs/postgame_player_stats.h"
#include "game_time.h"
#include "interface_definitions.h"
#include "bitmap_text.h"

enum
{
    STATS_LIST_LINE_HEIGHT = 21,
    STATS_LIST_GUTTER = 2,
    NO_STATS_TYPE = -1,
};

bool stats_type_is_valid(int16_t type)
{
    if (type == 0) return true;
    return type == 1 && game_->type < 2;
}

// The type is the list's own value (its refcon): -1 until set.
int16_t get_carnage_stats_type(const dialog_data *dialog, int16_t item_id)
{
    if (!find_control_of_type(dialog, item_id, carnage_stats_list_control_handler)) return NONE;
    return (int16_t)bitmap_get_listbox_refcon(dialog, item_id);
}

void set_carnage_stats_type(dialog_data *dialog, int16_t item_id, int16_t type)
{
    if (!find_control_of_type(dialog, item_id, carnage_stats_list_control_handler)) return;
    if (!stats_type_is_valid(type) || get_carnage_stats_type(dialog, item_id) == type) return;
    bitmap_set_listbox_refcon(dialog, item_id, type);
    if (type == 0) rebuild_postgame_player_stats_list(dialog, item_id);
    else rebuild_postgame_permanent_stats_list(dialog, item_id);
}

intptr_t carnage_stats_list_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    if (verb != _control_new_completion_verb) return list_control_def_proc(verb, dialog, item_id, parameter);
    // The list exists now: its look, then the player statistics.
    const intptr_t result = list_control_def_proc(verb, dialog, item_id, parameter);
    bitmap_set_listbox_refcon(dialog, item_id, NO_STATS_TYPE);
    bitmap_set_list_line_height(dialog, item_id, STATS_LIST_LINE_HEIGHT);
    bitmap_set_list_flag(dialog, item_id, _list_can_be_focused_flag, false);
    bitmap_set_list_flag(dialog, item_id, _list_has_shaded_background_flag, false);
    bitmap_set_list_flag(dialog, item_id, _list_scrollbars_have_background_flag, true);
    bitmap_set_list_gutters(dialog, item_id, STATS_LIST_GUTTER, STATS_LIST_GUTTER);
    set_carnage_stats_type(dialog, item_id, 0);
    return result;
}

int16_t carnage_stats_text_width(const char *text)
{
    const int32_t font = get_interface_font_index(0);
    if (font == NONE || !text || !*text) return 0;
    const int32_t width = string_width(font, 0, text);
    return (int16_t)(width > INT16_MAX ? INT16_MAX : width);
}

void widen_carnage_stats_column(int16_t *width, const char *text)
{
    const int16_t w = carnage_stats_text_width(text);
    if (w > *width) *width = w;
}

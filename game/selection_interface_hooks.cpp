// Joins the selection's interface queries to the bars and the console menu.
#include "selection_interface_hooks.h"

#include <cstdio>
#include <cstring>

#include "bitmap_text.h"
#include "console/console_menu.h"
#include "control_bar.h"
#include "render/render.h"
#include "selection.h"
#include "selection_interface.h"
#include "selection_orders.h"
#include "status_bar.h"

static void control_bar_order(int32_t button_type, bool shift)
{
    switch (button_type)
    {
    case _control_bar_button_chat: enable_chatting(shift); break;
    case _control_bar_button_ally: selection_ally(); break;
    case _control_bar_button_stop: stop_selected_units(); break;
    case _control_bar_button_hold_ground: make_selected_units_hold_ground(); break;
    case _control_bar_button_scatter: scatter_selected_units(); break;
    case _control_bar_button_retreat: retreat_selected_units(); break;
    case _control_bar_button_special_ability: make_selected_units_use_special_ability(); break;
    default:
        if (button_type >= _control_bar_button_formation_0 && button_type <= _control_bar_button_formation_9)
            assign_formation_to_selection(button_type - _control_bar_button_formation_0, shift);
        break;
    }
}

static void control_bar_format(char *buffer, int32_t size, int32_t index, bool show_number, bool show_check,
                               bool show_count)
{
    if (size > 0) format_inventory_string(buffer, (size_t)size, index, show_number, show_check, show_count);
}

static void console_menu_format(int32_t entry, char *buffer, size_t size)
{
    const bool checked = entry == get_selection_inventory()->selected_unique_index;
    format_inventory_string(buffer, size, entry, true, checked, true);
}

static void status_bar_selection(status_bar_selection_data *selection)
{
    int16_t permutation = 0;
    get_selection_portrait(&selection->portrait_collection_index, &selection->portrait_sequence_index, &permutation);
    selection->portrait_replacement_colors = nullptr;
    get_selection_description_string(selection->description, sizeof(selection->description));
    status_control_data *status = &selection->status;
    get_selection_name_string(status->name, sizeof(status->name));
    get_selection_type_string(status->type, sizeof(status->type));
    get_selection_experience(&status->experience, &status->battles_survived, &status->experience_allegiance);
    get_selection_ammunition(&status->ammunition_count, &status->ammunition_collection_index,
                             &status->ammunition_sequence_index, &status->ammunition_shading_table_index);
    get_selection_item(&status->item_collection_index, &status->item_sequence_index,
                       &status->item_shading_table_index, &status->item_count);
    status->random_seed = get_selection_random_seed();
}

static void status_bar_click(int16_t click)
{
    if (click == _status_bar_rename_selection) rename_current_selection();
    else if (click == _status_bar_point_observer_at_selection) point_observer_at_current_selection(false);
}

static bool point_in_last_view(const world_point3d *point, bool *in_view)
{
    const view_data *view = last_render_view();
    if (!view) return false;
    *in_view = world_point3d_in_view(view, point);
    return true;
}

void register_selection_interface_hooks(void)
{
    register_control_bar_order_procedure(control_bar_order);
    register_selection_inventory_procedures(get_unique_selection_inventory, control_bar_format);
    register_set_selection_inventory_procedure(set_selection_inventory_unique);
    register_status_bar_selection_procedures(selection_changed, status_bar_selection);
    register_status_bar_selection_click_procedure(status_bar_click);
    register_console_menu_inventory_procedures(get_unique_selection_inventory, console_menu_format);
    register_selection_check_mark_procedure(get_check_mark_string);
    register_selection_point_in_view_procedure(point_in_last_view);
}

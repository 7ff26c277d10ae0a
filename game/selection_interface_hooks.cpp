// Joins the selection's interface queries to the status bar, and gives the
// queries the fonts' check mark and the renderer's view test.  (The control
// bar and the console menu call the selection themselves.)
#include "selection_interface_hooks.h"

#include <cstdio>
#include <cstring>

#include "bitmap_text.h"
#include "render/render.h"
#include "selection.h"
#include "selection_interface.h"
#include "status_bar.h"

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
    register_status_bar_selection_procedures(selection_changed, status_bar_selection);
    register_status_bar_selection_click_procedure(status_bar_click);
    register_selection_check_mark_procedure(get_check_mark_string);
    register_selection_point_in_view_procedure(point_in_last_view);
}

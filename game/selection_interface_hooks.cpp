// Gives the selection's interface queries the fonts' check mark and the
// renderer's view test.  (The bars and the console menu call the selection
// themselves.)
#include "selection_interface_hooks.h"

#include "bitmap_text.h"
#include "render/render.h"
#include "selection_interface.h"

static bool point_in_last_view(const world_point3d *point, bool *in_view)
{
    const view_data *view = last_render_view();
    if (!view) return false;
    *in_view = world_point3d_in_view(view, point);
    return true;
}

void register_selection_interface_hooks(void)
{
    register_selection_check_mark_procedure(get_check_mark_string);
    register_selection_point_in_view_procedure(point_in_last_view);
}

// Dialog redraw: dirty marking and drawing of dialogs.
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialogs_private.h"

void set_dialog_item_dirty(dialog_data *dialog, int16_t item_id)
{
    (void)dialog;
    (void)item_id;
}

void invalidate_one_dialog_rectangle(dialog_data *dialog, const rectangle2d *rectangle)
{
    (void)dialog;
    (void)rectangle;
}

void invalidate_dialog_rectangle(const rectangle2d *rectangle) { (void)rectangle; }

void set_dialog_dirty(dialog_data *dialog) { (void)dialog; }

void set_all_dialogs_dirty(void) {}

bool dialogs_are_dirty(rectangle2d *rectangle, bool *backdrop)
{
    (void)rectangle;
    (void)backdrop;
    return false;
}

void render_dialogs(bitmap_data *screen) { (void)screen; }

void draw_dialog_into_bitmap(bitmap_data *bitmap, dialog_data *dialog)
{
    (void)bitmap;
    (void)dialog;
}

void draw_controls(bitmap_data *bitmap, dialog_data *dialog)
{
    (void)bitmap;
    (void)dialog;
}

void get_rasterization_data_for_dialog(dialog_data *dialog, dialog_rasterization_data *data)
{
    (void)dialog;
    (void)data;
}

bool get_dialog_to_rasterize(dialog_rasterization_data *data)
{
    (void)data;
    return false;
}

bool is_drawing_dialog(void) { return false; }

void register_dialog_redraw_hooks(void) {}

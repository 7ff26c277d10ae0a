// Progress bars.

#include "bitmap_dialogs/progress_bar_control.h"

#include <cstdlib>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "cseries/log.h"
#include "game_records.h"
#include "game_time.h"
#include "shapes.h"

static progress_bar_control_data *progress_bar_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<progress_bar_control_data>(dialog, item_id, progress_bar_control_def_proc,
                                                         PROGRESS_BAR_COOKIE, "not a progress bar");
}

intptr_t progress_bar_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        progress_bar_control_data *data = new_control_record<progress_bar_control_data>(PROGRESS_BAR_COOKIE);
        if (!data) return 0;
        if (game_->option_flags & _game_option_uses_vux_flag) data->fill_color = {65535, 0, 0, 0};
        else get_dialog_color(&data->fill_color, _dialog_progress_bar_color);
        return (intptr_t)data;
    }
    case _control_click_verb: return 0;
    case _control_draw_verb:
    {
        const control_data *item = find_control(dialog, item_id);
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        if (!item || !p || !p->dialog_bitmap) return 0;
        const progress_bar_control_data *data = (const progress_bar_control_data *)item->extra_data;
        if (!data || data->fraction <= 0) return 0;
        rectangle2d bar = item->bounds;
        bar.right = (int16_t)(bar.left + (int32_t)(bar.right - bar.left) * data->fraction / PROGRESS_BAR_FULL);
        fill_rectangle_clipped(p->dialog_bitmap, &data->fill_color, &bar, nullptr, 32768,
                               get_transparency_table(_transparency_normal));
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void set_progress_bar_fraction(dialog_data *dialog, int16_t item_id, short_fixed fraction)
{
    progress_bar_control_data *data = progress_bar_record(dialog, item_id);
    if (!data) return;
    const short_fixed clamped = fraction < 0 ? 0 : (fraction > PROGRESS_BAR_FULL ? (short_fixed)PROGRESS_BAR_FULL : fraction);
    if (clamped == data->fraction) return;
    data->fraction = clamped;
    set_dialog_item_dirty(dialog, item_id);
}

short_fixed get_progress_bar_fraction(const dialog_data *dialog, int16_t item_id)
{
    const progress_bar_control_data *data = progress_bar_record(dialog, item_id);
    return data ? data->fraction : (short_fixed)0;
}

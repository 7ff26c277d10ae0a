// Bitmap items.

#include "bitmap_dialogs/bitmap_item_control.h"

#include <cstdlib>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "game_time.h"
#include "shapes.h"

// The record of a bitmap item, NULL (logged) for a missing item or one of
// another type.
static bitmap_extra_data *bitmap_item_record(const dialog_data *dialog, int16_t item_id, control_data **item_out = nullptr)
{
    return get_control_record<bitmap_extra_data>(dialog, item_id, bitmap_control_def_proc, BITMAP_ITEM_COOKIE,
                                                 "not a bitmap item", item_out);
}

bitmap_extra_data *get_bitmap_item_data(const dialog_data *dialog, int16_t item_id)
{
    return bitmap_item_record(dialog, item_id);
}

static void draw_frame_of(bitmap_data *destination, const control_data *item, const bitmap_extra_data *data,
                          int16_t frame_index, uint32_t flags, fixed_fraction transparency)
{
    bitmap_data *bitmap = get_sequence_bitmap(data->collection_index, data->sequence_index, NONE, frame_index,
                                              nullptr, nullptr);
    // The picture is drawn whole, as stored: its colour key and overlay
    // marks would punch holes in it.
    if (bitmap) bitmap->flags = (int16_t)(bitmap->flags & ~(_bitmap_color_key_transparency_flag | _bitmap_is_overlay_flag));
    rectangle2d frame = item->bounds;
    draw_bitmap_from_sequence(destination, data->collection_index, data->sequence_index, NONE, frame_index, &frame,
                              nullptr, data->replacement_colors_valid ? data->replacement_colors : nullptr,
                              transparency, _transparency_normal, flags, 0);
}

static void draw_bitmap_item(dialog_data *dialog, int16_t item_id, void *parameter)
{
    control_data *item = find_control(dialog, item_id);
    const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
    if (!item || !p || !p->dialog_bitmap) return;
    bitmap_extra_data *data = (bitmap_extra_data *)item->extra_data;
    if (!data) return;

    if (data->collection_index != NONE)
    {
        const uint32_t flags = data->drawing_flags | _draw_bitmap_return_adjusted_bounds_flag;
        if (data->crossfade_time != 0 && data->frame_index != 0)
        {
            const uint32_t elapsed = (uint32_t)game_->local_time.load() - data->crossfade_time;
            if (elapsed <= BITMAP_ITEM_CROSSFADE_TICKS)
            {
                draw_frame_of(p->dialog_bitmap, item, data, (int16_t)(data->frame_index - 1), data->drawing_flags, 0);
                if (elapsed > 0)
                {
                    const int32_t t = 65536 - (int32_t)elapsed * 65536 / BITMAP_ITEM_CROSSFADE_TICKS;
                    draw_frame_of(p->dialog_bitmap, item, data, data->frame_index, flags,
                                  (fixed_fraction)(t > 65535 ? 65535 : t));
                }
            }
            else
            {
                data->crossfade_time = 0;
                item->flags &= (uint16_t)~_control_requires_idle_time_flag;
                draw_frame_of(p->dialog_bitmap, item, data, data->frame_index, flags, data->transparency);
            }
        }
        else
        {
            // No fade runs (a new picture cancels one): stop idling for it.
            item->flags &= (uint16_t)~_control_requires_idle_time_flag;
            draw_frame_of(p->dialog_bitmap, item, data, data->frame_index, flags, data->transparency);
        }
    }
    else if (data->color_valid)
    {
        fill_rectangle_clipped(p->dialog_bitmap, &data->color, &item->bounds, nullptr, data->transparency,
                               get_transparency_table(_transparency_normal));
    }
    if (data->caption_text)
    {
        draw_string(p->dialog_bitmap, nullptr, &item->bounds, nullptr, data->caption_font_index, -1,
                    &data->caption_text_color, data->caption_text, data->caption_text_flags, data->transparency);
    }
}

intptr_t bitmap_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        bitmap_extra_data *data = new_control_record<bitmap_extra_data>(BITMAP_ITEM_COOKIE);
        if (!data) return 0;
        data->collection_index = NONE;
        data->sequence_index = NONE;
        data->drawing_flags = BITMAP_ITEM_DEFAULT_DRAWING_FLAGS;
        return (intptr_t)data;
    }
    case _control_key_verb:
    case _control_focus_verb:
    {
        const control_data *item = find_control(dialog, item_id);
        const bitmap_extra_data *data = item ? (const bitmap_extra_data *)item->extra_data : nullptr;
        return data && data->accepts_focus ? 1 : 0;
    }
    case _control_idle_verb: return 1;
    case _control_draw_verb: draw_bitmap_item(dialog, item_id, parameter); return 0;
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void set_dialog_bitmap_art(dialog_data *dialog, int16_t item_id, int16_t collection_index, int16_t sequence_index,
                           int16_t frame_index)
{
    bitmap_extra_data *data = bitmap_item_record(dialog, item_id);
    if (!data) return;
    data->collection_index = collection_index;
    data->sequence_index = sequence_index;
    data->frame_index = frame_index;
    data->color_valid = false;
    data->replacement_colors_valid = false;
    data->crossfade_time = 0;
    set_dialog_item_dirty(dialog, item_id);
}

void set_bitmap_item_color(dialog_data *dialog, int16_t item_id, const rgb_color *color)
{
    bitmap_extra_data *data = bitmap_item_record(dialog, item_id);
    if (!data) return;
    data->collection_index = NONE;
    data->color_valid = color != nullptr;
    if (color) data->color = *color;
    set_dialog_item_dirty(dialog, item_id);
}

void set_bitmap_item_replacement_colors(dialog_data *dialog, int16_t item_id, const rgb_color *colors)
{
    bitmap_extra_data *data = bitmap_item_record(dialog, item_id);
    if (!data) return;
    if (colors)
    {
        data->replacement_colors[0] = colors[0];
        data->replacement_colors[1] = colors[1];
        data->replacement_colors_valid = true;
    }
    set_dialog_item_dirty(dialog, item_id);
}

void set_dialog_bitmap_drawing_flags(dialog_data *dialog, int16_t item_id, uint32_t flags)
{
    control_data *item = nullptr;
    bitmap_extra_data *data = bitmap_item_record(dialog, item_id, &item);
    if (!data) return;
    data->drawing_flags = flags;
    if ((flags & _draw_bitmap_crossfade_flag) && data->frame_index != 0)
    {
        data->crossfade_time = (uint32_t)game_->local_time.load();
        item->flags |= _control_requires_idle_time_flag;
    }
    set_dialog_item_dirty(dialog, item_id);
}

void set_bitmap_item_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency)
{
    bitmap_extra_data *data = bitmap_item_record(dialog, item_id);
    if (!data) return;
    data->transparency = transparency;
    set_dialog_item_dirty(dialog, item_id);
}

void set_dialog_bitmap_caption(dialog_data *dialog, int16_t item_id, int16_t font_index, const rgb_color *color,
                               const char *text, uint32_t flags)
{
    bitmap_extra_data *data = bitmap_item_record(dialog, item_id);
    if (!data) return;
    data->caption_font_index = font_index;
    if (color) data->caption_text_color = *color;
    data->caption_text = text;
    data->caption_text_flags = flags;
}

void bitmap_item_accepts_focus(dialog_data *dialog, int16_t item_id, bool accepts)
{
    bitmap_extra_data *data = bitmap_item_record(dialog, item_id);
    if (data) data->accepts_focus = accepts;
}

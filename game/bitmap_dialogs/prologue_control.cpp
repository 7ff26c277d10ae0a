// The prologue page.

#include "bitmap_dialogs/prologue_control.h"

#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "shapes.h"

static prologue_control_extra_data *prologue_record(const dialog_data *dialog, int16_t item_id)
{
    return get_control_record<prologue_control_extra_data>(dialog, item_id, prologue_control_def_proc,
                                                           PROLOGUE_CONTROL_COOKIE, "not a prologue");
}

uint32_t prologue_pack_color(int16_t encoding, const rgb_color *color)
{
    switch (encoding)
    {
    case _16bit_555_encoding:
        return (uint32_t)(((color->red >> 1) & 0x7C00) | ((color->green >> 6) & 0x3E0) | (color->blue >> 11));
    case _16bit_565_encoding:
        return (uint32_t)((color->red & 0xF800) | ((color->green >> 5) & 0x7E0) | (color->blue >> 11));
    default:
        return 0xFF000000u | (uint32_t)(color->red >> 8) << 16 | (uint32_t)(color->green >> 8) << 8 |
               (uint32_t)(color->blue >> 8);
    }
}

int32_t prologue_row_alpha(int32_t y, int32_t height, short_fixed transparency)
{
    int32_t alpha = y < TEXT_TRANSPARENT_HEIGHT - 1 ? (y + 1) * 256 / TEXT_TRANSPARENT_HEIGHT : 256;
    if (y >= height - (TEXT_TRANSPARENT_HEIGHT - 1)) alpha = (height - y) * 256 / TEXT_TRANSPARENT_HEIGHT;
    if (transparency != 256) alpha = (alpha * transparency) >> 8;
    return alpha;
}

uint32_t prologue_blend_pixel(int16_t encoding, uint32_t destination, uint32_t text, int32_t m, int32_t alpha)
{
    if (m >= 255) return destination;
    if (m <= 0 && alpha >= 256) return text;
    const uint8_t *table = get_transparency_table(_transparency_normal);
    if (!table) return destination;
    int32_t level = alpha >= 256 ? m >> 4 : 15 - ((alpha * (255 - m)) >> 12);
    if (level < 0) level = 0;
    if (level > 15) level = 15;
    const uint8_t *t = table + level * 1024;
    auto blend = [t](uint32_t d, uint32_t s) { return (uint32_t)t[(d & 31) * 32 + (s & 31)]; };
    switch (encoding)
    {
    case _16bit_555_encoding:
        return blend(destination >> 10, text >> 10) << 10 | blend(destination >> 5, text >> 5) << 5 |
               blend(destination, text);
    case _16bit_565_encoding:
        return blend(destination >> 11, text >> 11) << 11 | blend(destination >> 6, text >> 6) << 6 |
               blend(destination, text);
    default:
        return 0xFF000000u | blend(destination >> 19, text >> 19) << 19 | blend(destination >> 11, text >> 11) << 11 |
               blend(destination >> 3, text >> 3) << 3;
    }
}

static void draw_prologue(const control_data *item, const prologue_control_extra_data *data, bitmap_data *destination)
{
    const bitmap_data *source = data->text_bitmap;
    const rectangle2d b = item->bounds;
    const int32_t h = b.bottom - b.top;
    if (h < 1 || !source) return;
    const int16_t encoding = destination->encoding;
    if (!VASSERT(encoding == _16bit_555_encoding || encoding == _16bit_565_encoding || encoding == _32bit_encoding,
                 "prologue: destination encoding"))
        return;
    const uint32_t text = prologue_pack_color(encoding, &data->text_color);
    const int32_t depth = encoding == _32bit_encoding ? 4 : 2;
    int32_t width = source->width;
    if (width > b.right - b.left) width = b.right - b.left;
    for (int32_t y = 0; y < h; ++y)
    {
        const int32_t s = y + data->text_vertical_position;
        if (s < 0 || s >= source->height) continue;
        const int32_t dy = b.top + y;
        if (dy < 0 || dy >= destination->height) continue;
        const int32_t alpha = prologue_row_alpha(y, h, data->transparency);
        const uint8_t *coverage = source->row_addresses[0] + (size_t)s * source->bytes_per_row;
        uint8_t *row = bitmap_address(destination, 0, (int16_t)dy);
        if (!row) continue;
        for (int32_t x = 0; x < width; ++x)
        {
            const int32_t dx = b.left + x;
            if (dx < 0 || dx >= destination->width) continue;
            const int32_t m = coverage[x];
            if (m == 255) continue;
            uint8_t *p = row + (size_t)dx * depth;
            if (depth == 4) store_pixel32(p, prologue_blend_pixel(encoding, load_pixel32(p), text, m, alpha));
            else store_pixel16(p, (uint16_t)prologue_blend_pixel(encoding, load_pixel16(p), text, m, alpha));
        }
    }
}

intptr_t prologue_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb:
    {
        prologue_control_extra_data *data = new_control_record<prologue_control_extra_data>(PROLOGUE_CONTROL_COOKIE);
        if (!data) return 0;
        data->transparency = 255;
        data->local_time_at_last_update = -1;
        return (intptr_t)data;
    }
    case _control_new_completion_verb:
    {
        const control_data *item = find_control(dialog, item_id);
        prologue_control_extra_data *data = item ? (prologue_control_extra_data *)item->extra_data : nullptr;
        if (data) data->text_vertical_position = (int16_t)-(item->bounds.bottom - item->bounds.top);
        return 0;
    }
    case _control_dispose_verb:
    {
        const param_control_dispose_verb *p = (const param_control_dispose_verb *)parameter;
        prologue_control_extra_data *data = p ? (prologue_control_extra_data *)p->data : nullptr;
        if (data)
        {
            dispose_bitmap(data->text_bitmap);
            free(data);
        }
        return 0;
    }
    case _control_focus_verb: return 1;
    case _control_draw_verb:
    {
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const control_data *item = find_control(dialog, item_id);
        if (!item || !p || !p->dialog_bitmap) return 0;
        const prologue_control_extra_data *data = (const prologue_control_extra_data *)item->extra_data;
        if (data && data->cookie == PROLOGUE_CONTROL_COOKIE) draw_prologue(item, data, p->dialog_bitmap);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void set_prologue_control_data(dialog_data *dialog, int16_t item_id, int16_t initial_delay, const rgb_color *text_color,
                               int32_t text_font_index, const char *text)
{
    prologue_control_extra_data *data = prologue_record(dialog, item_id);
    if (!data) return;
    if (!VASSERT(!data->text_bitmap, "prologue text set twice")) return;
    const control_data *item = find_control(dialog, item_id);
    data->delay = initial_delay;
    if (text_color) data->text_color = *text_color;
    data->text_font_index = text_font_index;
    data->text = text ? text : "";
    const int32_t width = item->bounds.right - item->bounds.left;
    int32_t height = 0;
    get_string_height(data->text, text_font_index, -1, width, &height);
    if (height > PROLOGUE_OFFSCREEN_HEIGHT) height = PROLOGUE_OFFSCREEN_HEIGHT;
    if (width <= 0 || height <= 0) return;
    bitmap_data *bitmap = new_bitmap((int16_t)width, (int16_t)height, (int16_t)width, _8bit_encoding, 0);
    if (!bitmap) return;
    for (int32_t y = 0; y < height; ++y) memset(bitmap->row_addresses[0] + (size_t)y * width, 255, (size_t)width);
    point2d origin = {0, 0};
    const rgb_color white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
    draw_string(bitmap, &origin, nullptr, nullptr, text_font_index, -1, &white, data->text, _draw_string_wrap_flag, 0);
    data->text_bitmap = bitmap;
    data->maximum_vertical_position =
        (int16_t)(origin.y + TEXT_TRANSPARENT_HEIGHT - (item->bounds.bottom - item->bounds.top));
}

void update_prologue_control(dialog_data *dialog, int16_t item_id)
{
    prologue_control_extra_data *data = prologue_record(dialog, item_id);
    if (!data) return;
    if (data->text_vertical_position > data->maximum_vertical_position + SCROLL_DONE_BUFFER) data->done = true;
    // Once done the position stops, so it can never wrap however long the
    // story dialog keeps updating.
    if (data->done) return;
    ++data->text_vertical_position;
    set_dialog_item_dirty(dialog, item_id);
}

void set_prologue_item_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency)
{
    prologue_control_extra_data *data = prologue_record(dialog, item_id);
    if (!data) return;
    data->transparency = (short_fixed)(255 - (transparency >> 8));
    set_dialog_item_dirty(dialog, item_id);
}

bool prologue_control_done(const dialog_data *dialog, int16_t item_id)
{
    const prologue_control_extra_data *data = prologue_record(dialog, item_id);
    return data && data->done;
}

// A saved game's picture.

#include "bitmap_dialogs/snapshot_control.h"

#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "film_dialog_procedures.h"

static snapshot_data *snapshot_record(const dialog_data *dialog, int16_t item_id)
{
    const control_data *item = find_control_of_type(dialog, item_id, snapshot_control_handler);
    if (!item) return nullptr;
    snapshot_data *data = (snapshot_data *)item->extra_data;
    if (!VASSERT(data && item->handler == snapshot_control_handler, "not a snapshot")) return nullptr;
    return data;
}

static void forget_pixels(snapshot_data *data)
{
    free(data->snapshot_data);
    data->snapshot_data = nullptr;
    data->flags = 0;
}

static int32_t pixel_depth(int16_t encoding)
{
    return encoding == SNAPSHOT_32BIT_ENCODING ? 4 : 2;
}

static bool size_is_sound(int16_t width, int16_t height)
{
    if (width > 0 && height > 0 && width <= MAXIMUM_SNAPSHOT_DIMENSION && height <= MAXIMUM_SNAPSHOT_DIMENSION)
        return true;
    log_message(__FILE__, __LINE__, "snapshot refused: size %d x %d", width, height);
    return false;
}

static void draw_snapshot(const control_data *item, const snapshot_data *data, bitmap_data *destination)
{
    if (!(data->flags & _snapshot_valid_flag) || !data->snapshot_data) return;
    const rectangle2d &b = item->bounds;
    // Room for the header and one row address; the rows are filled below.
    alignas(bitmap_data) uint8_t header[sizeof(bitmap_data) + sizeof(uint8_t *)];
    bitmap_data *source = (bitmap_data *)header;
    memset(header, 0, sizeof(header));
    const int32_t depth = pixel_depth(data->encoding);
    const int16_t encoding = data->encoding == SNAPSHOT_32BIT_ENCODING
                                 ? (int16_t)_32bit_encoding
                                 : (data->encoding == _16bit_565_encoding ? (int16_t)_16bit_565_encoding
                                                                          : (int16_t)_16bit_555_encoding);
    initialize_bitmap_data_lite(source, data->snapshot_data, data->width, data->height,
                                (int16_t)(data->width * depth), encoding);
    const point2d at = {(int16_t)(b.left + ((b.right - b.left) - data->width) / 2),
                        (int16_t)(b.top + ((b.bottom - b.top) - data->height) / 2)};
    // The picture never spills out of its item, whatever its size.
    copy_bitmap(destination, &at, source, &b, nullptr, 0, nullptr);
}

intptr_t snapshot_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    switch (verb)
    {
    case _control_new_verb: return (intptr_t)calloc(1, sizeof(snapshot_data));
    case _control_dispose_verb:
    {
        const param_control_dispose_verb *p = (const param_control_dispose_verb *)parameter;
        snapshot_data *data = p ? (snapshot_data *)p->data : nullptr;
        if (data)
        {
            free(data->snapshot_data);
            free(data);
        }
        return 0;
    }
    case _control_click_verb: return 0;
    case _control_draw_verb:
    {
        const param_control_draw_verb *p = (const param_control_draw_verb *)parameter;
        const control_data *item = find_control(dialog, item_id);
        if (!item || !p || !p->dialog_bitmap || !item->extra_data) return 0;
        draw_snapshot(item, (const snapshot_data *)item->extra_data, p->dialog_bitmap);
        return 0;
    }
    default: return default_control_handler(verb, dialog, item_id, parameter);
    }
}

void set_snapshot_item_data(dialog_data *dialog, int16_t item_id, const void *data, int16_t width, int16_t height,
                            int16_t encoding)
{
    snapshot_data *record = snapshot_record(dialog, item_id);
    if (!record) return;
    forget_pixels(record);
    if (data && size_is_sound(width, height))
    {
        const size_t size = (size_t)width * (size_t)height * (size_t)pixel_depth(encoding);
        record->snapshot_data = (uint8_t *)malloc(size);
        if (record->snapshot_data)
        {
            memcpy(record->snapshot_data, data, size);
            record->flags = _snapshot_valid_flag;
            record->width = width;
            record->height = height;
            record->encoding = encoding;
        }
    }
    set_dialog_item_dirty(dialog, item_id);
}

void set_snapshot_item_tag_header(dialog_data *dialog, int16_t item_id, int32_t tag_index)
{
    snapshot_data *record = snapshot_record(dialog, item_id);
    if (!record) return;
    forget_pixels(record);
    const auto reader = get_film_dialog_procedures()->read_save_game_snapshot;
    if (tag_index != NONE && reader)
    {
        uint8_t *pixels = nullptr;
        int16_t width = 0, height = 0, encoding = 0;
        if (reader(tag_index, &pixels, &width, &height, &encoding))
        {
            if (pixels && size_is_sound(width, height))
            {
                record->snapshot_data = pixels;
                record->flags = _snapshot_valid_flag;
                record->width = width;
                record->height = height;
                record->encoding = encoding;
                pixels = nullptr;
            }
            free(pixels);
        }
    }
    set_dialog_item_dirty(dialog, item_id);
}

// Mirroring of sequence views and recolouring by hue.  See shape_file.h.

#include "vesk/shape_file.h"

#include <cstring>

#include "cseries/log.h"

int32_t number_of_displayed_views_in_sequence(int32_t number_of_views)
{
    return number_of_views < 3 ? number_of_views : number_of_views / 2 + 1;
}

int32_t mirror_sequence_view(int32_t number_of_views, int32_t view)
{
    const int32_t displayed = number_of_displayed_views_in_sequence(number_of_views);
    if (view >= 0 && view < displayed) return view;
    if (!VWARN(view >= displayed && view < number_of_views, "view>=unmirrored_view_count && view<number_of_views"))
        return NONE;
    return (number_of_views & 1) + 2 * displayed - view - 2;
}

void colorize_color_table(const color_table *source, color_table *destination, const hue_change *hue_changes,
                          int32_t count, const rgb_color *replacement_colors)
{
    if (destination != source) memcpy(destination, source, sizeof(color_table));
    const int32_t colors = source->color_count < 256 ? (source->color_count > 0 ? source->color_count : 0) : 256;
    for (int32_t i = 0; i < count; ++i)
    {
        const rgb_color &replacement = replacement_colors[i];
        if (replacement.flags & _color_unused_flag) continue;
        hsv_color target;
        rgb_color_to_hsv_color(&replacement, &target);
        const hue_change &change = hue_changes[i];
        for (int32_t j = 0; j < colors; ++j)
        {
            if (!(change.colors_effected[j >> 3] & (1 << (j & 7)))) continue;
            hsv_color color;
            rgb_color_to_hsv_color(&destination->colors[j], &color);
            const int32_t offset = (replacement.flags & _color_reversed_flag) ? change.median_hue - color.hue
                                                                              : color.hue - change.median_hue;
            color.hue = (uint16_t)(target.hue + offset);
            color.saturation = (uint16_t)(((uint32_t)color.saturation * target.saturation) >> 16);
            color.value = (uint16_t)(((uint32_t)color.value * target.value) >> 16);
            hsv_color_to_rgb_color(&color, &destination->colors[j]);
        }
    }
}

void update_colors_effected_by_hue_change(const color_table *table, hue_change *change)
{
    memset(change->colors_effected, 0, sizeof(change->colors_effected));
    const int32_t colors = table->color_count < 256 ? (table->color_count > 0 ? table->color_count : 0) : 256;
    for (int32_t i = 0; i < colors; ++i)
    {
        hsv_color color;
        rgb_color_to_hsv_color(&table->colors[i], &color);
        if (color.saturation <= change->minimum_saturation) continue;
        const bool in_range = change->hue0 <= change->hue1 ? color.hue >= change->hue0 && color.hue < change->hue1
                                                          : color.hue >= change->hue0 || color.hue < change->hue1;
        if (in_range) change->colors_effected[i >> 3] |= (uint8_t)(1 << (i & 7));
    }
}

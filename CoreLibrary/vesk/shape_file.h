#pragma once
// What collections and their tools share about sprites: the view-mirroring
// rule of sequences and recolouring a colour table by hue changes (a unit
// drawn in its player's colours).
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "bitmaps.h"

enum
{
    HUE_CHANGE_SIZE = 128,
};

enum hue_change_flags
{
    _hue_change_primary_flag = 1,
    _hue_change_secondary_flag = 2,
};

// 128 bytes stored in collections ("hue change"): which colours of the
// collection's table follow a player colour.
struct hue_change
{
    char name[64];
    uint16_t hue0, hue1; // the hue range [hue0, hue1), wrapping when hue0 > hue1
    uint8_t colors_effected[32]; // bit i = colour i
    uint16_t minimum_saturation;
    uint16_t median_hue;
    uint16_t flags; // hue_change_flags
    uint16_t unused[3];
    uint8_t extractor_data[16];
};
static_assert(sizeof(hue_change) == HUE_CHANGE_SIZE);
static_assert(offsetof(hue_change, hue0) == 64);
static_assert(offsetof(hue_change, colors_effected) == 68);
static_assert(offsetof(hue_change, minimum_saturation) == 100);
static_assert(offsetof(hue_change, extractor_data) == 112);

// A sequence of n views stores n < 3 ? n : n / 2 + 1 of them; with mirroring,
// view v at or past that count shows view (n & 1) + 2 * displayed - v - 2
// mirrored (the view itself for views below the count; NONE, logged, out of
// range).
int32_t number_of_displayed_views_in_sequence(int32_t number_of_views);
int32_t mirror_sequence_view(int32_t number_of_views, int32_t view);

// Copies `source` into `destination` and recolours it: for each of the first
// `count` hue changes whose replacement colour lacks _color_unused_flag, every
// colour it marks takes the replacement's hue shifted by the colour's offset
// from the median hue (mirrored with _color_reversed_flag), and its saturation
// and value scaled by the replacement's.  `replacement_colors` holds at least
// `count` colours.
void colorize_color_table(const color_table *source, color_table *destination, const hue_change *hue_changes,
                          int32_t count, const rgb_color *replacement_colors);

// Marks the colours of `table` whose saturation is above the hue change's
// minimum and whose hue lies in its range.
void update_colors_effected_by_hue_change(const color_table *table, hue_change *change);

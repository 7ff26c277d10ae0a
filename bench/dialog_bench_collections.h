#pragma once
// The dialog benchmarks' collections, made by the tools' collection builder.

#include <cstdint>

#include "collection_builder.h"

// A collection of `sequences` sequences of one view: nine 32 x 32 tiles for
// `tiled_sequence` (a dialog background), one small bitmap for the others.
inline builder_collection bench_collection(int32_t sequences, int32_t tiled_sequence)
{
    builder_collection c;
    c.colors.color_count = 16;
    for (int32_t i = 1; i < 16; ++i)
        c.colors.colors[i] = {(uint16_t)(i * 4000), (uint16_t)(60000 - i * 3000), (uint16_t)(i * 2000), 0};
    c.shadow_maps.push_back(shadow_map_data{});
    for (int32_t s = 0; s < sequences; ++s)
    {
        builder_sequence sequence = new_builder_sequence("element");
        sequence.data.number_of_views = 1;
        sequence.data.pixels_to_world = 0x10000;
        const int32_t frames = s == tiled_sequence ? 9 : 1;
        for (int32_t f = 0; f < frames; ++f)
        {
            const int16_t size = s == tiled_sequence ? 32 : 4;
            builder_bitmap tile = new_builder_bitmap("tile", size, size, _builder_flat_8bit, (uint16_t)(1 + f));
            builder_fill_rectangle(&tile, 0, 0, size, 1, 15);
            c.bitmaps.push_back(tile);
            c.instances.push_back(builder_instance((int16_t)(c.bitmaps.size() - 1), 0, 0, 0, 0));
            sequence.frames.push_back({(int16_t)(c.instances.size() - 1)});
            sequence.frame_shadow_maps.push_back(0);
        }
        if (complete_builder_sequence(&sequence, &c)) return {};
        c.sequences.push_back(sequence);
    }
    return c;
}

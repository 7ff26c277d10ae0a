#pragma once
// The dialog benchmarks' collections, made by the tools' collection builder,
// and the scratch tag store they are written to.

#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "bench_directories.h"
#include "bench_screen.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "collection_builder.h"
#include "cseries/registration.h"
#include "gameplay_versions.h"
#include "screen.h"
#include "shading_tables.h"
#include "shapes.h"
#include "tag_files/tag_files.h"

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

// An empty tag store in a scratch directory (the program works in it), with
// the shapes up at gameplay version 1811 and the benchmark screen: `opened`
// false when a step failed.  Its owner writes its tags, then starts the map's
// shapes; when this ends, dialogs, shapes, definitions, the store and every
// registration go, and the screen is the initial one again.
struct bench_dialog_store
{
    bench_scratch_directory scratch;
    bool opened = false;

    // `initialize_more`, when given, starts another module after the shapes.
    explicit bench_dialog_store(const char *label, bool (*initialize_more)(void) = nullptr) : scratch(label)
    {
        if (!scratch.ready()) return;
        mkdir(TAG_FILES_FOLDER, 0755);
        mkdir(PLUGINS_FOLDER, 0755);
        clear_all_registrations();
        register_shapes_hooks();
        if (!initialize_shapes() || (initialize_more && !initialize_more())) return;
        current_gameplay_version = 1811;
        reset_shading_table_permutation_data();
        use_bench_screen();
        initialize_tag_files();
        tag_files_open(0, nullptr, 0, -1, 0);
        opened = true;
    }
    ~bench_dialog_store(void)
    {
        close_all_dialogs();
        dispose_shapes_from_old_map();
        dispose_definitions();
        dispose_tag_files();
        clear_all_registrations();
        active_screen = initial_active_screen();
    }
    bench_dialog_store(const bench_dialog_store &) = delete;
    bench_dialog_store &operator=(const bench_dialog_store &) = delete;

    void write(tag group, const char *name, int16_t version, const std::vector<uint8_t> &data)
    {
        int32_t index = tag_file_new(group, name, version);
        if (index != NONE) tag_file_write(&index, 0, (int32_t)data.size(), data.data());
    }
};

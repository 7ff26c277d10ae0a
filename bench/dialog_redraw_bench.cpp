// Dialog redraw as every frame runs it: a 640 x 480 dialog of 30 items on a
// tiled, bevelled background (a dialog elements collection 'baie' made by the
// collection builder, its background tiles 32 x 32) drawn into a 32-bit back
// buffer, once with everything dirty and once with nothing dirty.  The items
// are of a bench control type whose draw verb fills its bounds, as a simple
// control draws.  Targets on one core: 1 ms all dirty, 20 us clean.

#include <benchmark/benchmark.h>

#include "bench_directories.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_screen.h"
#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_drawing.h"
#include "collection_builder.h"
#include "dialog_bench_collections.h"
#include "cseries/registration.h"
#include "dialog_tag_writer.h"
#include "gameplay_versions.h"
#include "screen.h"
#include "shading_tables.h"
#include "shapes.h"
#include "tag_files/tag_files.h"

namespace {

const file_tag BENCH_CONTROL_TAG = FOUR_CHARACTER_CODE('b', 'n', 'c', 'h');
const file_tag BENCH_DIALOG_TAG = FOUR_CHARACTER_CODE('b', 'e', 'n', 'c');

intptr_t bench_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter)
{
    if (verb != _control_draw_verb) return 0;
    const param_control_draw_verb *draw = (const param_control_draw_verb *)parameter;
    rectangle2d bounds;
    get_dialog_item_bounds(dialog, item_id, &bounds);
    const rgb_color color = {(uint16_t)(item_id * 2000), 0x8000, 0x4000, 0};
    fill_rectangle_clipped(draw->dialog_bitmap, &color, &bounds, nullptr, 0, nullptr);
    return 0;
}

// The store in a scratch directory holding 'baie' and the dialog.
struct dialog_store
{
    bench_dialog_store store{"dialog_bench"};
    dialog_data *dialog = nullptr;

    dialog_store(void)
    {
        if (!store.opened) return;
        store.write(COLLECTION_GROUP_TAG, "baie", COLLECTION_VERSION_NUMBER,
              build_collection_tag_data(
                  bench_collection(NUMBER_OF_DIALOG_ELEMENT_SEQUENCES, _dialog_elements_dialog_background_sequence)));
        dialog_description d;
        d.bounds = {0, 0, 480, 640};
        for (int16_t i = 0; i < 30; ++i)
        {
            dialog_item_description item;
            item.type = BENCH_CONTROL_TAG;
            item.item_id = (int16_t)(i + 1);
            const int16_t column = (int16_t)(i % 3), row = (int16_t)(i / 3);
            item.bounds = {(int16_t)(20 + row * 44), (int16_t)(20 + column * 205), (int16_t)(20 + row * 44 + 24),
                           (int16_t)(20 + column * 205 + 180)};
            d.items.push_back(item);
        }
        store.write(DIALOG_GROUP_TAG, "benc", CURRENT_DIALOG_VERSION, build_dialog_tag_data(d));
        initialize_shapes_for_new_map();
        register_control_procedure(BENCH_CONTROL_TAG, bench_control_def_proc);
        if (get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG) == NONE) return;
        dialog = new_dialog(BENCH_DIALOG_TAG, nullptr, nullptr, NONE, 0);
    }
};

void render_dialog_of_30_items(benchmark::State &state, bool everything_dirty)
{
    dialog_store store;
    if (!store.dialog || store.dialog->background_collection_index == NONE)
    {
        state.SkipWithError("the dialog or its background did not load");
        return;
    }
    bitmap_data *screen = new_bitmap(640, 480, 0, _32bit_encoding, 0);
    memset(screen->row_addresses[0], 0, (size_t)screen->bytes_per_row * screen->height);
    render_dialogs(screen);
    for (auto _ : state)
    {
        if (everything_dirty) set_dialog_dirty(store.dialog);
        render_dialogs(screen);
        benchmark::ClobberMemory();
    }
    free(screen);
}

void render_dialogs_everything_dirty(benchmark::State &state) { render_dialog_of_30_items(state, true); }
void render_dialogs_nothing_dirty(benchmark::State &state) { render_dialog_of_30_items(state, false); }

} // namespace

BENCHMARK(render_dialogs_everything_dirty)->Unit(benchmark::kMicrosecond);
BENCHMARK(render_dialogs_nothing_dirty)->Unit(benchmark::kMicrosecond);

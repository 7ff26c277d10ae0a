// Lists as the front end fills and draws them: the rows of a string list
// (an identifier and a 256-byte text each, ordered and drawn by the string
// list's own procedures) in the list engine.  Adding 10,000 rows to a sorted
// list, in shuffled order (as tags and files are found) and already in order;
// and drawing one page (25 rows and the scroll bar) of a 10,000-row list
// scrolled to its middle into a 32-bit back buffer, with the fixed-advance
// test font and a dialog elements collection whose scroll bar has the
// proportional thumb.  Targets on one core: 10,000 sorted rows in 5 ms, one
// page in 0.5 ms.

#include <benchmark/benchmark.h>

#include "bench_directories.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_screen.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/private_lists.h"
#include "bitmap_dialogs/string_list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "collection_builder.h"
#include "cseries/registration.h"
#include "dialog_bench_collections.h"
#include "font_builder.h"
#include "gameplay_versions.h"
#include "screen.h"
#include "shading_tables.h"
#include "shapes.h"
#include "tag_files/tag_files.h"

namespace {

enum
{
    ROW_COUNT = 10000,
    LINE_HEIGHT = 12,
};
const rectangle2d list_bounds = {40, 40, 344, 340}; // a 300-pixel view: 25 rows
const file_tag BENCH_FONT_TAG = FOUR_CHARACTER_CODE('s', 'o', 'l', 'd');

// 'baie' with its 22 sequences of one small bitmap each, except the scroll
// bar's: 3 views x 7 frames (arrows, thumb, caps, grip, filler), 16 wide.
builder_collection bench_dialog_elements(void)
{
    builder_collection c;
    c.colors.color_count = 16;
    for (int32_t i = 1; i < 16; ++i)
        c.colors.colors[i] = {(uint16_t)(i * 4000), (uint16_t)(60000 - i * 3000), (uint16_t)(i * 2000), 0};
    c.shadow_maps.push_back(shadow_map_data{});
    for (int32_t s = 0; s < NUMBER_OF_DIALOG_ELEMENT_SEQUENCES; ++s)
    {
        builder_sequence sequence = new_builder_sequence("element");
        const int16_t views = s == _dialog_elements_scrollbar_sequence ? 3 : 1;
        const int32_t frames = s == _dialog_elements_scrollbar_sequence ? 7 : 1;
        sequence.data.number_of_views = views;
        sequence.data.pixels_to_world = 0x10000;
        for (int32_t f = 0; f < frames; ++f)
        {
            std::vector<int16_t> instances;
            for (int16_t v = 0; v < views; ++v)
            {
                const int16_t height = f < 3 ? 14 : f == 5 ? 6 : 3;
                builder_bitmap b = new_builder_bitmap("part", 16, height, _builder_flat_8bit, (uint16_t)(1 + f + v));
                builder_fill_rectangle(&b, 0, 0, 16, 1, 15);
                c.bitmaps.push_back(b);
                c.instances.push_back(builder_instance((int16_t)(c.bitmaps.size() - 1), 0, 0, 0, 0));
                instances.push_back((int16_t)(c.instances.size() - 1));
            }
            sequence.frames.push_back(instances);
            sequence.frame_shadow_maps.push_back(0);
        }
        if (complete_builder_sequence(&sequence, &c)) return {};
        c.sequences.push_back(sequence);
    }
    return c;
}

// The store in a scratch directory holding the font and 'baie'.
struct list_store
{
    bench_dialog_store store{"lists_bench", initialize_font_definitions};
    int32_t font = NONE;
    bool ready = false;

    list_store(void)
    {
        if (!store.opened) return;
        store.write(FONT_DEFINITION_GROUP_TAG, "sold", FONT_DEFINITION_VERSION_NUMBER,
              build_font_tag_data(make_test_font()));
        store.write(COLLECTION_GROUP_TAG, "baie", COLLECTION_VERSION_NUMBER,
              build_collection_tag_data(bench_dialog_elements()));
        initialize_shapes_for_new_map();
        initialize_font_definitions_for_new_map();
        font = font_tag_to_font_index(BENCH_FONT_TAG);
        ready = font != NONE && get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG) != NONE;
    }
    ~list_store(void) { dispose_font_definitions_from_old_map(); }
};

// 10,000 string-list rows named like maps, in shuffled or sorted order.
std::vector<string_list_data> bench_rows(bool shuffled)
{
    std::vector<string_list_data> rows(ROW_COUNT);
    for (int32_t i = 0; i < ROW_COUNT; ++i)
    {
        memset(&rows[(size_t)i], 0, sizeof(string_list_data));
        rows[(size_t)i].identifier = i;
        snprintf(rows[(size_t)i].string, sizeof(rows[(size_t)i].string), "Map %05d of the valley", i);
    }
    if (shuffled) std::shuffle(rows.begin(), rows.end(), std::mt19937(7));
    return rows;
}

private_list_data *new_bench_list(int32_t font)
{
    private_list_data *list = new_private_list(&list_bounds, 0);
    if (!list) return nullptr;
    set_private_list_font_id(list, (int16_t)font);
    set_list_line_height(list, LINE_HEIGHT);
    set_list_sort_proc(list, string_list_sort_proc);
    set_list_sort_key_proc(list, string_list_sort_key_proc);
    set_list_draw_proc(list, string_list_draw_proc);
    return list;
}

void add_sorted_rows(benchmark::State &state, bool shuffled)
{
    list_store store;
    if (!store.ready)
    {
        state.SkipWithError("the bench data did not load");
        return;
    }
    const std::vector<string_list_data> rows = bench_rows(shuffled);
    for (auto _ : state)
    {
        private_list_data *list = new_bench_list(store.font);
        for (const string_list_data &row : rows)
            add_data_to_private_list(&row, (int16_t)sizeof(row), list, LINE_HEIGHT, true);
        if (get_row_count_private_list(list) != ROW_COUNT) state.SkipWithError("rows were refused");
        dispose_private_list(list);
    }
    state.SetItemsProcessed(state.iterations() * ROW_COUNT);
}

void add_10000_sorted_rows_shuffled(benchmark::State &state) { add_sorted_rows(state, true); }
void add_10000_sorted_rows_in_order(benchmark::State &state) { add_sorted_rows(state, false); }

void draw_one_page_of_10000_rows(benchmark::State &state)
{
    list_store store;
    if (!store.ready)
    {
        state.SkipWithError("the bench data did not load");
        return;
    }
    private_list_data *list = new_bench_list(store.font);
    for (const string_list_data &row : bench_rows(false))
        add_data_to_private_list(&row, (int16_t)sizeof(row), list, LINE_HEIGHT, true);
    set_select_private_list(true, ROW_COUNT / 2, list);
    make_row_visible_private_list(ROW_COUNT / 2, list, true);
    bitmap_data *screen = new_bitmap(640, 480, 0, _32bit_encoding, 0);
    memset(screen->row_addresses[0], 0x40, (size_t)screen->bytes_per_row * screen->height);
    for (auto _ : state)
    {
        draw_private_list(screen, list, true);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    free(screen);
    dispose_private_list(list);
}

} // namespace

BENCHMARK(add_10000_sorted_rows_shuffled)->Unit(benchmark::kMillisecond);
BENCHMARK(add_10000_sorted_rows_in_order)->Unit(benchmark::kMillisecond);
BENCHMARK(draw_one_page_of_10000_rows)->Unit(benchmark::kMicrosecond);

// Text as every frame draws it: one line of 60 characters into a 32-bit back
// buffer, with fonts loaded through the tag store from a scratch directory.
// Two fonts: the fixed-advance test font, whose glyphs are solid ink (stored
// without blending), and the same font with graded coverage, where every ink
// pixel blends through the transparency table as anti-aliased glyphs do.

#include <benchmark/benchmark.h>

#include "bench_directories.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/registration.h"
#include "font_builder.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

namespace {

const char line_of_60[] = "The quick brown fox jumps over the lazy dog, 0123456789 ABCD";
static_assert(sizeof(line_of_60) == 61);

// The store in a scratch directory, holding the two fonts and 'in#1'.
struct text_store
{
    bench_scratch_directory scratch{"text_bench"};
    int32_t solid = NONE, graded = NONE;

    text_store(void)
    {
        if (!scratch.ready()) return;
        mkdir(TAG_FILES_FOLDER, 0755);
        mkdir(PLUGINS_FOLDER, 0755);
        clear_all_registrations();
        if (!initialize_shapes() || !initialize_font_definitions()) return;
        initialize_tag_files();
        tag_files_open(0, nullptr, 0, -1, 0);
        builder_font graded_font = make_test_font();
        for (builder_glyph &g : graded_font.glyphs)
            for (size_t i = 0; i < g.pixels.size(); ++i) g.pixels[i] = (uint8_t)(i * 37 % 255);
        write("sold", build_font_tag_data(make_test_font()));
        write("grad", build_font_tag_data(graded_font));
        const char *rows[] = {"0", "...", " ", " -", "", ".,!?)", "1"};
        std::vector<uint8_t> list(4096);
        const int32_t size = encode_string_list_data(rows, 7, list.data(), (int32_t)list.size());
        int32_t index = tag_file_new(STRING_LIST_GROUP_TAG, "in#1", STRING_LIST_VERSION);
        if (index != NONE) tag_file_write(&index, 0, size, list.data());
        initialize_shapes_for_new_map();
        initialize_font_definitions_for_new_map();
        solid = font_tag_to_font_index(FOUR_CHARACTER_CODE('s', 'o', 'l', 'd'));
        graded = font_tag_to_font_index(FOUR_CHARACTER_CODE('g', 'r', 'a', 'd'));
    }
    ~text_store(void)
    {
        dispose_font_definitions_from_old_map();
        dispose_string_lists();
        dispose_definitions();
        dispose_tag_files();
        clear_all_registrations();
    }
    void write(const char *name, const std::vector<uint8_t> &data)
    {
        int32_t index = tag_file_new(FONT_DEFINITION_GROUP_TAG, name, FONT_DEFINITION_VERSION_NUMBER);
        if (index != NONE) tag_file_write(&index, 0, (int32_t)data.size(), data.data());
    }
};

void draw_line_of_60(benchmark::State &state, bool graded, fixed_fraction transparency)
{
    text_store store;
    const int32_t font = graded ? store.graded : store.solid;
    if (font == NONE)
    {
        state.SkipWithError("the fonts did not load");
        return;
    }
    bitmap_data *screen = new_bitmap(640, 480, 0, _32bit_encoding, 0);
    memset(screen->row_addresses[0], 0x40, (size_t)screen->bytes_per_row * screen->height);
    const rectangle2d bounds = {100, 20, 120, 620};
    const rgb_color color = {0xE000, 0xC000, 0x4000, 0};
    timespec start, end;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    for (auto _ : state)
    {
        draw_string(screen, nullptr, &bounds, nullptr, font, NONE, &color, line_of_60, 0, transparency);
        benchmark::ClobberMemory();
    }
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    state.SetItemsProcessed(state.iterations() * 60);
    // A line of translucent text is allowed 10 microseconds: above 1 is over.
    if (transparency != 0 && state.iterations() > 0)
    {
        const double microseconds = ((double)(end.tv_sec - start.tv_sec) * 1.0e6 +
                                     (double)(end.tv_nsec - start.tv_nsec) / 1.0e3) / (double)state.iterations();
        state.counters["vs_10us_target"] = microseconds / 10.0;
    }
    free(screen);
}

void draw_string_60_characters_32bit_solid(benchmark::State &state) { draw_line_of_60(state, false, 0); }
void draw_string_60_characters_32bit_graded(benchmark::State &state) { draw_line_of_60(state, true, 0); }
void draw_string_60_characters_32bit_translucent(benchmark::State &state) { draw_line_of_60(state, false, 0x8000); }

} // namespace

BENCHMARK(draw_string_60_characters_32bit_solid);
BENCHMARK(draw_string_60_characters_32bit_graded);
BENCHMARK(draw_string_60_characters_32bit_translucent);

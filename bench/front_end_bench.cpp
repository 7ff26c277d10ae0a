// The front end's dialogs as the player meets them; target on one core
// (Release): each within one 16 ms frame.
// - Opening the new-game dialog over the demo data (the build's program
//   directory, made by scripts/build_demo_data.sh) and drawing its first frame
//   into a 32-bit back buffer.
// - Opening the preferences dialog (every panel set up) and the quit dialog
//   over the demo map, each drawing its first frame into a 32-bit back buffer.
// - Opening the carnage report over a game that just ended and drawing its
//   first frame into a 640 x 480 back buffer of the 32-bit encoding, the
//   report laid out as the demo data lays it out over a tiled background (a
//   dialog elements collection 'baie' and the report's background made by the
//   collection builder).

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
#include "bitmap_dialogs/carnage_graph_control.h"
#include "bitmap_dialogs/carnage_header_control.h"
#include "bitmap_dialogs/carnage_stats_list_control.h"
#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "collection_builder.h"
#include "dialog_bench_collections.h"
#include "cseries/registration.h"
#include "demo_map_bench.h"
#include "determinism_harness.h"
#include "dialog_tag_writer.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "interface_definitions.h"
#include "new_game_dialog.h"
#include "preferences_ui.h"
#include "quit_dialog.h"
#include "register_vesk_controls.h"
#include "screen.h"
#include "shading_tables.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk/game_statistics.h"

namespace {

// The report's dialog as data/interface/dialogs/pocr.txt has it.
dialog_description carnage_report_description(void)
{
    const file_tag butt = FOUR_CHARACTER_CODE('b', 'u', 't', 't');
    dialog_description d;
    d.bounds = {0, 0, 400, 620};
    d.items = {
        {CARNAGE_HEADER_CONTROL_TAG, 4, {44, 20, 66, 600}, 0, 0, {0, 0}, ""},
        {CARNAGE_STATS_LIST_CONTROL_TAG, 2, {66, 20, 330, 600}, 0, 0, {0, 0}, ""},
        {CARNAGE_GRAPH_CONTROL_TAG, 3, {66, 20, 330, 600}, 0, 0, {0, 0}, ""},
    };
    for (int16_t button = 5; button <= 11; ++button)
        d.items.push_back({butt, button, {342, (int16_t)(20 + (button - 5) * 76), 364, (int16_t)(90 + (button - 5) * 76)},
                           0, 0, {0, 0}, "view"});
    d.items.push_back({butt, 1, {370, 520, 392, 600}, 0, 0, {0, 0}, "Done"});
    return d;
}

// The store in a scratch directory holding 'baie', 'infs' and 'pocr'.
struct front_end_store
{
    bench_dialog_store store{"front_end_bench"};
    bool ready = false;

    front_end_store(void)
    {
        if (!store.opened) return;
        store.write(COLLECTION_GROUP_TAG, "baie", COLLECTION_VERSION_NUMBER,
              build_collection_tag_data(
                  bench_collection(NUMBER_OF_DIALOG_ELEMENT_SEQUENCES, _dialog_elements_dialog_background_sequence)));
        store.write(COLLECTION_GROUP_TAG, "infs", COLLECTION_VERSION_NUMBER, build_collection_tag_data(bench_collection(1, 0)));
        store.write(DIALOG_GROUP_TAG, "pocr", CURRENT_DIALOG_VERSION, build_dialog_tag_data(carnage_report_description()));
        initialize_shapes_for_new_map();
        register_vesk_controls();
        register_vesk_control_procedure(CARNAGE_STATS_LIST_CONTROL_TAG, carnage_stats_list_control_handler);
        register_vesk_control_procedure(CARNAGE_GRAPH_CONTROL_TAG, carnage_graph_control_handler);
        register_vesk_control_procedure(CARNAGE_HEADER_CONTROL_TAG, carnage_header_control_handler);
        game_->type = _game_type_local;
        ready = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG) != NONE;
    }
};

void open_carnage_report_and_draw_its_first_frame(benchmark::State &state)
{
    front_end_store store;
    if (!store.ready)
    {
        state.SkipWithError("the dialog elements did not load");
        return;
    }
    bitmap_data *screen = new_bitmap(640, 480, 0, _32bit_encoding, 0);
    memset(screen->row_addresses[0], 0, (size_t)screen->bytes_per_row * screen->height);
    for (auto _ : state)
    {
        if (!open_postgame_carnage_report_dialog(nullptr))
        {
            state.SkipWithError("the carnage report did not open");
            break;
        }
        render_dialogs(screen);
        benchmark::ClobberMemory();
        state.PauseTiming();
        close_postgame_carnage_report_dialog();
        state.ResumeTiming();
    }
    free(screen);
}

} // namespace

BENCHMARK(open_carnage_report_and_draw_its_first_frame)->Unit(benchmark::kMicrosecond);

namespace {

constexpr double NEW_GAME_FRAME_TARGET_MILLISECONDS = 16.0;

void BM_open_new_game_dialog_and_draw_its_first_frame(benchmark::State &state)
{
    // The game brought up headless on the demo data, between maps, with the
    // menu's interface loaded.
    if (!start_menu_interface_or_skip(state)) return;
    const active_color_environment saved_screen = use_bench_screen();
    bitmap_data *frame = new_bitmap(640, 480, -1, _32bit_encoding, 0);
    for (auto _ : state)
    {
        ngd_data ngd;
        new_game_parameter_data working;
        if (!open_new_game_dialog(&ngd, &working) || !frame)
        {
            state.SkipWithError("the new-game dialog '!new' cannot be opened");
            break;
        }
        draw_dialog_into_bitmap(frame, ngd.dialog);
        ngd_dispose(&ngd);
    }
    if (frame) dispose_bitmap(frame);
    active_screen = saved_screen;
    dispose_interface_from_old_map();
    state.counters["target_ms"] = NEW_GAME_FRAME_TARGET_MILLISECONDS;
}
BENCHMARK(BM_open_new_game_dialog_and_draw_its_first_frame)->Unit(benchmark::kMillisecond);

// The demo map's interface over a 640 x 480 software screen of the 32-bit
// encoding, for one dialog's first frame: `open` makes the dialog (null when
// it cannot), `close` disposes of it.
void open_dialog_and_draw_its_first_frame(benchmark::State &state, const char *name, dialog_data *(*open)(void),
                                          void (*close)(dialog_data *))
{
    if (!start_demo_map_or_skip(state, 1)) return;
    const active_color_environment saved_screen = use_bench_screen();
    game_->type = _game_type_local;
    bitmap_data *frame = new_bitmap(640, 480, -1, _32bit_encoding, 0);
    for (auto _ : state)
    {
        dialog_data *dialog = frame ? open() : nullptr;
        if (!dialog)
        {
            state.SkipWithError(name);
            break;
        }
        draw_dialog_into_bitmap(frame, dialog);
        benchmark::ClobberMemory();
        close(dialog);
    }
    if (frame) dispose_bitmap(frame);
    active_screen = saved_screen;
    stop_simulation();
    state.counters["target_ms"] = NEW_GAME_FRAME_TARGET_MILLISECONDS;
}

dialog_data *open_quit(void) { return open_quit_dialog() ? get_quit_dialog() : nullptr; }
void close_quit(dialog_data *) { close_quit_dialog(); }
void dispose_preferences(dialog_data *dialog) { dispose_dialog(dialog); }

void BM_open_preferences_dialog_and_draw_its_first_frame(benchmark::State &state)
{
    open_dialog_and_draw_its_first_frame(state, "the preferences dialog '!prf' cannot be opened",
                                         open_preferences_dialog, dispose_preferences);
}
BENCHMARK(BM_open_preferences_dialog_and_draw_its_first_frame)->Unit(benchmark::kMillisecond);

void BM_open_quit_dialog_and_draw_its_first_frame(benchmark::State &state)
{
    open_dialog_and_draw_its_first_frame(state, "the quit dialog 'qudi' cannot be opened", open_quit, close_quit);
}
BENCHMARK(BM_open_quit_dialog_and_draw_its_first_frame)->Unit(benchmark::kMillisecond);

} // namespace

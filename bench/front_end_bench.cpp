// The front-end dialogs as the player meets them, over the demo data (the
// build's program directory, made by scripts/build_demo_data.sh): opening
// the new-game dialog (its map sets, maps, plug-ins and difficulty filled
// from the store) and drawing its first frame into a 32-bit back buffer.
// Target on one core: within one 16 ms frame.

#include <benchmark/benchmark.h>

#include <cstdio>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmaps.h"
#include "demo_map_bench.h"
#include "determinism_harness.h"
#include "game_preferences.h"
#include "interface_definitions.h"
#include "new_game_dialog.h"
#include "screen.h"

namespace {

constexpr double FRAME_TARGET_MILLISECONDS = 16.0;

void BM_open_new_game_dialog_and_draw_its_first_frame(benchmark::State &state)
{
    // The game brought up headless on the demo data, between maps, with the
    // menu's interface loaded.
    if (!start_demo_map_or_skip(state, 1)) return;
    stop_simulation();
    if (!initialize_interface_without_map())
    {
        state.SkipWithError("the interface cannot be loaded without a map");
        return;
    }
    const active_color_environment saved_screen = active_screen;
    active_screen.screen_initialized = true;
    active_screen.rasterizer_code = _rasterizer_software;
    active_screen.bit_depth = 32;
    active_screen.encoding = _32bit_encoding;
    active_screen.width = 640;
    active_screen.height = 480;
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
    state.counters["target_ms"] = FRAME_TARGET_MILLISECONDS;
}
BENCHMARK(BM_open_new_game_dialog_and_draw_its_first_frame)->Unit(benchmark::kMillisecond);

} // namespace

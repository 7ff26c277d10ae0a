// Chat and message lines into the console, as other machines, the lobby and
// scripts send them: any bytes, any length, any owner, with or without
// escapes.  The first byte chooses the call (cputs or append_chat, replacing,
// a warning, time passing and a frame drawn), the second is the owner; the
// rest is the text.  The pool must stay within its 4096 bytes and the line
// count within its maximum, every line's text must match its recorded size,
// and nothing may be read or written outside a buffer.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmaps.h"
#include "console/console.h"
#include "console/console_popup.h"
#include "game_time.h"
#include "render/render_surfaces.h"
#include "shapes.h"

static bitmap_data *screen = nullptr;
static view_data view;

static void check_console(void)
{
    const console_globals_data *g = get_console_globals();
    if (g->string_pool_size < 0 || g->string_pool_size > MAXIMUM_CONSOLE_STRING_POOL_SIZE) abort();
    if (g->line_count < 0 || g->line_count > g->maximum_line_count) abort();
    if (g->cached_line_count < 0 || g->cached_line_count > MAXIMUM_CACHED_CONSOLE_LINES) abort();
    int32_t pool = 0;
    for (int32_t i = 0; i < g->line_count; ++i)
    {
        const char *text = get_console_line_text(i);
        if ((int32_t)strnlen(text, CONSOLE_LINE_BUFFER_SIZE) + 1 != g->lines[i].size) abort();
        pool += g->lines[i].size;
    }
    if (pool != g->string_pool_size) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!screen)
    {
        initialize_shapes();
        initialize_console();
        initialize_console_for_new_map();
        screen = new_bitmap(160, 120, 0, _32bit_encoding, 0);
        memset(&view, 0, sizeof(view));
        view.screen = screen;
        view.screen_width = view.resolution_width = 160;
        view.screen_height = view.resolution_height = 120;
        view.hole = {0, 0, 120, 160};
    }
    if (size < 2 || size > 8192) return 0;
    const uint8_t control = data[0];
    const int32_t owner = (int8_t)data[1];
    std::vector<char> text(data + 2, data + size);
    text.push_back(0);

    if (control & 1) append_chat(owner, text.data(), control >> 5);
    else cputs((control & 2) != 0, owner, text.data(), control >> 5);
    if (control & 4) set_console_warning(text.data(), 30);
    if (control & 8) set_console_popup(text.data(), (control & 16) ? text.data() : nullptr, 15);
    if (control & 16)
    {
        game_->local_time += control;
        game_->game_time += control;
        rasterize_console(&view);
    }
    check_console();
    return 0;
}

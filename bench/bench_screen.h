#pragma once
// The screen the dialog benchmarks draw for.

#include "bitmaps.h"
#include "screen.h"

// A 640 x 480 software screen of the 32-bit encoding; the screen it replaced.
inline active_color_environment use_bench_screen(void)
{
    const active_color_environment saved = active_screen;
    active_screen.screen_initialized = true;
    active_screen.rasterizer_code = _rasterizer_software;
    active_screen.bit_depth = 32;
    active_screen.encoding = _32bit_encoding;
    active_screen.width = 640;
    active_screen.height = 480;
    return saved;
}

#pragma once
// The popup line: a short notice centred over the battlefield (a changed game
// speed, a toggled option, a preset selection), opaque for a given number of
// ticks and then fading out over 6.  Drawn by rasterize_console when no
// banner is shown.  Times are local game ticks.
//
// Main thread only.

#include <cstdint>

#include "point2d.h"

struct view_data;

enum
{
    CONSOLE_POPUP_TEXT_SIZE = 129,
    CONSOLE_POPUP_HEIGHT = 22,
    DEFAULT_POPUP_VISIBLE_TIME = 15,
    CONSOLE_POPUP_FADE_TICKS = 6,
    // The box's black at three quarters: at half, the units under it kept
    // their full contrast and the read-out looked drawn beneath them.
    CONSOLE_POPUP_BACKGROUND_TRANSPARENCY = 16384,
};

struct popup_globals_data
{
    bool initialized;
    int32_t ticks;            // local time the popup was set; -1: nothing shown
    int16_t visible_time;     // ticks before the fade begins
    rectangle2d bounds;       // where it was drawn last
    char left[CONSOLE_POPUP_TEXT_SIZE];
    char right[CONSOLE_POPUP_TEXT_SIZE];
    int32_t popup_width;      // pixels
};

const popup_globals_data *get_console_popup_globals(void);

void initialize_console_popup(void);
void initialize_console_popup_for_new_map(void);
void dispose_console_popup_from_old_map(void);

// Shows `left` and `right` (null: empty; each copied, at most 128
// characters) for `visible_time` ticks from now, then fades it out.
void set_console_popup(const char *left, const char *right, int16_t visible_time);

// The popup's text and background transparencies at local time `now`
// without drawing; false while nothing is shown.  Past its fade the popup
// ends (ticks -1) and this gives false.
bool get_console_popup_transparency(int32_t now, uint16_t *text_transparency, uint16_t *background_transparency);

void rasterize_console_popup(view_data *view);

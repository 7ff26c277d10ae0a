#pragma once
// The prologue page ('prol'): a story text that scrolls up through the item
// one pixel per update, fading in over the top and bottom 20 pixels and with
// an overall transparency the story dialogs animate.  The text is rendered
// once, wrapped to the item's width, into an 8-bit coverage bitmap (0 = full
// text, 255 = none); each draw blends it in the text colour straight into
// the dialog bitmap (555, 565 or 32-bit).
//
// Every pixel written lies inside both the item and the dialog bitmap, so an
// item wider or taller than its dialog draws only what the dialog holds.  The
// glyphs' solid cores fade with the edges and the transparency like the rest
// of the text; only at full alpha is the colour written exactly.
// Once done the position stops moving.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define PROLOGUE_CONTROL_TAG FOUR_CHARACTER_CODE('p', 'r', 'o', 'l')

enum
{
    PROLOGUE_CONTROL_COOKIE = (int32_t)0xC0DEFACE,
    SCROLL_DONE_BUFFER = 60,
    TEXT_TRANSPARENT_HEIGHT = 20,
    PROLOGUE_OFFSCREEN_HEIGHT = 1536, // the tallest text rendered; the rest is cut
};

enum
{
    _draw_prologue_16bit_555 = 1,
    _draw_prologue_16bit_565 = 2,
    _draw_prologue_32bit = 3,
};

// The item's extra data.
struct prologue_control_extra_data
{
    int32_t cookie; // PROLOGUE_CONTROL_COOKIE
    const char *text; // the caller's; must outlive the item
    int32_t text_font_index;
    rgb_color text_color;
    int32_t local_time_at_last_update; // -1
    int16_t delay; // stored only
    int16_t text_vertical_position; // the coverage row at the item's top; negative: still below
    int16_t maximum_vertical_position;
    short_fixed transparency; // 255 at creation (256 would be the exact path)
    bool done;
    bitmap_data *text_bitmap; // 8-bit coverage, owned
};

intptr_t prologue_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Renders the text once (a second call is refused, logged).
void set_prologue_control_data(dialog_data *dialog, int16_t item_id, int16_t initial_delay, const rgb_color *text_color,
                               int32_t text_font_index, const char *text);
// Sets done once the text's end has passed the top by SCROLL_DONE_BUFFER;
// until then moves the text up one pixel and redraws.
void update_prologue_control(dialog_data *dialog, int16_t item_id);
// 0 = opaque.
void set_prologue_item_transparency(dialog_data *dialog, int16_t item_id, fixed_fraction transparency);
bool prologue_control_done(const dialog_data *dialog, int16_t item_id);

// The blend of one coverage value `m` (0 full text .. 255 none) at row alpha
// `alpha` (0..256) of the text colour `text` over the pixel `destination`,
// both in `encoding` (1 555, 2 565, 3 32-bit).  For the drawing and its tests.
uint32_t prologue_blend_pixel(int16_t encoding, uint32_t destination, uint32_t text, int32_t m, int32_t alpha);
// The text colour packed for `encoding`.
uint32_t prologue_pack_color(int16_t encoding, const rgb_color *color);
// The alpha of control row `y` of `height` rows at `transparency`.
int32_t prologue_row_alpha(int32_t y, int32_t height, short_fixed transparency);

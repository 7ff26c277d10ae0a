// The short notice line over the battlefield.
#include "console/console_popup.h"

#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "console/console.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "game_time.h"
#include "interface_definitions.h"
#include "render/render_surfaces.h"

enum
{
    POPUP_TEXT_COLOR = 56,
    POPUP_GAP_BETWEEN_TEXTS = 50, // in the width: room between the two texts
    POPUP_RIGHT_TEXT_OFFSET = 20, // where the right text's box begins after the left text
};

static popup_globals_data popup_globals;

const popup_globals_data *get_console_popup_globals(void) { return &popup_globals; }

void initialize_console_popup(void) {}

void initialize_console_popup_for_new_map(void)
{
    VASSERT(!popup_globals.initialized, "!popup_globals.initialized");
    memset(&popup_globals, 0, sizeof(popup_globals));
    popup_globals.initialized = true;
    popup_globals.ticks = -1;
    popup_globals.visible_time = DEFAULT_POPUP_VISIBLE_TIME;
}

void dispose_console_popup_from_old_map(void) { memset(&popup_globals, 0, sizeof(popup_globals)); }

void set_console_popup(const char *left, const char *right, int16_t visible_time)
{
    if (!popup_globals.initialized) return;
    popup_globals.visible_time = visible_time;
    popup_globals.ticks = game_->local_time.load();
    strlcpy(popup_globals.left, left ? left : "", sizeof(popup_globals.left));
    strlcpy(popup_globals.right, right ? right : "", sizeof(popup_globals.right));
    const int32_t font = get_interface_font_index(1);
    int32_t width = 0;
    if (popup_globals.left[0])
    {
        // One average glyph more than the text.
        const int32_t left_width = string_width(font, NONE, popup_globals.left);
        width += left_width + left_width / (int32_t)strlen(popup_globals.left);
    }
    if (popup_globals.right[0])
    {
        width += string_width(font, NONE, popup_globals.right);
        if (popup_globals.left[0]) width += POPUP_GAP_BETWEEN_TEXTS;
    }
    popup_globals.popup_width = width;
}

bool get_console_popup_transparency(int32_t now, uint16_t *text_transparency, uint16_t *background_transparency)
{
    if (!popup_globals.initialized || popup_globals.ticks < 0) return false;
    const int32_t age = now - popup_globals.ticks - popup_globals.visible_time;
    uint16_t text = 0, background = CONSOLE_POPUP_BACKGROUND_TRANSPARENCY;
    if (age > CONSOLE_POPUP_FADE_TICKS)
    {
        popup_globals.ticks = -1;
        return false;
    }
    if (age > 0)
    {
        text = (uint16_t)(age * 65536 / (CONSOLE_POPUP_FADE_TICKS + 1));
        background = (uint16_t)(CONSOLE_POPUP_BACKGROUND_TRANSPARENCY +
                                (int64_t)text * (65536 - CONSOLE_POPUP_BACKGROUND_TRANSPARENCY) / 65536);
    }
    if (text_transparency) *text_transparency = text;
    if (background_transparency) *background_transparency = background;
    return true;
}

void rasterize_console_popup(view_data *view)
{
    if (!VASSERT(popup_globals.initialized, "popup_globals.initialized")) return;
    if (!view || !view->screen) return;
    uint16_t text_transparency, background_transparency;
    if (!get_console_popup_transparency(game_->local_time.load(), &text_transparency, &background_transparency))
        return;

    rectangle2d box;
    box.left = (int16_t)((view->resolution_width - popup_globals.popup_width) / 2);
    box.right = (int16_t)(box.left + popup_globals.popup_width);
    rectangle2d dialogs;
    if (get_popup_dialog_union_rect(&dialogs))
    {
        // Between the status bar and the open dialogs.
        const int32_t status_bar = console_status_bar_height();
        box.top = (int16_t)(status_bar + (dialogs.top - CONSOLE_POPUP_HEIGHT - status_bar) / 2);
    }
    else
    {
        box.top = (int16_t)((view->resolution_height - CONSOLE_POPUP_HEIGHT) / 3);
    }
    box.bottom = (int16_t)(box.top + CONSOLE_POPUP_HEIGHT);
    offset_rectangle2d(&box, (int16_t)((view->screen_width - view->resolution_width) / 2),
                       (int16_t)((view->screen_height - view->resolution_height) / 2));
    popup_globals.bounds = box;

    static const rgb_color black = {0, 0, 0, 0};
    fill_rectangle_clipped(view->screen, &black, &box, nullptr, background_transparency, nullptr);
    rgb_color color;
    get_interface_color(POPUP_TEXT_COLOR, &color);
    const int32_t font = get_interface_font_index(1);
    if (popup_globals.right[0])
    {
        point2d end = {0, 0};
        draw_string(view->screen, &end, &box, nullptr, font, NONE, &color, popup_globals.left,
                    _draw_string_center_vertical_flag, text_transparency);
        rectangle2d right = box;
        right.left = (int16_t)(box.left + (popup_globals.left[0] ? end.x : 0) + POPUP_RIGHT_TEXT_OFFSET);
        draw_string(view->screen, nullptr, &right, nullptr, font, NONE, &color, popup_globals.right,
                    _draw_string_right_justified_flag | _draw_string_center_vertical_flag, text_transparency);
    }
    else
    {
        draw_string(view->screen, nullptr, &box, nullptr, font, NONE, &color, popup_globals.left,
                    _draw_string_center_horizontal_flag | _draw_string_center_vertical_flag, text_transparency);
    }
}

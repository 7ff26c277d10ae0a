// The console's menu line.
#include "console/console_menu.h"

#include <utility>
#include <cstdlib>
#include <cstring>

#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_time.h"
#include "interface_definitions.h"
#include "players.h"
#include "render/render_surfaces.h"
#include "selection.h"
#include "selection_interface.h"
#include "statistics.h"
#include "vesk/string_lists.h"

// The selection names these menus by number when it enters a mode.
static_assert((int)_console_menu_none == (int)_selection_console_menu_none);
static_assert((int)_console_menu_teammates == (int)_selection_console_menu_teammates);
static_assert((int)_console_menu_teams == (int)_selection_console_menu_teams);
static_assert((int)_console_menu_inventory == (int)_selection_console_menu_inventory);
static_assert((int)_console_menu_inventory_briefly == (int)_selection_console_menu_inventory_briefly);

enum
{
    MENU_ROW_RIGHT_MARGIN = 4,
    MENU_TEXT_INSET = 4,
    MENU_PERCENT_GAP = 6,
    // More rows than this could never be seen above the hole's bottom.
    MAXIMUM_MENU_INVENTORY_ROWS = 64,
};

static menu_globals_data *menu_globals = nullptr;

// Null in the program: set_console_menu_selection_procedures.
static const console_menu_selection_procedures *replaced_menu_selection = nullptr;

const console_menu_selection_procedures *set_console_menu_selection_procedures(
    const console_menu_selection_procedures *procedures)
{
    return std::exchange(replaced_menu_selection, procedures);
}

static bool menu_selection_inventory_entries(bool rebuild, int32_t *count, int32_t *selected)
{
    if (replaced_menu_selection && replaced_menu_selection->get_inventory)
        return replaced_menu_selection->get_inventory(rebuild, count, selected);
    return get_unique_selection_inventory(rebuild, count, selected);
}

static void format_inventory_row(int32_t entry, char *buffer, size_t size)
{
    if (replaced_menu_selection && replaced_menu_selection->format_inventory)
    {
        replaced_menu_selection->format_inventory(entry, buffer, size);
        return;
    }
    const bool checked = entry == get_selection_inventory()->selected_unique_index;
    format_inventory_string(buffer, size, entry, true, checked, true);
}

const menu_globals_data *get_console_menu_globals(void) { return menu_globals; }

void initialize_console_menu(void)
{
    if (!menu_globals) menu_globals = (menu_globals_data *)calloc(1, sizeof(menu_globals_data));
    if (!menu_globals)
    {
        log_message(nullptr, -1, "the console menu could not be allocated; it stays closed");
        return;
    }
    menu_globals->initialized = false;
}

void initialize_console_menu_for_new_map(void)
{
    if (!VASSERT(menu_globals && !menu_globals->initialized, "menu_globals && !menu_globals->initialized") &&
        !menu_globals)
        return;
    menu_globals->initialized = true;
    menu_globals->finite_duration = false;
    menu_globals->last_visible_tick = 0;
    menu_globals->menu_mode = _console_menu_none;
}

void dispose_console_menu_from_old_map(void)
{
    if (menu_globals) menu_globals->initialized = false;
}

// Closing: the menu is gone, a new toggle starts from nothing.
static void close_console_menu(uint32_t now)
{
    menu_globals->finite_duration = false;
    menu_globals->last_visible_tick = (int32_t)(now + CONSOLE_MENU_FADE_MILLISECONDS);
    menu_globals->menu_mode = _console_menu_none;
}

void set_console_menu_mode(int32_t new_mode)
{
    if (!VASSERT(menu_globals && menu_globals->initialized, "menu_globals && menu_globals->initialized")) return;
    const uint32_t now = machine_tick_count();
    if (new_mode == _console_menu_none)
    {
        if (!menu_globals->finite_duration && menu_globals->menu_mode != _console_menu_none)
        {
            // An open menu fades out over a quarter second first.
            menu_globals->finite_duration = true;
            menu_globals->last_visible_tick = (int32_t)(now + CONSOLE_MENU_FADE_MILLISECONDS);
        }
        else
        {
            close_console_menu(now);
        }
        return;
    }
    if (new_mode < 0 || new_mode >= NUMBER_OF_CONSOLE_MENU_MODES)
    {
        log_message(nullptr, -1, "console menu mode %d does not exist", (int)new_mode);
        return;
    }
    menu_globals->menu_mode = new_mode;
    menu_globals->finite_duration = new_mode == _console_menu_inventory_briefly;
    menu_globals->last_visible_tick = (int32_t)(now + CONSOLE_MENU_FADE_MILLISECONDS +
                                                (new_mode == _console_menu_inventory_briefly
                                                     ? CONSOLE_MENU_BRIEF_MILLISECONDS
                                                     : 0));
}

bool get_console_menu_transparency(uint32_t now, uint16_t *text_transparency, uint16_t *background_transparency)
{
    if (!menu_globals || !menu_globals->initialized) return false;
    // A difference of the millisecond clock, so it survives the clock's wrap.
    const int32_t remaining = (int32_t)((uint32_t)menu_globals->last_visible_tick - now);
    if (menu_globals->finite_duration && remaining < 1)
    {
        close_console_menu(now);
        return false;
    }
    if (menu_globals->menu_mode == _console_menu_none) return false;
    uint16_t text = 0, background = 32768;
    if (menu_globals->finite_duration && remaining < CONSOLE_MENU_FADE_MILLISECONDS)
    {
        text = (uint16_t)(65535 - remaining * 65536 / CONSOLE_MENU_FADE_MILLISECONDS);
        background = (uint16_t)((text + 65536) / 2);
    }
    if (text_transparency) *text_transparency = text;
    if (background_transparency) *background_transparency = background;
    return true;
}

// ---- drawing -------------------------------------------------------------------------------

static const rgb_color menu_white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
static const rgb_color menu_black = {0, 0, 0, 0};

struct menu_drawing
{
    view_data *view;
    int32_t font;
    uint16_t text_transparency, background_transparency;
};

// Row `index` of `row_count_above` rows stacked upward from the hole's bottom.
static rectangle2d menu_row(const menu_drawing *d, int32_t width, int32_t rows_to_bottom)
{
    rectangle2d row;
    row.right = (int16_t)(d->view->hole.right - MENU_ROW_RIGHT_MARGIN);
    row.left = (int16_t)(row.right - width);
    row.top = (int16_t)(d->view->hole.bottom - CONSOLE_MENU_ROW_SPACING * rows_to_bottom);
    row.bottom = (int16_t)(row.top + CONSOLE_MENU_ROW_HEIGHT);
    return row;
}

static void draw_menu_text(const menu_drawing *d, const rectangle2d *row, const char *text, uint32_t flags)
{
    rectangle2d bounds = *row;
    bounds.left = (int16_t)(bounds.left + MENU_TEXT_INSET);
    bounds.right = (int16_t)(bounds.right - MENU_TEXT_INSET);
    draw_string(d->view->screen, nullptr, &bounds, nullptr, d->font, NONE, &menu_white, text,
                flags | _draw_string_center_vertical_flag, d->text_transparency);
}

static const player_ranking_data *ranking_of_player(int32_t player_index)
{
    for (int32_t rank = 0; rank < get_player_count(); ++rank)
    {
        const player_ranking_data *ranking = get_player_ranking(rank);
        if (ranking && ranking->player_index == player_index) return ranking;
    }
    return nullptr;
}

static const team_ranking_data *ranking_of_team(int32_t team_index)
{
    for (int32_t place = 0; place < get_team_count(); ++place)
    {
        const team_ranking_data *ranking = get_team_ranking(place);
        if (ranking && ranking->team_index == team_index) return ranking;
    }
    return nullptr;
}

static void draw_teammates(const menu_drawing *d)
{
    const int32_t team = local_player_team_index;
    const team_data *local_team = team != NONE ? get_team_data(team) : nullptr;
    const int32_t stacked = local_team && local_team->number_of_players > 0 ? local_team->number_of_players - 1 : 0;
    const team_ranking_data *team_ranking = local_team ? ranking_of_team(team) : nullptr;
    const int32_t team_cost = team_ranking ? team_ranking->casualty_cost + team_ranking->extant_cost : 0;
    int32_t n = 0;
    for (int32_t p = 0; p < get_player_count() && local_team; ++p)
    {
        if (p == local_player_index) continue;
        const player_data *player = get_player_data(p);
        if (!player || player->team_index != team || (player->flags & (1u << _player_has_been_dropped_bit))) continue;
        const rectangle2d row = menu_row(d, CONSOLE_MENU_ROW_WIDTH, stacked - n + 1);
        fill_rectangle_clipped(d->view->screen, &player->appearance.primary_color, &row, nullptr,
                               d->background_transparency, nullptr);
        const player_ranking_data *ranking = ranking_of_player(p);
        const int32_t share = team_cost > 0 && ranking ? (int32_t)((int64_t)ranking->extant_cost * 100 / team_cost) : 0;
        char percent[16];
        slprintf(percent, sizeof(percent), "%d%%", (int)share);
        draw_menu_text(d, &row, percent, _draw_string_right_justified_flag);
        char text[CONSOLE_MENU_INVENTORY_STRING_SIZE];
        slprintf(text, sizeof(text), "%d. %s", (int)(n + 1), player->appearance.name);
        rectangle2d left = row;
        left.right = (int16_t)(left.right - string_width(d->font, NONE, percent) - MENU_PERCENT_GAP);
        draw_menu_text(d, &left, text, 0);
        ++n;
    }
}

static void draw_teams(const menu_drawing *d)
{
    const int32_t local_team = local_player_team_index;
    const int32_t stacked = get_team_count();
    int32_t n = 0;
    for (int32_t t = 0; t < get_team_count(); ++t)
    {
        if (t == local_team) continue;
        const team_data *team = get_team_data(t);
        if (!team || team->number_of_players <= 0 || (team->flags & _team_has_been_eliminated_flag)) continue;
        const player_data *captain =
            team->captain_player_index != NONE ? get_player_data(team->captain_player_index) : nullptr;
        if (!captain) continue;
        const rectangle2d row = menu_row(d, CONSOLE_MENU_ROW_WIDTH, stacked - n + 1);
        fill_rectangle_clipped(d->view->screen, &captain->appearance.primary_color, &row, nullptr,
                               d->background_transparency, nullptr);
        const bool allied = local_team != NONE && teams_are_allied(t, local_team);
        char text[CONSOLE_MENU_INVENTORY_STRING_SIZE];
        slprintf(text, sizeof(text), "%d. %s%s", (int)(n + 1), allied ? get_check_mark_string() : "",
                 team->number_of_players < 2 ? captain->appearance.name : captain->appearance.team_name);
        draw_menu_text(d, &row, text, 0);
        ++n;
    }
}

// False when there is no inventory to show (the menu then closes).
static bool draw_inventory(const menu_drawing *d, bool rebuild)
{
    int32_t count = 0, selected = NONE;
    if (!menu_selection_inventory_entries(rebuild, &count, &selected)) return false;
    if (count < 0) count = 0;
    if (count > MAXIMUM_MENU_INVENTORY_ROWS) count = MAXIMUM_MENU_INVENTORY_ROWS;
    for (int32_t k = -2; k < count; ++k)
    {
        const rectangle2d row = menu_row(d, CONSOLE_MENU_INVENTORY_ROW_WIDTH, count + 2 - k);
        char text[CONSOLE_MENU_INVENTORY_STRING_SIZE] = "";
        if (k == -2) strlcpy(text, translate_string("Inventory:"), sizeof(text));
        else format_inventory_row(k, text, sizeof(text));
        text[sizeof(text) - 1] = 0;
        if (k >= 0 && k == selected)
            fill_rectangle_clipped(d->view->screen, &menu_black, &row, nullptr, d->background_transparency, nullptr);
        draw_menu_text(d, &row, text, 0);
    }
    return true;
}

void rasterize_console_menu(view_data *view)
{
    if (!VASSERT(menu_globals && menu_globals->initialized, "menu_globals && menu_globals->initialized")) return;
    if (!view || !view->screen) return;
    menu_drawing d;
    d.view = view;
    const uint32_t now = machine_tick_count();
    if (!get_console_menu_transparency(now, &d.text_transparency, &d.background_transparency)) return;
    d.font = get_interface_font_index(1);
    switch (menu_globals->menu_mode)
    {
    case _console_menu_teammates:
        draw_teammates(&d);
        break;
    case _console_menu_teams:
        draw_teams(&d);
        break;
    case _console_menu_inventory:
    case _console_menu_inventory_briefly:
        if (!draw_inventory(&d, menu_globals->menu_mode == _console_menu_inventory_briefly)) close_console_menu(now);
        break;
    default:
        HALT("unknown console menu mode");
        break;
    }
}

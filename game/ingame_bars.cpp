#include "ingame_bars.h"

#include "ingame_bar_procedures.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialog_redraw.h"
#include "console/console.h"
#include "control_bar.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "game_preferences.h"
#include "overhead_map.h"
#include "render/render.h"
#include "screen.h"
#include "status_bar.h"
#include "vesk.h"

static struct ingame_bars_globals
{
    // What a screenshot hid, so that it can be given back exactly.
    int32_t control_bar_before_hiding; // control_bar_visibility; NONE: not hidden by us
    // The screen size the bars and the overhead map were laid out for; 0 x 0
    // while no screen shows them.
    int16_t laid_out_width, laid_out_height;
    // The game type the bars were set up for.  A restored saved game starts
    // as a replay and becomes the player's game at its save point; the bars
    // then show as a single-player game's do.
    int16_t set_up_game_type;
} ingame_bars_globals = {-1, 0, 0, _game_type_local};

static bool screen_size(int16_t *width, int16_t *height)
{
    if (!active_screen.screen_initialized) return false;
    rectangle2d bounds;
    get_screen_bounds(&bounds);
    *width = (int16_t)(bounds.right - bounds.left);
    *height = (int16_t)(bounds.bottom - bounds.top);
    return true;
}

// Every map starts with the control bar hidden; the player's last choice
// is applied once the bar exists (films have no bar to show).
static void show_control_bar_as_preferred(void)
{
    const game_preferences *preferences = get_game_preferences();
    if (preferences && (preferences->flags & _game_pref_control_bar_visible_flag))
        set_control_bar_visibility(_control_bar_commands);
}

bool initialize_ingame_bars_for_new_map(const new_game_data *data)
{
    (void)data;
    ingame_bars_globals.control_bar_before_hiding = -1;
    // Without a screen (the film checker, the simulation and render tools)
    // there is nothing to show the bars on, and no view they may shorten.
    if (vesk_is_headless()) return true;
    initialize_control_bar_for_new_map();
    ingame_bars_globals.set_up_game_type = game_->type;
    show_control_bar_as_preferred();
    initialize_status_bar_for_new_map();
    if (!screen_size(&ingame_bars_globals.laid_out_width, &ingame_bars_globals.laid_out_height))
        ingame_bars_globals.laid_out_width = ingame_bars_globals.laid_out_height = 0;
    return true;
}

void dispose_ingame_bars_from_old_map(void)
{
    dispose_status_bar_from_old_map();
    dispose_control_bar_from_old_map();
    ingame_bars_globals.control_bar_before_hiding = -1;
    ingame_bars_globals.laid_out_width = ingame_bars_globals.laid_out_height = 0;
}

void update_ingame_bars(void)
{
    // A custom resolution changes the screen's size while a game runs: the
    // bars and the overhead map are laid out again for it before they draw.
    int16_t width, height;
    if (screen_size(&width, &height) && ingame_bars_globals.laid_out_width &&
        (width != ingame_bars_globals.laid_out_width || height != ingame_bars_globals.laid_out_height))
    {
        ingame_bars_globals.laid_out_width = width;
        ingame_bars_globals.laid_out_height = height;
        update_control_bar_for_new_resolution();
        update_status_bar_for_new_resolution();
        update_overhead_map_for_new_resolution();
    }
    if (game_->type != ingame_bars_globals.set_up_game_type && get_control_bar_dialog())
    {
        const bool restored = ingame_bars_globals.set_up_game_type == _game_type_replay &&
                              game_->type == _game_type_local;
        ingame_bars_globals.set_up_game_type = game_->type;
        if (restored) show_control_bar_as_preferred();
    }
    update_control_bar();
    update_status_bar();
}

// The bars' modules report their stored state even without a dialog; only
// a dialog that exists and shows covers anything.
bool control_bar_covers(rectangle2d *bounds)
{
    if (!get_control_bar_dialog()) return false;
    rectangle2d covered;
    if (control_bar_visible(&covered) == _control_bar_hidden) return false;
    if (bounds) *bounds = covered;
    return true;
}

bool status_bar_covers(rectangle2d *bounds)
{
    if (!get_status_bar_dialog()) return false;
    rectangle2d covered;
    if (!status_bar_visible(&covered)) return false;
    if (bounds) *bounds = covered;
    return true;
}

static int16_t covered_height(const rectangle2d *bounds)
{
    return bounds->bottom > bounds->top ? (int16_t)(bounds->bottom - bounds->top) : 0;
}

int16_t control_bar_covered_height(void)
{
    rectangle2d bounds;
    return control_bar_covers(&bounds) ? covered_height(&bounds) : 0;
}

int16_t status_bar_covered_height(void)
{
    rectangle2d bounds;
    return status_bar_covers(&bounds) ? covered_height(&bounds) : 0;
}

void set_ingame_bars_visible(bool control_bar_shown, bool status_bar_shown)
{
    if (!control_bar_shown)
    {
        const int16_t before = control_bar_visible(nullptr);
        if (before != _control_bar_hidden && ingame_bars_globals.control_bar_before_hiding < 0)
            ingame_bars_globals.control_bar_before_hiding = before;
        set_control_bar_visibility(_control_bar_hidden);
    }
    else
    {
        // A bar already showing keeps what it shows.
        const int32_t before = ingame_bars_globals.control_bar_before_hiding;
        if (control_bar_visible(nullptr) == _control_bar_hidden)
            set_control_bar_visibility(before > _control_bar_hidden ? before : _control_bar_commands);
        ingame_bars_globals.control_bar_before_hiding = -1;
    }
    if (get_status_bar_dialog()) set_status_bar_visibility(status_bar_shown);
}

static bool control_bar_shown_for_renderer(rectangle2d *bounds) { return control_bar_covers(bounds); }
static bool status_bar_shown_for_renderer(rectangle2d *bounds) { return status_bar_covers(bounds); }

void register_ingame_bar_hooks(void)
{
    register_map_procedures(_map_bars, initialize_ingame_bars_for_new_map, dispose_ingame_bars_from_old_map);
    static const ingame_bar_procedures procedures = {
        .control_bar_height = control_bar_covered_height,
        .status_bar_height = status_bar_covered_height,
        .update_bars = update_ingame_bars,
        .is_control_bar = is_control_bar,
        .is_status_bar = is_status_bar,
        .control_bar_visible = control_bar_shown_for_renderer,
        .status_bar_visible = status_bar_shown_for_renderer,
        .set_bars_visible = set_ingame_bars_visible,
    };
    register_ingame_bar_procedures(&procedures);
}

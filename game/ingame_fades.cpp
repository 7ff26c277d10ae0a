// In-game fades of the whole game view.
#include "ingame_fades.h"

#include "bitmap_drawing.h"
#include "game_hooks.h"
#include "map_actions/effect_action_procs.h"
#include "render/render_effects.h"
#include "render/render_surfaces.h"
#include "shapes.h"

static struct ingame_fade_globals
{
    rgb_color fade_color;
    int32_t fade_timer; // game ticks; -1 holds a negative fade, 0 is no fade
    int32_t fade_duration; // game ticks; its sign is the direction, 0 = no fade
    bool effect_registered;
} ingame_fade_globals = {{0, 0, 0, 0}, 0, 0, false};

void initialize_ingame_fades(void)
{
    // Start-up runs once in the game; tests may run it again.
    if (ingame_fade_globals.effect_registered) return;
    ingame_fade_globals.effect_registered =
        register_postrasterization_effect_procedure(rasterize_ingame_fades, INGAME_FADE_EFFECT_PRIORITY);
}

void initialize_ingame_fades_for_new_game(void)
{
    ingame_fade_globals.fade_timer = 0;
    ingame_fade_globals.fade_duration = 0;
}

void set_ingame_fade(const rgb_color *color, int32_t duration, int32_t current_duration)
{
    static const rgb_color black = {0, 0, 0, 0};
    ingame_fade_globals.fade_color = color ? *color : black;
    ingame_fade_globals.fade_duration = duration;
    int32_t timer;
    if (duration == 0) timer = 0;
    else if (duration > 0) timer = current_duration > 0 ? (current_duration < duration ? current_duration : duration) : 1;
    else if (current_duration < duration) timer = duration;
    else timer = current_duration < 0 ? current_duration : -1;
    ingame_fade_globals.fade_timer = timer;
}

void update_ingame_fades(void)
{
    int32_t &timer = ingame_fade_globals.fade_timer;
    if (timer < -1) timer += 1;
    else if (timer > 0) timer -= 1;
}

void rasterize_ingame_fades(view_data *view)
{
    const int32_t timer = ingame_fade_globals.fade_timer, duration = ingame_fade_globals.fade_duration;
    if (timer == 0 || duration == 0 || !view || !view->screen) return;
    // Doubles: a 32-bit tick count keeps its precision, and the ratio is only
    // ever drawn, never fed back into the simulation.
    double ratio = duration > 0 ? (double)timer / (double)duration
                                : ((double)duration - (double)timer) / (double)duration;
    if (ratio < 0.0) ratio = 0.0;
    if (ratio > 1.0) ratio = 1.0;
    const fixed_fraction transparency = (fixed_fraction)(ratio * 65535.0);
    const rectangle2d whole = {0, 0, view->screen_height, view->screen_width};
    fill_rectangle_clipped(view->screen, &ingame_fade_globals.fade_color, &whole, nullptr, transparency,
                           get_transparency_table(_transparency_normal));
}

int32_t get_ingame_fade_timer(void)
{
    return ingame_fade_globals.fade_timer;
}

int32_t get_ingame_fade_duration(void)
{
    return ingame_fade_globals.fade_duration;
}

// ---- hooks --------------------------------------------------------------------------

static bool startup_ingame_fades(void)
{
    initialize_ingame_fades();
    return true;
}

static bool ingame_fades_map_step(const new_game_data *)
{
    initialize_ingame_fades_for_new_game();
    return true;
}

static void dispose_ingame_fades_from_old_map(void)
{
    initialize_ingame_fades_for_new_game();
}

void register_ingame_fade_hooks(void)
{
    register_startup_procedure(_startup_fades, startup_ingame_fades);
    register_map_procedures(_map_fades, ingame_fades_map_step, dispose_ingame_fades_from_old_map);
    register_tick_procedure(_tick_fades, update_ingame_fades);
    register_set_ingame_fade_procedure(set_ingame_fade);
}

#pragma once
// In-game fades of the whole game view.
//
// A map script tints the picture with one colour that fades over a number of
// game ticks.  The sign of the duration gives the direction: a positive fade
// thickens toward the colour and disappears when it runs out; a negative fade
// starts as the colour, clears, and is held just short of clear until the
// next fade or the next map.  The fade is local: it changes only what this
// machine shows and draws no random numbers.
//
// Main thread only: the timer runs inside the game tick, the fade is drawn
// inside the frame as a post-rasterization effect.

#include <cstdint>

#include "rgb_color.h"

struct view_data;

enum
{
    INGAME_FADE_EFFECT_PRIORITY = 2,
};

// Start-up: registers rasterize_ingame_fades as a post-rasterization effect.
void initialize_ingame_fades(void);
// A map begins with no fade.
void initialize_ingame_fades_for_new_game(void);

// Fades to `color` (black when null) over `duration` ticks, starting
// `current_duration` ticks from its end; duration 0 ends any fade at once.
void set_ingame_fade(const rgb_color *color, int32_t duration, int32_t current_duration);
// Once per game tick, after the overhead texts.
void update_ingame_fades(void);
// Fills the view's screen with the fade colour at the fade's transparency;
// nothing while no fade is drawn.
void rasterize_ingame_fades(view_data *view);

// The fade's state, for the interface and tests.
int32_t get_ingame_fade_timer(void);
int32_t get_ingame_fade_duration(void);

// Registers the start-up step, the map step and the tick step with the game
// core, and set_ingame_fade with the effect scripts.
void register_ingame_fade_hooks(void);

#pragma once
// Smoothing that keeps pace with the game.  The camera eases between samples
// taken in game ticks while frames come in local time; at twice the game speed
// a span of game ticks passes in half the local time, and while the game is
// paused it does not pass at all.  Local: for what this machine shows, never
// for simulation code (it reads floats and local time).

#include "cseries/cseries.h"
#include "world.h"

// The progress of one smoothing; zeroed means "none begun".
struct lerp_logic_state
{
    int32_t state_identifier; // LERP_STATE_IDENTIFIER while a smoothing runs
    int32_t lerp_start;       // the start time (game ticks) of the smoothing that runs
    float lerp_fraction;      // reached so far, 0..1
    int32_t lerp_begin_time;  // local time when it began
    int32_t lerp_end_time;    // local time of the last step
    short_fixed speed;        // game speed of the last step (8.8, 256 = normal, 0 while paused)
};

#define LERP_STATE_IDENTIFIER FOUR_CHARACTER_CODE('l', 'e', 'r', 'p')

// The fraction (0..1) reached by the smoothing that began at game time
// `start_time` and lasts `span` game ticks.  A `start_time` other than the
// state's begins a new smoothing at 0.  Each call advances the fraction by the
// local ticks passed since the previous call, scaled by the game speed (none
// while the game is paused); it stops at 1.  A span below 1 is done at once (1).
float game_speed_aware_lerp_logic(lerp_logic_state *state, int32_t start_time, int32_t span);

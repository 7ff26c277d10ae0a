#pragma once
// The effects the scene renderer runs around each frame: pre-render effects
// add surfaces before the scene is sorted (their priority becomes the
// surfaces' sort key), post-rasterization effects draw 2D layers over the
// finished scene.  Both run in descending priority, so the lowest priority
// is drawn last and lies on top.
//
// The tables hold 2 pre-render and 8 post-rasterization effects; a
// registration into a full table, or of a procedure already in the table, is
// logged and ignored.
//
// Main thread only; effects register once, at start-up.

#include <cstdint>

struct view_data;

enum
{
    MAXIMUM_PRERENDER_EFFECTS = 2,
    MAXIMUM_POSTRASTERIZATION_EFFECTS = 8,
};

typedef void (*render_effect_procedure)(view_data *view);

// Ordered lists (cseries/registration.h) by descending priority, filled from
// module start-ups: the same effect at the same priority again is no change;
// a null procedure, one registered already at another priority and one past
// the list's room are refused with the lists' logged assertion (false).
bool register_prerender_effect_procedure(render_effect_procedure procedure, int16_t priority);
bool register_postrasterization_effect_procedure(render_effect_procedure procedure, int16_t priority);

// Runs the effects in descending priority (equal priorities in the order
// they registered).  The pre-render effects get their priority.
typedef void (*prerender_effect_runner)(render_effect_procedure procedure, int16_t priority, view_data *view);
void run_prerender_effects(view_data *view, prerender_effect_runner runner);
void run_postrasterization_effects(view_data *view);

int32_t postrasterization_effect_count(void);

// Empties both tables (tests).
void clear_render_effects(void);

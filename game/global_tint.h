#pragma once
// The global tint the renderer lays over the whole scene (a flash, a dusk).
// Nothing tints the scene yet: the fraction is 0 and the colour black.

#include "cseries/cseries.h"
#include "game_records.h"
#include "world.h"

// 8.8: 0 no tint, 1.0 (256) all tint.
short_fixed get_global_tint_fraction(void);
void get_global_tint_color(rgb_color *color);

// The global tint: none.

#include "global_tint.h"

short_fixed get_global_tint_fraction(void) { return 0; }

void get_global_tint_color(rgb_color *color)
{
    if (color) *color = rgb_color{0, 0, 0, 0};
}

// Surfaces made of a collection's bitmaps: quads, rectangles and oriented quads.
#include "render/bitmap_surfaces.h"

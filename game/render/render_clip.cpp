// The screen test of surfaces.
#include "render/render_clip.h"

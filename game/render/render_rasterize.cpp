// The software rasterizer.
#include "render/render_rasterize.h"

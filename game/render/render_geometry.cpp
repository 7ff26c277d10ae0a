// 3D geometry turned into model-triangle surfaces.
#include "render/render_geometry.h"

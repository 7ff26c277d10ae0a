// Models standing on the visible cells, each drawn once per frame.
#include "render/render_models.h"

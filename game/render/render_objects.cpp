// Object sprites, their marks and shadows, local sprites and ground overlays.
#include "render/render_objects.h"
